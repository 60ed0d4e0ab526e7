# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base base/memory base/message_loop base/metrics base/profiler base/synchronization base/time
                   base/timer base/trace_event base/win)
