#include "desktop/windows/crash_reporter/reporter/crash_url.h"

#include <atomic>
#include <limits>
#include <optional>
#include <vector>

#include "base/logging.h"
#include "base/strings/url_escape.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/product/product_info.h"
#include "desktop/windows/crash_reporter/crash_common.h"
#include "desktop/windows/crash_reporter/reporter/crash_metadata.h"

namespace zorvi {
namespace installer {
namespace {

std::wstring g_crash_url;
std::wstring g_user_agent_suffix;
std::atomic<bool> g_plain_collector_for_testing{false};

// The crash URL and the e-mail address are taken whatever their length.
constexpr size_t kWholeValue = std::numeric_limits<size_t>::max();

// The value comes from the crashed client's keys: a line break in it would end the header and start others, so
// control characters are percent-encoded; any other value goes as it is.
bool AddHeader(HINTERNET request, const wchar_t* name, const std::wstring& value) {
  std::wstring line = std::wstring(name) + L": ";
  for (wchar_t c : value) {
    if (c < 0x20 || c == 0x7F) {
      wchar_t escaped[4];
      swprintf(escaped, 4, L"%%%02X", static_cast<unsigned>(c));
      line += escaped;
    } else {
      line += c;
    }
  }
  line += L"\r\n";
  return HttpAddRequestHeadersW(request, line.c_str(), static_cast<DWORD>(line.size()), HTTP_ADDREQ_FLAG_ADD_IF_NEW);
}

// A response header's value, asked first with a small buffer and again with the size the first call reports.
bool QueryCustomHeader(HINTERNET request, const wchar_t* name, std::wstring* value) {
  std::vector<wchar_t> buffer(wcslen(name) + 1);
  for (int attempt = 0; attempt < 2; ++attempt) {
    wcscpy(buffer.data(), name);  // the query takes the header's name in the buffer
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (HttpQueryInfoW(request, HTTP_QUERY_CUSTOM, buffer.data(), &bytes, nullptr)) {
      value->assign(buffer.data(), bytes / sizeof(wchar_t));
      return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      return false;
    buffer.resize(std::max<size_t>(bytes / sizeof(wchar_t) + 1, wcslen(name) + 1));
  }
  return false;
}

// Closes a request from the system's timer thread once its time passes. WinINet's time-outs bound each stalled
// send or receive only: a server that drips the status line and headers a byte at a time passes every one.
class RequestDeadline {
 public:
  RequestDeadline(HINTERNET request, DWORD limit_ms) : request_(request) {
    if (!CreateTimerQueueTimer(&timer_, nullptr, &RequestDeadline::Expire, this, limit_ms, 0, WT_EXECUTEONLYONCE))
      PLOG(ERROR) << "Could not bound the crash check's answer";
  }
  RequestDeadline(const RequestDeadline&) = delete;
  RequestDeadline& operator=(const RequestDeadline&) = delete;
  ~RequestDeadline() { Stop(); }

  // Stops the timer, waiting for a run under way; true when it closed the request.
  bool Stop() {
    if (timer_) {
      DeleteTimerQueueTimer(nullptr, timer_, INVALID_HANDLE_VALUE);
      timer_ = nullptr;
    }
    return expired_;
  }

 private:
  static VOID CALLBACK Expire(void* self, BOOLEAN) {
    RequestDeadline* deadline = static_cast<RequestDeadline*>(self);
    deadline->expired_ = true;
    base::win::InternetHandleTraits::CloseHandle(deadline->request_);
  }

  HINTERNET request_;
  HANDLE timer_ = nullptr;
  std::atomic<bool> expired_{false};
};

}  // namespace

void InitCrashUrl() {
  g_crash_url = ReadEnvironmentVariable(L"ZORVI_CRASH_SERVER_URL", kWholeValue);
  if (g_crash_url.empty())
    g_crash_url = base::UTF8ToWide(GetBrandingUrl("crash"));
  // The address is the user's text: escaped, so that '&', '+' or '#' in it cannot change the URL's meaning,
  // and joined with '&' when the URL already has a query.
  const std::wstring email = ReadEnvironmentVariable(GetCrashEmailVariableName().c_str(), kWholeValue);
  if (!email.empty()) {
    g_crash_url += g_crash_url.find(L'?') == std::wstring::npos ? L"?email=" : L"&email=";
    g_crash_url += EscapeQueryValue(email);
  }
  g_user_agent_suffix = base::UTF8ToWide(GetEditionSuffix());
}

const std::wstring& GetCrashUrl() {
  return g_crash_url;
}

const std::wstring& GetCrashUserAgentSuffix() {
  return g_user_agent_suffix;
}

std::wstring GetCollectorUrl() {
  CrashServerUrl parts;
  if (!SplitCrashServerUrl(g_crash_url, &parts))
    return std::wstring();
  // A dump holds the crashed process's memory: a plain-http crash address must not make it travel unencrypted.
  if (!parts.secure && !g_plain_collector_for_testing) {
    parts.scheme = L"https";
    parts.port = INTERNET_DEFAULT_HTTPS_PORT;
  }
  return parts.scheme + L"://" + parts.host + L":" + std::to_wstring(parts.port) + L"/collector/submit";
}

void SetPlainCollectorForTesting(bool plain) {
  g_plain_collector_for_testing = plain;
}

std::wstring EscapeQueryValue(const std::wstring& value) {
  return base::UTF8ToWide(base::EscapeUrlText(base::WideToUTF8(value), "@"));
}

bool SplitCrashServerUrl(const std::wstring& url, CrashServerUrl* parts) {
  wchar_t scheme[16], host[256], path[256];
  // The query has a buffer of its own: an escaped e-mail address may make it longer than the path's.
  std::vector<wchar_t> query(url.size() + 1);
  URL_COMPONENTSW components = {};
  components.dwStructSize = sizeof(components);
  components.lpszScheme = scheme;
  components.dwSchemeLength = 16;
  components.lpszHostName = host;
  components.dwHostNameLength = 256;
  components.lpszUrlPath = path;
  components.dwUrlPathLength = 256;
  components.lpszExtraInfo = query.data();
  components.dwExtraInfoLength = static_cast<DWORD>(query.size());
  if (url.empty() || !InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &components))
    return false;
  parts->scheme.assign(scheme, components.dwSchemeLength);
  if (parts->scheme != L"https" && parts->scheme != L"http")
    return false;
  parts->secure = parts->scheme == L"https";
  parts->host.assign(host, components.dwHostNameLength);
  parts->port = components.nPort;
  parts->path.assign(path, components.dwUrlPathLength);
  parts->path.append(query.data(), components.dwExtraInfoLength);
  return true;
}

bool CrashServerRequest::Open(const CrashServerUrl& url, const std::wstring& user_agent, const wchar_t* verb,
                              DWORD flags) {
  internet.Set(InternetOpenW(user_agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!internet.IsValid())
    return false;
  connection.Set(
      InternetConnectW(internet.Get(), url.host.c_str(), url.port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection.IsValid())
    return false;
  if (url.secure)
    flags |= INTERNET_FLAG_SECURE;
  request.Set(HttpOpenRequestW(connection.Get(), verb, url.path.c_str(), nullptr, nullptr, nullptr, flags, 0));
  return request.IsValid();
}

CrashUrlCheckResult CheckCrashUrl(const std::wstring& client_url, const std::wstring& origin,
                                  std::wstring* stacktrace_id, std::wstring* location, int time_limit_ms) {
  CrashServerUrl url;
  if (!SplitCrashServerUrl(g_crash_url, &url))
    return kCrashCheckFailed;
  CrashServerRequest http;
  if (!http.Open(url, kCrashUploadUserAgent + g_user_agent_suffix, L"GET",
                 INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES)) {
    PLOG(ERROR) << "Could not open the crash check request";
    return kCrashCheckFailed;
  }
  if (time_limit_ms > 0) {
    // The receive time-out too: a server that takes the request and never answers would otherwise hold the
    // crash (and the client waiting for its dump) for WinINet's own receive time-out.
    DWORD limit = static_cast<DWORD>(time_limit_ms);
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
      InternetSetOptionW(http.request.Get(), option, &limit, sizeof(limit));
  }
  if (!client_url.empty() && !AddHeader(http.request.Get(), L"X-Zorvi-Crash-URL", client_url))
    return kCrashCheckFailed;
  if (!origin.empty() && !AddHeader(http.request.Get(), L"X-Origin", origin))
    return kCrashCheckFailed;
  std::optional<RequestDeadline> deadline;
  if (time_limit_ms > 0)
    deadline.emplace(http.request.Get(), static_cast<DWORD>(time_limit_ms));
  const bool sent = HttpSendRequestW(http.request.Get(), nullptr, 0, nullptr, 0);
  const DWORD send_error = GetLastError();
  if (deadline && deadline->Stop()) {
    static_cast<void>(http.request.Take());  // the deadline closed it
    LOG(ERROR) << "The crash server's answer took longer than " << time_limit_ms << " ms";
    return kCrashCheckFailed;
  }
  if (!sent) {
    SetLastError(send_error);
    PLOG(ERROR) << "The crash check request failed";
    return kCrashCheckFailed;
  }
  wchar_t status[4] = {};
  DWORD status_bytes = sizeof(status);
  if (!HttpQueryInfoW(http.request.Get(), HTTP_QUERY_STATUS_CODE, status, &status_bytes, nullptr))
    return kCrashCheckFailed;
  const std::wstring status_text(status, wcsnlen(status, 4));
  if (status_text == L"503")
    return kCrashRejected;
  if (status_text != L"303")
    return kCrashCheckFailed;
  std::wstring value;
  if (!QueryCustomHeader(http.request.Get(), L"Location", &value))
    return kCrashCheckFailed;
  const size_t id_start = value.find(L"?id=");
  if (id_start == std::wstring::npos)
    return kCrashCheckFailed;
  const size_t id_end = value.find(L'&', id_start + 4);
  if (id_end == std::wstring::npos)
    return kCrashCheckFailed;
  *location = value;
  *stacktrace_id = value.substr(id_start + 4, id_end - id_start - 4);
  return kCrashAccepted;
}

}  // namespace installer
}  // namespace zorvi
