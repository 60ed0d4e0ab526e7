#include "testing/test_support.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <vector>

#include "base/win/scoped_local_memory.h"

namespace test_support {

bool IsRunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::wstring ExecutableDir() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0)
      return std::wstring();
    if (length < buffer.size()) {
      std::wstring path(buffer.data(), length);
      return path.substr(0, path.find_last_of(L'\\'));
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring TestDataDir() {
  wchar_t value[32768];
  DWORD length = GetEnvironmentVariableW(L"ZORVI_TESTDATA", value, ARRAYSIZE(value));
  if (length == 0 || length >= ARRAYSIZE(value))
    return std::wstring();
  std::wstring path(value, length);
  if (!path.empty() && path[0] == L'/') {
    // A Linux path: wine maps the root of the Linux file system to drive Z:.
    for (wchar_t& c : path) {
      if (c == L'/')
        c = L'\\';
    }
    path = L"Z:" + path;
  }
  return path;
}

std::wstring UniqueName(const std::wstring& prefix) {
  std::wstring name = prefix + L"_" + std::to_wstring(GetCurrentProcessId());
  if (const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info()) {
    std::string test = std::string(info->test_suite_name()) + "_" + info->name();
    for (char c : test)
      name += (c == '/' ? L'_' : static_cast<wchar_t>(static_cast<unsigned char>(c)));
  }
  return name;
}

bool RemoveTree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return true;
  SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return DeleteFileW(path.c_str()) != FALSE;
  // A link is never entered: what it leads to is not the tree's.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return RemoveDirectoryW(path.c_str()) != FALSE;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name != L"." && name != L"..")
        RemoveTree(path + L"\\" + name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  return RemoveDirectoryW(path.c_str()) != FALSE;
}

ReplacementAttempt TryToReplaceFile(const std::wstring& file, const std::wstring& replacement) {
  ReplacementAttempt attempt;
  if (CopyFileW(replacement.c_str(), file.c_str(), FALSE))
    return attempt;
  attempt.overwrite_error = GetLastError();
  const std::wstring aside = file + L".aside";
  if (!MoveFileExW(file.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING) ||
      !CopyFileW(replacement.c_str(), file.c_str(), TRUE)) {
    attempt.rename_error = GetLastError();
  }
  return attempt;
}

bool SwapFolderForTest(const std::wstring& folder, const std::wstring& decoy) {
  return MoveFileW(folder.c_str(), (folder + L".swapped").c_str()) && MoveFileW(decoy.c_str(), folder.c_str());
}

bool SwapBackFolderForTest(const std::wstring& folder, const std::wstring& decoy) {
  const bool moved = MoveFileW(folder.c_str(), decoy.c_str()) != FALSE;
  RemoveTree(folder + L".swapped");
  return moved;
}

ScopedTestFolder::ScopedTestFolder(const std::wstring& prefix) {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  path_ = std::wstring(temp, length) + UniqueName(prefix);
  EXPECT_TRUE(CreateDirectoryW(path_.c_str(), nullptr)) << "cannot make the test folder, error " << GetLastError();
}

ScopedTestFolder::~ScopedTestFolder() {
  RemoveTree(path_);
}

ScopedCurrentFolder::ScopedCurrentFolder(const std::wstring& folder) {
  previous_.resize(GetCurrentDirectoryW(0, nullptr));
  previous_.resize(GetCurrentDirectoryW(static_cast<DWORD>(previous_.size()), previous_.data()));
  EXPECT_TRUE(SetCurrentDirectoryW(folder.c_str())) << "cannot enter the folder, error " << GetLastError();
}

ScopedCurrentFolder::~ScopedCurrentFolder() {
  SetCurrentDirectoryW(previous_.c_str());
}

ScopedPlantedLibraries::ScopedPlantedLibraries(const std::wstring& folder, const std::wstring& program_name,
                                               const std::wstring& library, const std::vector<std::wstring>& names)
    : settings_key_(L"Software\\Wine\\AppDefaults\\" + program_name) {
  HKEY overrides = nullptr;
  const LSTATUS created = RegCreateKeyExW(HKEY_CURRENT_USER, (settings_key_ + L"\\DllOverrides").c_str(), 0,
                                          nullptr, 0, KEY_SET_VALUE, nullptr, &overrides, nullptr);
  EXPECT_EQ(ERROR_SUCCESS, created) << "the wine settings of " << program_name.c_str();
  const wchar_t kPreferFilesOnThePath[] = L"native,builtin";
  for (const std::wstring& name : names) {
    EXPECT_TRUE(CopyFileW(library.c_str(), (folder + L"\\" + name + L".dll").c_str(), FALSE))
        << "planting " << name.c_str() << ".dll, error " << GetLastError();
    if (created == ERROR_SUCCESS) {
      EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(overrides, name.c_str(), 0, REG_SZ,
                                              reinterpret_cast<const BYTE*>(kPreferFilesOnThePath),
                                              sizeof(kPreferFilesOnThePath)));
    }
  }
  if (overrides)
    RegCloseKey(overrides);
}

ScopedPlantedLibraries::~ScopedPlantedLibraries() {
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_CURRENT_USER, settings_key_.c_str()));
}

int CountOpenHandles() {
  // Each value asked is a call to the wine server, which every test of a run shares: asking all 16,383 values
  // took a test several seconds a count on a loaded machine.
  constexpr int kFreeValuesThatEndTheScan = 1024;
  int open = 0;
  int free_in_a_row = 0;
  DWORD flags = 0;
  for (uintptr_t value = 4; value < 0x10000 && free_in_a_row < kFreeValuesThatEndTheScan; value += 4) {
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
      ++open;
      free_in_a_row = 0;
    } else {
      ++free_in_a_row;
    }
  }
  return open;
}

void ScopedTestHandle::reset(HANDLE handle) {
  if (valid())
    CloseHandle(handle_);
  handle_ = handle;
}

bool ReadFileBytes(const std::wstring& path, std::string* contents) {
  ScopedTestHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid())
    return false;
  contents->clear();
  char buffer[65536];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr))
      return false;
    if (read == 0)
      return true;
    contents->append(buffer, read);
  }
}

bool WriteFileBytes(const std::wstring& path, const std::string& contents) {
  ScopedTestHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid())
    return false;
  size_t offset = 0;
  while (offset < contents.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(contents.size() - offset, 1 << 20));
    DWORD written = 0;
    if (!WriteFile(file.get(), contents.data() + offset, chunk, &written, nullptr) || written == 0)
      return false;
    offset += written;
  }
  return true;
}

bool RunProcess(const std::wstring& command_line, DWORD* exit_code, std::string* output) {
  // Wine starts its desktop process when a program of the prefix first makes a window, and that process keeps
  // the standard handles of the program that made it: a child that made the first window (COM's apartment
  // window counts) would leave the pipe below open forever. Asking for the desktop here makes it now, with this
  // process's handles.
  if (output)
    GetDesktopWindow();
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (output && !CreatePipe(&read_end, &write_end, &inherit, 0))
    return false;
  ScopedTestHandle reader(read_end), writer(write_end);
  if (output)
    SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  if (output) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writer.get();
    startup.hStdError = writer.get();
  }
  PROCESS_INFORMATION info = {};
  std::wstring mutable_command = command_line;
  if (!CreateProcessW(nullptr, mutable_command.data(), nullptr, nullptr, output != nullptr, 0, nullptr, nullptr,
                      &startup, &info)) {
    return false;
  }
  ScopedTestHandle process(info.hProcess), thread(info.hThread);
  writer.reset();  // the child holds the only write end now, so the read ends when it exits
  if (output) {
    output->clear();
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(reader.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
      output->append(buffer, read);
  }
  WaitForSingleObject(process.get(), INFINITE);
  return GetExitCodeProcess(process.get(), exit_code) != FALSE;
}

bool SetRegistryKeyDacl(HKEY root, const std::wstring& subkey, const wchar_t* sddl) {
  base::win::ScopedLocalMemory<> descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, descriptor.Receive(), nullptr))
    return false;
  HKEY key = nullptr;
  LONG result = RegOpenKeyExW(root, subkey.c_str(), 0, WRITE_DAC, &key);
  if (result == ERROR_SUCCESS) {
    result = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor.Get());
    RegCloseKey(key);
  }
  return result == ERROR_SUCCESS;
}

bool SetObjectDacl(const std::wstring& object_name, SE_OBJECT_TYPE type, const wchar_t* sddl) {
  base::win::ScopedLocalMemory<> descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, descriptor.Receive(), nullptr))
    return false;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted);
  const DWORD error =
      SetNamedSecurityInfoW(const_cast<wchar_t*>(object_name.c_str()), type,
                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
                            nullptr);
  return error == ERROR_SUCCESS;
}

std::wstring TakeDaclSddl(void* descriptor) {
  if (!descriptor)
    return L"(unreadable)";
  base::win::ScopedLocalMemory<> taken(descriptor);
  base::win::ScopedLocalMemory<wchar_t> text;
  std::wstring sddl = L"(not convertible)";
  if (ConvertSecurityDescriptorToStringSecurityDescriptorW(taken.Get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                           text.Receive(), nullptr)) {
    sddl = text.Get();
  }
  return sddl;
}

std::wstring FileDaclSddl(const std::wstring& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                        nullptr, &descriptor);
  return TakeDaclSddl(descriptor);
}

}  // namespace test_support
