# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base base/strings desktop/common/product)

# A fixture host of the language list: the test child once more, carrying testdata/languages.txt as its "TXT"
# 134 resource (the child the area builds itself carries none).
set(language_list ${CMAKE_CURRENT_LIST_DIR}/testdata/languages.txt)
set(language_rc ${CMAKE_BINARY_DIR}/language_hosts/languages.rc)
file(CONFIGURE OUTPUT ${language_rc} CONTENT "134 TXT \"${language_list}\"\n")
set_source_files_properties(${language_rc} PROPERTIES OBJECT_DEPENDS ${language_list})
add_executable(rc_l10n_handler_host ${CMAKE_CURRENT_LIST_DIR}/rc_l10n_handler_test_child.cc ${language_rc})
set(ZORVI_TEST_CHILDREN "${ZORVI_TEST_CHILDREN};rc_l10n_handler_host" CACHE INTERNAL "")

# The product's host resources once more, in the child (which reads strings in the language it chooses) and in the
# unit tests (which read every language's strings in-process).
add_executable(rc_l10n_handler_product_host ${CMAKE_CURRENT_LIST_DIR}/rc_l10n_handler_test_child.cc)
set(ZORVI_TEST_CHILDREN "${ZORVI_TEST_CHILDREN};rc_l10n_handler_product_host" CACHE INTERNAL "")
cmake_language(DEFER CALL zorvi_host_resources rc_l10n_handler_product_host)
cmake_language(DEFER CALL zorvi_host_resources desktop_windows_rc_l10n_handler_unittests)
