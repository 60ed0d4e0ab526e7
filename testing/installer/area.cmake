# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base base/features base/files base/json base/strings base/win desktop/common/product
                   desktop/launcher/installer desktop/launcher/installer/records desktop/launcher/installer/service
                   desktop/windows/crash_reporter/client
                   desktop/windows/crash_reporter/reporter desktop/windows/rc_l10n_handler testing)

# The recording task scheduler writes its record with the JSON writer and the atomic file writer, which the
# programs linking it may not pull in from the product's libraries themselves. The product's libraries then come
# once more after this one, so the system libraries they import from must too.
target_link_libraries(testing_installer PUBLIC base_json base_files ${ZORVI_SYSTEM_LIBS})
