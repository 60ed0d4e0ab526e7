#include "desktop/windows/crash_reporter/reporter/module_info_impl.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "desktop/windows/crash_reporter/client/scripted_crash_server_test_util.h"
#include "testing/scoped_log_capture.h"

namespace zorvi {
namespace installer {
namespace {

// Copies of a real DLL, whole and broken (made by the area's testdata_setup.sh, with what pefile reads in the
// whole one): each is read as far as it holds, with one line saying what is missing and no read outside the
// file (all but the 64-byte copy end on a page boundary, where a read past the end would fault).
TEST(ModuleInfoImplTest, BrokenModuleFilesAreReadAsFarAsTheyHold) {
  const std::wstring folder = test_support::TestDataDir() + L"\\modules";
  std::map<std::string, std::string> pefile = ReadRecordFields(folder, L"expected.txt");
  if (pefile.empty())
    GTEST_SKIP() << "no module copies in " << folder << ": the area's testdata_setup.sh did not run";
  const std::string version = pefile["file_version"], timestamp = pefile["timestamp"], code_end = pefile["code_end"];
  const struct {
    const wchar_t* file;
    const wchar_t* name;  // as the system's module list gives it; null: none
    std::string expected_name;
    std::string expected_version;
    bool headers_read;
    std::vector<std::string> lines;
  } kCases[] = {
      {L"whole.dll", L"version.dll", "version.dll", version, true, {}},
      {L"whole.dll", nullptr, pefile["export_name"], version, true, {}},
      {L"no_exports.dll", L"", pefile["original_filename"], version, true, {"Could not find exports directory"}},
      {L"nameless.dll", nullptr, "nameless.dll", "", true,
       {"Could not find exports directory", "Could not find resources directory in <unknown>"}},
      {L"cut_at_64.dll", L"cut.dll", "cut.dll", "", false, {"GetNtHeaders failed for cut.dll"}},
      {L"cut_in_nt_headers.dll", nullptr, "cut_in_nt_headers.dll", "", false, {"GetNtHeaders failed for <unknown>"}},
      {L"sections_past_end.dll", nullptr, "sections_past_end.dll", "", true,
       {"Could not find exports directory", "Could not find resources directory in <unknown>"}},
      {L"endless_version.dll", L"version.dll", "version.dll", "", true,
       {"Could not find version info in version.dll"}},
      {L"long_version.dll", L"version.dll", "version.dll", pefile["long_version"], true, {}},
  };
  constexpr uint64_t kBase = 0x7FF812340000;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.file);
    test_support::ScopedTestHandle file(CreateFileW((folder + L"\\" + c.file).c_str(), GENERIC_READ,
                                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file.valid());
    test_support::ScopedLogCapture capture;
    ModuleInfoImpl module;
    module.Init(c.name, file.get(), kBase, 0x20000);
    EXPECT_EQ(c.expected_name, module.GetName());
    EXPECT_EQ(c.expected_version, module.GetVersion());
    EXPECT_EQ(c.headers_read ? std::stoul(timestamp, nullptr, 16) : 0u, module.GetTimestamp());
    EXPECT_EQ(c.headers_read ? std::stoull(code_end, nullptr, 16) : 0u, module.GetCodeEndOffset());
    EXPECT_EQ(kBase, module.GetBaseAddress());
    EXPECT_EQ(kBase, module.GetLoadAddress());
    EXPECT_EQ(0x20000u, module.GetSize());
    std::vector<std::string> lines;
    for (const auto& line : capture.lines())
      lines.push_back(line.text);
    EXPECT_EQ(c.lines, lines);
  }
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
