# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base base/files base/json base/strings base/win)

target_link_libraries(testing PUBLIC GTest::gtest crypt32)
# The loopback HTTP server that testing/loopback_server.h starts runs from the source tree.
target_compile_definitions(testing PRIVATE
                           ZORVI_LOOPBACK_SERVER_SCRIPT="${CMAKE_SOURCE_DIR}/testing/loopback_server/loopback_server.py")
# The product's libraries come once more after this one (its dependencies), so the system libraries they import
# from must too.
target_link_libraries(testing PUBLIC ws2_32 ${ZORVI_SYSTEM_LIBS})
