# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base base/files base/json base/memory base/process base/strings base/synchronization
                   base/threading base/time base/win components/prefs crypto desktop/common/product
                   desktop/launcher/installer/records desktop/launcher/installer/service
                   desktop/launcher/installer/wininet)

# The package fetcher reads archives with the LZMA SDK's 7z reader; its headers are part of the unpacker's interface.
target_link_libraries(desktop_launcher_installer_package_fetcher PUBLIC dep_7zdec)

# The package checks as the product runs them, with the product's branding resource (zorvi_branding_rc, in
# cmake/areas.cmake).
zorvi_branding_rc(package_check_host ${CMAKE_SOURCE_DIR}/host/branding.json rc)
add_executable(package_check_host ${CMAKE_CURRENT_LIST_DIR}/testdata/package_check_host.cc ${rc})
set(ZORVI_TEST_CHILDREN "${ZORVI_TEST_CHILDREN};package_check_host" CACHE INTERNAL "")

# The development server of the package request listens on a fixed port, as the local statistics and
# preference-override servers do: their tests never run at the same time.
zorvi_test_resource_lock(desktop/launcher/installer/package_fetcher PackageFetcherTest.AddressRequestGoesWhereTheSwitchesSay
                         loopback_fixed_ports)
