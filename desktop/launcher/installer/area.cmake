# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base base/features base/files base/json base/memory base/message_loop base/process base/strings
                   base/threading base/time base/win components/prefs desktop/common/autoupdate/updatechecker
                   desktop/common/product desktop/launcher/installer/ipc desktop/launcher/installer/package_fetcher
                   desktop/launcher/installer/records desktop/launcher/installer/service
                   desktop/launcher/installer/service/transactions desktop/launcher/installer/wininet
                   desktop/windows/crash_reporter/client
                   desktop/windows/crash_reporter/reporter desktop/windows/rc_l10n_handler)

# The pinning test runs the complete runs' table three times over, in child processes presented as other Windows
# versions: 45-110 s on a loaded machine, once 183 s beside a second suite, and 197 s on a slower machine.
zorvi_test_limit(desktop/launcher/installer "ShortcutPinVersionTest.*" 600)

# The settings child carries the product's branding and the language fixture's list, as the installer's host
# carries its own. The area makes its children after reading this file, so the resource joins the child at the end
# of the configuration.
set(settings_rc ${CMAKE_BINARY_DIR}/settings_host/settings.rc)
set(branding_json ${CMAKE_SOURCE_DIR}/host/branding.json)
set(language_list ${CMAKE_SOURCE_DIR}/desktop/windows/rc_l10n_handler/testdata/languages.txt)
file(CONFIGURE OUTPUT ${settings_rc} CONTENT "133 TXT \"${branding_json}\"\n134 TXT \"${language_list}\"\n")
set_source_files_properties(${settings_rc} PROPERTIES OBJECT_DEPENDS "${branding_json};${language_list}")
cmake_language(EVAL CODE "cmake_language(DEFER CALL target_sources settings_test_child PRIVATE [[${settings_rc}]])")
# The unit tests carry the same list alone (their product is the build's), so that a profile's language can be one
# the host lists or one it lacks.
set(languages_rc ${CMAKE_BINARY_DIR}/settings_host/languages.rc)
file(CONFIGURE OUTPUT ${languages_rc} CONTENT "134 TXT \"${language_list}\"\n")
set_source_files_properties(${languages_rc} PROPERTIES OBJECT_DEPENDS "${language_list}")
cmake_language(EVAL CODE "cmake_language(DEFER CALL target_sources desktop_launcher_installer_unittests PRIVATE [[${languages_rc}]])")

# A windowed test host of the help: the product's branding as "TXT" 133 and a language list as "TXT" 134, so that
# the help's console can be read back as the user would see it.
set(help_languages ${CMAKE_CURRENT_LIST_DIR}/testdata/help_languages.txt)
set(help_rc ${CMAKE_BINARY_DIR}/branding_hosts/help_console_host.rc)
file(CONFIGURE OUTPUT ${help_rc}
     CONTENT "133 TXT \"${CMAKE_SOURCE_DIR}/host/branding.json\"\n134 TXT \"${help_languages}\"\n")
set_source_files_properties(${help_rc} PROPERTIES OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/host/branding.json;${help_languages}")
add_executable(help_console_host WIN32 ${CMAKE_CURRENT_LIST_DIR}/testdata/help_console_host.cc ${help_rc})
set(ZORVI_TEST_CHILDREN "${ZORVI_TEST_CHILDREN};help_console_host" CACHE INTERNAL "")

# The local statistics and preference-override servers listen on fixed ports (3000, 3001): their tests never run
# at the same time as other users of the fixed ports.
zorvi_test_resource_lock(desktop/launcher/installer StatsSenderSendTest.LocalStatsServerIsThisMachineOnItsPort
                         loopback_fixed_ports)
zorvi_test_resource_lock(desktop/launcher/installer
                         PrefDefaultOverridesFetcherTest.RequestGoesWhereTheSwitchAndTheBrandingSay
                         loopback_fixed_ports)

# Unattended runs end to end, each in a fresh prefix against the update-service stand-in on the local statistics
# server's port (testing/installer/silent_install).
add_test(NAME desktop_launcher_installer.silent_runs
         COMMAND bash ${CMAKE_SOURCE_DIR}/testing/installer/silent_install/silent_runs_test.sh)
set_tests_properties(desktop_launcher_installer.silent_runs PROPERTIES RESOURCE_LOCK loopback_fixed_ports TIMEOUT 900
                     SKIP_RETURN_CODE 77 ENVIRONMENT "BUILD_DIR=${CMAKE_BINARY_DIR}")

# Silent runs killed after every step, install and upgrade, then run again, each row in a prefix of its own
# (testing/installer/silent_install/killed_runs_test.sh). Its rows run side by side on half the processors: it counts
# as that many. The longest entry of the suite: started first (COST), so that the rest runs beside it rather than
# after it.
add_test(NAME desktop_launcher_installer.killed_runs
         COMMAND bash ${CMAKE_SOURCE_DIR}/testing/installer/silent_install/killed_runs_test.sh)
set_tests_properties(desktop_launcher_installer.killed_runs PROPERTIES TIMEOUT 2400 PROCESSORS 4 COST 100000
                     ENVIRONMENT "BUILD_DIR=${CMAKE_BINARY_DIR}")

# A windowed host asked for its help, and the helper that runs the clean-up batch, open console windows on the
# display, which take the input focus and can cover the installer window while its tests type keys and take
# screenshots: these take turns with them (desktop/launcher/installer/ui/area.cmake). The two batch runs also
# share the set-up's installation folder, and so take turns with each other.
foreach(test InstallerEntryTest.ProbesAndEarlyRolesWriteNoLog
             InstallerHelpTest.ConsoleShowsTheTableForTheProductTheLanguagesAndTheFeatures
             UninstallBatchRunTest.OnlyTheWritersBatchRuns
             UninstallBatchRunTest.AFolderSwappedUnderTheHelperLeadsNowhere
             GuardedFolderTest.WaitingVariantHandsOverOnlyWhenThePackageIsReady)
  zorvi_test_resource_lock(desktop/launcher/installer ${test} display_foreground)
endforeach()

# The interactive installer's scenarios show its window, whose caption every such window shares: they take turns
# with the other tests that show and work windows.
foreach(test InstallerUIEndToEndTest/AcceptedRunTest.InstallsThePackage/PackagesOwnInstaller
             InstallerUIEndToEndTest/AcceptedRunTest.InstallsThePackage/NetworkInstaller
             InstallerUIEndToEndTest.SecondInstanceGivesWayAndClosingCancels
             InstallerUIEndToEndTest.CopyFailureIsShownAndRetryInstallsOnceItIsFixed
             InstallerUIEndToEndTest.BeforeWindows7AcceptOffersOnlyTheFullPackage
             InstallerUIEndToEndTest.NetworkFetchFailuresEndInTheFullPackagePage)
  zorvi_test_resource_lock(desktop/launcher/installer ${test} display_foreground)
endforeach()

# The installer's shortcut tests hand the shortcut layer's property-store writer an in-memory store: wine's link
# store keeps nothing.
cmake_language(EVAL CODE "cmake_language(DEFER CALL target_sources desktop_launcher_installer_unittests PRIVATE [[${CMAKE_SOURCE_DIR}/base/win/fake_property_store_test_util.cc]])")
zorvi_test_in_english(desktop/launcher/installer InstallerUIEndToEndTest.NetworkFetchFailuresEndInTheFullPackagePage)

# The engine's test helpers that the records' tests use too (the environment's echo, the association sandbox, and
# the package fixtures they need): compiled once, as objects that both test programs link.
set(shared_test_helpers ${CMAKE_CURRENT_LIST_DIR}/installer_test_util.cc
                        ${CMAKE_CURRENT_LIST_DIR}/installer_package_test_util.cc)
list(REMOVE_ITEM tests ${shared_test_helpers})
add_library(desktop_launcher_installer_test_helpers OBJECT ${shared_test_helpers})
target_link_libraries(desktop_launcher_installer_test_helpers PRIVATE zorvi_testing_support GTest::gmock GTest::gtest)
cmake_language(DEFER CALL target_link_libraries desktop_launcher_installer_unittests
               PRIVATE desktop_launcher_installer_test_helpers)
