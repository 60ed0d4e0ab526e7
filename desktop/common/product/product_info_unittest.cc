#include "desktop/common/product/product_info.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "base/files/file_util.h"
#include "base/strings/utf_string_conversions.h"
#include "testing/test_programs.h"
#include "testing/test_support.h"
#include "testing/version_child.h"

namespace zorvi::installer {
namespace {

using Report = std::map<std::string, std::string>;

constexpr wchar_t kNoResourceHost[] = L"product_info_test_child.exe";
constexpr wchar_t kModuleName[] = L"_vemtralib.pyd";
constexpr wchar_t kModuleMarker[] = L"module_code_ran";

// What testdata_setup.sh's Python oracle expects of a host whose resource it read from `resource_owner`.
Report ReadExpectation(const std::wstring& resource_owner) {
  std::string text;
  EXPECT_TRUE(base::ReadFileToString(test::TestDataFile(L"branding\\" + resource_owner + L".expected"), &text))
      << "no expectation for " << base::WideToUTF8(resource_owner);
  return test_support::ParseNameValueLines(text);
}

Report RunHost(const base::FilePath& host) {
  Report report;
  std::string error;
  EXPECT_TRUE(test::RunReportingChild(L"\"" + host.value() + L"\"", &report, &error)) << error;
  return report;
}

// The branding getters of a report, without the raw text's size.
Report BrandingOnly(Report report) {
  report.erase("LoadBrandingTextSize");
  return report;
}

TEST(ProductInfoTest, EveryHostAnswersWhatItsBrandingResourceSays) {
  const Report no_resource = RunHost(test::TestProgram(kNoResourceHost));
  struct Case {
    const wchar_t* host;
    const wchar_t* resource_owner;  // whose resource the expectation was computed from
    const char* full_version;
    bool all_defaults;
  } const cases[] = {
      // The product host's own resource, as wrestool finds it in installer.exe.
      {L"product_info_host_product.exe", L"installer", "39.0.2234.0", false},
      {kNoResourceHost, L"product_info_test_child", "39.0.2234.0", true},
      {L"product_info_host_delta.exe", L"product_info_host_delta", "41.52.2234.0", false},
      {L"product_info_host_array_root.exe", L"product_info_host_array_root", "39.0.2234.0", true},
      {L"product_info_host_unparsable.exe", L"product_info_host_unparsable", "39.0.2234.0", true},
      // Keys of the wrong kind (a number for a URL or a name, text for the delta) keep their defaults.
      {L"product_info_host_wrong_kinds.exe", L"product_info_host_wrong_kinds", "39.0.2234.0", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(base::WideToUTF8(c.host));
    const Report expected = ReadExpectation(c.resource_owner);
    ASSERT_FALSE(expected.empty());
    const Report actual = RunHost(test::TestProgram(c.host));
    EXPECT_EQ(expected, actual);
    EXPECT_EQ(c.full_version, actual.at("GetFullVersionString"));
    EXPECT_EQ(c.all_defaults, BrandingOnly(actual) == BrandingOnly(no_resource));
  }
}

// The current folder for the lifetime of the holder.
class ScopedCurrentDirectory {
 public:
  explicit ScopedCurrentDirectory(const base::FilePath& folder) {
    EXPECT_TRUE(base::GetCurrentDirectory(&previous_));
    EXPECT_TRUE(base::SetCurrentDirectory(folder));
  }
  ~ScopedCurrentDirectory() { base::SetCurrentDirectory(previous_); }

 private:
  base::FilePath previous_;
};

// A host without the resource may take it from the test-automation module beside it, but only as data: the
// module's code never runs, and a module of that name elsewhere (the current folder) is never looked at.
TEST(ProductInfoTest, TestAutomationModuleLendsItsResourceWithoutRunning) {
  const base::FilePath module = test::TestProgram(L"branding_fallback_module.dll");
  {
    // Control: loaded as code, the stand-in does leave its marker.
    test_support::ScopedTestFolder control(L"branding_control");
    const base::FilePath copy = base::FilePath(control.path()).Append(kModuleName);
    ASSERT_TRUE(base::CopyFile(module, copy));
    HMODULE loaded = LoadLibraryW(copy.value().c_str());
    ASSERT_NE(nullptr, loaded);
    FreeLibrary(loaded);
    EXPECT_TRUE(base::PathExists(copy.DirName().Append(kModuleMarker)));
  }
  struct Case {
    bool module_beside_host;
    const wchar_t* resource_owner;
  } const cases[] = {
      {true, L"branding_fallback_module"},
      {false, L"product_info_test_child"},  // no resource anywhere the installer looks: defaults
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.module_beside_host ? "module beside the host" : "module in the current folder");
    test_support::ScopedTestFolder folder(L"branding_fallback");
    const base::FilePath host_folder = base::FilePath(folder.path()).Append(L"host");
    const base::FilePath current_folder = base::FilePath(folder.path()).Append(L"current");
    ASSERT_TRUE(base::CreateDirectory(host_folder));
    ASSERT_TRUE(base::CreateDirectory(current_folder));
    const base::FilePath host = host_folder.Append(kNoResourceHost);
    ASSERT_TRUE(base::CopyFile(test::TestProgram(kNoResourceHost), host));
    ASSERT_TRUE(base::CopyFile(module, (c.module_beside_host ? host_folder : current_folder).Append(kModuleName)));

    ScopedCurrentDirectory current(current_folder);
    EXPECT_EQ(ReadExpectation(c.resource_owner), RunHost(host));
    EXPECT_FALSE(base::PathExists(host_folder.Append(kModuleMarker)));
    EXPECT_FALSE(base::PathExists(current_folder.Append(kModuleMarker)));
  }
}

TEST(ProductInfoTest, StreamsHaveOneNameAndOneDisplayWord) {
  struct Case {
    int stream;
    const char* name;
    const char* display_word;
  } const cases[] = {
      {1, nullptr, nullptr},        {2, "nightly", "Nightly"}, {3, "beta", "Beta"},
      {4, "release", "Release"}, {5, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stream);
    EXPECT_STREQ(c.name, GetStreamNameOf(c.stream));
    EXPECT_STREQ(c.display_word, GetStreamDisplayWordOf(c.stream));
  }
  EXPECT_EQ(GetStreamNameOf(GetStreamId()), GetStreamName());
}

}  // namespace
}  // namespace zorvi::installer
