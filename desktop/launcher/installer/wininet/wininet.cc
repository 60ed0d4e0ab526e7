#include "desktop/launcher/installer/wininet/wininet.h"

#include <algorithm>
#include <cwchar>
#include <utility>

#include "base/bind.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_piece.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/win/scoped_internet_handle.h"
#include "desktop/common/product/product_info.h"
#include "desktop/common/product/test_seams.h"
#include "desktop/launcher/installer/wininet/package_fetcher_delegate.h"
#include "desktop/launcher/installer/wininet/ui_callback_runner.h"
#include "desktop/launcher/installer/wininet/wininet_session.h"

namespace zorvi::installer {

namespace {

constexpr wchar_t kUserAgentPrefix[] = L"Zorvi NetInstaller/";
constexpr DWORD kHostBufferSize = 256;
constexpr DWORD kPathBufferSize = 4096;
// Response headers recorded in the download statistics, in this order.
constexpr const wchar_t* kRecordedHeaders[] = {L"Date", L"Server", L"X-Served-By"};

// Request completions that say the network, not the server, failed: worth retrying.
bool IsConnectivityError(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_TIMEOUT:
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
      return true;
    default:
      return false;
  }
}

// Read failures after which the transfer is resumed rather than failed.
bool IsLossOfConnectivity(DWORD error) {
  return error == ERROR_INTERNET_NAME_NOT_RESOLVED || error == ERROR_INTERNET_CONNECTION_ABORTED ||
         error == ERROR_INTERNET_CONNECTION_RESET;
}

// The value of response header `name` (HTTP_QUERY_CUSTOM), or of the one `info_level` names; empty when the
// response has none.
std::wstring QueryHeader(HINTERNET request, const wchar_t* name, DWORD info_level = HTTP_QUERY_CUSTOM) {
  // A custom header's name goes in through the buffer that the value comes back in.
  std::wstring buffer(name);
  buffer.resize(std::max<size_t>(buffer.size() + 1, 128));
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (HttpQueryInfoW(request, info_level, buffer.data(), &size, nullptr))
      return buffer.substr(0, size / sizeof(wchar_t));
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      return std::wstring();
    buffer.assign(name);
    buffer.resize(size / sizeof(wchar_t) + 1);
  }
}

bool IsRedirectStatus(DWORD status) {
  switch (status) {
    case HTTP_STATUS_MOVED:
    case HTTP_STATUS_REDIRECT:
    case HTTP_STATUS_REDIRECT_METHOD:
    case HTTP_STATUS_REDIRECT_KEEP_VERB:
    case HTTP_STATUS_PERMANENT_REDIRECT:
      return true;
    default:
      return false;
  }
}

// `location` made absolute against `base` when it is relative, with its spaces escaped and the rest as given.
bool CombineUrl(const std::wstring& base, const std::wstring& location, std::wstring* url) {
  std::wstring buffer(INTERNET_MAX_URL_LENGTH, L'\0');
  for (;;) {
    DWORD length = static_cast<DWORD>(buffer.size());
    if (InternetCombineUrlW(base.c_str(), location.c_str(), buffer.data(), &length, ICU_ENCODE_SPACES_ONLY)) {
      url->assign(buffer.data(), length);
      return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || length < buffer.size())
      return false;
    buffer.resize(length + 1);
  }
}

bool QueryContentLength(HINTERNET request, uint32_t* length) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr))
    return false;
  *length = value;
  return true;
}

// The first byte a 206 answer holds, from its Content-Range ("bytes <first>-<last>/<total>").
bool PartialContentStart(const std::wstring& range, uint32_t* start) {
  const base::StringPiece16 prefix = L"bytes ";
  const size_t dash = range.find(L'-');
  unsigned value = 0;
  if (range.compare(0, prefix.size(), prefix.data(), prefix.size()) != 0 || dash == std::wstring::npos ||
      !base::StringToUint(base::StringPiece16(range).substr(prefix.size(), dash - prefix.size()), &value)) {
    return false;
  }
  *start = value;
  return true;
}

// The size of the whole body as a 206 answer's Content-Range states it (the "/total").
bool PartialContentStatedTotal(const std::wstring& range, uint32_t* total) {
  const size_t slash = range.rfind(L'/');
  unsigned value = 0;
  if (slash == std::wstring::npos || !base::StringToUint(base::StringPiece16(range).substr(slash + 1), &value))
    return false;
  *total = value;
  return true;
}

// The size of the whole body that a 206 answer is part of: the stated total, else the bytes already held plus its
// Content-Length. Without it a 206 cut short would pass for a complete body.
bool QueryPartialContentTotal(HINTERNET request, const std::wstring& range, uint32_t received, uint32_t* total) {
  if (PartialContentStatedTotal(range, total))
    return true;
  uint32_t length = 0;
  if (!QueryContentLength(request, &length) || length > UINT32_MAX - received)
    return false;
  *total = received + length;
  return true;
}

// The dialog may come up long after the answer (a controller holds UI requests until its user accepts): by then
// the download may have ended, and its request handle be closed or reused for another request.
uint32_t ShowProxyCredentialsDialog(DWORD_PTR context, HINTERNET request, HWND window) {
  const base::scoped_refptr<WininetSession> session = WininetSession::Find(context);
  if (!session || session->cancelled())
    return ERROR_CANCELLED;
  return InternetErrorDlg(window, request, ERROR_INTERNET_INCORRECT_PASSWORD,
                          FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                              FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
                          nullptr);
}

base::TimeDelta RetryDelay() {
  const int64_t seam = GetDownloadRetryDelaySeam();
  return seam >= 0 ? base::TimeDelta::FromMilliseconds(seam) : Wininet::kRetryDelay;
}

base::TimeDelta TerminationWait() {
  const int64_t seam = GetDownloadTerminationWaitSeam();
  return seam >= 0 ? base::TimeDelta::FromMilliseconds(seam) : Wininet::kTerminationWait;
}

int InitialMaximumRetries() {
  const int seam = GetDownloadMaximumRetriesSeam();
  return seam >= 0 ? seam : Wininet::kDefaultMaximumRetries;
}

}  // namespace

Wininet::Wininet(UICallbackRunner* ui_callback_runner, PackageFetcherDelegate* delegate)
    : ui_callback_runner_(ui_callback_runner), delegate_(delegate), maximum_retries_(InitialMaximumRetries()) {
  CHECK(ui_callback_runner_);
  weak_this_ = weak_factory_.GetWeakPtr();
}

Wininet::~Wininet() {
  CloseSession();
  if (termination_thread_) {
    termination_thread_->Join();
    termination_thread_.reset();
  }
  weak_factory_.InvalidateWeakPtrs();
  on_done_.Reset();
}

bool Wininet::IsHostAllowed(const std::wstring& host, const std::vector<std::wstring>& allowed) {
  if (allowed.empty())
    return true;
  for (const std::wstring& suffix : allowed) {
    if (suffix.size() <= host.size() && host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0)
      return true;
  }
  return false;
}

bool Wininet::ParseUrl(const std::wstring& url, UrlParts* parts) {
  wchar_t host[kHostBufferSize];
  wchar_t path[kPathBufferSize];
  URL_COMPONENTSW components = {};
  components.dwStructSize = sizeof(components);
  components.lpszHostName = host;
  components.dwHostNameLength = kHostBufferSize - 1;
  components.lpszUrlPath = path;
  components.dwUrlPathLength = kPathBufferSize - 1;
  // Not decoded: the request goes out as the URL was given. Decoding turns an escaped "&", "=", "+" or "/" of a
  // path or query (a signed address's token, say) into one that means something else to the server.
  if (!InternetCrackUrlW(url.c_str(), 0, 0, &components))
    return false;
  parts->url = url;
  parts->scheme = components.nScheme;
  parts->host.assign(host, components.dwHostNameLength);
  parts->port = components.nPort;
  parts->path.assign(path, components.dwUrlPathLength);
  return true;
}

bool Wininet::StartDownload(const std::wstring& url, const std::string& post_data, base::Closure on_done,
                            std::unique_ptr<WininetResponseWriter> writer,
                            std::unique_ptr<WininetObserver> observer) {
  LOG(INFO) << "Starting download from " << base::WideToUTF8(url);
  CHECK(writer);
  CHECK(observer);
  // Owners start after the previous download ended; should one not, the old session lets go of the writer and
  // observer before they are replaced.
  CloseSession();
  writer_ = std::move(writer);
  observer_ = std::move(observer);
  on_done_ = std::move(on_done);
  owner_task_runner_ = base::ThreadTaskRunnerHandle::Get();
  const State previous_state = state();

  if (!ParseUrl(url, &url_)) {
    PLOG(ERROR) << "Could not parse URL";
    return RefuseStart();
  }
  if (!IsHostAllowed(url_.host, allowed_hosts_)) {
    LOG(ERROR) << "Attempting to download from a disallowed domain";
    return RefuseStart();
  }
  if (post_data.size() > MAXDWORD) {
    LOG(ERROR) << "The request body is too large to send";
    return RefuseStart();
  }
  if (termination_thread_) {
    VLOG(1) << "Waiting for previous WinINET invocation to terminate.";
    termination_thread_->Join();
    termination_thread_.reset();
  }
  expected_size_ = 0;
  total_reported_ = 0;
  received_ = 0;
  received_most_ = 0;
  start_over_retries_ = 0;
  progress_reported_ = 0;
  redirects_ = 0;

  const std::wstring user_agent = kUserAgentPrefix + base::UTF8ToWide(GetFullVersionString());
  HINTERNET internet =
      InternetOpenW(user_agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
  if (!internet) {
    PLOG(ERROR) << "Could not open internet";
    return RefuseStart();
  }
  session_ = WininetSession::Create(this, post_data);
  session_->set_internet(internet);
  InternetSetStatusCallbackW(internet, &Wininet::InternetStatusCallback);

  if (!ConnectTo(url_)) {
    CloseSession();
    return RefuseStart();
  }
  {
    WininetSession::AutoLock hold(session_.get());
    observer_->OnChunkStart(received_);
  }
  if (!OpenRequest(url_, !post_data.empty(), std::wstring())) {
    LOG(ERROR) << "Could not send Request";
    CloseSession();
    SetState(previous_state);
    return RefuseStart();
  }
  return true;
}

bool Wininet::RefuseStart() {
  on_done_.Reset();
  // Nothing will be written: a file writer lets go of its file, which its owner may then remove.
  writer_->Close();
  return false;
}

void Wininet::Stop() {
  LOG(INFO) << "Stopping the download";
  CloseSession();
  on_done_.Reset();
  SetState(kStopped);
}

bool Wininet::ConnectTo(const UrlParts& target) {
  WininetSession* const session = session_.get();
  {
    WininetSession::AutoLock hold(session);
    if (connection_.IsValid() && connected_.host == target.host && connected_.port == target.port)
      return true;
  }
  HINTERNET connection = InternetConnectW(session->internet(), target.host.c_str(), target.port, nullptr, nullptr,
                                          INTERNET_SERVICE_HTTP, 0, session->context());
  if (!connection) {
    PLOG(ERROR) << "Could not start session";
    return false;
  }
  session->OnHandleCreated();
  base::win::ScopedInternetHandle previous;
  {
    WininetSession::AutoLock hold(session);
    previous = std::move(connection_);
    connection_.Set(connection);
    connected_ = target;
  }
  previous.Close();
  return true;
}

bool Wininet::OpenRequest(const UrlParts& target, bool send_body, const std::wstring& headers) {
  VLOG(1) << "Opening internet request";
  WininetSession* const session = session_.get();
  const bool post = send_body && !session->post_data().empty();
  // Redirects are followed here, each new address checked first: WinINet would send the request before telling.
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT;
  if (target.scheme == INTERNET_SCHEME_HTTPS)
    flags |= INTERNET_FLAG_SECURE;
  HINTERNET connection = nullptr;
  {
    WininetSession::AutoLock hold(session);
    connection = connection_.Get();
  }
  HINTERNET request = HttpOpenRequestW(connection, post ? L"POST" : L"GET", target.path.c_str(), L"HTTP/1.1",
                                       nullptr, nullptr, flags, session->context());
  if (!request) {
    PLOG(ERROR) << "Could not open Request";
    return false;
  }
  session->OnHandleCreated();
  {
    WininetSession::AutoLock hold(session);
    request_.Set(request);
    request_url_ = target;
    request_has_body_ = post;
    session->request_headers() = headers;
    // A read that failed may have left its count; the new request's first step must not write it again.
    *session->bytes_read() = 0;
    *session->bytes_available() = 0;
    question_pending_ = false;
    most_at_request_ = received_most_;
    received_at_request_ = received_;
    // Before sending: the completion may come before HttpSendRequestW returns.
    SetState(kRequesting);
  }
  VLOG(1) << (post ? "Sending POST request" : "Sending GET request");
  const std::wstring& sent_headers = session->request_headers();
  if (!HttpSendRequestW(request, sent_headers.empty() ? nullptr : sent_headers.c_str(),
                        static_cast<DWORD>(sent_headers.size()),
                        post ? const_cast<char*>(session->post_data().data()) : nullptr,
                        post ? static_cast<DWORD>(session->post_data().size()) : 0) &&
      GetLastError() != ERROR_IO_PENDING) {
    PLOG(ERROR) << "Could not send Request";
    return false;
  }
  return true;
}

void CALLBACK Wininet::InternetStatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, void* info,
                                              DWORD info_length) {
  VLOG(2) << "InternatStatusCallback called with code " << status;
  switch (status) {
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
    case INTERNET_STATUS_REQUEST_COMPLETE:
    case INTERNET_STATUS_HANDLE_CLOSING:
      break;
    default:
      return;  // every read reports receiving and received; finding the session for those would cost more
  }
  base::scoped_refptr<WininetSession> session = WininetSession::Find(context);
  if (!session)
    return;  // a session closed long ago
  if (session->cancelled()) {
    session->AcknowledgeCancel();
  } else if (status == INTERNET_STATUS_CONNECTED_TO_SERVER || status == INTERNET_STATUS_REQUEST_COMPLETE) {
    WininetSession::AutoLock hold(session.get());
    if (Wininet* downloader = session->downloader())
      downloader->OnStatus(session.get(), handle, status, info, info_length);
    else
      session->AcknowledgeCancel();
  }
  if (status == INTERNET_STATUS_HANDLE_CLOSING)
    session->OnHandleClosing(handle);
}

void Wininet::OnStatus(WininetSession* session, HINTERNET handle, DWORD status, void* info, DWORD info_length) {
  // Only the current request's events count; a request closed by a resume or a redirect may still report.
  if (handle != request_.Get() || !info)
    return;
  switch (status) {
    case INTERNET_STATUS_CONNECTED_TO_SERVER: {
      const char* address = static_cast<const char*>(info);
      observer_->OnConnectedToIp(std::string(address, strnlen(address, info_length)));
      break;
    }
    case INTERNET_STATUS_REQUEST_COMPLETE: {
      const INTERNET_ASYNC_RESULT* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
      // The answer to a question for the available bytes carries their count where other completions carry
      // their error, so only its result tells whether it failed.
      const bool answers_question = std::exchange(question_pending_, false);
      OnRequestComplete(session, answers_question && result->dwResult ? ERROR_SUCCESS : result->dwError);
      break;
    }
  }
}

void Wininet::OnRedirect(WininetSession* session, DWORD status, const std::wstring& location) {
  VLOG(1) << "Redirect occured";
  std::wstring url;
  UrlParts target;
  const bool combined = CombineUrl(request_url_.url, location, &url);
  observer_->OnRedirect(combined ? url : location);
  if (!combined || !ParseUrl(url, &target)) {
    PLOG(ERROR) << "Failed to parse redirect URL";
  } else if (!IsHostAllowed(target.host, allowed_hosts_)) {
    LOG(ERROR) << "Attempting to redirect to a disallowed domain: " << base::WideToUTF8(target.host);
  } else if (target.scheme != INTERNET_SCHEME_HTTP && target.scheme != INTERNET_SCHEME_HTTPS) {
    LOG(ERROR) << "Refusing to redirect to a scheme other than HTTP and HTTPS";
  } else if (request_url_.scheme == INTERNET_SCHEME_HTTPS && target.scheme == INTERNET_SCHEME_HTTP) {
    LOG(ERROR) << "Refusing to redirect from HTTPS to HTTP";  // the request and its data would go out unencrypted
  } else if (redirects_ >= kMaximumRedirects) {
    LOG(ERROR) << "Too many redirects";
  } else {
    ++redirects_;
    // 303, and 301 and 302 of a POST, ask for the new address with a GET without the body, as the system's own
    // redirects do; 307 and 308 repeat the request, body and all.
    const bool send_body =
        request_has_body_ && (status == HTTP_STATUS_REDIRECT_KEEP_VERB || status == HTTP_STATUS_PERMANENT_REDIRECT);
    owner_task_runner_->PostTask(
        FROM_HERE, base::Bind(&Wininet::FollowRedirect, weak_this_, session->context(), url, send_body));
    return;
  }
  // Closing the handles here keeps the redirected request from being read. Whether WinINet still reports a
  // completion for it is up to WinINet, so the download fails here, once.
  request_.Close();
  connection_.Close();
  PostFail(session);
}

void Wininet::OnRequestComplete(WininetSession* session, DWORD error) {
  observer_->OnWininetError(error);
  if (error == ERROR_SUCCESS) {
    VLOG(2) << "Handling request completion";
    if (state() == kRequesting) {
      if (HandleInitialCompletion(session))
        HandleCompletionInProgress(session);
    } else if (state() == kReceiving) {
      HandleCompletionInProgress(session);
    }
  } else if (IsConnectivityError(error)) {
    LOG(WARNING) << "Request completed with an error indicating connectivity issues: " << error;
    CheckRetriesAndResume(session);
  } else {
    LOG(ERROR) << "Request completed with an unexpected error: " << error;
    PostFail(session);
  }
}

bool Wininet::HandleInitialCompletion(WininetSession* session) {
  LOG(INFO) << "Initial request completion";
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!HttpQueryInfoW(request_.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
    PLOG(ERROR) << "Could not obtain HTTP response code";
    PostFail(session);  // nothing else would end the download
    return false;
  }
  if (IsRedirectStatus(status)) {
    // Only the answer at the end of the chain is recorded, as when WinINet followed redirects itself. A redirect
    // without an address is an unexpected status.
    const std::wstring location = QueryHeader(request_.Get(), L"", HTTP_QUERY_LOCATION);
    if (!location.empty()) {
      OnRedirect(session, status, location);
      return false;
    }
  }
  observer_->OnHttpStatus(status);
  for (const wchar_t* name : kRecordedHeaders)
    observer_->OnHeader(name, QueryHeader(request_.Get(), name));

  switch (status) {
    case HTTP_STATUS_OK: {
      if (received_ > 0) {
        // The server ignored the range and sends the whole body again: start the body over, or the part
        // received so far would come twice.
        LOG(WARNING) << "The server answered the range request with the whole body; starting over";
        if (!StartBodyOver(session))
          return false;
      }
      if (QueryContentLength(request_.Get(), &expected_size_)) {
        VLOG(1) << "Expected total size: " << expected_size_;
      } else {
        PLOG(INFO) << "Could not get Content-Length from response";
      }
      PostTotalProgress(session);
      SetState(kReceiving);
      return true;
    }
    case HTTP_STATUS_PARTIAL_CONTENT: {
      const std::wstring range = QueryHeader(request_.Get(), L"Content-Range");
      uint32_t start = 0;
      uint32_t stated_total = 0;
      const bool misplaced = PartialContentStart(range, &start) && start != received_;
      // A part of a body of another size than the one held is a part of another version of the file.
      const bool resized = received_ > 0 && expected_size_ != 0 && PartialContentStatedTotal(range, &stated_total) &&
                           stated_total != expected_size_;
      if (misplaced || resized) {
        // Such a part cannot be joined to the body held so far: drop that body and ask for all of it again, as a
        // retry, so a server that always answers so ends the download.
        LOG(WARNING) << "The server answered the range request with " << base::WideToUTF8(range) << "; starting over";
        if (StartBodyOver(session))
          CheckRetriesAndResume(session);
        return false;
      }
      // The first answer with a body may be this one (after a 503, say), so it must tell the size too, to the
      // delegate as well unless it knows it already (a resume after a broken body).
      if (QueryPartialContentTotal(request_.Get(), range, received_, &expected_size_)) {
        VLOG(1) << "Expected total size: " << expected_size_;
        if (expected_size_ != total_reported_)
          PostTotalProgress(session);
      } else {
        LOG(INFO) << "Could not get the total size from a partial response";
      }
      SetState(kReceiving);
      return true;
    }
    case HTTP_STATUS_PROXY_AUTH_REQ:
      LOG(WARNING) << "Request completed with a proxy authentication request";
      PostToOwner(session, &Wininet::AskForProxyCredentials);
      return false;
    case HTTP_STATUS_BAD_GATEWAY:
    case HTTP_STATUS_SERVICE_UNAVAIL:
    case HTTP_STATUS_GATEWAY_TIMEOUT:
      LOG(WARNING) << "Download failed with " << status << " error";
      CheckRetriesAndResume(session);
      return false;
    default:
      LOG(ERROR) << "Request completed with an unexpected HTTP status";
      PostFail(session);
      return false;
  }
}

void Wininet::HandleCompletionInProgress(WininetSession* session) {
  VLOG(2) << "Additional data downloaded";
  char* const buffer = session->read_buffer();
  DWORD* const bytes_read = session->bytes_read();
  DWORD* const available = session->bytes_available();
  for (;;) {
    bool filled = false;  // the last read filled the buffer
    if (*bytes_read != 0) {
      const uint32_t count = std::exchange(*bytes_read, 0);
      filled = count == WininetSession::kReadBufferSize;
      *available -= std::min<DWORD>(*available, count);
      if (!writer_->Write(buffer, count)) {
        PostFail(session);
        return;
      }
      received_ += count;
      if (received_ > received_most_) {
        received_most_ = received_;
        start_over_retries_ = 0;
        retry_count_ = 0;  // the transfer moves again
      } else if (received_at_request_ > 0) {
        // A body continued moves it too, though short of the most held; what the restarts lost it has not made up.
        retry_count_ = start_over_retries_;
      }
      VLOG(2) << "Downloaded size: " << received_;
      PostProgress(session, false);
    }
    // A read that finds WinINet's buffer empty receives from the network for its own size alone. Asked first what
    // is available, once its last answer is used up, WinINet receives what has arrived in one go, and the reads
    // that follow are copied from its buffer. Not after a read that filled the buffer: the body arrives faster than
    // it is read, and the next read receives a whole buffer as well. Under wine the question receives only into its
    // own 8 KiB and costs a pass through the wine server of its own: asked before every 64 KiB read, it took a
    // third of a large download's time.
    bool asking = *available == 0 && !filled;
    if (asking && InternetQueryDataAvailable(request_.Get(), available, 0, 0))
      asking = false;
    if (asking || !InternetReadFile(request_.Get(), buffer, WininetSession::kReadBufferSize, bytes_read)) {
      const DWORD error = GetLastError();
      if (error == ERROR_IO_PENDING) {
        // The read, or the question, completes as a request completion in state 2, the question as a read of 0
        // bytes.
        question_pending_ = asking;
        VLOG(2) << "More data pending";
      } else if (IsLossOfConnectivity(error)) {
        LOG(ERROR) << "Download interrupted by loss of connectivity: " << error;
        PostProgress(session, true);
        ResumeAfterBrokenBody(session);
      } else {
        LOG(ERROR) << "Download interrupted for unknown reason: " << error;
        PostFail(session);
      }
      return;
    }
    if (*bytes_read == 0)
      break;
  }
  VLOG(1) << "Done reading from Internet";
  PostProgress(session, true);
  if (received_ < expected_size_) {
    LOG(WARNING) << "Download completed, but we are below response size";
    ResumeAfterBrokenBody(session);
  } else if (!writer_->Flush()) {
    PostFail(session);  // a body that did not reach its place is no complete download
  } else {
    PostToOwner(session, &Wininet::Complete);
  }
}

void Wininet::ResumeAfterBrokenBody(WininetSession* session) {
  // A server that ignores the range and cuts every body at the same byte brings bytes each time, but none the
  // download did not hold already: a body started over resumes at once, and uncounted, only with new ones; a body
  // continued, with any.
  const bool gained =
      received_at_request_ > 0 ? received_ > received_at_request_ : received_most_ > most_at_request_;
  if (gained) {
    PostToOwner(session, &Wininet::ResumeDownload);
    return;
  }
  // A server that only ever sends heads, or drops every connection at once, would otherwise be asked again
  // forever.
  LOG(WARNING) << "The request brought no body data";
  CheckRetriesAndResume(session);
}

void Wininet::CheckRetriesAndResume(WininetSession* session) {
  if (retry_count_ > 1 && delegate_)
    delegate_->NotifyStalled();
  if (retry_count_ > maximum_retries_) {
    VLOG(1) << "Exceded maximum amount of retries";
    PostFail(session);
    return;
  }
  LOG(INFO) << "Retrying " << retry_count_ << " of " << maximum_retries_;
  ++retry_count_;
  if (received_at_request_ == 0 && received_ < received_most_)
    ++start_over_retries_;
  PostToOwner(session, &Wininet::ResumeDownload, RetryDelay());
}

bool Wininet::StartBodyOver(WininetSession* session) {
  if (!writer_->Reset()) {
    PostFail(session);
    return false;
  }
  received_ = 0;
  received_at_request_ = 0;  // what the answer brings no longer continues what was held
  progress_reported_ = 0;
  return true;
}

void Wininet::ResumeDownload(DWORD_PTR session_context) {
  if (!IsCurrentSession(session_context))
    return;
  WininetSession* const session = session_.get();
  base::win::ScopedInternetHandle previous_request;
  uint32_t received = 0;
  {
    WininetSession::AutoLock hold(session);
    observer_->OnChunkEnd(received_);
    previous_request = std::move(request_);
    received = received_;
  }
  previous_request.Close();
  LOG(INFO) << "Attempting download resume";
  const std::wstring headers = L"Range: bytes=" + std::to_wstring(received) + L"-";
  {
    WininetSession::AutoLock hold(session);
    observer_->OnRetry(retry_count_);
    redirects_ = 0;
  }
  // The download's own address again, also after redirects: the connection may lead elsewhere by now.
  if (!ConnectTo(url_) || !OpenRequest(url_, !session->post_data().empty(), headers)) {
    LOG(ERROR) << "Could not resume downloading";
    Fail(session_context);
  }
}

void Wininet::FollowRedirect(DWORD_PTR session_context, const std::wstring& url, bool send_body) {
  if (!IsCurrentSession(session_context))
    return;
  WininetSession* const session = session_.get();
  base::win::ScopedInternetHandle previous_request;
  std::wstring headers;
  {
    WininetSession::AutoLock hold(session);
    previous_request = std::move(request_);
    headers = session->request_headers();  // a resume's range goes along
  }
  previous_request.Close();
  UrlParts target;
  if (!ParseUrl(url, &target) || !ConnectTo(target) || !OpenRequest(target, send_body, headers)) {
    LOG(ERROR) << "Could not follow the redirect";
    Fail(session_context);
  }
}

void Wininet::AskForProxyCredentials(DWORD_PTR session_context) {
  if (!IsCurrentSession(session_context))
    return;
  HINTERNET request = nullptr;
  {
    WininetSession::AutoLock hold(session_.get());
    request = request_.Get();
  }
  ui_callback_runner_->RunUICallbackAndPostReply(base::Bind(&ShowProxyCredentialsDialog, session_context, request),
                                                 owner_task_runner_,
                                                 base::Bind(&Wininet::OnProxyCredentials, weak_this_, session_context));
}

void Wininet::OnProxyCredentials(DWORD_PTR session_context, uint32_t result) {
  if (!IsCurrentSession(session_context))
    return;
  if (result == ERROR_INTERNET_FORCE_RETRY) {
    LOG(INFO) << "Logged in to proxy - resuming download";
    ResumeDownload(session_context);
  } else if (result == ERROR_SUCCESS || result == ERROR_CANCELLED) {
    LOG(ERROR) << "The user cancelled the prompt for proxy credentials";
    Fail(session_context);
  } else {
    LOG(ERROR) << "Failed to obtain credentials for proxy";
    Fail(session_context);
  }
}

void Wininet::Fail(DWORD_PTR session_context) {
  if (!IsCurrentSession(session_context))
    return;
  LOG(ERROR) << "Download failed";
  CloseSession();
  SetState(kFailed);
  RunCompletionCallback();
}

void Wininet::Complete(DWORD_PTR session_context) {
  if (!IsCurrentSession(session_context))
    return;
  {
    WininetSession::AutoLock hold(session_.get());
    retry_count_ = 0;
  }
  CloseSession();
  LOG(INFO) << "Download completed";
  SetState(kCompleted);
  RunCompletionCallback();
}

void Wininet::NotifyTotalProgress(DWORD_PTR session_context, uint32_t total) {
  if (IsCurrentSession(session_context))
    delegate_->SetTotalProgress(static_cast<int>(total));
}

void Wininet::PostTotalProgress(const WininetSession* session) {
  if (!delegate_)
    return;
  total_reported_ = expected_size_;
  owner_task_runner_->PostTask(
      FROM_HERE, base::Bind(&Wininet::NotifyTotalProgress, weak_this_, session->context(), expected_size_));
}

void Wininet::PostProgress(const WininetSession* session, bool body_ended) {
  // A notification per read would cost the owner's thread, and under wine the reading thread too, more than the
  // read itself: each is a task posted to the owner (a wake-up through the wine server), which the fetcher posts
  // on to its controller. At one per 64 KiB read they took a third of a large download's time, while a progress
  // bar shows no more than a few hundred steps. One queued notification reports the count as it is when it runs.
  const uint32_t step = std::max(kProgressStep, expected_size_ / kProgressUpdates);
  if (!delegate_ || (!body_ended && received_ - progress_reported_ < step))
    return;
  progress_reported_ = received_;
  progress_received_.store(received_);
  if (!progress_posted_.exchange(true)) {
    owner_task_runner_->PostTask(FROM_HERE,
                                 base::Bind(&Wininet::NotifyCurrentProgress, weak_this_, session->context()));
  }
}

void Wininet::NotifyCurrentProgress(DWORD_PTR session_context) {
  progress_posted_.store(false);
  if (IsCurrentSession(session_context))
    delegate_->SetCurrentProgress(static_cast<int>(progress_received_.load()));
}

void Wininet::CloseSession() {
  if (!session_)
    return;
  VLOG(1) << "Closing download session";
  base::scoped_refptr<WininetSession> session = std::move(session_);
  base::win::ScopedInternetHandle request;
  base::win::ScopedInternetHandle connection;
  {
    WininetSession::AutoLock hold(session.get());
    observer_->OnChunkEnd(received_);
    // From here on the session's callbacks leave this downloader, its writer and observer alone.
    session->Cancel();
    writer_->Close();
    request = std::move(request_);
    connection = std::move(connection_);
  }
  request.Close();
  connection.Close();
  if (!session->has_live_handles()) {
    session->Terminate(base::TimeDelta());
    return;
  }
  if (termination_thread_)
    termination_thread_->Join();
  termination_thread_ = std::make_unique<WininetTerminationThread>(session, TerminationWait());
  if (!termination_thread_->Start()) {
    termination_thread_.reset();
    session->Terminate(TerminationWait());
  }
}

void Wininet::SetState(State state) {
  state_.store(state);
  LOG(INFO) << "Downloader state: " << static_cast<int>(state);
}

bool Wininet::IsCurrentSession(DWORD_PTR session_context) const {
  return session_ && session_->context() == session_context;
}

void Wininet::RunCompletionCallback() {
  base::Closure done = std::exchange(on_done_, base::Closure());
  if (done)
    done.Run();
}

void Wininet::PostToOwner(const WininetSession* session, void (Wininet::*method)(DWORD_PTR), base::TimeDelta delay) {
  owner_task_runner_->PostDelayedTask(FROM_HERE, base::Bind(method, weak_this_, session->context()), delay);
}

}  // namespace zorvi::installer
