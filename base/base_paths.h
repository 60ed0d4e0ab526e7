// The path keys that PathService answers, and the two providers that resolve them. The numbers are part of
// the interface: other processes and stored settings use them.
#ifndef BASE_BASE_PATHS_H_
#define BASE_BASE_PATHS_H_

namespace base {

class FilePath;

enum BasePathKey : int {
  kCurrentDir = 1,          // the current directory (never cached, never overridden)
  kExeDir = 2,              // folder of kExeFile
  kModuleDir = 3,           // folder of kModuleFile
  kTempDir = 4,             // the user's temporary folder
  kHomeDir = 5,             // the user's profile folder
  kExeFile = 6,             // the process's executable
  kModuleFile = 7,          // the module this code is linked into
  kSourceRoot = 8,          // two levels above kExeDir
  kUserDesktop = 9,         // the user's desktop folder
  kTestData = 10,           // kSourceRoot\base\test\data, only when it exists
  kWindowsDir = 101,        // the Windows folder
  kSystemDir = 102,         // the system folder
  kProgramFiles = 103,      // Program Files of the process's bitness
  kProgramFilesX86 = 104,   // the 32-bit Program Files (Program Files itself on a 32-bit system)
  kProgramFiles6432 = 105,  // Program Files as the system names it for this process
  kInternetCache = 106,     // the browser cache folder of the system
  kCommonStartMenu = 107,   // the all-users Start Menu programs folder
  kStartMenu = 108,         // the user's Start Menu programs folder
  kAppData = 109,           // the user's roaming application data
  kLocalAppData = 110,      // the user's local application data
  kCommonAppData = 111,     // the all-users application data
  kAppShortcuts = 112,      // the application shortcuts folder (Windows 8 and later)
  kCommonDesktop = 113,     // the all-users desktop
  kUserQuickLaunch = 114,   // kAppData\Microsoft\Internet Explorer\Quick Launch
  kTaskbarPins = 115,       // kUserQuickLaunch\User Pinned\TaskBar
  kWindowsFonts = 116,      // the fonts folder
};

// A provider answers the keys it knows (true, with *result set) and refuses the others.
// Keys kExeDir, kModuleDir, kTempDir, kHomeDir and kTestData.
bool PathProvider(int key, FilePath* result);
// Keys kExeFile to kWindowsFonts, except the ones PathProvider answers.
bool PathProviderWin(int key, FilePath* result);

}  // namespace base

#endif  // BASE_BASE_PATHS_H_
