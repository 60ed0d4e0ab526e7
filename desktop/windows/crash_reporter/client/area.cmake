# The side of crash reporting that runs in an installer process: it includes nothing of the reporter's side.
# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base base/files base/strings base/synchronization base/win desktop/common/product
                   desktop/windows/crash_reporter)
# Its tests start the reporter's children and use the scripted reporter, as the reporter's tests do.
zorvi_area_tests_in(desktop/windows/crash_reporter)
