#include "desktop/launcher/installer/wininet/wininet_stats_observers.h"

#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/records/installer_stats.h"

namespace zorvi::installer {

WininetErrorStatusObserver::WininetErrorStatusObserver(InstallerStats* stats, const std::string& prefix)
    : stats_(stats), prefix_(prefix) {}

void WininetErrorStatusObserver::OnWininetError(uint32_t error) {
  stats_->SetInteger(prefix_ + "wininet_error", static_cast<int>(error));
}

void WininetErrorStatusObserver::OnHttpStatus(uint32_t status) {
  stats_->SetInteger(prefix_ + "http_status", static_cast<int>(status));
}

WininetChunkStatsObserver::WininetChunkStatsObserver(InstallerStats* parent, const std::string& list_key)
    : parent_(parent), list_key_(list_key) {}

WininetChunkStatsObserver::~WininetChunkStatsObserver() = default;

void WininetChunkStatsObserver::OnChunkStart(uint32_t received) {
  chunk_ = parent_->AppendDictionary(list_key_);
  chunk_->SetInteger("chunk_start", static_cast<int>(received));
  chunk_->SetInteger("chunk_number", chunk_number_);
  chunk_->RecordTime("chunk_start_time");
}

void WininetChunkStatsObserver::OnConnectedToIp(const std::string& ip) {
  if (chunk_)
    chunk_->SetString("ip", ip);
}

void WininetChunkStatsObserver::OnRedirect(const std::wstring& url) {
  if (chunk_)
    chunk_->SetString("redirected_url", base::WideToUTF8(url));
}

void WininetChunkStatsObserver::OnHeader(const std::wstring& name, const std::wstring& value) {
  if (chunk_)
    chunk_->SetString("headers." + base::WideToUTF8(name), base::WideToUTF8(value));
}

void WininetChunkStatsObserver::OnWininetError(uint32_t error) {
  if (chunk_)
    chunk_->SetInteger("wininet_error", static_cast<int>(error));
}

void WininetChunkStatsObserver::OnHttpStatus(uint32_t status) {
  if (chunk_)
    chunk_->SetInteger("http_status", static_cast<int>(status));
}

void WininetChunkStatsObserver::OnRetry(int retry_count) {
  if (chunk_)
    chunk_->SetInteger("retry_count", retry_count);
}

void WininetChunkStatsObserver::OnChunkEnd(uint32_t received) {
  if (!chunk_)
    return;
  chunk_->SetInteger("chunk_end", static_cast<int>(received));
  chunk_->RecordTime("chunk_end_time");
  ++chunk_number_;
}

}  // namespace zorvi::installer
