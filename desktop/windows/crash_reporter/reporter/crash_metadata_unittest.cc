#include "desktop/windows/crash_reporter/reporter/crash_metadata.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "base/strings/utf_string_conversions.h"
#include "desktop/common/product/product_info.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/windows/crash_reporter/reporter/custom_info_entries_test_util.h"

namespace zorvi {
namespace installer {
namespace {

using Pairs = CustomInfoPairs;
using Entries = CustomInfoEntries;

class CrashMetadataTest : public testing::Test {
 protected:
  void SetUp() override {
    SetBrandingTextForTesting(R"({"product_name": "MetaTest", "crash_log_product_sufix": "_meta"})");
    email_variable_ = GetCrashEmailVariableName();
    SetEnvironmentVariableW(email_variable_.c_str(), nullptr);
  }
  void TearDown() override { SetEnvironmentVariableW(email_variable_.c_str(), nullptr); }

  std::wstring email_variable_;
};

TEST_F(CrashMetadataTest, TheCrashLogTakesWellFormedKeysInOrder) {
  EXPECT_EQ(L"METATEST_CRASH_EMAIL", email_variable_);
  const std::wstring name_of_64(64, L'n');
  const Entries entries({{L"first", L"1"},
                         {L"with blank", L"dropped"},
                         {name_of_64, L"dropped"},
                         {std::wstring(63, L'k'), L"kept"},
                         {L"ptime", L"1234"},
                         {L"active_url", L"http://example.com/"},
                         {L"buildset", L""},
                         {L"enabled_extensions", L"ab"},
                         {L"version", L"9.8.7.6"},
                         {L"empty", L""},
                         {L"vemtra_test", L""},
                         {L"enabled_extensions", L"cd"},
                         {L"build", L"4321"},
                         {L"Dotted.name-x_1", L"q\"uote"},
                         {L"first", L"again"}});
  CrashLogInfo info;
  AddCrashLogMetadata(entries.info(), &info);
  const CrashMetadata& machine = CrashMetadata::Get();
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"first", "1"},
      {std::string(63, 'k'), "kept"},
      {"Dotted.name-x_1", "q\"uote"},
      {"first", "again"},
      {"enabled_extensions", "abcd"},
      {"disabled_extensions", ""},
      {"blacklisted_extensions", ""},
      {"terminated_extensions", ""},
      {"third_party_installs", ""},
      {"os_version", machine.os_version()},
      {"os_service_pack_version", machine.os_service_pack_version()},
      {"cpu_architecture", machine.cpu_architecture()},
      {"cpu_level", machine.cpu_level()},
      {"cpu_revision", machine.cpu_revision()}};
  EXPECT_EQ(expected, info.metadata);
  EXPECT_EQ("9.8.7.6", info.version);
  EXPECT_EQ("4321", info.build);
  EXPECT_EQ("_meta", info.product_suffix);
  EXPECT_TRUE(std::regex_match(machine.os_version(), std::regex(R"(\d+\.\d+\.\d+)"))) << machine.os_version();
  EXPECT_EQ("0x9", machine.cpu_architecture()) << "an x64 machine";

  // A set "vemtra_test" is written after the keys; a reporter's own log gets this build's header.
  CrashLogInfo vemtra;
  AddCrashLogMetadata(Entries(Pairs{{L"vemtra_test", L"on"}}).info(), &vemtra);
  EXPECT_EQ((std::pair<std::string, std::string>("vemtra_test", "on")), vemtra.metadata.at(0));
  CrashLogInfo self;
  AddMemoryMetadata(1, 2, 18446744073709551615ull, &self);
  AddSelfCrashMetadata(&self);
  EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"mem_working_set_size", "1"},
                                                                {"mem_peak_working_set_size", "2"},
                                                                {"mem_private_usage", "18446744073709551615"},
                                                                {"process_type", "crash_reporter"}}),
            self.metadata);
  EXPECT_EQ(GetFullVersionString(), self.version);
  EXPECT_EQ(std::to_string(GetBuildNumber()), self.build);
}

TEST_F(CrashMetadataTest, EntryReadersCompareWholeNamesAndJoinValues) {
  const std::wstring long_value(64, L'v');  // fills the entry: no terminator
  const Entries entries({{L"active_url", long_value}, {L"Active_url", L"other"}, {L"active_url", L""},
                         {L"active_url", L"tail"}});
  std::wstring value = L"stale";
  EXPECT_TRUE(GetCustomInfoValue(entries.info(), L"active_url", &value));
  EXPECT_EQ(long_value, value);
  EXPECT_TRUE(GetJoinedCustomInfoValue(entries.info(), L"active_url", &value));
  EXPECT_EQ(long_value + L"tail", value);
  EXPECT_FALSE(GetCustomInfoValue(entries.info(), L"ACTIVE_URL", &value));
  EXPECT_FALSE(GetJoinedCustomInfoValue(entries.info(), L"missing", &value));
  EXPECT_EQ(L"", value);
  EXPECT_EQ(nullptr, FindCustomInfoEntry(CrashCustomClientInfo{}, L"active_url"));

  const struct {
    Pairs keys;
    const wchar_t* origin;
  } origins[] = {{{{L"origin", L"Pellow"}, {L"vemtra_test", L"1"}}, L"Vemtra"},
                 {{{L"origin", L"Pellow"}}, L"Pellow"},
                 {{{L"origin", L"pellow"}}, L""},
                 {{{L"vemtra_test", L""}, {L"origin", L"Other"}}, L""},
                 {{}, L""}};
  for (const auto& row : origins)
    EXPECT_EQ(row.origin, GetOrigin(Entries(row.keys).info())) << row.origin;
}

TEST_F(CrashMetadataTest, UploadsCarryTheFieldsTheirSourcesGive) {
  const std::wstring today_build = FormatBuildId(std::to_wstring(GetBuildSetNumber()),
                                                 base::UTF8ToWide(GetBuildRequestTime()));
  const std::wstring email_of_192(192, L'm');
  const struct {
    const char* name;
    Pairs keys;
    const wchar_t* email;  // null: not set
    UploadParameters log;  // the whole log upload
    UploadParameters dump;  // fields the dump upload must carry
  } rows[] = {
      {"uptime of four digits", {{L"ptime", L"1234"}}, nullptr, {{L"CrashUptime", L"1"}}, {}},
      {"uptime of three", {{L"ptime", L"123"}}, nullptr, {}, {}},
      {"uptime of 13", {{L"ptime", L"1234567890123"}}, nullptr, {{L"CrashUptime", L"1234567890"}}, {}},
      {"uptime of 14", {{L"ptime", L"12345678901234"}}, nullptr, {}, {}},
      {"browser", {{L"process_type", L"browser"}, {L"active_url", L"http://a/"}}, nullptr, {},
       {{L"ProcessType", L"browser"}, {L"URL", L"http://a/"}, {L"symbols-package", L"browser-syms"}}},
      {"renderer", {{L"process_type", L"renderer"}, {L"active_url", L"http://a/"}, {L"active_url", L"b"}}, nullptr,
       {{L"url", L"http://a/b"}}, {{L"URL", L"http://a/b"}}},
      {"tests", {{L"process_type", L"browser_tests"}}, nullptr, {},
       {{L"ProcessType", L"browser_tests"}, {L"symbols-package", L"tests-syms"}}},
      {"origin", {{L"vemtra_test", L"x"}}, nullptr, {{L"origin", L"Vemtra"}}, {{L"Origin", L"Vemtra"}}},
      {"client build", {{L"buildset", L"42"}, {L"build_request_time", L"20240115_101010"}, {L"version", L"1.2"},
                        {L"version", L".3"}, {L"build", L"7"}, {L"gpu_vendor_id", L"0x10de"}},
       nullptr, {}, {{L"BuildID", L"20240115000042"}, {L"Version", L"1.2.3"}, {L"UBN", L"7"},
                     {L"gpu_vendor_id", L"0x10de"}, {L"ProductName", L"ZorviDesktop"}}},
      {"empty build set", {{L"buildset", L""}, {L"build_request_time", L"20240115_101010"}}, nullptr, {},
       {{L"BuildID", L"20240115000000"}}},
      {"own build", {}, nullptr, {}, {{L"BuildID", today_build},
                                       {L"Version", base::UTF8ToWide(GetFullVersionString())},
                                       {L"UBN", std::to_wstring(GetBuildNumber())}}},
      {"e-mail", {}, L"me+you@example.com", {{L"email", L"me+you@example.com"}}, {{L"Email", L"me+you@example.com"}}},
      {"e-mail of 192", {}, email_of_192.c_str(), {}, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SetEnvironmentVariableW(email_variable_.c_str(), row.email);
    const Entries entries(row.keys);
    UploadParameters log;
    AddLogUploadParameters(entries.info(), &log);
    EXPECT_EQ(row.log, log);
    UploadParameters dump;
    AddDumpUploadParameters(entries.info(), &dump);
    for (const auto& [name, value] : row.dump)
      EXPECT_EQ(value, dump[name]) << base::WideToUTF8(name);
    EXPECT_EQ(dump.count(L"Email"), row.dump.count(L"Email"));
    for (const wchar_t* common : {L"ProductName", L"Version", L"UBN", L"ReleaseChannel", L"symbols-package",
                                  L"BuildID"}) {
      EXPECT_EQ(1u, dump.count(common)) << base::WideToUTF8(common);
    }
  }
  UploadParameters self;
  AddSelfDumpUploadParameters(&self);
  EXPECT_EQ(L"crash_reporter", self[L"ProcessType"]);
  EXPECT_EQ(today_build, self[L"BuildID"]);
  AddStacktraceId(L"", &self);
  EXPECT_EQ(0u, self.count(L"stacktraceId"));
  AddStacktraceId(L"abc", &self);
  EXPECT_EQ(L"abc", self[L"stacktraceId"]);
}

TEST_F(CrashMetadataTest, ChannelsAndBuildIds) {
  EXPECT_EQ(L"nightly", ReleaseChannelForStream(2, "whatever"));
  EXPECT_EQ(L"release", ReleaseChannelForStream(4, "whatever"));
  EXPECT_EQ(L"beta", ReleaseChannelForStream(3, "beta"));
  EXPECT_EQ(ReleaseChannelForStream(GetStreamId(), GetStreamName()), [] {
    UploadParameters common;
    AddCommonUploadParameters(&common);
    return common[L"ReleaseChannel"];
  }());
  const struct {
    const wchar_t* build_set;
    const wchar_t* request_time;
    const wchar_t* id;
  } ids[] = {{L"42", L"20240115_101010", L"20240115000042"},
             {L"1234567", L"20240115_101010", L"202401151234567"},
             {L"123456", L"20240115", L"20240115123456"},
             {L"", L"2024", L"2024000000"}};
  for (const auto& row : ids)
    EXPECT_EQ(row.id, FormatBuildId(row.build_set, row.request_time));
}

}  // namespace
}  // namespace installer
}  // namespace zorvi
