#include "desktop/launcher/installer/stats_sender.h"

#include <memory>
#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/json/json_writer.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/windows_version.h"
#include "desktop/common/product/installer_experiments.h"
#include "desktop/common/product/installer_switches.h"
#include "desktop/common/product/product_info.h"
#include "desktop/launcher/installer/package_fetcher/download_hosts.h"

namespace zorvi::installer {

namespace {

constexpr wchar_t kLocalStatsServer[] = L"http://localhost:3000";
constexpr char kFeedbackPath[] = "netinstaller/feedback";
// Retries of a send that may not wait for the network: three more requests, 6 s apart.
constexpr int kRetriesWithoutNetworkWait = 2;

}  // namespace

StatsSender::StatsSender(UICallbackRunner* ui_callback_runner)
    : root_view_(&root_, &guard_, base::TimeTicks::Now()), downloader_(ui_callback_runner, nullptr) {
  RecordInstallerStats();
}

StatsSender::~StatsSender() = default;

void StatsSender::RecordInstallerStats() {
  root_view_.RecordTime("installer_start_time");
  root_view_.SetCurrentTime("installation_start_time");
  root_view_.SetString("version", GetFullVersionString());
  root_view_.SetString("stream", GetStreamName());
  root_view_.SetString("product", GetProductName());

  const base::win::OSInfo* os = base::win::OSInfo::GetInstance();
  root_view_.SetString("os.name", "windows");
  root_view_.SetInteger("os.version.major", static_cast<int>(os->version_number().major));
  root_view_.SetInteger("os.version.minor", static_cast<int>(os->version_number().minor));
  root_view_.SetInteger("os.version.build", static_cast<int>(os->version_number().build));
  root_view_.SetInteger("os.service_pack.major", os->service_pack().major);
  root_view_.SetInteger("os.service_pack.minor", os->service_pack().minor);

  if (InstallerUiStatsEnabled()) {
    root_view_.SetString("command_line_args",
                         base::WideToUTF8(base::CommandLine::ForCurrentProcess()->GetArgumentsString()));
  }
}

void StatsSender::SummarizeDownloads() {
  int chunk_records = 0;
  std::vector<std::string> addresses;
  {
    base::AutoLock hold(guard_.lock());
    const base::DictionaryValue& root = root_;
    const base::ListValue* fetches = nullptr;
    if (!root.GetList(kFetchesStatsKey, &fetches))
      return;
    for (const auto& fetch : *fetches) {
      const base::DictionaryValue* fetch_dictionary = nullptr;
      const base::ListValue* chunks = nullptr;
      if (!fetch->GetAsDictionary(&fetch_dictionary) || !fetch_dictionary->GetList(kDownloadChunksStatsKey, &chunks))
        continue;
      chunk_records += static_cast<int>(chunks->GetSize());
      for (const auto& chunk : *chunks) {
        const base::DictionaryValue* chunk_dictionary = nullptr;
        std::string address;
        if (chunk->GetAsDictionary(&chunk_dictionary) && chunk_dictionary->GetString("ip", &address))
          addresses.push_back(address);
      }
    }
  }
  // The lock is not re-entrant: the view takes it again for each write.
  root_view_.SetInteger("wininet_retries", chunk_records);
  root_view_.SetString("download_ips", base::JoinString(addresses, "; "));
}

bool StatsSender::SerializeAsJson(std::string* json) {
  base::AutoLock hold(guard_.lock());
  return base::JsonWriter::Write(root_, json);
}

bool StatsSender::Send(base::Closure done, bool wait_for_network) {
  SummarizeDownloads();
  // The loopback address is not among the hosts: the local statistics server is reached by name.
  std::vector<std::wstring> hosts = {kMakerDomainSuffix, L"localhost"};
  AppendBrandingDomain(GetBrandingDomain(), &hosts);
  downloader_.set_allowed_hosts(hosts);
  if (!wait_for_network) {
    VLOG(1) << "Don't wait for network when sending stats";
    downloader_.set_maximum_retries(kRetriesWithoutNetworkWait);
  }
  std::string json;
  if (!SerializeAsJson(&json)) {
    LOG(ERROR) << "Failed to write stats as JSON";
    done.Run();
    return false;
  }
  // The switch's value is not looked at: the local server has one address.
  const std::wstring url = base::CommandLine::ForCurrentProcess()->HasSwitch(kLocalStatsServerSwitch)
                               ? kLocalStatsServer
                               : base::UTF8ToWide(GetBrandingUrl("autoupdate") + kFeedbackPath);
  // The downloader takes the callback only when it starts.
  base::Closure not_sent = done;
  if (downloader_.StartDownload(url, json, std::move(done), std::make_unique<WininetResponseWriter>(),
                                std::make_unique<WininetObserver>())) {
    return true;
  }
  not_sent.Run();
  LOG(ERROR) << "Failed to send the stats request";
  return false;
}

}  // namespace zorvi::installer
