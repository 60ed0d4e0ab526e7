// Registry entries become operations: which apply, what they write (read back from the registry) and what they
// record in the status log; and how placeholders expand, folder names with braces included.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/win/registry.h"
#include "base/win/windows_version.h"
#include "desktop/common/product/product_info.h"
#include "desktop/launcher/installer/records/install_log.h"
#include "desktop/launcher/installer/service/transactions/placeholder_provider.h"
#include "desktop/launcher/installer/service/transactions/registry_entry.h"
#include "desktop/launcher/installer/service/transactions/transaction_test_util.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

// Answers from a table and, like the installer, gives an unknown name back as it is.
using Table = std::map<std::wstring, std::wstring>;

class TablePlaceholders : public PlaceholderProvider {
 public:
  explicit TablePlaceholders(Table values) : values_(std::move(values)) {}
  std::wstring GetValue(const std::wstring& name) override {
    const auto found = values_.find(name);
    return found == values_.end() ? name : found->second;
  }
  std::vector<InstallLogKey>* GetRootValue(HKEY root) override {
    if (!recording_)
      return nullptr;
    return root == HKEY_LOCAL_MACHINE ? &log_.machine_keys : &log_.user_keys;
  }

  bool recording_ = true;
  InstallLog log_;

 private:
  Table values_;
};

RegistryEntry Entry(const wchar_t* key,
                    const wchar_t* name,
                    DWORD type,
                    uintptr_t data,
                    PlaceholderProvider* placeholders,
                    HKEY hive = nullptr,
                    int min_windows = 0,
                    int min_stream = 0) {
  return RegistryEntry{key, name, type, data, min_windows, hive, min_stream, 3, placeholders};
}

uintptr_t Wide(const wchar_t* text) {
  return reinterpret_cast<uintptr_t>(text);
}

TEST(PlaceholderTest, ExpandsNestedValuesButNeverFolderNames) {
  TablePlaceholders placeholders({{L"InstallFolder", L""},
                                  {L"Product", L"Zorvi"},
                                  {L"Nested", L"{Product} {Stream}"},
                                  {L"Stream", L"nightly"},
                                  {L"Loop", L"again {Loop}"}});
  RegistryEntry entry = Entry(nullptr, nullptr, REG_SZ, 0, &placeholders);
  const struct {
    const wchar_t* folder;
    const wchar_t* text;
    const wchar_t* expanded;  // null: refused
  } kCases[] = {
      {L"C:\\Apps", L"{InstallFolder}\\launcher.exe,0", L"C:\\Apps\\launcher.exe,0"},
      {L"C:\\Apps", L"{Nested}!", L"Zorvi nightly!"},
      {L"C:\\Apps", L"{Unknown}", L"Unknown"},
      {L"C:\\Apps", nullptr, L""},
      {L"C:\\t\\Apps{x}", L"\"{InstallFolder}\\l.exe\" -- \"%1\"", L"\"C:\\t\\Apps{x}\\l.exe\" -- \"%1\""},
      {L"C:\\t\\{InstallFolder}", L"{InstallFolder}", L"C:\\t\\{InstallFolder}"},
      {L"C:\\t\\{Product}", L"{InstallFolder} {Product}", L"C:\\t\\{Product} Zorvi"},
      // A "{" that is never closed is text and does not swallow the placeholder after it.
      {L"C:\\Apps", L"a{b {InstallFolder}", L"a{b C:\\Apps"},
      {L"C:\\Apps", L"}{Product}{", L"}Zorvi{"},
      // A value that keeps naming itself is cut off instead of growing for ever.
      {L"C:\\Apps", L"{Loop}", nullptr},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(testing::Message() << test_case.folder << " / " << (test_case.text ? test_case.text : L"(null)"));
    placeholders = TablePlaceholders(Table{{L"InstallFolder", test_case.folder},
                                           {L"Product", L"Zorvi"},
                                           {L"Nested", L"{Product} {Stream}"},
                                           {L"Stream", L"nightly"},
                                           {L"Loop", L"again {Loop}"}});
    std::wstring out;
    EXPECT_EQ(test_case.expanded != nullptr, ExpandPlaceholders(entry, &out, test_case.text));
    if (test_case.expanded) {
      EXPECT_EQ(test_case.expanded, out);
    }
  }
}

class RegistryEntryTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sandbox_.ok()); }

  // Converts and executes the entry under HKEY_CURRENT_USER; the value as the registry then holds it.
  bool Apply(const RegistryEntry& entry, bool* made) {
    std::unique_ptr<Operation> operation;
    if (!CreateRegistryOperation(entry, HKEY_CURRENT_USER, &operation))
      return false;
    *made = operation != nullptr;
    return !operation || ExecuteOperation(&transaction_, std::move(operation));
  }
  test::ValueState Read(const std::wstring& name) { return sandbox_.Capture().keys[L"CU\\E"].values[name]; }

  test::Sandbox sandbox_{L"tx_entry"};
  OperationList transaction_;
  TablePlaceholders placeholders_{Table{}};
};

TEST_F(RegistryEntryTest, EntriesWriteAndRecordTheirValues) {
  const std::wstring key = sandbox_.key_root() + L"\\{Sub}";
  placeholders_ = TablePlaceholders(Table{{L"Sub", L"E"}, {L"Empty", L""}, {L"Name", L"named"}});
  const std::wstring text = L"text";
  const struct {
    RegistryEntry entry;
    bool made;
    test::ValueState written;
    const char* recorded;  // the status log's data text
  } kCases[] = {
      {Entry(key.c_str(), L"{Name}", REG_SZ, Wide(L"{Name} value"), &placeholders_),
       true,
       {REG_SZ, std::string("n\0a\0m\0e\0d\0 \0v\0a\0l\0u\0e\0\0\0", 24)},
       "named value"},
      {Entry(key.c_str(), L"expand", REG_EXPAND_SZ, Wide(L"%TEMP%"), &placeholders_),
       true,
       {REG_EXPAND_SZ, std::string("%\0T\0E\0M\0P\0%\0\0\0", 14)},
       "%TEMP%"},
      {Entry(key.c_str(), L"empty", REG_SZ, Wide(L"{Empty}"), &placeholders_), true, {REG_SZ, ""}, ""},
      {Entry(key.c_str(), L"binary", REG_BINARY, reinterpret_cast<uintptr_t>("\x01\xab"), &placeholders_),
       true,
       {REG_BINARY, "\x01\xab"},
       "01,ab"},
      {Entry(key.c_str(), L"dword", REG_DWORD, 1, &placeholders_),
       true,
       {REG_DWORD, std::string("\x01\0\0\0", 4)},
       "00000001"},
      {Entry(key.c_str(), L"none", REG_NONE, 0, &placeholders_), true, {REG_NONE, ""}, ""},
      {Entry(key.c_str(), nullptr, REG_SZ, Wide(L"default"), &placeholders_),
       true,
       {REG_SZ, std::string("d\0e\0f\0a\0u\0l\0t\0\0\0", 16)},
       "default"},
      // Entries that do not apply here make no operation and record nothing.
      {Entry(key.c_str(), L"other hive", REG_SZ, Wide(L"x"), &placeholders_, HKEY_LOCAL_MACHINE), false, {}, nullptr},
      {Entry(key.c_str(), L"newer windows", REG_SZ, Wide(L"x"), &placeholders_, nullptr, base::win::GetVersion() + 1),
       false,
       {},
       nullptr},
      {Entry(key.c_str(), L"later stream", REG_SZ, Wide(L"x"), &placeholders_, nullptr, 0, GetStreamId() + 1),
       false,
       {},
       nullptr},
  };
  for (const auto& test_case : kCases) {
    const std::wstring name = test_case.entry.value_name ? test_case.entry.value_name : L"";
    SCOPED_TRACE(testing::Message() << name);
    const size_t records = placeholders_.log_.user_keys.empty() ? 0 : placeholders_.log_.user_keys[0].values.size();
    bool made = false;
    ASSERT_TRUE(Apply(test_case.entry, &made));
    EXPECT_EQ(test_case.made, made);
    const size_t records_after =
        placeholders_.log_.user_keys.empty() ? 0 : placeholders_.log_.user_keys[0].values.size();
    if (!test_case.made) {
      EXPECT_EQ(records, records_after);
      continue;
    }
    const std::wstring written_name = name == L"{Name}" ? L"named" : name;
    EXPECT_EQ(test_case.written, Read(written_name));
    ASSERT_EQ(records + 1, records_after);
    const InstallLogKey& record = placeholders_.log_.user_keys[0];
    EXPECT_EQ(3, record.clean_level);
    EXPECT_EQ(sandbox_.key_root() + L"\\E", std::wstring(record.path.begin(), record.path.end()));
    EXPECT_EQ(test_case.recorded, record.values.back().data);
  }
  // A removal records nothing; a key deletion names its key through the placeholders too and is not recorded.
  const size_t records = placeholders_.log_.user_keys[0].values.size();
  bool made = false;
  ASSERT_TRUE(Apply(Entry(key.c_str(), L"dword", kRegistryEntryDeleteValue, 0, &placeholders_), &made));
  EXPECT_EQ(0u, sandbox_.Capture().keys[L"CU\\E"].values.count(L"dword"));
  base::win::RegKey literal;
  ASSERT_EQ(ERROR_SUCCESS, literal.Create(HKEY_CURRENT_USER, key.c_str(), KEY_SET_VALUE));
  literal.Close();
  Apply(Entry(key.c_str(), nullptr, kRegistryEntryDeleteKey, 0, &placeholders_), &made);
  EXPECT_TRUE(made);
  EXPECT_EQ(0u, sandbox_.Capture().keys.count(L"CU\\E")) << "E, the key the template names, stays";
  EXPECT_EQ(1u, sandbox_.Capture().keys.count(L"CU\\{Sub}")) << "the key named like the template was deleted";
  EXPECT_EQ(records, placeholders_.log_.user_keys[0].values.size());
  // Without a log nothing is recorded, and the value is still written.
  placeholders_.recording_ = false;
  ASSERT_TRUE(Apply(Entry(key.c_str(), L"unlogged", REG_DWORD, 7, &placeholders_), &made));
  EXPECT_EQ(records, placeholders_.log_.user_keys[0].values.size());
  EXPECT_EQ(REG_DWORD, Read(L"unlogged").type);
}

// Refused entries: types outside the table, a number wider than 32 bits, a template that never stops expanding.
TEST_F(RegistryEntryTest, RefusedEntriesMakeNoOperation) {
  const std::wstring key = sandbox_.key_root() + L"\\E";
  placeholders_ = TablePlaceholders(Table{{L"Loop", L"{Loop}{Loop}"}});
  const RegistryEntry kRefused[] = {
      Entry(key.c_str(), L"multi", REG_MULTI_SZ, Wide(L"x"), &placeholders_),
      Entry(key.c_str(), L"qword", REG_QWORD, 1, &placeholders_),
      Entry(key.c_str(), L"wide", REG_DWORD, uintptr_t{1} << 32, &placeholders_),
      Entry(key.c_str(), L"loop", REG_SZ, Wide(L"{Loop}"), &placeholders_),
      Entry(key.c_str(), L"{Loop}", REG_DWORD, 1, &placeholders_),
  };
  for (const RegistryEntry& entry : kRefused) {
    SCOPED_TRACE(testing::Message() << entry.value_name);
    std::unique_ptr<Operation> operation;
    EXPECT_FALSE(CreateRegistryOperation(entry, HKEY_CURRENT_USER, &operation));
    EXPECT_EQ(nullptr, operation);
  }
  EXPECT_TRUE(placeholders_.log_.user_keys.empty());
}

// Installation folders whose names hold braces reach the registry unchanged. The Linux-side check reads the
// values with wine's reg tool; the key is left for it.
TEST(RegistryEntryBracesTest, FolderNamesWithBracesAreWrittenAsTheyAre) {
  const std::wstring key = L"Software\\" + test_support::UniqueName(L"tx_braces");
  std::string listing;
  for (const wchar_t* folder : {L"C:\\t\\Apps{x}", L"C:\\t\\{InstallFolder}"}) {
    TablePlaceholders placeholders(Table{{L"InstallFolder", folder}});
    const std::wstring name = std::wstring(L"v") + (folder[5] == L'A' ? L"1" : L"2");
    std::unique_ptr<Operation> operation;
    ASSERT_TRUE(CreateRegistryOperation(
        Entry(key.c_str(), name.c_str(), REG_SZ, Wide(L"{InstallFolder}\\l.exe"), &placeholders), HKEY_CURRENT_USER,
        &operation));
    OperationList transaction;
    ASSERT_TRUE(ExecuteOperation(&transaction, std::move(operation)));
    DeleteOperations(&transaction);
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof(value);
    ASSERT_EQ(ERROR_SUCCESS,
              RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, value, &size));
    EXPECT_EQ(std::wstring(folder) + L"\\l.exe", value);
    listing += std::string(name.begin(), name.end()) + " " + std::string(folder, folder + wcslen(folder)) + "\\l.exe\n";
  }
  const std::wstring data = test_support::TestDataDir();
  if (data.empty()) {
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    GTEST_SKIP() << "no test data folder: wine's reg tool cannot read the values back";
  }
  ASSERT_TRUE(test_support::WriteFileBytes(data + L"\\braces.txt",
                                           "HKCU\\" + std::string(key.begin(), key.end()) + "\n" + listing));
}

}  // namespace
}  // namespace zorvi::installer
