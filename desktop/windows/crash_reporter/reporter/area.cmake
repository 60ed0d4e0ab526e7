# The reporter process: it includes nothing of the client's side.
# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base base/features base/files base/json base/strings base/synchronization base/threading base/time
                   base/win desktop/common/product desktop/windows/crash_reporter)
# Its tests drive the client's code in their children, as the client's tests start the dump server.
zorvi_area_tests_in(desktop/windows/crash_reporter)
# Crash logs are zipped for upload.
target_link_libraries(desktop_windows_crash_reporter_reporter PUBLIC dep_minizip)
# The reporter's crash host carries the installer's resources (its branding names the product and its company).
cmake_language(DEFER CALL zorvi_host_resources crash_reporter_test_child)
