# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base base/files base/memory base/message_loop base/synchronization base/threading base/time
                   base/win desktop/launcher/installer/records)
