// The overrides fetcher against the loopback server: the server's log says what was asked, the folder what was
// kept; the served overrides and the tracking data come with sha256sum's digests (testdata_setup.sh).
#include "desktop/launcher/installer/pref_default_overrides_fetcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/features/feature_list.h"
#include "base/features/list_feature_reader.h"
#include "base/files/file_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "desktop/common/product/product_info.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/installer_test_util.h"
#include "desktop/launcher/installer/update_service_test_util.h"
#include "testing/test_programs.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

using test_support::LoggedRequest;

constexpr char kFeature[] = "installer-pref-default-overrides-support";

std::string ReadServed(const std::wstring& name) {
  std::string bytes;
  EXPECT_TRUE(base::ReadFileToString(test::TestDataFile(L"served").Append(name), &bytes)) << name;
  return bytes;
}

class PrefDefaultOverridesFetcherTest : public test::UpdateServiceTest {
 protected:
  PrefDefaultOverridesFetcherTest() { base::FeatureList::GetInstance()->AddFeature(kFeature, false, true); }

  void SetFeature(bool enabled) {
    base::ListValue overrides;
    overrides.AppendString(std::string(kFeature) + (enabled ? "@1" : "@2"));
    base::FeatureList::GetInstance()->InitializeFromReader(base::ListFeatureReader(&overrides));
  }

  // Fetches with a new fetcher; how often done ran inside Fetch and in all.
  struct Outcome {
    int inside_fetch;
    int in_all;
  };
  Outcome Fetch(const std::string& tracking_data) {
    PrefDefaultOverridesFetcher fetcher(base::FilePath(folder_.path()), ui_runner());
    test::DoneCounter done;
    fetcher.Fetch(tracking_data, done.Callback());
    const int inside_fetch = done.count();
    return {inside_fetch, done.Wait()};
  }
  base::FilePath OutputPath() const { return base::FilePath(folder_.path()).Append(L"pref_default_overrides"); }

  test_support::ScopedTestFolder folder_{L"overrides"};
};

// The answer is kept only when the service gives one; failures leave no file and done runs once on every path.
TEST_F(PrefDefaultOverridesFetcherTest, OverridesAreKeptOnlyWhenTheServiceAnswers) {
  const struct {
    const char* name;
    bool feature;
    const char* fault;  // of the row's path; null for no request expected
    size_t requests;
    bool kept;
  } kRows[] = {
      {"feature off", false, nullptr, 0, false},
      {"answered", true, R"([{"body_file": "/overrides.json"}])", 1, true},
      {"not found", true, R"([{"status": 404, "body": "no overrides here"}])", 1, false},
      {"unavailable", true, R"([{"status": 503, "times": "all"}])", 2, false},
      {"host not allowed", true, nullptr, 0, false},
  };
  std::string faults;
  for (size_t i = 0; i < std::size(kRows); ++i) {
    if (kRows[i].fault)
      faults += (faults.empty() ? "" : ", ") + ("\"/overrides/" + std::to_string(i) + "\": ") + kRows[i].fault;
  }
  StartServer("{" + faults + "}");
  const std::string tracking = ReadServed(L"tracking.txt");
  for (size_t i = 0; i < std::size(kRows); ++i) {
    const auto& row = kRows[i];
    SCOPED_TRACE(row.name);
    SetFeature(row.feature);
    // The branding has no domain of its own: 127.0.0.2 is on no allow-list.
    UseSwitches({L"--local-pref-default-overrides-server=" +
                 server().Url("/overrides/" + std::to_string(i), i == 4 ? "127.0.0.2" : "127.0.0.1")});
    const Outcome outcome = Fetch(tracking);
    EXPECT_EQ(1, outcome.in_all);
    EXPECT_EQ(row.fault ? 0 : 1, outcome.inside_fetch) << "done runs inside Fetch exactly when nothing is sent";
    std::string kept;
    EXPECT_EQ(row.kept, base::ReadFileToString(OutputPath(), &kept));
    if (row.kept) {
      EXPECT_EQ(ReadServed(L"overrides.json"), kept);
    }
    base::DeleteFile(OutputPath(), false);
  }
  const std::vector<LoggedRequest> log = server().StopAndReadLog();
  const std::string tracking_sha256 =
      test_support::Sha256SumOf(test::TestDataFile(L"served_sha256.txt").value(), "tracking.txt");
  size_t all_requests = 0;
  for (size_t i = 0; i < std::size(kRows); ++i) {
    const std::vector<LoggedRequest> asked = test_support::RequestsTo(log, "/overrides/" + std::to_string(i));
    EXPECT_EQ(kRows[i].requests, asked.size()) << kRows[i].name;
    for (const LoggedRequest& request : asked) {
      EXPECT_EQ("POST", request.method);
      EXPECT_EQ(tracking_sha256, request.body_sha256);
    }
    all_requests += kRows[i].requests;
  }
  EXPECT_EQ(all_requests, log.size()) << "no other request";
}

// Destroyed while the service has not answered yet: the file opened for the answer goes too.
TEST_F(PrefDefaultOverridesFetcherTest, FetcherDestroyedMidFetchLeavesNoFile) {
  // The stalled connection stays open until the server ends: its session is not waited for.
  SetDownloadTerminationWaitForTesting(0);
  StartServer(R"({"/overrides/stalled": [{"body_file": "/overrides.json", "stall": 10}]})");
  SetFeature(true);
  UseSwitches({L"--local-pref-default-overrides-server=" + server().Url("/overrides/stalled", "127.0.0.1")});
  {
    PrefDefaultOverridesFetcher fetcher(base::FilePath(folder_.path()), ui_runner());
    test::DoneCounter done;
    fetcher.Fetch("t", done.Callback());
    ASSERT_TRUE(server().WaitForRequest("/overrides/stalled", 120000));
    ASSERT_TRUE(base::PathExists(OutputPath()));
  }
  EXPECT_FALSE(base::PathExists(OutputPath()));
  server().StopAndReadLog();
  SetDownloadTerminationWaitForTesting(-1);
}

// Without the switch the branding's service is asked with the product name and version as they stand (the
// downloader escapes the blank for the request line); the bare switch asks this machine on port 3001, which
// the server holds under a lock shared with every other user of the fixed ports; a valued switch its value.
TEST_F(PrefDefaultOverridesFetcherTest, RequestGoesWhereTheSwitchAndTheBrandingSay) {
  StartServer("", 3001);
  if (IsSkipped())  // another program holds the port
    return;
  SetAutoupdateUrl("localhost", "/base/");
  SetFeature(true);
  const struct {
    std::vector<std::wstring> switches;
    std::string target;
  } kRows[] = {
      {{}, "/base/api/prefs/?product=Test%20Product&version=" + GetFullVersionString()},
      {{L"--local-pref-default-overrides-server"}, "/"},
      {{L"--local-pref-default-overrides-server=" + server().Url("/exact/path?x=1")}, "/exact/path?x=1"},
  };
  UseSwitches({});
  EXPECT_EQ(server().Url("/base/api/prefs/?product=Test Product&version=" + GetFullVersionString(), "localhost"),
            PrefDefaultOverridesFetcher::BuildRequestUrl());
  std::vector<std::string> expected;
  for (const auto& row : kRows) {
    UseSwitches(row.switches);
    EXPECT_EQ(1, Fetch("t").in_all) << row.target;
    expected.push_back(row.target);
  }
  std::vector<std::string> asked;
  for (const LoggedRequest& request : server().StopAndReadLog())
    asked.push_back(request.target);
  EXPECT_EQ(expected, asked);
}

}  // namespace
}  // namespace zorvi::installer
