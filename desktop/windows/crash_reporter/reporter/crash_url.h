// The crash server: its address (set once per reporter before any request), the check that asks it whether it
// wants a crash, and what the reporter's requests to it share (the user agent, the URL split, the request).
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_URL_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_URL_H_

#include <windows.h>
#include <wininet.h>

#include <string>

#include "base/win/scoped_internet_handle.h"

namespace zorvi {
namespace installer {

// The user agent of every request to the crash service; the crash log's requests append the edition suffix.
inline constexpr wchar_t kCrashUploadUserAgent[] = L"CrashUploader/1.0 (Windows)";

// The crash URL: "ZORVI_CRASH_SERVER_URL", else the branding's "crash" URL, with the crash e-mail variable's
// address (percent-encoded) as the "email" query field; and the user-agent suffix, the build's edition. Called
// once on the main thread before any request; read-only afterwards.
void InitCrashUrl();
const std::wstring& GetCrashUrl();
const std::wstring& GetCrashUserAgentSuffix();

// Where minidumps go: the crash URL's host with the path "/collector/submit", always over HTTPS (an https crash
// URL's port is kept; a plain-http one's speaks plain HTTP, so the default HTTPS port is used); empty when the
// crash URL does not split.
std::wstring GetCollectorUrl();
// Test-only: the collector follows the crash URL's scheme and port, because the tests' loopback servers speak
// plain HTTP only.
void SetPlainCollectorForTesting(bool plain);

// What the crash server answered CheckCrashUrl.
enum CrashUrlCheckResult : int {
  kCrashAccepted = 0,  // 303 to a location with an id
  kCrashRejected = 1,  // 503
  kCrashCheckFailed = 2,
};

// Asks the crash server (GET on the crash URL, no redirects or cookies) about a crash of a client that showed
// `client_url`, from `origin`. On acceptance *stacktrace_id and *location receive the id and the whole location.
// `time_limit_ms` above 0 bounds connecting, sending and waiting for the answer.
CrashUrlCheckResult CheckCrashUrl(const std::wstring& client_url, const std::wstring& origin,
                                  std::wstring* stacktrace_id, std::wstring* location, int time_limit_ms);

// An http or https URL in parts; false for any other scheme or a URL that does not split.
struct CrashServerUrl {
  std::wstring scheme;
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring path;  // with the query
  bool secure = false;
};
bool SplitCrashServerUrl(const std::wstring& url, CrashServerUrl* parts);

// A session, connection and request for one call to the crash service: `verb` on the URL's path with `flags`
// (plus the secure flag for https). False when any of them cannot be opened.
struct CrashServerRequest {
  bool Open(const CrashServerUrl& url, const std::wstring& user_agent, const wchar_t* verb, DWORD flags);

  // Members are destroyed in reverse order: the request closes first, the session last.
  base::win::ScopedInternetHandle internet;
  base::win::ScopedInternetHandle connection;
  base::win::ScopedInternetHandle request;
};

// Percent-encodes UTF-8 text for a URL's query, keeping A-Z a-z 0-9 - . _ ~ @.
std::wstring EscapeQueryValue(const std::wstring& value);

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_URL_H_
