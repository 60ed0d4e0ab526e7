# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base/debug base/files base/memory base/message_loop base/profiler base/strings
                   base/synchronization base/threading base/time base/win)
