// The installation's registrations as the user's browser: the rows each call writes per view, that a call writes
// all of its rows or none, the calls that must refuse and write nothing, the Windows-version branches (in a child
// run as another version) and the previous browser. Every protocol, extension and product name is the test's own;
// the scenario that changes the machine's browser runs in a prefix of its own (DefaultBrowserMachineTest).
#include "desktop/launcher/installer/steps/default_browser.h"

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "desktop/common/product/product_info.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "desktop/launcher/installer/records/installation_info.h"
#include "desktop/launcher/installer/records/registered_command.h"
#include "desktop/launcher/installer/service/transactions/operation_test_seam.h"
#include "testing/test_support.h"
#include "testing/version_child.h"

namespace zorvi::installer {
namespace {

constexpr wchar_t kClasses[] = L"Software\\Classes\\";
constexpr wchar_t kStartMenuInternet[] = L"Software\\Clients\\StartMenuInternet";

using Values = test::RegistryValues;
using test::ValuesBelow;

std::wstring ReadString(HKEY root, const std::wstring& key, const wchar_t* name) {
  base::win::RegKey reg;
  std::wstring value;
  if (reg.Open(root, key.c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS || reg.ReadValue(name, &value) != ERROR_SUCCESS)
    return L"(none)";
  return value;
}

void WriteString(HKEY root, const std::wstring& key, const wchar_t* name, const wchar_t* value) {
  base::win::RegKey reg;
  ASSERT_EQ(ERROR_SUCCESS, reg.Create(root, key.c_str(), KEY_SET_VALUE));
  ASSERT_EQ(ERROR_SUCCESS, reg.WriteValue(name, value));
}

bool KeyExists(HKEY root, const std::wstring& key) {
  base::win::RegKey reg;
  return reg.Open(root, key.c_str(), KEY_READ) == ERROR_SUCCESS;
}

class DefaultBrowserTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    // Every Windows user has a classes key; a fresh wine prefix has none, and the first registration that
    // created it would remove it again when rolled back, with the keys that other tests made below it meanwhile.
    base::win::RegKey classes;
    ASSERT_EQ(ERROR_SUCCESS, classes.Create(HKEY_CURRENT_USER, L"Software\\Classes", KEY_READ));
    product_ = test_support::UniqueName(L"Zdb");
    SetBrandingTextForTesting(R"({"product_name": ")" + base::WideToUTF8(product_) + R"(", "company_name": ")" +
                              base::WideToUTF8(product_) + R"("})");
    class_name_ = product_ + base::UTF8ToWide(GetStreamName());
    // Protocol and extension names are lower case, as the system keeps them.
    const std::wstring lower = base::UTF8ToWide(base::ToLowerASCII(base::WideToUTF8(product_)));
    protocol_ = lower + L"p";
    extension_ = L"." + lower + L"e";
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      for (const std::wstring& name : {class_name_, protocol_, extension_})
        associations_.DeleteAtEnd(root, kClasses + name);
      associations_.DeleteAtEnd(root, L"Software\\" + product_);
    }
  }
  void TearDown() override {
    SetOperationFaultHookForTesting(nullptr);
    CoUninitialize();
  }

  std::unique_ptr<FolderInstallationInfo> Installation(bool all_users) {
    InstallLog log;
    log.all_users = all_users;
    return std::make_unique<FolderInstallationInfo>(folder(), log);
  }
  base::FilePath folder() const { return base::FilePath(staging_.path()); }

  // The rows a registration of `name` (empty: the class itself) leaves below its key, as the view `root` has them.
  Values ExpectedRows(const std::wstring& name, HKEY root) const {
    const std::wstring launcher = L"\"" + folder().value() + (name.empty() ? L"\\Launcher.exe\"" : L"\\launcher.exe\"");
    if (!name.empty() && name[0] == L'.')
      return {{L"|", L"sz:" + class_name_}};
    Values rows = {{L"|URL Protocol", L"sz:"},
                   {L"DefaultIcon|", L"sz:" + folder().value() + L"\\Launcher.exe,0"},
                   {L"shell\\open\\command|", L"sz:" + launcher + L" -noautoupdate -- \"%1\""}};
    if (name.empty())
      rows[L"|FriendlyTypeName"] = L"sz:" + product_ + L" Web Document";
    else
      rows[L"|EditFlags"] = L"dword:2";
    if (root == HKEY_CURRENT_USER) {
      for (const wchar_t* dde : {L"shell\\open\\ddeexec|", L"shell\\open\\ddeexec\\Application|",
                                 L"shell\\open\\ddeexec\\Topic|"}) {
        rows[dde] = L"sz:";
      }
    }
    return rows;
  }

  // What the registrations of this test may touch: each name's key in both views, the user's choices and the
  // start-menu browser.
  std::vector<std::wstring> Snapshot() const {
    std::vector<std::wstring> state;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      for (const std::wstring& name : {class_name_, protocol_, extension_, std::wstring(L"http")}) {
        for (const auto& [value, data] : ValuesBelow(root, kClasses + name))
          state.push_back(name + L"\\" + value + L"=" + data);
      }
      state.push_back(ReadString(root, kStartMenuInternet, L""));
    }
    for (const std::wstring& name : {protocol_, extension_})
      state.push_back(ReadString(HKEY_CURRENT_USER, test::ScopedAssociations::UserChoiceKey(name), L"ProgId"));
    return state;
  }

  std::wstring product_;
  std::wstring class_name_;
  std::wstring protocol_;
  std::wstring extension_;
  test::ScopedAssociations associations_;
  test_support::ScopedTestFolder staging_{L"DefaultBrowser"};
};

// Fails the n-th change of a registration (counting every operation's final change, sub-operations included).
int g_fail_at = 0;
int g_changes = 0;
bool FailNthChange(const Operation*, const std::wstring&) {
  return ++g_changes == g_fail_at;
}

// Each registration in each view, one after the other as an installation would make them. Whichever of its changes
// fails, a call answers false and leaves exactly what was there before; once no failure is left to inject it
// leaves its rows: the user's earlier choice removed per user only, an earlier DDE key gone machine-wide. The
// machine's view then answers with the installation's commands.
TEST_F(DefaultBrowserTest, EachRegistrationWritesAllItsRowsOrNone) {
  const std::unique_ptr<FolderInstallationInfo> info = Installation(false);
  associations_.SetUserChoice(protocol_, L"OtherBrowserURL");
  associations_.SetUserChoice(extension_, L"OtherBrowserHTML");
  WriteString(HKEY_LOCAL_MACHINE, kClasses + class_name_ + L"\\shell\\open\\ddeexec\\Topic", L"", L"WWW_OpenURL");
  SetOperationFaultHookForTesting(&FailNthChange);
  for (const std::wstring& name : {std::wstring(), protocol_, extension_}) {
    // Machine-wide first: the user's choice must still be there afterwards.
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      const bool machine_wide = root == HKEY_LOCAL_MACHINE;
      SCOPED_TRACE(testing::Message() << (name.empty() ? L"class" : name) << (machine_wide ? " machine-wide" : ""));
      const std::wstring choice_key = test::ScopedAssociations::UserChoiceKey(name);
      const std::wstring choice_before = ReadString(HKEY_CURRENT_USER, choice_key, L"ProgId");
      for (g_fail_at = 1;; ++g_fail_at) {
        const std::vector<std::wstring> before = Snapshot();
        g_changes = 0;
        const bool result = name.empty() ? RegisterBrowserClass(info.get(), machine_wide)
                                         : RegisterAsHandler(info.get(), name, machine_wide);
        if (g_changes < g_fail_at) {
          ASSERT_TRUE(result);
          break;
        }
        EXPECT_FALSE(result) << "change " << g_fail_at << " failed";
        EXPECT_EQ(before, Snapshot()) << "change " << g_fail_at << " failed";
      }
      EXPECT_GE(g_fail_at, 3) << "changes made";
      EXPECT_EQ(ExpectedRows(name, root), ValuesBelow(root, kClasses + (name.empty() ? class_name_ : name)));
      if (!name.empty()) {
        EXPECT_EQ(machine_wide ? choice_before : L"(none)", ReadString(HKEY_CURRENT_USER, choice_key, L"ProgId"))
            << "a user's choice is removed per user only";
      }
    }
  }
  std::wstring command;
  ASSERT_TRUE(GetRegisteredCommand(protocol_, true, &command));
  EXPECT_EQ(ExpectedRows(protocol_, HKEY_LOCAL_MACHINE)[L"shell\\open\\command|"], L"sz:" + command);
  ASSERT_TRUE(GetRegisteredCommand(extension_, true, &command)) << "the extension leads to the class";
  EXPECT_EQ(ExpectedRows(L"", HKEY_LOCAL_MACHINE)[L"shell\\open\\command|"], L"sz:" + command);
}

// Calls that must refuse: a single-profile installation never becomes the default; an all-users installation
// asks the system per user, which wine refuses (E_NOTIMPL); a name that would write into the classes key itself
// or into another class; a previous browser for a key the user may not write. None writes anything.
TEST_F(DefaultBrowserTest, RefusedCallsWriteNothing) {
  test_support::ScopedTestFolder single_folder(L"SingleProfile");
  const std::wstring prefs = single_folder.path() + L"\\installer_prefs.json";
  ASSERT_TRUE(test_support::WriteFileBytes(prefs, R"({"single_profile": true})"));
  FolderInstallationInfo single(base::FilePath(single_folder.path()), InstallLog());
  const std::unique_ptr<FolderInstallationInfo> per_user = Installation(false);
  const std::unique_ptr<FolderInstallationInfo> all_users = Installation(true);
  associations_.SetUserChoice(protocol_, L"OtherBrowserURL");
  associations_.SetUserChoice(extension_, L"OtherBrowserHTML");
  const std::wstring company_key = L"Software\\" + product_;
  WriteString(HKEY_CURRENT_USER, company_key, L"Previous Default Browser", L"\"C:\\Before\\before.exe\" \"%1\"");
  ASSERT_TRUE(test_support::SetRegistryKeyDacl(HKEY_CURRENT_USER, company_key, L"D:P(A;;KR;;;WD)"));
  const struct {
    const char* what;
    std::function<bool()> call;
  } calls[] = {
      {"single profile, per user", [&] { return MakeDefaultBrowser(&single, false); }},
      {"single profile, machine-wide", [&] { return MakeDefaultBrowser(&single, true); }},
      {"all users, protocol per user", [&] { return RegisterAsHandler(all_users.get(), protocol_, false); }},
      {"all users, extension per user", [&] { return RegisterAsHandler(all_users.get(), extension_, false); }},
      {"all users, start menu per user", [&] { return RegisterStartMenuInternet(all_users.get(), false); }},
      {"empty name", [&] { return RegisterAsHandler(per_user.get(), L"", false); }},
      {"name with a separator", [&] { return RegisterAsHandler(per_user.get(), protocol_ + L"\\shell", true); }},
      {"read-only company key", [&] { return SavePreviousDefaultBrowser(L"\"C:\\After\\after.exe\" \"%1\"", false); }},
  };
  const auto state = [&] {
    std::vector<std::wstring> values = Snapshot();
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      for (const wchar_t* name : {L"EditFlags", L"URL Protocol", L"FriendlyTypeName"})
        values.push_back(ReadString(root, L"Software\\Classes", name));
    }
    values.push_back(ReadString(HKEY_CURRENT_USER, company_key, L"Previous Default Browser"));
    return values;
  };
  for (const auto& call : calls) {
    SCOPED_TRACE(call.what);
    const std::vector<std::wstring> before = state();
    EXPECT_FALSE(call.call());
    EXPECT_EQ(before, state());
  }
  EXPECT_FALSE(IsStartMenuInternetDefault(all_users.get())) << "the system cannot be asked under wine";
  ASSERT_TRUE(test_support::SetRegistryKeyDacl(HKEY_CURRENT_USER, company_key, L"D:P(A;;KA;;;WD)"));
}

// The branches of other Windows versions, in a child that runs as that version: what each answers, whether it
// wrote the protocol's rows (the class's for "default"), whether the user's earlier choice stayed, and the
// open-with dialog's use. The activation manager is not registered under wine and its open-with dialog is a stub
// that answers E_NOTIMPL without a window, so the Windows 10 page and the real dialog run only as failures; a test
// hook stands in for the dialog's outcomes.
TEST_F(DefaultBrowserTest, WindowsVersionBranches) {
  const struct {
    const wchar_t* version;
    const char* call;
    bool machine_wide;
    bool all_users;
    const char* open_with;  // null: the shell's own dialog
    bool already_handler;   // the user's class for the name runs the installation's launcher
    bool result;
    bool rows;
    bool choice_kept;
    bool dialog;
  } cases[] = {
      {L"win10", "handler", false, false, nullptr, false, false, false, true, false},
      {L"win10", "handler", true, false, nullptr, false, false, false, true, false},
      // Registers the class, cannot open the page, and answers from the user's settings (wine's browser).
      {L"win10", "default", false, false, nullptr, false, false, true, true, false},
      {L"win8", "handler", false, false, "ok", false, true, true, true, true},
      {L"win8", "handler", false, false, "fail", false, false, false, true, true},
      {L"win8", "handler", false, false, nullptr, false, false, false, true, false},
      {L"win8", "handler", false, false, "fail", true, true, true, true, false},
      {L"win8", "handler", true, false, "ok", false, false, false, true, false},
      {L"win8", "start-menu", true, false, "ok", false, false, false, true, false},
      {L"vista", "handler", false, false, nullptr, false, true, true, false, false},
      {L"vista", "handler", false, true, nullptr, false, false, false, true, false},
      {L"winxp64", "handler", false, true, nullptr, false, true, true, true, false},
  };
  int index = 0;
  for (const auto& c : cases) {
    const std::wstring name = protocol_ + std::to_wstring(++index);
    SCOPED_TRACE(testing::Message() << c.version << " " << c.call << " " << name);
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
      associations_.DeleteAtEnd(root, kClasses + name);
    // The user's earlier choice: another browser's class, or one that runs the installation's launcher.
    const std::wstring chosen = c.already_handler ? name + L"Own" : L"OtherBrowserURL";
    associations_.SetUserChoice(name, chosen);
    if (c.already_handler)
      associations_.SetClassCommand(chosen, L"\"" + folder().value() + L"\\launcher.exe\" \"%1\"");
    const std::wstring start_menu_before = ReadString(HKEY_LOCAL_MACHINE, kStartMenuInternet, L"");
    std::wstring arguments = L"--product=" + product_ + L" \"--folder=" + folder().value() + L"\" --call=" +
                             base::UTF8ToWide(c.call) + L" --name=" + name;
    if (c.machine_wide)
      arguments += L" --machine-wide";
    if (c.all_users)
      arguments += L" --all-users";
    if (c.open_with)
      arguments += L" --open-with=" + base::UTF8ToWide(c.open_with);
    std::string output;
    std::string error;
    ASSERT_TRUE(test_support::RunChildUnderWindowsVersion(L"default_browser_test_child.exe", c.version,
                                                          std::wstring(c.version) == L"win10", arguments, &output,
                                                          &error))
        << error;
    std::map<std::string, std::string> report = test_support::ParseNameValueLines(output);
    EXPECT_EQ(c.result ? "1" : "0", report["result"]);
    const std::wstring written = std::string(c.call) == "default" ? L"" : name;
    EXPECT_EQ(c.rows ? ExpectedRows(written, HKEY_CURRENT_USER) : Values(),
              ValuesBelow(HKEY_CURRENT_USER, kClasses + (written.empty() ? class_name_ : name)));
    EXPECT_EQ(Values(), ValuesBelow(HKEY_LOCAL_MACHINE, kClasses + name));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Classes\\http"));
    EXPECT_EQ(c.choice_kept ? chosen : L"(none)",
              ReadString(HKEY_CURRENT_USER, test::ScopedAssociations::UserChoiceKey(name), L"ProgId"));
    EXPECT_EQ(c.dialog ? base::WideToUTF8(name) + " 74" : "", report["open_with"]) << "name and flags of the dialog";
    EXPECT_EQ(start_menu_before, ReadString(HKEY_LOCAL_MACHINE, kStartMenuInternet, L""));
  }
}

// Sets the start-menu browser of `root`: null removes the key, an empty text leaves the key without a value.
void SetStartMenuInternet(HKEY root, const wchar_t* client) {
  RegDeleteTreeW(root, kStartMenuInternet);
  if (!client)
    return;
  base::win::RegKey key;
  ASSERT_EQ(ERROR_SUCCESS, key.Create(root, kStartMenuInternet, KEY_SET_VALUE));
  if (*client)
    WriteString(root, kStartMenuInternet, L"", client);
}

// The user's browser changed for real, per user and then machine-wide: http, https, ftp, the browser's extensions
// and the start-menu browser. Every program of the prefix would then open the installation's launcher, so this
// runs only in a prefix of its own, which testdata_check.sh makes; it reads the registry files the wine server
// writes with a reader of its own and recomputes each answer recorded in scenario.txt.
TEST(DefaultBrowserMachineTest, UserThenMachineRegistration) {
  if (!std::getenv("ZORVI_OWN_PREFIX"))
    GTEST_SKIP() << "changes the prefix's browser: testdata_check.sh runs it in a prefix of its own";
  const std::wstring data = test_support::TestDataDir();
  ASSERT_FALSE(data.empty());
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  const std::wstring product = L"ZorviOwn";
  SetBrandingTextForTesting(R"({"product_name": "ZorviOwn", "company_name": "ZorviOwnCompany"})");
  const std::wstring class_name = product + base::UTF8ToWide(GetStreamName());
  const base::FilePath folder = base::FilePath(data).Append(L"default_browser_install");
  ASSERT_TRUE(base::CreateDirectory(folder));
  InstallLog log;
  log.all_users = false;
  FolderInstallationInfo info(folder, log);

  // The user's start-menu browser, else the machine's: a user without the key has no choice, like one without
  // the value.
  const struct {
    const wchar_t* user;  // null: no key; empty: the key without a value
    const wchar_t* machine;
    bool is_default;
  } start_menu[] = {
      {nullptr, class_name.c_str(), true},  {L"", class_name.c_str(), true},  {L"Other", class_name.c_str(), false},
      {class_name.c_str(), L"Other", true}, {nullptr, nullptr, false},        {nullptr, L"Other", false},
      {L"", nullptr, false},
  };
  for (const auto& c : start_menu) {
    SCOPED_TRACE(testing::Message() << (c.user ? c.user : L"(no key)") << " / "
                                    << (c.machine ? c.machine : L"(no key)"));
    SetStartMenuInternet(HKEY_CURRENT_USER, c.user);
    SetStartMenuInternet(HKEY_LOCAL_MACHINE, c.machine);
    EXPECT_EQ(c.is_default, IsStartMenuInternetDefault(&info));
  }
  SetStartMenuInternet(HKEY_CURRENT_USER, nullptr);
  SetStartMenuInternet(HKEY_LOCAL_MACHINE, nullptr);

  // The user chose another browser's class for http: its command is the user's, and it is what is remembered.
  // (What the scenario writes stays for the registry files; the prefix goes with the check.)
  const std::wstring other_class = L"OtherBrowserURL";
  const std::wstring other_command = L"\"C:\\Other Browser\\other.exe\" -- \"%1\"";
  WriteString(HKEY_LOCAL_MACHINE, kClasses + other_class + L"\\shell\\open\\command", L"", other_command.c_str());
  WriteString(HKEY_CURRENT_USER, test::ScopedAssociations::UserChoiceKey(L"http"), L"ProgId", other_class.c_str());
  WriteString(HKEY_CURRENT_USER, test::ScopedAssociations::UserChoiceKey(L".htm"), L"ProgId", L"OtherBrowserHTML");
  std::wstring command;
  ASSERT_TRUE(GetRegisteredCommand(L"http", false, &command));
  EXPECT_EQ(other_command, command);
  EXPECT_FALSE(info.IsRegisteredHandler(L"http", false));
  RememberPreviousDefaultBrowser(&info, false);
  RememberPreviousDefaultBrowser(&info, true);
  // A DDE key an earlier registration left machine-wide.
  WriteString(HKEY_LOCAL_MACHINE, kClasses + class_name + L"\\shell\\open\\ddeexec", L"", L"[open(\"%1\")]");

  const bool per_user = MakeDefaultBrowser(&info, false);
  EXPECT_EQ(per_user, IsDefaultBrowser(&info));
  const bool machine_wide = MakeDefaultBrowser(&info, true);
  EXPECT_EQ(machine_wide, IsDefaultBrowser(&info));
  // Now the installation's own: remembering again keeps what was saved.
  RememberPreviousDefaultBrowser(&info, false);
  // The user has since chosen another browser, while the machine's is still the installation's: a machine-wide
  // installation run again must not save its own command over the browser it replaced.
  const std::wstring company_key = L"Software\\ZorviOwnCompany";
  const std::wstring machine_saved = ReadString(HKEY_LOCAL_MACHINE, company_key, L"Previous Default Browser");
  const std::wstring http_choice = test::ScopedAssociations::UserChoiceKey(L"http");
  WriteString(HKEY_CURRENT_USER, http_choice, L"ProgId", other_class.c_str());
  EXPECT_FALSE(info.IsRegisteredHandler(L"http", false));
  RememberPreviousDefaultBrowser(&info, true);
  EXPECT_EQ(machine_saved, ReadString(HKEY_LOCAL_MACHINE, company_key, L"Previous Default Browser"));
  base::win::RegKey choice;
  ASSERT_EQ(ERROR_SUCCESS, choice.Open(HKEY_CURRENT_USER, http_choice.c_str(), KEY_SET_VALUE));
  ASSERT_EQ(ERROR_SUCCESS, choice.DeleteValue(L"ProgId"));

  std::string output;
  std::string error;
  ASSERT_TRUE(test_support::RunChildUnderWindowsVersion(
      L"default_browser_test_child.exe", L"win10", true,
      L"--product=" + product + L" \"--folder=" + folder.value() + L"\" --call=default", &output, &error))
      << error;
  const std::string windows10 = test_support::ParseNameValueLines(output)["result"];

  const std::string scenario = "folder=" + folder.AsUTF8() + "\nclass=" + base::WideToUTF8(class_name) +
                               "\nproduct=" + base::WideToUTF8(product) + "\ncompany=ZorviOwnCompany\nother_class=" +
                               base::WideToUTF8(other_class) + "\nper_user=" + (per_user ? "1" : "0") +
                               "\nmachine_wide=" + (machine_wide ? "1" : "0") + "\nwindows10=" + windows10 + "\n";
  EXPECT_TRUE(test_support::WriteFileBytes(data + L"\\default_browser_scenario.txt", scenario));
  CoUninitialize();
}

}  // namespace
}  // namespace zorvi::installer
