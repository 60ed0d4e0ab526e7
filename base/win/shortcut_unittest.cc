#include "base/win/shortcut.h"

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/fake_property_store_test_util.h"
#include "base/win/property_store.h"
#include "base/win/windows_version.h"
#include "testing/test_support.h"
#include "testing/version_child.h"

namespace base {
namespace win {
namespace {

using Calls = std::vector<std::string>;

// The field values made on Linux by testdata_setup.sh (testdata_check.sh reads the links back with lnkinfo).
std::map<std::string, std::wstring> ReadFields() {
  std::map<std::string, std::wstring> fields;
  std::string text;
  if (!test_support::ReadFileBytes(test_support::TestDataDir() + L"\\shortcut\\fields.txt", &text))
    return fields;
  for (const auto& [name, value] : test_support::ParseNameValueLines(text))
    fields[name] = UTF8ToWide(value);
  return fields;
}

class ShortcutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    fields_ = ReadFields();
    ASSERT_EQ(8u, fields_.size());
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = FilePath(std::wstring(temp) + test_support::UniqueName(L"links"));
    ASSERT_TRUE(CreateDirectory(folder_));
    full_.set_target(FilePath(fields_["target"]));
    full_.set_working_dir(FilePath(fields_["working_dir"]));
    full_.set_arguments(fields_["arguments"]);
    full_.set_description(fields_["description"]);
    full_.set_icon(FilePath(fields_["icon"]), std::stoi(fields_["icon_index"]));
  }
  void TearDown() override {
    DeleteFile(folder_, true);
    CoUninitialize();
  }

  // A link that testdata_check.sh reads back with lnkinfo.
  FilePath CheckedLink(const wchar_t* name) const {
    return FilePath(test_support::TestDataDir()).Append(L"shortcut").Append(name);
  }

  static void ExpectFields(const ShortcutProperties& expected, const ShortcutProperties& actual) {
    EXPECT_EQ(expected.target, actual.target);
    EXPECT_EQ(expected.working_dir, actual.working_dir);
    EXPECT_EQ(expected.arguments, actual.arguments);
    EXPECT_EQ(expected.description, actual.description);
    EXPECT_EQ(expected.icon, actual.icon);
    EXPECT_EQ(expected.icon_index, actual.icon_index);
  }

  static constexpr uint32_t kLinkFields =
      ShortcutProperties::PROPERTIES_TARGET | ShortcutProperties::PROPERTIES_WORKING_DIR |
      ShortcutProperties::PROPERTIES_ARGUMENTS | ShortcutProperties::PROPERTIES_DESCRIPTION |
      ShortcutProperties::PROPERTIES_ICON;

  std::map<std::string, std::wstring> fields_;
  FilePath folder_;
  ShortcutProperties full_;
};

TEST_F(ShortcutTest, CreateAndResolveEveryField) {
  const FilePath link = CheckedLink(L"created.lnk");
  ASSERT_TRUE(CreateOrUpdateShortcutLink(link, full_, ShortcutWriteMode::CreateAlways));
  ShortcutProperties read;
  read.options = ShortcutProperties::PROPERTIES_APP_ID;  // cleared by the read
  ASSERT_TRUE(ResolveShortcutProperties(link, kLinkFields, &read));
  EXPECT_EQ(kLinkFields, read.options);
  ExpectFields(full_, read);
  ASSERT_GT(read.arguments.size(), 260u);
}

TEST_F(ShortcutTest, ResolveReadsOnlyWhatIsAsked) {
  const FilePath link = folder_.Append(L"partial.lnk");
  ASSERT_TRUE(CreateOrUpdateShortcutLink(link, full_, ShortcutWriteMode::CreateAlways));
  ShortcutProperties read;
  ASSERT_TRUE(ResolveShortcutProperties(link, ShortcutProperties::PROPERTIES_ARGUMENTS, &read));
  EXPECT_EQ(static_cast<uint32_t>(ShortcutProperties::PROPERTIES_ARGUMENTS), read.options);
  EXPECT_EQ(full_.arguments, read.arguments);
  EXPECT_TRUE(read.target.empty());
  EXPECT_TRUE(read.description.empty());

  FilePath target;
  std::wstring arguments;
  ASSERT_TRUE(ResolveShortcut(link, &target, &arguments));
  EXPECT_EQ(full_.target, target);
  EXPECT_EQ(full_.arguments, arguments);
  FilePath target_only;
  ASSERT_TRUE(ResolveShortcut(link, &target_only, nullptr));
  EXPECT_EQ(full_.target, target_only);
  std::wstring arguments_only;
  ASSERT_TRUE(ResolveShortcut(link, nullptr, &arguments_only));
  EXPECT_EQ(full_.arguments, arguments_only);
}

TEST_F(ShortcutTest, NewLinkNeedsATarget) {
  ShortcutProperties no_target = full_;
  no_target.options &= ~ShortcutProperties::PROPERTIES_TARGET;
  const FilePath link = folder_.Append(L"no target.lnk");
  EXPECT_FALSE(CreateOrUpdateShortcutLink(link, no_target, ShortcutWriteMode::CreateAlways));
  EXPECT_FALSE(CreateOrUpdateShortcutLink(link, no_target, ShortcutWriteMode::ReplaceExisting));
  EXPECT_FALSE(PathExists(link));
}

TEST_F(ShortcutTest, UpdateOrReplaceOfAMissingLinkFails) {
  const FilePath link = folder_.Append(L"missing.lnk");
  EXPECT_FALSE(CreateOrUpdateShortcutLink(link, full_, ShortcutWriteMode::UpdateExisting));
  EXPECT_FALSE(CreateOrUpdateShortcutLink(link, full_, ShortcutWriteMode::ReplaceExisting));
  EXPECT_FALSE(PathExists(link));
}

// Replacing writes a new link: fields not given are gone, except the arguments, which are kept whole.
TEST_F(ShortcutTest, ReplaceKeepsTheOldArguments) {
  const FilePath link = CheckedLink(L"replaced.lnk");
  ASSERT_TRUE(CreateOrUpdateShortcutLink(link, full_, ShortcutWriteMode::CreateAlways));
  ShortcutProperties replacement;
  replacement.set_target(full_.target);
  replacement.set_description(fields_["new_description"]);
  ASSERT_TRUE(CreateOrUpdateShortcutLink(link, replacement, ShortcutWriteMode::ReplaceExisting));
  ShortcutProperties read;
  ASSERT_TRUE(ResolveShortcutProperties(link, kLinkFields, &read));
  EXPECT_EQ(full_.target, read.target);
  EXPECT_EQ(full_.arguments, read.arguments);
  EXPECT_EQ(fields_["new_description"], read.description);
  EXPECT_TRUE(read.working_dir.empty());
  EXPECT_TRUE(read.icon.empty());
}

TEST_F(ShortcutTest, ReplaceWithNewArguments) {
  const FilePath link = folder_.Append(L"replaced with arguments.lnk");
  ASSERT_TRUE(CreateOrUpdateShortcutLink(link, full_, ShortcutWriteMode::CreateAlways));
  ShortcutProperties replacement;
  replacement.set_target(full_.target);
  replacement.set_arguments(fields_["new_arguments"]);
  ASSERT_TRUE(CreateOrUpdateShortcutLink(link, replacement, ShortcutWriteMode::ReplaceExisting));
  std::wstring arguments;
  ASSERT_TRUE(ResolveShortcut(link, nullptr, &arguments));
  EXPECT_EQ(fields_["new_arguments"], arguments);
}

TEST_F(ShortcutTest, UpdateChangesOnlyTheGivenFields) {
  const FilePath link = CheckedLink(L"updated.lnk");
  ASSERT_TRUE(CreateOrUpdateShortcutLink(link, full_, ShortcutWriteMode::CreateAlways));
  ShortcutProperties change;
  change.set_description(fields_["new_description"]);
  ASSERT_TRUE(CreateOrUpdateShortcutLink(link, change, ShortcutWriteMode::UpdateExisting));
  ShortcutProperties read;
  ASSERT_TRUE(ResolveShortcutProperties(link, kLinkFields, &read));
  ShortcutProperties expected = full_;
  expected.description = fields_["new_description"];
  ExpectFields(expected, read);
}

TEST_F(ShortcutTest, CreateAlwaysReplacesAnyFile) {
  const FilePath link = folder_.Append(L"was a file.lnk");
  ASSERT_TRUE(test_support::WriteFileBytes(link.value(), "not a link"));
  FilePath target;
  EXPECT_FALSE(ResolveShortcut(link, &target, nullptr));
  EXPECT_FALSE(CreateOrUpdateShortcutLink(link, full_, ShortcutWriteMode::UpdateExisting));
  ASSERT_TRUE(CreateOrUpdateShortcutLink(link, full_, ShortcutWriteMode::CreateAlways));
  ASSERT_TRUE(ResolveShortcut(link, &target, nullptr));
  EXPECT_EQ(full_.target, target);
}

TEST_F(ShortcutTest, ResolveOfAMissingFileFails) {
  FilePath target(L"untouched");
  std::wstring arguments = L"untouched";
  EXPECT_FALSE(ResolveShortcut(folder_.Append(L"nothing here.lnk"), &target, &arguments));
  EXPECT_EQ(L"untouched", target.value());
  EXPECT_EQ(L"untouched", arguments);
}

// Through the link's own property store. The writes must succeed; wine's store keeps nothing (and cannot be
// read), so the values are compared only where the system keeps them.
TEST_F(ShortcutTest, ApplicationIdAndDualModeThroughTheShell) {
  const FilePath link = folder_.Append(L"with app id.lnk");
  ShortcutProperties properties = full_;
  properties.set_app_id(L"Company.Product.2");
  properties.set_dual_mode(true);
  ASSERT_TRUE(CreateOrUpdateShortcutLink(link, properties, ShortcutWriteMode::CreateAlways));
  ShortcutProperties read;
  const uint32_t options = ShortcutProperties::PROPERTIES_APP_ID | ShortcutProperties::PROPERTIES_DUAL_MODE;
  const bool resolved = ResolveShortcutProperties(link, options, &read);
  if (test_support::IsRunningUnderWine() && (!resolved || read.app_id.empty()))
    GTEST_SKIP() << "wine lacks a link property store that keeps and reads its values";
  ASSERT_TRUE(resolved);
  EXPECT_EQ(options, read.options);
  EXPECT_EQ(L"Company.Product.2", read.app_id);
  EXPECT_TRUE(read.dual_mode);
}

TEST(ShortcutPropertyStoreTest, WritesTheApplicationIdThenDualMode) {
  FakePropertyStore store;
  ShortcutProperties properties;
  properties.set_dual_mode(true);
  properties.set_app_id(L"Company.Product");
  EXPECT_TRUE(internal::WriteShortcutPropertyStore(&store, properties));
  EXPECT_EQ((Calls{"set 5", "commit", "set 11", "commit"}), store.calls());
  EXPECT_EQ(std::wstring(L"Company.Product"), store.Stored(kAppUserModelIdKey).pwszVal);
  EXPECT_EQ(VARIANT_TRUE, store.Stored(kAppUserModelDualModeKey).boolVal);
}

TEST(ShortcutPropertyStoreTest, WritesOnlyTheGivenFields) {
  FakePropertyStore store;
  ShortcutProperties properties;
  properties.set_description(L"not a property-store field");
  EXPECT_TRUE(internal::WriteShortcutPropertyStore(&store, properties));
  EXPECT_TRUE(store.calls().empty());
  properties.set_dual_mode(false);
  EXPECT_TRUE(internal::WriteShortcutPropertyStore(&store, properties));
  EXPECT_EQ((Calls{"set 11", "commit"}), store.calls());
  EXPECT_EQ(VARIANT_FALSE, store.Stored(kAppUserModelDualModeKey).boolVal);
  EXPECT_EQ(VT_BOOL, store.Stored(kAppUserModelDualModeKey).vt);
}

TEST(ShortcutPropertyStoreTest, FailedApplicationIdStopsBeforeDualMode) {
  FakePropertyStore store;
  store.set_commit_result(E_FAIL);
  ShortcutProperties properties;
  properties.set_app_id(L"id");
  properties.set_dual_mode(true);
  EXPECT_FALSE(internal::WriteShortcutPropertyStore(&store, properties));
  EXPECT_EQ((Calls{"set 5", "commit"}), store.calls());
}

PROPVARIANT Variant(VARTYPE type) {
  PROPVARIANT value;
  PropVariantInit(&value);
  value.vt = type;
  return value;
}

TEST(ShortcutPropertyStoreTest, ReadsTheApplicationId) {
  FakePropertyStore store;
  ShortcutProperties read;
  read.app_id = L"stale";
  ASSERT_TRUE(internal::ReadShortcutPropertyStore(&store, ShortcutProperties::PROPERTIES_APP_ID, &read));
  EXPECT_EQ(L"", read.app_id);  // nothing stored: empty
  EXPECT_EQ(static_cast<uint32_t>(ShortcutProperties::PROPERTIES_APP_ID), read.options);

  PROPVARIANT text = Variant(VT_LPWSTR);
  wchar_t id[] = L"Company.Product";
  text.pwszVal = id;
  store.Preload(kAppUserModelIdKey, text);
  ASSERT_TRUE(internal::ReadShortcutPropertyStore(&store, ShortcutProperties::PROPERTIES_APP_ID, &read));
  EXPECT_EQ(L"Company.Product", read.app_id);
  EXPECT_EQ((Calls{"get 5", "get 5"}), store.calls());

  PROPVARIANT number = Variant(VT_UI4);
  number.ulVal = 5;
  store.Preload(kAppUserModelIdKey, number);
  EXPECT_FALSE(internal::ReadShortcutPropertyStore(&store, ShortcutProperties::PROPERTIES_APP_ID, &read));
}

TEST(ShortcutPropertyStoreTest, DualModeIsTrueOnlyForVariantTrue) {
  struct Case {
    VARTYPE type;
    VARIANT_BOOL value;
    bool read_ok;
    bool expected;
  } cases[] = {
      {VT_EMPTY, 0, true, false},      {VT_BOOL, VARIANT_TRUE, true, true}, {VT_BOOL, VARIANT_FALSE, true, false},
      {VT_BOOL, 1, true, false},       {VT_I4, -1, false, false},
  };
  for (const Case& c : cases) {
    FakePropertyStore store;
    if (c.type != VT_EMPTY) {
      PROPVARIANT value = Variant(c.type);
      if (c.type == VT_BOOL)
        value.boolVal = c.value;
      else
        value.lVal = c.value;
      store.Preload(kAppUserModelDualModeKey, value);
    }
    ShortcutProperties read;
    read.dual_mode = !c.expected;
    EXPECT_EQ(c.read_ok, internal::ReadShortcutPropertyStore(&store, ShortcutProperties::PROPERTIES_DUAL_MODE, &read))
        << c.type << " " << c.value;
    if (c.read_ok) {
      EXPECT_EQ(c.expected, read.dual_mode) << c.type << " " << c.value;
      EXPECT_EQ(static_cast<uint32_t>(ShortcutProperties::PROPERTIES_DUAL_MODE), read.options);
    }
  }
}

TEST(ShortcutPropertyStoreTest, UnaskedFieldsAreNotRead) {
  FakePropertyStore store;
  ShortcutProperties read;
  ASSERT_TRUE(internal::ReadShortcutPropertyStore(&store, ShortcutProperties::PROPERTIES_TARGET, &read));
  EXPECT_TRUE(store.calls().empty());
  EXPECT_EQ(0u, read.options);
}

TEST(ShortcutPropertiesTest, SettersMarkTheirFields) {
  ShortcutProperties properties;
  EXPECT_EQ(0u, properties.options);
  EXPECT_EQ(-1, properties.icon_index);
  properties.set_icon(FilePath(L"C:\\icon.ico"), 7);
  EXPECT_EQ(static_cast<uint32_t>(ShortcutProperties::PROPERTIES_ICON), properties.options);
  EXPECT_EQ(7, properties.icon_index);
  properties.set_dual_mode(false);
  EXPECT_EQ(static_cast<uint32_t>(ShortcutProperties::PROPERTIES_ICON | ShortcutProperties::PROPERTIES_DUAL_MODE),
            properties.options);
}

// The taskbar functions under other Windows versions (testdata_check.sh checks with wine's relay trace that
// the unpin before Windows 7 never reaches the shell).
class TaskbarPinVersionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test_support::IsRunningUnderWine())
      GTEST_SKIP() << "switching the Windows version per program needs wine";
  }

  std::map<std::string, std::string> RunChild(const wchar_t* wine_version, bool declare_windows10,
                                              const std::wstring& arguments = std::wstring()) {
    std::string output, error;
    if (!test_support::RunChildUnderWindowsVersion(L"shortcut_test_child.exe", wine_version, declare_windows10,
                                                   arguments, &output, &error)) {
      ADD_FAILURE() << error;
    }
    return test_support::ParseNameValueLines(output);
  }
};

TEST_F(TaskbarPinVersionTest, PinningFromWindows7To81) {
  struct Case {
    const wchar_t* wine_version;
    bool declare_windows10;
    WindowsVersion version;
    const char* can_pin;
  } cases[] = {
      {L"vista", false, VERSION_VISTA, "0"},
      {L"win7", false, VERSION_WIN7, "1"},
      {L"win8", false, VERSION_WIN8, "1"},
      {L"win81", true, VERSION_WIN8_1, "1"},
      {L"win10", true, VERSION_WIN10_TH2, "0"},
  };
  for (const Case& c : cases) {
    std::map<std::string, std::string> values = RunChild(c.wine_version, c.declare_windows10);
    EXPECT_EQ(std::to_string(c.version), values["version"]) << c.wine_version;
    EXPECT_EQ(c.can_pin, values["can_pin"]) << c.wine_version;
  }
}

TEST_F(TaskbarPinVersionTest, UnpinBeforeWindows7Fails) {
  std::map<std::string, std::string> values = RunChild(L"vista", false, L"unpin \"C:\\no such.lnk\"");
  EXPECT_EQ("0", values["unpin"]);
}

}  // namespace
}  // namespace win
}  // namespace base
