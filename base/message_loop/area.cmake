# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base base/debug base/memory base/metrics base/strings base/synchronization base/threading
                   base/time base/trace_event base/win)

# A shown window takes the display's input focus, which the tests that type keys into the installer window need:
# it takes turns with them (desktop/launcher/installer/ui/area.cmake).
zorvi_test_resource_lock(base/message_loop MessageLoopForUITest.VisibleWindowIsPaintedThroughTheLoop
                         display_foreground)
