# The scheduler child carries the host's resources (branding and strings), as the backend that registers the
# autoupdate task runs in the host.
cmake_language(DEFER CALL zorvi_host_resources task_scheduler_test_child)
