#ifndef DESKTOP_LAUNCHER_INSTALLER_INSTALLATION_FILES_H_
#define DESKTOP_LAUNCHER_INSTALLER_INSTALLATION_FILES_H_

namespace zorvi::installer {

// Names of what an installation keeps in its folder beside the version folders, which the steps that write them,
// the status reading and the uninstallation must all spell alike.
inline constexpr wchar_t kLauncherFileName[] = L"launcher.exe";
inline constexpr wchar_t kInstallerPrefsFileName[] = L"installer_prefs.json";
inline constexpr wchar_t kPrefDefaultOverridesFileName[] = L"pref_default_overrides";
inline constexpr wchar_t kOldStatusFolderName[] = L"old_status";

// The package's own installer and the library it loads from beside itself: the installer processes of a run start
// it from the unpacked package by this name.
inline constexpr wchar_t kPackageInstallerFileName[] = L"installer.exe";
inline constexpr wchar_t kPackageLibraryFileName[] = L"zorvi.dll";

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_INSTALLATION_FILES_H_
