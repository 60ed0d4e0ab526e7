// Helpers shared by the test executables: where their data lives, whether they run under wine, unique names
// for objects that parallel test processes share, and a plain child-process runner. Built on Win32 alone so
// that tests of the foundation do not test it with itself.
#ifndef TESTING_TEST_SUPPORT_H_
#define TESTING_TEST_SUPPORT_H_

#include <windows.h>

#include <aclapi.h>

#include <string>
#include <vector>

namespace test_support {

// True when the process runs under wine (used only to skip what wine cannot do).
bool IsRunningUnderWine();

// The folder of the running test executable, without a trailing separator.
std::wstring ExecutableDir();

// The test data folder that the area's Linux-side setup script filled (ZORVI_TESTDATA, turned into the
// Windows path of the same folder). Empty when the variable is not set.
std::wstring TestDataDir();

// A name unique to this process and the running test, for kernel objects, registry keys and temporary files.
std::wstring UniqueName(const std::wstring& prefix);

// Reads a whole file; false when it cannot be opened or read.
bool ReadFileBytes(const std::wstring& path, std::string* contents);

// Writes a whole file, replacing it; false on failure.
bool WriteFileBytes(const std::wstring& path, const std::string& contents);

// Removes a file or a folder tree, read-only entries too, a link as itself; true when nothing is left.
bool RemoveTree(const std::wstring& path);

// Runs a command line, waits for it and returns its exit code; standard output and error are captured
// into *output when it is not null. Returns false when the process could not be started.
bool RunProcess(const std::wstring& command_line, DWORD* exit_code, std::string* output = nullptr);

// What became of an attempt to put another file in place of one: the Windows error of overwriting it in place and,
// when that failed, of renaming it aside to put the other file there; 0 for the way that succeeded.
struct ReplacementAttempt {
  DWORD overwrite_error = 0;
  DWORD rename_error = 0;
  bool replaced() const { return overwrite_error == 0 || rename_error == 0; }
};

// Tries to put a copy of `replacement` in place of `file` as another process of the user could: by overwriting
// it, else by renaming it to `file` + ".aside" and copying the replacement to its name.
ReplacementAttempt TryToReplaceFile(const std::wstring& file, const std::wstring& replacement);

// Does what a user's process could do to a folder of its own at a chosen moment: renames `folder` to `folder` +
// ".swapped" and moves the folder `decoy` into its place. SwapBackFolderForTest moves the decoy back and removes
// what was swapped aside.
bool SwapFolderForTest(const std::wstring& folder, const std::wstring& decoy);
bool SwapBackFolderForTest(const std::wstring& folder, const std::wstring& decoy);

// A fresh folder under the temporary folder, named with UniqueName(prefix), removed with everything in it when
// the holder goes. A folder that cannot be made is reported as a test failure.
class ScopedTestFolder {
 public:
  explicit ScopedTestFolder(const std::wstring& prefix);
  ~ScopedTestFolder();
  ScopedTestFolder(const ScopedTestFolder&) = delete;
  ScopedTestFolder& operator=(const ScopedTestFolder&) = delete;
  // Without a trailing separator.
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

// The current folder of this process, and so of the programs it starts, for the holder's life. A folder that cannot
// be made current is reported as a test failure.
class ScopedCurrentFolder {
 public:
  explicit ScopedCurrentFolder(const std::wstring& folder);
  ~ScopedCurrentFolder();
  ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
  ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

 private:
  std::wstring previous_;
};

// Files under system DLLs' names beside a program, as a page may drop them into a downloads folder: copies of
// the DLL `library` named each of `names` + ".dll" in `folder`, and wine told, for programs named `program_name`,
// to prefer files found on the search path to its own libraries: the search Windows makes for every DLL that is
// not one of its known ones. The setting goes with the holder; failures are reported as test failures.
class ScopedPlantedLibraries {
 public:
  ScopedPlantedLibraries(const std::wstring& folder, const std::wstring& program_name, const std::wstring& library,
                         const std::vector<std::wstring>& names);
  ~ScopedPlantedLibraries();
  ScopedPlantedLibraries(const ScopedPlantedLibraries&) = delete;
  ScopedPlantedLibraries& operator=(const ScopedPlantedLibraries&) = delete;

 private:
  std::wstring settings_key_;
};

// How many handles this process holds: the handle values below 0x10000 that name an open handle, asked from the
// lowest up until 1,024 values in a row are free. Wine hands out the lowest free value, so every handle lies
// below the most the process ever held at once: the count is exact for a process that never held more than 1,024
// handles at once (not for one that inherited handles from a parent that held more). (The
// system-wide handle list of NtQuerySystemInformation would give it in one call, but wine's server crashes
// answering that query whenever a process of the prefix has no handle yet, as every process has while it
// starts; the whole run's processes are then left waiting for good.)
int CountOpenHandles();

// Replaces the access list of HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE\`subkey` with the one of `sddl` ("D:P(...)"
// for a protected list). The key's owner may always do this, also after locking itself out.
bool SetRegistryKeyDacl(HKEY root, const std::wstring& subkey, const wchar_t* sddl);

// The access list of a security descriptor that GetSecurityInfo or GetNamedSecurityInfoW handed out, as SDDL;
// the descriptor is freed. Null (the read failed) gives "(unreadable)".
std::wstring TakeDaclSddl(void* descriptor);
// The access list of a file or folder as the system keeps it, as SDDL.
std::wstring FileDaclSddl(const std::wstring& path);

// Replaces the access list of the object (as the named-security functions name it) with the one of `sddl`,
// protected from inheritance.
bool SetObjectDacl(const std::wstring& object_name, SE_OBJECT_TYPE type, const wchar_t* sddl);

// Closes a handle when it goes out of scope (test code only: the product has its own holder).
class ScopedTestHandle {
 public:
  explicit ScopedTestHandle(HANDLE handle = nullptr) : handle_(handle) {}
  ~ScopedTestHandle() { reset(); }
  ScopedTestHandle(const ScopedTestHandle&) = delete;
  ScopedTestHandle& operator=(const ScopedTestHandle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void reset(HANDLE handle = nullptr);

 private:
  HANDLE handle_;
};

}  // namespace test_support

#endif  // TESTING_TEST_SUPPORT_H_
