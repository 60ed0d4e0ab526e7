# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base base/files base/time base/win desktop/common/product desktop/launcher/installer/records
                   desktop/launcher/installer/service)

# Each torture seed runs and rolls back hundreds of operations; on a loaded machine one takes minutes.
zorvi_test_limit(desktop/launcher/installer/service/transactions "Seeds/TransactionTortureTest.*" 300)
