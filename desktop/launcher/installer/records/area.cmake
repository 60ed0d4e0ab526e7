# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base base/files base/memory base/strings base/synchronization base/threading base/time base/win
                   components/prefs desktop/common/product desktop/launcher/installer/service)

# The records' tests share the engine's test helpers (test programs, reporting children, association sandbox),
# compiled once for both (desktop/launcher/installer/area.cmake).
cmake_language(DEFER CALL target_link_libraries desktop_launcher_installer_records_unittests
               PRIVATE desktop_launcher_installer_test_helpers)

# The shards save and load many damaged logs each; on a loaded machine one takes well over a minute.
zorvi_test_limit(desktop/launcher/installer/records "Shards/InstallLogShardTest.*" 300)
