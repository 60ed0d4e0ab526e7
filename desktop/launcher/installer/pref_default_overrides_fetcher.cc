#include "desktop/launcher/installer/pref_default_overrides_fetcher.h"

#include <memory>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/features/feature_list.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/product/installation_files.h"
#include "desktop/common/product/installer_experiments.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/common/product/product_info.h"
#include "desktop/launcher/installer/package_fetcher/download_hosts.h"
#include "desktop/launcher/installer/wininet/wininet_response_writer.h"

namespace zorvi::installer {

namespace {

constexpr wchar_t kLocalServer[] = L"http://localhost:3001";
constexpr char kRequestPath[] = "api/prefs/?product=$1&version=$2";

}  // namespace

PrefDefaultOverridesFetcher::PrefDefaultOverridesFetcher(const base::FilePath& folder,
                                                         UICallbackRunner* ui_callback_runner)
    : output_path_(folder.Append(kPrefDefaultOverridesFileName)), downloader_(ui_callback_runner, nullptr) {}

PrefDefaultOverridesFetcher::~PrefDefaultOverridesFetcher() {
  // A fetch cut short is a failed one: the answer's file, open since the request went out, goes.
  if (!done_.is_null()) {
    downloader_.Stop();
    base::DeleteFile(output_path_, false);
  }
}

// static
std::wstring PrefDefaultOverridesFetcher::BuildRequestUrl() {
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (command_line.HasSwitch(kLocalPrefDefaultOverridesServerSwitch)) {
    const std::wstring server = command_line.GetSwitchValueNative(kLocalPrefDefaultOverridesServerSwitch);
    return server.empty() ? kLocalServer : server;
  }
  // The service takes the names as they stand; the downloader escapes what a request line cannot carry.
  const std::string query =
      base::ReplaceStringPlaceholders(kRequestPath, {GetBrandingProductName(), GetFullVersionString()}, nullptr);
  return base::UTF8ToWide(GetBrandingUrl("autoupdate") + query);
}

void PrefDefaultOverridesFetcher::Fetch(const std::string& tracking_data, base::Closure done) {
  if (!base::IsFeatureEnabled(kPrefDefaultOverridesFeature)) {
    done.Run();
    return;
  }
  LOG(INFO) << "Fetching default prefs overrides to " << output_path_.value() << " with tracking data "
            << tracking_data;
  std::vector<std::wstring> hosts = {kMakerDomainSuffix, kDevelopmentDomainSuffix, L"localhost", L"127.0.0.1"};
  AppendBrandingDomain(GetBrandingDomain(), &hosts);
  downloader_.set_allowed_hosts(hosts);
  // Still one retry: the service is asked twice at most.
  downloader_.set_maximum_retries(0);
  // A file that cannot be opened fails the download at its first write.
  auto writer = std::make_unique<WininetFileResponseWriter>();
  writer->Open(output_path_);
  done_ = std::move(done);
  if (!downloader_.StartDownload(BuildRequestUrl(), tracking_data,
                                 base::Bind(&PrefDefaultOverridesFetcher::OnFetched, base::Unretained(this)),
                                 std::move(writer), std::make_unique<WininetObserver>())) {
    LOG(ERROR) << "Failed sending request for default prefs overrides";
    base::DeleteFile(output_path_, false);
    std::exchange(done_, base::Closure()).Run();
  }
}

void PrefDefaultOverridesFetcher::OnFetched() {
  if (downloader_.state() == Wininet::kCompleted) {
    LOG(INFO) << "Default prefs overrides fetched successfully";
  } else {
    base::DeleteFile(output_path_, false);
    LOG(ERROR) << "Failed fetching default prefs overrides";
  }
  std::exchange(done_, base::Closure()).Run();
}

}  // namespace zorvi::installer
