#include "desktop/common/autoupdate/updatechecker/globalstorage_win.h"

#include <windows.h>

#include <sddl.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/message_loop/message_loop.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/simple_thread.h"
#include "base/values.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_memory.h"
#include "desktop/common/autoupdate/updatechecker/globalstorage_test_util.h"
#include "testing/test_support.h"
#include "testing/version_child.h"

namespace zorvi::installer {
namespace {

using test_support::ScopedTestHandle;
using test_support::UniqueName;

constexpr DWORD kChildTimeoutMs = 60000;  // only ends a hung child

std::wstring ChildCommand(const std::wstring& arguments) {
  return L"\"" + test_support::ExecutableDir() + L"\\globalstorage_test_child.exe\" " + arguments;
}

// The values of a key as wine's own reg tool lists them ("    name    REG_SZ    data" lines); empty when the key
// does not exist.
std::map<std::string, std::string> RegQuery(const std::wstring& key_path) {
  DWORD exit_code = 0;
  std::string output;
  std::map<std::string, std::string> values;
  if (!test_support::RunProcess(L"reg.exe query \"HKCU\\" + key_path + L"\"", &exit_code, &output) || exit_code)
    return values;
  constexpr char kIndent[] = "    ";
  constexpr char kType[] = "    REG_SZ    ";
  for (const std::string& line : base::SplitString(output, "\r\n", base::KEEP_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
    const size_t type = line.find(kType);
    if (line.compare(0, 4, kIndent) == 0 && type != std::string::npos)
      values[line.substr(4, type - 4)] = line.substr(type + strlen(kType));
  }
  return values;
}

// A value's data as the registry stores it (UTF-16), terminator included when there is one; "<missing>" when
// there is no such value.
std::wstring StoredText(const std::wstring& key_path, const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key_path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return L"<missing>";
  std::wstring data(4096, L'\0');
  DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
  const LONG result = RegQueryValueExW(key, base::UTF8ToWide(name).c_str(), nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(data.data()), &size);
  RegCloseKey(key);
  return result == ERROR_SUCCESS ? data.substr(0, size / sizeof(wchar_t)) : L"<missing>";
}

// What the kernel says of a handle: its object's name and the access it grants.
struct HandleFacts {
  std::wstring name;
  ACCESS_MASK granted_access = 0;
};

HandleFacts QueryHandle(HANDLE handle) {
  using QueryObject = NTSTATUS(NTAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
  const auto query = reinterpret_cast<QueryObject>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
  HandleFacts facts;
  PUBLIC_OBJECT_BASIC_INFORMATION basic = {};
  ULONG length = 0;
  if (query(handle, 0 /* basic */, &basic, sizeof(basic), &length) == 0)
    facts.granted_access = basic.GrantedAccess;
  alignas(UNICODE_STRING) char name[2048] = {};
  if (query(handle, 1 /* name */, name, sizeof(name), &length) == 0) {
    const auto* text = reinterpret_cast<const UNICODE_STRING*>(name);
    facts.name.assign(text->Buffer, text->Length / sizeof(wchar_t));
  }
  return facts;
}

// Another process that holds a mutex from construction (once it owns it) until Release.
class MutexHolder {
 public:
  explicit MutexHolder(const std::wstring& mutex_name)
      : owned_(CreateEventW(nullptr, TRUE, FALSE, (mutex_name + L"Owned").c_str())),
        release_(CreateEventW(nullptr, TRUE, FALSE, (mutex_name + L"Release").c_str())) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child = {};
    std::wstring command = ChildCommand(L"hold " + mutex_name + L" " + mutex_name + L"Owned " + mutex_name +
                                        L"Release");
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
      process_.reset(child.hProcess);
      CloseHandle(child.hThread);
    }
  }
  // Whether the child owns the mutex (false when it ended first).
  bool WaitUntilOwned() {
    HANDLE owned_or_ended[] = {owned_.get(), process_.get()};
    return process_.valid() && WaitForMultipleObjects(2, owned_or_ended, FALSE, kChildTimeoutMs) == WAIT_OBJECT_0;
  }
  // Whether the child let go of it and ended well.
  bool Release() {
    DWORD exit_code = 1;
    SetEvent(release_.get());
    return WaitForSingleObject(process_.get(), kChildTimeoutMs) == WAIT_OBJECT_0 &&
           GetExitCodeProcess(process_.get(), &exit_code) && exit_code == 0;
  }

 private:
  ScopedTestHandle owned_;
  ScopedTestHandle release_;
  ScopedTestHandle process_;
};

class GlobalStorageTest : public testing::Test {
 protected:
  void SetUp() override {
    company_ = base::WideToUTF8(UniqueName(L"ZorviGs"));
    mutex_name_ = UniqueName(L"ZorviGsMutex");
    test::UseTestProduct(company_, mutex_name_);
    key_path_ = L"Software\\" + base::UTF8ToWide(company_);
  }

  void TearDown() override {
    // A test may have locked the key.
    test_support::SetRegistryKeyDacl(HKEY_CURRENT_USER, key_path_, L"D:(A;;KA;;;WD)");
    RegDeleteTreeW(HKEY_CURRENT_USER, key_path_.c_str());
  }

  // The product key, readable but not writable by anyone.
  void LockProductKey() {
    base::win::RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, key_path_.c_str(), KEY_WRITE));
    ASSERT_TRUE(test_support::SetRegistryKeyDacl(HKEY_CURRENT_USER, key_path_, L"D:P(A;;KR;;;WD)"));
  }

  // A folder of the test data for what testdata_check.sh reads, emptied first.
  base::FilePath DataFolder(const std::wstring& name) {
    const base::FilePath folder = base::FilePath(test_support::TestDataDir()).Append(name);
    base::DeleteFile(folder, true);
    EXPECT_TRUE(base::CreateDirectory(folder));
    return folder;
  }

  std::string company_;
  std::wstring mutex_name_;
  std::wstring key_path_;
  base::MessageLoop loop_;  // the fallback file's store schedules its write here
};

TEST_F(GlobalStorageTest, ValuesLiveInTheProductKey) {
  GlobalStorage* storage = GlobalStorage::GetInstance();
  ASSERT_EQ(storage, GlobalStorage::GetInstance());
  ASSERT_TRUE(static_cast<GlobalStorageWin*>(storage)->checked());
  EXPECT_FALSE(static_cast<GlobalStorageWin*>(storage)->use_fallback()) << "a missing key is no refusal";

  EXPECT_EQ(GlobalStorage::kOk, storage->Write("unset", "")) << "deleting from a key that does not exist";
  EXPECT_TRUE(RegQuery(key_path_).empty());

  const std::map<std::string, std::string> values = {
      {"UUID", "123e4567-e89b-12d3-a456-426614174000"},
      {"blanks", "a b  c "},
      {"dotted.name", "x.y"},
      {"long", std::string(1500, 'z')},
  };
  for (const auto& [name, value] : values)
    EXPECT_EQ(GlobalStorage::kOk, storage->Write(name, value)) << name;
  EXPECT_EQ(values, RegQuery(key_path_));
  for (const auto& [name, value] : values) {
    // Only the text's bytes are handed over; the system counts the terminator that follows them in memory, as it
    // does for every string type.
    EXPECT_EQ(base::UTF8ToWide(value) + L'\0', StoredText(key_path_, name)) << name;
    std::string read = "stale";
    EXPECT_EQ(GlobalStorage::kOk, storage->Read(name, &read));
    EXPECT_EQ(value, read);
  }

  // Values stored by others, with and without a terminator, read the same.
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, key_path_.c_str(), 0, KEY_SET_VALUE, &key));
  const std::wstring text = L"no terminator";
  // The system would count a terminator that follows the data: something else follows it here.
  const std::wstring followed = text + L"X";
  RegSetValueExW(key, L"raw", 0, REG_SZ, reinterpret_cast<const BYTE*>(followed.data()),
                 static_cast<DWORD>(text.size() * sizeof(wchar_t)));
  RegSetValueExW(key, L"terminated", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  EXPECT_EQ(text, StoredText(key_path_, "raw"));
  EXPECT_EQ(text + L'\0', StoredText(key_path_, "terminated"));
  for (const char* name : {"raw", "terminated"}) {
    std::string read;
    EXPECT_EQ(GlobalStorage::kOk, storage->Read(name, &read));
    EXPECT_EQ(base::WideToUTF8(text), read) << name;
  }

  // An empty value deletes; a missing value reads as empty.
  EXPECT_EQ(GlobalStorage::kOk, storage->Write("UUID", ""));
  EXPECT_EQ(0u, RegQuery(key_path_).count("UUID"));
  std::string read = "stale";
  EXPECT_EQ(GlobalStorage::kOk, storage->Read("UUID", &read));
  EXPECT_EQ("", read);

  EXPECT_EQ(GlobalStorage::kInvalidArgument, storage->Write("", "value"));
  read = "stale";
  EXPECT_EQ(GlobalStorage::kInvalidArgument, storage->Read("", &read));
  EXPECT_EQ("", read);
  EXPECT_EQ(GlobalStorage::kInvalidArgument, storage->Read("blanks", nullptr));
}

TEST_F(GlobalStorageTest, AccessMutex) {
  {
    // Another process holds it: both operations answer kBusy at once and change nothing.
    GlobalStorageWin storage;
    ASSERT_EQ(GlobalStorage::kOk, storage.Write("before", "1"));
    MutexHolder holder(mutex_name_);
    ASSERT_TRUE(holder.WaitUntilOwned());
    EXPECT_EQ(GlobalStorage::kBusy, storage.Write("during", "2"));
    EXPECT_EQ(GlobalStorage::kBusy, storage.Write("before", ""));
    std::string read = "stale";
    EXPECT_EQ(GlobalStorage::kBusy, storage.Read("before", &read));
    EXPECT_EQ("", read);
    EXPECT_EQ((std::map<std::string, std::string>{{"before", "1"}}), RegQuery(key_path_));
    ASSERT_TRUE(holder.Release());
    EXPECT_EQ(GlobalStorage::kOk, storage.Write("during", "2"));
  }
  {
    // Made by someone who lets others only wait for it: opened for waiting, still usable, and let go of after
    // each operation, so that another process can take it.
    const std::wstring foreign_name = mutex_name_ + L"Foreign";
    SetGlobalStorageMutexNameForTesting(foreign_name.c_str());
    base::win::ScopedLocalMemory<> descriptor;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;0x00100000;;;WD)", SDDL_REVISION_1,
                                                                     descriptor.Receive(), nullptr));
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};
    ScopedTestHandle foreign(CreateMutexW(&attributes, FALSE, foreign_name.c_str()));
    descriptor.Close();
    GlobalStorageWin storage;
    ASSERT_EQ(GlobalStorage::kOk, storage.GetAccessMutex());
    EXPECT_EQ(static_cast<ACCESS_MASK>(SYNCHRONIZE), QueryHandle(storage.access_mutex_for_testing()).granted_access);
    std::string read;
    EXPECT_EQ(GlobalStorage::kOk, storage.Write("waited", "yes"));
    EXPECT_EQ(GlobalStorage::kOk, storage.Read("waited", &read));
    EXPECT_EQ("yes", read);
    MutexHolder holder(foreign_name);
    EXPECT_TRUE(holder.WaitUntilOwned());
    EXPECT_TRUE(holder.Release());
  }
  {
    // A name the system refuses: no mutex, no operation.
    SetGlobalStorageMutexNameForTesting(L"NoSuchNamespace\\mutex");
    GlobalStorageWin storage;
    std::string read;
    EXPECT_EQ(GlobalStorage::kFailure, storage.Write("refused", "1"));
    EXPECT_EQ(GlobalStorage::kFailure, storage.Read("refused", &read));
    EXPECT_EQ(0u, RegQuery(key_path_).count("refused"));
  }
  {
    // The product's own name, as the kernel names the object (nothing is waited for).
    SetGlobalStorageMutexNameForTesting(nullptr);
    GlobalStorageWin storage;
    ASSERT_EQ(GlobalStorage::kOk, storage.GetAccessMutex());
    const std::wstring name = QueryHandle(storage.access_mutex_for_testing()).name;
    EXPECT_TRUE(base::EndsWith(name, L"\\BaseNamedObjects\\zauc_registry_mutex", base::CompareCase::SENSITIVE))
        << base::WideToUTF8(name);
  }
}

// A user who may not write the product's key keeps every value in the fallback file, which Python's json reads
// in testdata_check.sh; how such a file reads depends on what it holds.
TEST_F(GlobalStorageTest, DeniedKeySendsEveryValueToTheFallbackFile) {
  LockProductKey();
  GlobalStorageWin storage;
  storage.CheckRegistryAccess();
  ASSERT_TRUE(storage.use_fallback());
  EXPECT_EQ(GlobalStorage::kFailure, storage.Write("UUID", "lost")) << "no folder to keep the value in yet";

  const base::FilePath folder = DataFolder(L"fallback");
  storage.Initialize(folder);
  base::DictionaryValue expected;
  for (const auto& [name, value] : std::map<std::string, std::string>{
           {"UUID", "123e4567-e89b-12d3-a456-426614174000"}, {"dotted.name", "literal"}, {"blanks", " a b "}}) {
    EXPECT_EQ(GlobalStorage::kOk, storage.Write(name, value)) << name;
    std::string read;
    EXPECT_EQ(GlobalStorage::kOk, storage.Read(name, &read)) << name;
    EXPECT_EQ(value, read);
    expected.SetStringWithoutPathExpansion(name, value);
  }
  EXPECT_EQ(GlobalStorage::kOk, storage.Write("removed", "soon"));
  EXPECT_EQ(GlobalStorage::kOk, storage.Write("removed", ""));
  std::string removed = "stale";
  EXPECT_EQ(GlobalStorage::kOk, storage.Read("removed", &removed)) << "a deleted value reads as empty";
  EXPECT_EQ("", removed);
  {
    // A file that cannot be replaced (a reader that shares no deletion) keeps its value, and the write says so.
    base::win::ScopedHandle reader(CreateFileW(folder.Append(GlobalStorageWin::kFallbackFileName).value().c_str(),
                                               GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader.IsValid());
    EXPECT_EQ(GlobalStorage::kFailure, storage.Write("UUID", "not kept"));
    EXPECT_EQ(GlobalStorage::kFailure, storage.Write("dotted.name", ""));
  }
  EXPECT_TRUE(RegQuery(key_path_).empty()) << "nothing reaches the registry";
  std::string json;
  ASSERT_TRUE(base::JsonWriter::Write(expected, &json));
  ASSERT_EQ(static_cast<int>(json.size()), base::WriteFile(folder.Append(L"expected.json"), json.data(), json.size()));

  struct Case {
    const char* file;  // null: no file
    int32_t result;
    const char* value;
  } const cases[] = {
      {nullptr, GlobalStorage::kOk, ""},
      {R"({"other": 1})", GlobalStorage::kOk, ""},
      {R"({"GS": {"key": "plain ASCII"}})", GlobalStorage::kOk, "plain ASCII"},
      {R"({"GS": {"key": "Gr\u00fc\u00dfe"}})", GlobalStorage::kFailure, ""},
      {R"({"GS": {"key": 7}})", GlobalStorage::kFailure, ""},
      {R"({"GS": {"other": "x"}})", GlobalStorage::kOk, ""},
      {R"({"GS": "not a dictionary"})", GlobalStorage::kFailure, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file ? c.file : "no file");
    const base::FilePath rules = DataFolder(L"read_rules");
    if (c.file) {
      const int size = static_cast<int>(strlen(c.file));
      ASSERT_EQ(size, base::WriteFile(rules.Append(GlobalStorageWin::kFallbackFileName), c.file, size));
    }
    storage.Initialize(rules);
    std::string read = "stale";
    EXPECT_EQ(c.result, storage.Read("key", &read));
    EXPECT_EQ(c.value, read);
  }
}

// A fallback file found while the key is writable moves into the registry, unless this process wrote there first;
// the file stays as it was, and later writes update both.
TEST_F(GlobalStorageTest, FallbackFileMigratesIntoTheRegistry) {
  const base::FilePath folder = DataFolder(L"migration");
  const base::FilePath file = folder.Append(GlobalStorageWin::kFallbackFileName);
  const std::string original =
      R"({"GS": {"UUID": "123e4567", "blanks": "two words", "number": 5, "empty": ""}, "other": true})";
  ASSERT_TRUE(base::WriteFile(file, original.data(), static_cast<int>(original.size())));

  {
    // This process wrote to the registry already: the registry is newer than the file.
    GlobalStorageWin storage;
    ASSERT_EQ(GlobalStorage::kOk, storage.Write("first", "1"));
    ASSERT_EQ(GlobalStorage::kOk, storage.Write("first", ""));
    storage.Initialize(folder);
    EXPECT_TRUE(RegQuery(key_path_).empty());
  }
  GlobalStorageWin storage;
  storage.CheckRegistryAccess();
  ASSERT_FALSE(storage.use_fallback());
  storage.Initialize(folder);
  EXPECT_EQ((std::map<std::string, std::string>{{"UUID", "123e4567"}, {"blanks", "two words"}}), RegQuery(key_path_));
  std::string contents;
  ASSERT_TRUE(base::ReadFileToString(file, &contents));
  EXPECT_EQ(original, contents) << "migration leaves the file alone";

  ASSERT_EQ(GlobalStorage::kOk, storage.Write("UUID", "89abcdef"));
  EXPECT_EQ("89abcdef", RegQuery(key_path_)["UUID"]);
  ASSERT_TRUE(base::ReadFileToString(file, &contents));
  std::unique_ptr<base::Value> root = base::JsonReader::Read(contents);
  const base::DictionaryValue* dictionary = nullptr;
  std::string in_file;
  ASSERT_TRUE(root && root->GetAsDictionary(&dictionary));
  EXPECT_TRUE(dictionary->GetString("GS.UUID", &in_file));
  EXPECT_EQ("89abcdef", in_file);

  {
    // A file that cannot be replaced (a reader that shares no deletion) refuses the value, and so does the
    // registry: the next process's migration would otherwise bring the file's older value back.
    base::win::ScopedHandle reader(CreateFileW(file.value().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader.IsValid());
    EXPECT_EQ(GlobalStorage::kFailure, storage.Write("UUID", "not kept"));
  }
  GlobalStorageWin next_process;
  next_process.CheckRegistryAccess();
  next_process.Initialize(folder);
  EXPECT_EQ("89abcdef", RegQuery(key_path_)["UUID"]);
}

// Four processes write 200 distinct values each, all at once: each write is answered kOk or kBusy, every kOk
// value is in the registry and no kBusy one is.
TEST_F(GlobalStorageTest, ProcessesWritingAtOnce) {
  constexpr int kProcesses = 4;
  constexpr int kWrites = 200;
  const std::wstring ready_name = UniqueName(L"GsReady");
  const std::wstring go_name = UniqueName(L"GsGo");
  ScopedTestHandle ready(CreateSemaphoreW(nullptr, 0, kProcesses, ready_name.c_str()));
  ScopedTestHandle go(CreateEventW(nullptr, TRUE, FALSE, go_name.c_str()));

  class Child : public base::SimpleThread {
   public:
    explicit Child(std::wstring command) : SimpleThread("GsChild"), command_(std::move(command)) {}
    void Run() override { started_ = test_support::RunProcess(command_, &exit_code_, &output_); }
    bool started_ = false;
    DWORD exit_code_ = 0;
    std::string output_;

   private:
    std::wstring command_;
  };
  std::vector<std::unique_ptr<Child>> children;
  for (int i = 0; i < kProcesses; ++i) {
    children.push_back(std::make_unique<Child>(
        ChildCommand(L"write " + base::UTF8ToWide(company_) + L" " + mutex_name_ + L" " + ready_name + L" " +
                     go_name + L" p" + std::to_wstring(i) + L" " + std::to_wstring(kWrites))));
    ASSERT_TRUE(children.back()->Start());
  }
  for (int i = 0; i < kProcesses; ++i)
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.get(), kChildTimeoutMs)) << "child " << i << " never came";
  SetEvent(go.get());
  std::map<std::string, std::string> answers;
  for (auto& child : children) {
    child->Join();
    ASSERT_TRUE(child->started_);
    EXPECT_EQ(0u, child->exit_code_) << child->output_;
    for (const auto& [key, result] : test_support::ParseNameValueLines(child->output_))
      answers[key] = result;
  }
  ASSERT_EQ(static_cast<size_t>(kProcesses * kWrites), answers.size());

  const std::map<std::string, std::string> stored = RegQuery(key_path_);
  int written = 0;
  for (const auto& [key, result] : answers) {
    ASSERT_TRUE(result == "0" || result == "1") << key << "=" << result;
    const std::string value = "value " + key.substr(key.find('_') + 1);
    if (result == "0") {
      ++written;
      EXPECT_EQ(value, stored.count(key) ? stored.at(key) : "<missing>") << key;
    } else {
      EXPECT_EQ(0u, stored.count(key)) << key;
    }
  }
  EXPECT_EQ(static_cast<size_t>(written), stored.size());
  EXPECT_GT(written, 0);
}

}  // namespace
}  // namespace zorvi::installer
