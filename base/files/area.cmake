# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base base/memory base/metrics base/strings base/synchronization base/time base/timer base/win)
