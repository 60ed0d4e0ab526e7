# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base base/features base/json base/strings base/synchronization base/win)

# Test hosts of the branding: product_info_test_child built once per "TXT" 133 resource (the product host's own,
# and the fixtures of testdata/), and a stand-in for the test-automation module that carries a resource and leaves
# a marker file whenever its code runs.
set(branding_fixtures product=${CMAKE_SOURCE_DIR}/host/branding.json)
foreach(fixture delta array_root wrong_kinds unparsable)
  list(APPEND branding_fixtures ${fixture}=${CMAKE_CURRENT_LIST_DIR}/testdata/branding_${fixture}.json)
endforeach()
foreach(fixture ${branding_fixtures})
  string(REPLACE "=" ";" fixture ${fixture})
  list(GET fixture 0 variant)
  list(GET fixture 1 json)
  zorvi_branding_rc(${variant} ${json} rc)
  add_executable(product_info_host_${variant} ${CMAKE_CURRENT_LIST_DIR}/product_info_test_child.cc ${rc})
  set(ZORVI_TEST_CHILDREN "${ZORVI_TEST_CHILDREN};product_info_host_${variant}" CACHE INTERNAL "")
endforeach()

zorvi_branding_rc(fallback_module ${CMAKE_CURRENT_LIST_DIR}/testdata/branding_fallback.json rc)
add_library(branding_fallback_module SHARED ${CMAKE_CURRENT_LIST_DIR}/testdata/branding_fallback_module.cc ${rc})
set_target_properties(branding_fallback_module PROPERTIES PREFIX "")
# It exports nothing (without this the linker would export every symbol, the allocator's included).
target_link_options(branding_fallback_module PRIVATE "LINKER:--exclude-all-symbols")
# Linked like every other module of the project (allocator and start-up checks included).
set(ZORVI_TEST_DLLS "${ZORVI_TEST_DLLS};branding_fallback_module" CACHE INTERNAL "")
