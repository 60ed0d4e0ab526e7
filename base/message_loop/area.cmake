# A shown window takes the display's input focus, which the tests that type keys into the installer window need:
# it takes turns with them (desktop/launcher/installer/ui/area.cmake).
zorvi_test_resource_lock(base/message_loop MessageLoopForUITest.VisibleWindowIsPaintedThroughTheLoop
                         display_foreground)
