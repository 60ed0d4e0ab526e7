# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base base/files base/strings base/time base/win desktop/common/product
                   desktop/windows/rc_l10n_handler)

# The scheduler child carries the host's resources (branding and strings), as the backend that registers the
# autoupdate task runs in the host.
cmake_language(DEFER CALL zorvi_host_resources task_scheduler_test_child)
# The area's check compares the autoupdate task's description this test records with the English one.
zorvi_test_in_english(desktop/launcher/installer/service RecordingTaskSchedulerTest.ProcessesShareTheRecordedTasks)
