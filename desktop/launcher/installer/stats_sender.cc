#include "desktop/launcher/installer/stats_sender.h"

#include <vector>

#include "base/command_line.h"
#include "base/features/feature_list.h"
#include "base/json/json_writer.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/windows_version.h"
#include "desktop/launcher/installer/product_info.h"

namespace zorvi::installer {

namespace {

constexpr char kInstallerUiStatsFeature[] = "installer-ui-stats";

}  // namespace

StatsSender::StatsSender(UICallbackRunner* /*ui_callback_runner*/)
    : root_view_(&root_, &guard_, base::TimeTicks::Now()) {
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

  if (base::IsFeatureEnabled(kInstallerUiStatsFeature)) {
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
    if (!root.GetList("fetches", &fetches))
      return;
    for (const auto& fetch : *fetches) {
      const base::DictionaryValue* fetch_dictionary = nullptr;
      const base::ListValue* chunks = nullptr;
      if (!fetch->GetAsDictionary(&fetch_dictionary) || !fetch_dictionary->GetList("download_chunks", &chunks))
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

}  // namespace zorvi::installer
