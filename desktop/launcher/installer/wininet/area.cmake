# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base base/files base/memory base/strings base/synchronization base/threading base/time base/win
                   desktop/common/product desktop/launcher/installer/records)
