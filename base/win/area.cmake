# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base base/debug base/files base/memory base/message_loop base/strings base/synchronization
                   base/threading)

# Every module links the heap allocator (malloc and its kin replace the C runtime DLL's) and runs the
# processor check when loaded, whether or not its code names them: nothing else would pull them out of this
# static library.
target_link_options(base_win INTERFACE "LINKER:--undefined=malloc" "LINKER:--undefined=zorvi_module_sse2_check")
# The processor check's message box takes the display's input focus, which the tests that type keys into the
# installer window need: it takes turns with them (desktop/launcher/installer/ui/area.cmake).
zorvi_test_resource_lock(base/win ModuleChecksTest.MissingSse2IsToldInAMessageBoxAndEndsWithExitCode1
                         display_foreground)
