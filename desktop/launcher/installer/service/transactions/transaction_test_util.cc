#include "desktop/launcher/installer/service/transactions/transaction_test_util.h"

#include <sddl.h>
#include <shlwapi.h>

#include <memory>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_local_memory.h"
#include "crypto/secure_hash.h"
#include "testing/test_support.h"

namespace zorvi::installer::test {

namespace {

constexpr DWORD kComparedAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
constexpr SECURITY_INFORMATION kSddlParts =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

std::string Sha256OfFile(const base::FilePath& path) {
  std::string bytes;
  if (!base::ReadFileToString(path, &bytes))
    return "unreadable";
  std::unique_ptr<crypto::SecureHash> hash = crypto::SecureHash::Create(crypto::SecureHash::SHA256);
  hash->Update(bytes.data(), bytes.size());
  unsigned char digest[32];
  hash->Finish(digest, sizeof(digest));
  return base::HexEncode(digest, sizeof(digest));
}

void CaptureKey(HKEY root, const std::wstring& path, const std::wstring& name, MachineState* state) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    state->keys[name].sddl = L"unreadable";
    return;
  }
  KeyState& key_state = state->keys[name];
  key_state.sddl = KeySddl(root, path);
  std::vector<std::wstring> subkeys;
  for (DWORD index = 0;; ++index) {
    wchar_t value_name[16384];
    DWORD name_length = 16384;
    DWORD type = 0;
    DWORD size = 0;
    if (RegEnumValueW(key, index, value_name, &name_length, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      break;
    std::string data(size, '\0');
    name_length = 16384;
    RegEnumValueW(key, index, value_name, &name_length, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    data.resize(size);
    key_state.values[std::wstring(value_name, name_length)] = ValueState{type, data};
  }
  for (DWORD index = 0;; ++index) {
    wchar_t subkey[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key, index, subkey, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    subkeys.emplace_back(subkey, length);
  }
  RegCloseKey(key);
  for (const std::wstring& subkey : subkeys)
    CaptureKey(root, path + L"\\" + subkey, name + L"\\" + subkey, state);
}

std::string DescribeValues(const std::map<std::wstring, ValueState>& values) {
  std::string text;
  for (const auto& [name, value] : values) {
    text += " \"" + base::WideToUTF8(name) + "\" (type " + std::to_string(value.type) + ", " +
            base::HexEncode(value.data.data(), value.data.size()) + ")";
  }
  return text;
}

}  // namespace

std::wstring KeySddl(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, READ_CONTROL, &key) != ERROR_SUCCESS)
    return std::wstring();
  DWORD size = 0;
  RegGetKeySecurity(key, kSddlParts, nullptr, &size);
  std::vector<BYTE> descriptor(size);
  std::wstring sddl;
  base::win::ScopedLocalMemory<wchar_t> text;
  if (RegGetKeySecurity(key, kSddlParts, descriptor.data(), &size) == ERROR_SUCCESS &&
      ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1, kSddlParts,
                                                           text.Receive(), nullptr)) {
    sddl = text.Get();
  }
  RegCloseKey(key);
  return sddl;
}

bool SetKeySddl(HKEY root, const std::wstring& path, const std::wstring& sddl, SECURITY_INFORMATION more) {
  base::win::ScopedLocalMemory<> descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, descriptor.Receive(),
                                                            nullptr))
    return false;
  HKEY key = nullptr;
  bool ok = RegOpenKeyExW(root, path.c_str(), 0, WRITE_DAC | WRITE_OWNER, &key) == ERROR_SUCCESS;
  if (ok) {
    ok = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION | more, descriptor.Get()) == ERROR_SUCCESS;
    RegCloseKey(key);
  }
  return ok;
}

std::string Compare(const MachineState& expected, const MachineState& actual) {
  std::string differences;
  for (const auto& [name, key] : expected.keys) {
    const auto found = actual.keys.find(name);
    if (found == actual.keys.end()) {
      differences += "missing key " + base::WideToUTF8(name) + "\n";
      continue;
    }
    if (!key.sddl.empty() && key.sddl != found->second.sddl) {
      differences += "key " + base::WideToUTF8(name) + " has SDDL " + base::WideToUTF8(found->second.sddl) +
                     ", expected " + base::WideToUTF8(key.sddl) + "\n";
    }
    if (key.values != found->second.values) {
      differences += "key " + base::WideToUTF8(name) + " has values" + DescribeValues(found->second.values) +
                     ", expected" + DescribeValues(key.values) + "\n";
    }
  }
  for (const auto& [name, key] : actual.keys) {
    if (!expected.keys.count(name))
      differences += "unexpected key " + base::WideToUTF8(name) + "\n";
  }
  for (const auto& [name, entry] : expected.entries) {
    const auto found = actual.entries.find(name);
    if (found == actual.entries.end())
      differences += "missing " + base::WideToUTF8(name) + "\n";
    else if (!(found->second == entry))
      differences += "changed " + base::WideToUTF8(name) + "\n";
  }
  for (const auto& [name, entry] : actual.entries) {
    if (!expected.entries.count(name))
      differences += "unexpected " + base::WideToUTF8(name) + "\n";
  }
  return differences;
}

// Each sandbox of a process has names of its own: one that could not be removed whole (a key nobody but the
// system may delete) never meets the next test, or the next repetition of the same test.
Sandbox::Sandbox(const std::wstring& name) {
  static int sandboxes = 0;
  const std::wstring unique = test_support::UniqueName(name) + L"_" + std::to_wstring(++sandboxes);
  key_root_ = L"Software\\" + unique;
  wchar_t temp[MAX_PATH];
  const DWORD length = GetTempPathW(MAX_PATH, temp);
  tree_ = base::FilePath(std::wstring(temp, length)).Append(unique);
  base::DeleteFile(tree_, true);
  HKEY key = nullptr;
  ok_ = base::CreateDirectory(tree_);
  for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    SHDeleteKeyW(hive, key_root_.c_str());
    ok_ = ok_ && RegCreateKeyExW(hive, key_root_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
                     ERROR_SUCCESS;
    if (key)
      RegCloseKey(key);
  }
}

Sandbox::Sandbox(const std::wstring& key_root, const base::FilePath& tree)
    : key_root_(key_root), tree_(tree), ok_(base::DirectoryExists(tree)), owned_(false) {}

Sandbox::~Sandbox() {
  if (!owned_)
    return;
  for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
    SHDeleteKeyW(hive, key_root_.c_str());
  base::DeleteFile(tree_, true);
}

HKEY Sandbox::Hive(const std::wstring& state_key) const {
  return state_key.compare(0, 2, L"LM") == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::wstring Sandbox::KeyPath(const std::wstring& state_key) const {
  return key_root_ + state_key.substr(2);
}

MachineState Sandbox::Capture() const {
  MachineState state;
  CaptureKey(HKEY_CURRENT_USER, key_root_, L"CU", &state);
  CaptureKey(HKEY_LOCAL_MACHINE, key_root_, L"LM", &state);
  base::FileEnumerator entries(tree_, true, base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
  for (base::FilePath path = entries.Next(); !path.empty(); path = entries.Next()) {
    const base::FileEnumerator::FileInfo info = entries.GetInfo();
    EntryState entry;
    entry.directory = info.IsDirectory();
    entry.attributes = info.find_data().dwFileAttributes & kComparedAttributes;
    if (!entry.directory) {
      entry.size = info.GetSize();
      entry.sha256 = Sha256OfFile(path);
    }
    state.entries[path.value().substr(tree_.value().size() + 1)] = entry;
  }
  return state;
}

std::string Sandbox::RegExport() const {
  std::string all;
  for (const wchar_t* hive : {L"HKEY_CURRENT_USER\\", L"HKEY_LOCAL_MACHINE\\"}) {
    const base::FilePath file = tree_.AddExtension(L".reg");
    DWORD exit_code = 1;
    std::string exported;
    if (!test_support::RunProcess(
            L"reg.exe export \"" + std::wstring(hive) + key_root_ + L"\" \"" + file.value() + L"\" /y", &exit_code) ||
        exit_code != 0 || !base::ReadFileToString(file, &exported)) {
      return std::string();
    }
    base::DeleteFile(file, false);
    all += exported;
  }
  return all;
}

}  // namespace zorvi::installer::test
