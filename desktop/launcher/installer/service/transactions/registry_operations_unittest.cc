// The registry operations' edge cases over a test's own keys, each rolled back and compared with the keys as
// captured before (values, types, bytes and each key's SDDL).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "desktop/launcher/installer/service/transactions/change_reg_value_operation.h"
#include "desktop/launcher/installer/service/transactions/create_reg_key_operation.h"
#include "desktop/launcher/installer/service/transactions/delete_reg_key_operation.h"
#include "desktop/launcher/installer/service/transactions/operation_test_seam.h"
#include "desktop/launcher/installer/service/transactions/transaction_test_util.h"

namespace zorvi::installer {
namespace {

// A protected access list that denies Everyone writing values and creating subkeys in the key itself; its
// subkeys inherit only the full access.
constexpr wchar_t kDenyWriteSddl[] = L"D:P(D;;DCLC;;;WD)(A;OICI;KA;;;WD)";

class RegistryOperationsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sandbox_.ok());
    Write(L"A", L"first", REG_SZ, std::string("o\0n\0e\0\0\0", 8));
    Write(L"A", L"second", REG_BINARY, std::string("\x00\x01\x02", 3));
    Write(L"A", L"third", REG_DWORD, std::string("\x04\x03\x02\x01", 4));
    Write(L"A\\B", L"", REG_MULTI_SZ, std::string("x\0\0\0\0\0", 6));
    Write(L"A\\B\\C", L"deep", REG_QWORD, std::string(8, '\x07'));
    Write(L"A\\E", L"empty", REG_NONE, "");
    Write(L"Guarded", L"kept", REG_DWORD, std::string(4, '\x01'));
    ASSERT_TRUE(test::SetKeySddl(HKEY_CURRENT_USER, Path(L"Guarded"), kDenyWriteSddl));
  }
  void TearDown() override { SetOperationFaultHookForTesting(nullptr); }

  std::wstring Path(const std::wstring& relative) const { return sandbox_.key_root() + L"\\" + relative; }
  void Write(const std::wstring& key, const std::wstring& name, DWORD type, const std::string& data) {
    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, Path(key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &handle, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(handle, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                            static_cast<DWORD>(data.size())));
    RegCloseKey(handle);
  }
  bool KeyExists(const std::wstring& key) const {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Path(key).c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
      return false;
    RegCloseKey(handle);
    return true;
  }
  test::ValueState Value(const std::wstring& key, const std::wstring& name) const {
    return sandbox_.Capture().keys[L"CU\\" + key].values[name];
  }

  test::Sandbox sandbox_{L"tx_registry"};
};

// Each case does one operation (and its sub-operations), checks what it changed and what joined the
// transaction, rolls back and finds every key, value and access list as it was.
TEST_F(RegistryOperationsTest, RollbackRestoresTheKeys) {
  const std::string dword("\x2a\0\0\0", 4);
  const struct {
    const char* name;
    std::function<std::unique_ptr<Operation>()> make;
    size_t transaction_size;  // 0: Do failed
    std::function<void()> check_done;
  } kCases[] = {
      {"deleting a missing key",
       [&] { return std::make_unique<DeleteRegKeyOperation>(HKEY_CURRENT_USER, Path(L"Missing")); }, 1, [] {}},
      {"removing a value of a missing key",
       [&] {
         return std::make_unique<ChangeRegValueOperation>(HKEY_CURRENT_USER, Path(L"Missing\\Deeper"), L"v", nullptr,
                                                          kDeleteRegValueType, 0);
       },
       1, [&] { EXPECT_FALSE(KeyExists(L"Missing")); }},
      {"writing a value into a missing key creates it as a sub-operation",
       [&] {
         return std::make_unique<ChangeRegValueOperation>(HKEY_CURRENT_USER, Path(L"New\\Deeper"), L"v", dword.data(),
                                                          REG_DWORD, 4);
       },
       2,
       [&] {
         EXPECT_EQ((test::ValueState{REG_DWORD, dword}), Value(L"New\\Deeper", L"v"));
       }},
      {"writing a value into a missing key whose name holds a slash",
       [&] {
         return std::make_unique<ChangeRegValueOperation>(HKEY_CURRENT_USER, Path(L"A\\text/plain"), L"v",
                                                          dword.data(), REG_DWORD, 4);
       },
       2,
       [&] {
         EXPECT_EQ((test::ValueState{REG_DWORD, dword}), Value(L"A\\text/plain", L"v"));
       }},
      {"changing a value's type, size and data",
       [&] {
         return std::make_unique<ChangeRegValueOperation>(HKEY_CURRENT_USER, Path(L"A"), L"second", dword.data(),
                                                          REG_DWORD, 4);
       },
       1,
       [&] {
         EXPECT_EQ((test::ValueState{REG_DWORD, dword}), Value(L"A", L"second"));
       }},
      {"removing a value",
       [&] {
         return std::make_unique<ChangeRegValueOperation>(HKEY_CURRENT_USER, Path(L"A"), L"first", nullptr,
                                                          kDeleteRegValueType, 0);
       },
       1, [&] { EXPECT_EQ(0u, sandbox_.Capture().keys[L"CU\\A"].values.count(L"first")); }},
      {"writing into a key whose access list denies it",
       [&] {
         return std::make_unique<ChangeRegValueOperation>(HKEY_CURRENT_USER, Path(L"Guarded"), L"kept", dword.data(),
                                                          REG_DWORD, 4);
       },
       1,
       [&] {
         EXPECT_EQ((test::ValueState{REG_DWORD, dword}), Value(L"Guarded", L"kept"));
       }},
      {"creating a key below a missing parent",
       [&] { return std::make_unique<CreateRegKeyOperation>(HKEY_CURRENT_USER, Path(L"A\\X\\Y\\Z")); }, 1,
       [&] {
         EXPECT_TRUE(KeyExists(L"A\\X\\Y\\Z"));
         // Rollback removes the first key it made with everything below it, also what others added there.
         Write(L"A\\X\\Other", L"v", REG_SZ, "");
       }},
      {"creating a key below a key that denies it",
       [&] { return std::make_unique<CreateRegKeyOperation>(HKEY_CURRENT_USER, Path(L"Guarded\\Sub")); }, 1,
       [&] { EXPECT_TRUE(KeyExists(L"Guarded\\Sub")); }},
      {"deleting a tree", [&] { return std::make_unique<DeleteRegKeyOperation>(HKEY_CURRENT_USER, Path(L"A")); }, 1,
       [&] { EXPECT_FALSE(KeyExists(L"A")); }},
      {"deleting a key whose access list denies it",
       [&] { return std::make_unique<DeleteRegKeyOperation>(HKEY_CURRENT_USER, Path(L"Guarded")); }, 1,
       [&] { EXPECT_FALSE(KeyExists(L"Guarded")); }},
  };
  const test::MachineState before = sandbox_.Capture();
  const std::string export_before = sandbox_.RegExport();
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    OperationList transaction;
    EXPECT_EQ(test_case.transaction_size != 0, ExecuteOperation(&transaction, test_case.make()));
    EXPECT_EQ(test_case.transaction_size, transaction.size());
    test_case.check_done();
    RollbackOperations(&transaction);
    EXPECT_EQ("", test::Compare(before, sandbox_.Capture()));
    EXPECT_TRUE(export_before == sandbox_.RegExport()) << "reg.exe exports another registry";
  }
}

// Access lists widened for a value change or a key creation are narrowed again at commit; the change stays.
TEST_F(RegistryOperationsTest, CommitRestoresWidenedAccessLists) {
  const std::wstring sddl_before = test::KeySddl(HKEY_CURRENT_USER, Path(L"Guarded"));
  OperationList transaction;
  ASSERT_TRUE(ExecuteOperation(&transaction, std::make_unique<ChangeRegValueOperation>(
                                                 HKEY_CURRENT_USER, Path(L"Guarded"), L"new", "ab", REG_BINARY, 2)));
  ASSERT_TRUE(ExecuteOperation(&transaction,
                               std::make_unique<CreateRegKeyOperation>(HKEY_CURRENT_USER, Path(L"Guarded\\Made"))));
  EXPECT_NE(sddl_before, test::KeySddl(HKEY_CURRENT_USER, Path(L"Guarded")));
  DeleteOperations(&transaction);
  EXPECT_EQ(sddl_before, test::KeySddl(HKEY_CURRENT_USER, Path(L"Guarded")));
  EXPECT_EQ((test::ValueState{REG_BINARY, "ab"}), Value(L"Guarded", L"new"));
  EXPECT_TRUE(KeyExists(L"Guarded\\Made"));
}

// A key creation widens its parent's access list only when that denies creating subkeys, whatever it allows for
// values.
TEST_F(RegistryOperationsTest, KeyCreationWidensOnlyAListDenyingSubkeys) {
  for (const bool denies_subkeys : {false, true}) {
    SCOPED_TRACE(denies_subkeys);
    const std::wstring parent = denies_subkeys ? L"NoSubkeys" : L"NoValues";
    Write(parent, L"kept", REG_DWORD, std::string(4, '\x01'));
    ASSERT_TRUE(test::SetKeySddl(HKEY_CURRENT_USER, Path(parent),
                                 denies_subkeys ? L"D:P(D;;LC;;;WD)(A;OICI;KA;;;WD)" : L"D:P(D;;DC;;;WD)(A;OICI;KA;;;WD)"));
    const std::wstring sddl_before = test::KeySddl(HKEY_CURRENT_USER, Path(parent));
    OperationList transaction;
    ASSERT_TRUE(ExecuteOperation(
        &transaction, std::make_unique<CreateRegKeyOperation>(HKEY_CURRENT_USER, Path(parent + L"\\Made"))));
    EXPECT_EQ(denies_subkeys, sddl_before != test::KeySddl(HKEY_CURRENT_USER, Path(parent)));
    DeleteOperations(&transaction);
    EXPECT_EQ(sddl_before, test::KeySddl(HKEY_CURRENT_USER, Path(parent)));
    EXPECT_TRUE(KeyExists(parent + L"\\Made"));
  }
}

// A subkey that cannot be deleted ends the deletion: it is asked for once (not visited again and again, saving
// a copy each time), the parent that stays is not reported deleted, and rollback restores what did go.
TEST_F(RegistryOperationsTest, UndeletableSubkeyFailsTheDeletion) {
  static std::wstring stuck;
  static int asked = 0;
  stuck = Path(L"A\\B");
  asked = 0;
  // Fails the first few deletions of the stuck key, then lets it go, so that a deletion that kept going round
  // would end (with the key counted more than once) instead of hanging the test.
  SetOperationFaultHookForTesting(
      [](const Operation*, const std::wstring& target) { return target == stuck && ++asked <= 5; });
  const test::MachineState before = sandbox_.Capture();
  OperationList transaction;
  EXPECT_FALSE(ExecuteOperation(&transaction, std::make_unique<DeleteRegKeyOperation>(HKEY_CURRENT_USER, Path(L"A"))));
  EXPECT_EQ(1, asked);
  EXPECT_TRUE(transaction.empty());
  EXPECT_EQ("", test::Compare(before, sandbox_.Capture()));
}

// A tree of 1,000 keys with values comes back equal after its deletion is rolled back.
TEST_F(RegistryOperationsTest, ThousandKeyTreeComesBack) {
  for (int i = 0; i < 100; ++i) {
    for (int j = 0; j < 9; ++j) {
      const std::string data = std::to_string(i * 10 + j);
      Write(L"Big\\K" + std::to_wstring(i) + L"\\S" + std::to_wstring(j), L"v", REG_BINARY, data);
    }
  }
  const test::MachineState before = sandbox_.Capture();
  // "Big", its 100 children and their 900 children.
  ASSERT_EQ(1001, std::count_if(before.keys.begin(), before.keys.end(),
                                [](const auto& key) { return key.first.rfind(L"CU\\Big", 0) == 0; }));
  const std::string export_before = sandbox_.RegExport();
  OperationList transaction;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(ExecuteOperation(&transaction, std::make_unique<DeleteRegKeyOperation>(HKEY_CURRENT_USER, Path(L"Big"))));
  const auto deleted = std::chrono::steady_clock::now();
  EXPECT_FALSE(KeyExists(L"Big"));
  RollbackOperations(&transaction);
  const auto restored = std::chrono::steady_clock::now();
  std::printf("1,001 keys: deleted in %.1f ms, restored in %.1f ms\n",
              std::chrono::duration<double, std::milli>(deleted - start).count(),
              std::chrono::duration<double, std::milli>(restored - deleted).count());
  EXPECT_EQ("", test::Compare(before, sandbox_.Capture()));
  EXPECT_TRUE(export_before == sandbox_.RegExport()) << "reg.exe exports another registry";
}

}  // namespace
}  // namespace zorvi::installer
