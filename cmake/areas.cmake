# Areas: a folder of sources becomes one static library; its *_unittest.cc files (with *_test_util.cc helpers)
# become one test executable, each *_test_child.cc becomes a child executable that its tests start, and each
# *_test_dll.cc becomes a DLL (same name, in the binary folder) that its tests load.
# The foundation's areas call each other (logging uses strings, strings check with logging), so every final link
# takes all area libraries as one group that the linker rescans.
set(ZORVI_AREA_LIBS "" CACHE INTERNAL "")
set(ZORVI_AREA_TESTS "" CACHE INTERNAL "")
set(ZORVI_TEST_CHILDREN "" CACHE INTERNAL "")
set(ZORVI_TEST_DLLS "" CACHE INTERNAL "")
# Each test's time limit in seconds. Past it tools/wine-run writes every thread's stack of the test's processes
# into its output and ends them, so a hang costs little and explains itself. A test that needs more says so
# with zorvi_test_limit(). Ordinary tests took up to two minutes when eight full suites and builds shared the
# machine's eight cores (a load of 70): every wine call of a run's tests goes through its one wine server.
set(ZORVI_TEST_LIMIT 180)
# The Linux-side setup and check scripts of an area: a few already take 150-210 s on a slower machine.
set(ZORVI_SCRIPT_LIMIT 900)

# zorvi_test_limit(<area folder> <gtest pattern> <seconds>): the limit of the area's tests whose Suite.Name
# matches the pattern (shell wildcards).
function(zorvi_test_limit dir pattern seconds)
  string(REPLACE "/" "_" name "${dir}")
  set_property(GLOBAL APPEND PROPERTY ZORVI_TEST_LIMITS_${name} "${pattern}=${seconds}")
endfunction()

# zorvi_test_own_prefix(<area folder> <Suite.Name>): the test runs in a wine prefix and server of its own (see
# tools/wine-run).
function(zorvi_test_own_prefix dir test)
  string(REPLACE "/" "_" name "${dir}")
  set_property(GLOBAL APPEND PROPERTY ZORVI_OWN_PREFIX_${name} "${test}")
endfunction()

# zorvi_test_in_english(<area folder> <Suite.Name>): the test compares (or records for its area's check) the
# product's English texts, so its wine runs in an English locale whatever the caller's: the product's language
# follows the user's, and under another locale those texts are rightly another language's.
function(zorvi_test_in_english dir test)
  string(REPLACE "/" "_" name "${dir}")
  set_property(GLOBAL APPEND PROPERTY ZORVI_IN_ENGLISH_${name} "${test}")
endfunction()

# zorvi_test_resource_lock(<area folder> <Suite.Name> <lock>): the test holds the ctest resource lock <lock>, so
# that tests of one machine-wide resource (a fixed port) never run at the same time.
function(zorvi_test_resource_lock dir test lock)
  string(REPLACE "/" "_" name "${dir}")
  set_property(GLOBAL APPEND PROPERTY ZORVI_TEST_LOCKS_${name} "${test}=${lock}")
endfunction()

# zorvi_branding_rc(<variant> <json> <out_rc>): a resource script that gives a test host <json> as its branding
# ("TXT" 133, which windres compiles from the file, rebuilt when it changes); its path goes to <out_rc>.
function(zorvi_branding_rc variant json out_rc)
  set(rc ${CMAKE_BINARY_DIR}/branding_hosts/${variant}.rc)
  file(CONFIGURE OUTPUT ${rc} CONTENT "133 TXT \"${json}\"\n")
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${json})
  set(${out_rc} ${rc} PARENT_SCOPE)
endfunction()

# zorvi_area(<folder> [<subfolder>...]): the subfolders only group the area's files (each side of a program, a
# kind of file); they build into the area's library and test program like the files at its top.
function(zorvi_area dir)
  string(REPLACE "/" "_" name "${dir}")
  set(sources "")
  set(tests "")
  set(children "")
  set(dlls "")
  set(tests_in "")
  foreach(folder ${dir} ${ARGN})
    if(NOT folder STREQUAL dir)
      set(folder ${dir}/${folder})
    endif()
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cc ${CMAKE_SOURCE_DIR}/${folder}/*.c)
    list(APPEND sources ${found})
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*_unittest.cc
                                      ${CMAKE_SOURCE_DIR}/${folder}/*_test_util.cc)
    list(APPEND tests ${found})
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*_test_child.cc)
    list(APPEND children ${found})
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*_test_dll.cc)
    list(APPEND dlls ${found})
  endforeach()
  if(tests OR children OR dlls)
    list(REMOVE_ITEM sources ${tests} ${children} ${dlls})
  endif()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_link_libraries(${name} PUBLIC dep_icu)
    if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/area.cmake)
      include(${CMAKE_SOURCE_DIR}/${dir}/area.cmake)   # extra dependencies of this area's library
    endif()
    set(ZORVI_AREA_LIBS "${ZORVI_AREA_LIBS};${name}" CACHE INTERNAL "")
  endif()
  if(tests AND tests_in)
    string(REPLACE "/" "_" tests_in_name "${tests_in}")
    target_sources(${tests_in_name}_unittests PRIVATE ${tests})
  elseif(tests)
    add_executable(${name}_unittests ${tests})
    set(ZORVI_AREA_TESTS "${ZORVI_AREA_TESTS};${dir}" CACHE INTERNAL "")
  endif()
  foreach(child ${children})
    get_filename_component(child_name ${child} NAME_WE)
    add_executable(${child_name} ${child})
    set(ZORVI_TEST_CHILDREN "${ZORVI_TEST_CHILDREN};${child_name}" CACHE INTERNAL "")
  endforeach()
  foreach(dll ${dlls})
    get_filename_component(dll_name ${dll} NAME_WE)
    add_library(${dll_name} SHARED ${dll})
    set_target_properties(${dll_name} PROPERTIES PREFIX "")
    set(ZORVI_TEST_DLLS "${ZORVI_TEST_DLLS};${dll_name}" CACHE INTERNAL "")
  endforeach()
endfunction()

# Links the whole product: every area library, the dependencies and the system import libraries.
function(zorvi_link_product target)
  list(REMOVE_ITEM ZORVI_AREA_LIBS "" testing testing_installer third_party_smoke)
  string(REPLACE ";" "," group "${ZORVI_AREA_LIBS}")
  if(group)
    target_link_libraries(${target} PRIVATE "$<LINK_GROUP:RESCAN,${group}>")
  endif()
  target_link_libraries(${target} PRIVATE dep_openssl dep_7zdec dep_minizip dep_icu ${ZORVI_SYSTEM_LIBS})
endfunction()

# Called once every area is known: links the test executables and registers their tests with CTest.
# A folder may hold testdata_setup.sh (run on Linux before its tests: inputs and outside-oracle results)
# and testdata_check.sh (run on Linux after them: checks of what the tests wrote); both get the data folder
# and the binary folder as arguments.
function(zorvi_finish_areas)
  add_library(zorvi_testing_support INTERFACE)
  if(TARGET testing_installer)
    target_link_libraries(zorvi_testing_support INTERFACE testing_installer testing)
  endif()
  foreach(child ${ZORVI_TEST_CHILDREN} ${ZORVI_TEST_DLLS})
    zorvi_link_product(${child})
    target_link_libraries(${child} PRIVATE zorvi_testing_support)
  endforeach()
  foreach(dir ${ZORVI_AREA_TESTS})
    string(REPLACE "/" "_" name "${dir}")
    set(exe ${name}_unittests)
    zorvi_link_product(${exe})
    target_link_libraries(${exe} PRIVATE zorvi_testing_support GTest::gmock GTest::gtest)
    if(NOT EXISTS ${CMAKE_SOURCE_DIR}/${dir}/test_main_test_util.cc)
      target_link_libraries(${exe} PRIVATE GTest::gtest_main)
    endif()
    set(data ${CMAKE_BINARY_DIR}/testdata/${name})
    # ctest's own limit only backs up wine-run's, which first needs time to write the stacks.
    get_property(limits GLOBAL PROPERTY ZORVI_TEST_LIMITS_${name})
    set(longest ${ZORVI_TEST_LIMIT})
    foreach(limit ${limits})
      string(REGEX REPLACE ".*=" "" seconds "${limit}")
      if(seconds GREATER longest)
        set(longest ${seconds})
      endif()
    endforeach()
    math(EXPR timeout "${longest} + 180")
    list(JOIN limits " " overrides)
    string(STRIP "${ZORVI_TEST_LIMIT} ${overrides}" limit_setting)
    set(props TIMEOUT ${timeout} ENVIRONMENT "ZORVI_TESTDATA=${data}"
              ENVIRONMENT_MODIFICATION "ZORVI_TEST_LIMIT=set:${limit_setting}")
    if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/testdata_setup.sh OR EXISTS ${CMAKE_SOURCE_DIR}/${dir}/testdata_check.sh)
      list(APPEND props FIXTURES_REQUIRED ${name}_data)
    endif()
    if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/testdata_setup.sh)
      add_test(NAME ${name}.setup COMMAND bash ${CMAKE_SOURCE_DIR}/${dir}/testdata_setup.sh ${data} ${CMAKE_BINARY_DIR}/bin)
      set_tests_properties(${name}.setup PROPERTIES FIXTURES_SETUP ${name}_data TIMEOUT ${ZORVI_SCRIPT_LIMIT})
    endif()
    if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/testdata_check.sh)
      add_test(NAME ${name}.check COMMAND bash ${CMAKE_SOURCE_DIR}/${dir}/testdata_check.sh ${data} ${CMAKE_BINARY_DIR}/bin)
      set_tests_properties(${name}.check PROPERTIES FIXTURES_CLEANUP ${name}_data TIMEOUT ${ZORVI_SCRIPT_LIMIT})
    endif()
    # Parameterized tests are named as gtest names them ("Suite/Test.Name/Param"), without the value printed
    # after them: the locks and own prefixes below find them by that name.
    gtest_discover_tests(${exe} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${name}." DISCOVERY_TIMEOUT 120
                         NO_PRETTY_VALUES PROPERTIES ${props})
    # The tests are known only once discovered, so their locks and own prefixes are set by a file that ctest
    # reads after the discovery's own.
    get_property(locks GLOBAL PROPERTY ZORVI_TEST_LOCKS_${name})
    get_property(own_prefix GLOBAL PROPERTY ZORVI_OWN_PREFIX_${name})
    get_property(in_english GLOBAL PROPERTY ZORVI_IN_ENGLISH_${name})
    if(locks OR own_prefix OR in_english)
      set(lines "")
      foreach(lock ${locks})
        string(REPLACE "=" ";" lock "${lock}")
        list(GET lock 0 test)
        list(GET lock 1 resource)
        string(APPEND lines "  set_tests_properties([==[${name}.${test}]==] PROPERTIES RESOURCE_LOCK ${resource})\n")
      endforeach()
      foreach(test ${own_prefix})
        string(APPEND lines "  set_tests_properties([==[${name}.${test}]==] PROPERTIES ENVIRONMENT "
                            "[==[ZORVI_TESTDATA=${data};ZORVI_PREFIX_PER_TEST=1]==])\n")
      endforeach()
      foreach(test ${in_english})
        string(APPEND lines "  set_tests_properties([==[${name}.${test}]==] PROPERTIES ENVIRONMENT_MODIFICATION "
                            "[==[ZORVI_TEST_LIMIT=set:${limit_setting};ZORVI_WINE_LOCALE=set:C.UTF-8]==])\n")
      endforeach()
      file(WRITE ${CMAKE_BINARY_DIR}/${name}_locks.cmake
           "if(EXISTS [==[${CMAKE_BINARY_DIR}/bin/${exe}.exe]==])\n${lines}endif()\n")
      set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/${name}_locks.cmake)
    endif()
  endforeach()
endfunction()

# zorvi_area_tests_in(<area folder>), in an area's area.cmake: the area's tests build into the test program of
# that area (declared before it) and share its test data, for the sides of one program whose tests start each
# other's children and use each other's helpers. The area's library and children stay its own.
function(zorvi_area_tests_in dir)
  set(tests_in ${dir} PARENT_SCOPE)
endfunction()

# zorvi_area_depends(<area folder>...), in an area's area.cmake: the areas whose headers its sources include.
# The area's library links exactly those; tools/check-area-deps.py fails the build on an include of any other.
function(zorvi_area_depends)
  foreach(dep ${ARGN})
    string(REPLACE "/" "_" dep_name "${dep}")
    target_link_libraries(${name} PUBLIC ${dep_name})
  endforeach()
endfunction()
