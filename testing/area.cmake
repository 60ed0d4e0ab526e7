# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base base/features base/files base/json base/strings base/win desktop/launcher/installer
                   desktop/launcher/installer/service desktop/windows/crash_reporter desktop/windows/rc_l10n_handler)

target_link_libraries(testing PUBLIC GTest::gtest crypt32)
# The loopback HTTP server that testing/loopback_server.h starts runs from the source tree.
target_compile_definitions(testing PRIVATE
                           ZORVI_LOOPBACK_SERVER_SCRIPT="${CMAKE_SOURCE_DIR}/testing/loopback_server/loopback_server.py")
target_link_libraries(testing PUBLIC ws2_32)
# The recording task scheduler writes its record with the JSON writer and the atomic file writer, which the
# programs linking it may not pull in from the product's libraries themselves. The product's libraries then come
# once more after this one, so the system libraries they import from must too.
target_link_libraries(testing PUBLIC base_json base_files ${ZORVI_SYSTEM_LIBS})
