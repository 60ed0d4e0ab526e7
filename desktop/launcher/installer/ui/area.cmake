# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base base/files base/memory base/message_loop base/strings base/threading base/win
                   desktop/common/product desktop/launcher/installer desktop/launcher/installer/package_fetcher
                   desktop/launcher/installer/records desktop/launcher/installer/service
                   desktop/launcher/installer/wininet
                   desktop/windows/rc_l10n_handler)

# The unit tests load dialogs and pictures from their own executable, as the window does from the host: they carry
# the host's resources, and a resource of type "PNG" that is no picture at all (1 MiB of text, so that a copy of it
# kept by every load would show in the process's memory).
set(undecodable ${CMAKE_BINARY_DIR}/ui_fixtures/undecodable_picture.txt)
string(REPEAT "not a picture\n" 74898 undecodable_text)
file(CONFIGURE OUTPUT ${undecodable} CONTENT "${undecodable_text}")
set(ui_fixtures_rc ${CMAKE_BINARY_DIR}/ui_fixtures/ui_fixtures.rc)
file(CONFIGURE OUTPUT ${ui_fixtures_rc} CONTENT "9001 PNG \"${undecodable}\"\n")
set_source_files_properties(${ui_fixtures_rc} PROPERTIES OBJECT_DEPENDS ${undecodable})
# A deferred call reads its variables when it runs, outside this file's scope: the path goes in as text.
cmake_language(EVAL CODE "cmake_language(DEFER CALL target_sources desktop_launcher_installer_ui_unittests PRIVATE
                                         [[${ui_fixtures_rc}]])")
cmake_language(DEFER CALL zorvi_host_resources desktop_launcher_installer_ui_unittests)
# The window's test host shows the window as the installer does, from the host's own resources.
cmake_language(DEFER CALL zorvi_host_resources installer_window_host_test_child)
# Keys typed on the display go to the foreground window, a screenshot shows whatever window is on top, and the
# driver finds the window by its caption: the tests that show the installer window take turns.
foreach(test InstallerWindowEndToEndTest.WelcomeKeysOptionsAndCancel
             InstallerWindowEndToEndTest.EachRunShowsWhatItsHostFolderAndVersionAsk
             InstallerWindowTest.EveryPageShowsItsControlsInEveryRun InstallerWindowTest.MessageBoxesSpeakTheInstallersLanguage
             InstallerWindowTest.OnlyTheTermsLinkOpensTheTerms InstallerWindowTest.OptionsReachTheSettingsAndCount
             InstallerWindowTest.ControlsFollowTheSettingsAndTheFolder InstallerWindowTest.DeleteProfileBoxReachesTheSettings
             InstallerWindowTest.ThemedControlsPaintTheirPieceOfTheBackground
             InstallerWindowTest.EveryTextFitsItsControlInEveryLanguage
             InstallerUIControllerTest.ProgressFollowsPhasesAndStepsForwardOnly
             InstallerUIControllerTest.ErrorsWaitForTheBackendAndARetryWaitsForTheTrackingData
             InstallerUIControllerTest.FetchFailuresRestartSilentlyThenWaitForTheUser
             InstallerUIControllerTest.PackageThatArrivedAfterAFailureIsNotFetchedAgain
             InstallerUIControllerTest.ARetryInAnotherFolderWaitsForItsOverrides
             InstallerUIControllerTest.ACancelledRunIsNoSuccessAndStartsNothing
             DialogDispatcherTest.KeysReachOnlyTheCurrentDialog)
  zorvi_test_resource_lock(desktop/launcher/installer/ui ${test} display_foreground)
endforeach()
# Ten starts of the window's host, one after another.
zorvi_test_limit(desktop/launcher/installer/ui InstallerWindowEndToEndTest.EachRunShowsWhatItsHostFolderAndVersionAsk 300)
zorvi_test_in_english(desktop/launcher/installer/ui InstallerWindowEndToEndTest.WelcomeKeysOptionsAndCancel)
zorvi_test_in_english(desktop/launcher/installer/ui InstallerWindowEndToEndTest.EachRunShowsWhatItsHostFolderAndVersionAsk)
