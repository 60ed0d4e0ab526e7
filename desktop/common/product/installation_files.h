// The names of the files an installation and a package hold, of the preferences in them that one program writes
// and another reads back, and the bases of the kernel objects of an installation folder. Each is spelled here
// once, so that the writer and every reader (a later installer, the status reading, the uninstallation) agree.
#ifndef DESKTOP_COMMON_PRODUCT_INSTALLATION_FILES_H_
#define DESKTOP_COMMON_PRODUCT_INSTALLATION_FILES_H_

namespace zorvi::installer {

// Names of what an installation keeps in its folder beside the version folders, which the steps that write them,
// the status reading and the uninstallation must all spell alike.
// The launcher's name is a literal too, for registry texts put together at compile time around it.
#define ZORVI_LAUNCHER_FILE_NAME L"launcher.exe"
inline constexpr wchar_t kLauncherFileName[] = ZORVI_LAUNCHER_FILE_NAME;
// The launcher as the browser's registration names it (class and start-menu commands, icons, the application
// path, the uninstall entry): earlier versions wrote it capitalised there, and other programs, later installers
// and the checks of an installation read those values back, so they keep that spelling byte for byte.
#define ZORVI_REGISTERED_LAUNCHER_FILE_NAME L"Launcher.exe"
inline constexpr wchar_t kInstallerPrefsFileName[] = L"installer_prefs.json";
inline constexpr wchar_t kPrefDefaultOverridesFileName[] = L"pref_default_overrides";
inline constexpr wchar_t kOldStatusFolderName[] = L"old_status";

// The package's own installer and the library it loads from beside itself: the installer processes of a run start
// it from the unpacked package by this name.
inline constexpr wchar_t kPackageInstallerFileName[] = L"installer.exe";
inline constexpr wchar_t kPackageLibraryFileName[] = L"zorvi.dll";

// The package's lists of what it installs: the files of the version folder, and those that go beside it into the
// installation's folder. The installer reads them from its own folder when a package has them.
inline constexpr wchar_t kFilesListFileName[] = L"files_list";
inline constexpr wchar_t kRootFilesListFileName[] = L"root_files_list";
// What the update service said about the download, which the package carries for the installation's first start.
inline constexpr wchar_t kServerTrackingDataFileName[] = L"server_tracking_data";
// Preferences the package brings for the installer's preference file (the welcome page).
inline constexpr wchar_t kInstallerPrefsIncludeFileName[] = L"installer_prefs_include.json";

// Names in the installer's preference file (and in its package include file) that one installer writes and a
// later one, or the status reading, reads back.
inline constexpr char kWelcomeUrlPref[] = "welcome-url";
inline constexpr char kSingleProfilePref[] = "single_profile";
inline constexpr char kProfilePathPref[] = "profile_path";
inline constexpr char kLanguagePref[] = "language";
inline constexpr char kTempFolderPref[] = "temp_folder";
// The experiments whose state differs from the build's default, and every experiment's state.
inline constexpr char kInstallerExperimentsPref[] = "installer-experiments";
inline constexpr char kAllInstallerExperimentsPref[] = "all-installer-experiments";
// The run's choices of importing another browser's data and of sending usage statistics (an autoupdate leaves
// them), which a later run's status reading takes up.
inline constexpr char kImportBrowserDataPref[] = "import_browser_data";
inline constexpr char kEnableStatsPref[] = "enable_stats";

// The browser's own state file in a profile, and its language preference, which the installer sets to the run's
// language and the status reading reads back.
inline constexpr wchar_t kLocalStateFileName[] = L"Local State";
inline constexpr char kAppLocalePref[] = "intl.app_locale";

// Bases of the kernel objects of one installation folder (GetInstallerKernelObjectName adds the folder): the
// package is unpacked and its installer may take the run over; the run was interrupted.
inline constexpr wchar_t kPackageReadyEventBase[] = L"ZorviInstaller/PackageReady";
inline constexpr wchar_t kInstallationInterruptedEventBase[] = L"ZorviInstaller/InstallationInterrupted";

}  // namespace zorvi::installer

#endif  // DESKTOP_COMMON_PRODUCT_INSTALLATION_FILES_H_
