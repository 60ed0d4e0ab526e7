#include <winsock2.h>

#include "testing/loopback_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <sstream>

#include "base/json/json_reader.h"
#include "base/values.h"

namespace test_support {

namespace {

// Only a hang reaches these: starting Python under a loaded machine takes a few seconds at most.
constexpr DWORD kStartBoundMs = 120000;
constexpr DWORD kStopBoundMs = 60000;
constexpr int kLifetimeSeconds = 900;

// The Linux path of a Windows path, through wine's own mapping.
std::string UnixPath(const std::wstring& windows_path) {
  using GetUnixFileName = char*(CDECL*)(const wchar_t*);
  auto get_unix_file_name = reinterpret_cast<GetUnixFileName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!get_unix_file_name)
    return std::string();
  char* unix_path = get_unix_file_name(windows_path.c_str());
  if (!unix_path)
    return std::string();
  std::string result(unix_path);
  HeapFree(GetProcessHeap(), 0, unix_path);
  return result;
}

std::wstring Widen(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

// A number of the announcement line, which the server writes as {"port": 1234, ...}; 0 when missing.
int AnnouncedNumber(const std::string& announcement, const std::string& key) {
  const std::string field = "\"" + key + "\": ";
  const size_t at = announcement.find(field);
  return at == std::string::npos ? 0 : atoi(announcement.c_str() + at + field.size());
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && _strnicmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::string FindHeader(const std::vector<std::pair<std::string, std::string>>& headers, const std::string& name) {
  for (const auto& [header, value] : headers) {
    if (EqualsIgnoringCase(header, name))
      return value;
  }
  return std::string();
}

bool WaitReadable(SOCKET socket, DWORD milliseconds) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket, &readable);
  timeval bound = {static_cast<long>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000};
  return select(0, &readable, nullptr, nullptr, &bound) == 1;
}

// The [name, value] pairs of the list at `key`.
std::vector<std::pair<std::string, std::string>> ReadPairs(const base::DictionaryValue& entry, const char* key) {
  std::vector<std::pair<std::string, std::string>> pairs;
  const base::ListValue* list = nullptr;
  if (!entry.GetList(key, &list))
    return pairs;
  for (const auto& item : *list) {
    const base::ListValue* pair = nullptr;
    const base::Value* name = nullptr;
    const base::Value* value = nullptr;
    std::string name_text, value_text;
    if (item->GetAsList(&pair) && pair->Get(0, &name) && pair->Get(1, &value) && name->GetAsString(&name_text) &&
        value->GetAsString(&value_text)) {
      pairs.emplace_back(name_text, value_text);
    }
  }
  return pairs;
}

int64_t ReadNumber(const base::DictionaryValue& entry, const char* key) {
  const base::Value* value = nullptr;
  double number = 0;
  return entry.Get(key, &value) && value->GetAsDouble(&number) ? static_cast<int64_t>(number) : 0;
}

}  // namespace

std::vector<LoggedRequest> ParseRequestLog(const std::string& text) {
  std::vector<LoggedRequest> requests;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::unique_ptr<base::Value> parsed = base::JsonReader::Read(line);
    const base::DictionaryValue* entry = nullptr;
    if (!parsed || !parsed->GetAsDictionary(&entry))
      continue;
    LoggedRequest request;
    request.request_number = static_cast<int>(ReadNumber(*entry, "request_number"));
    entry->GetString("listener", &request.listener);
    entry->GetString("method", &request.method);
    entry->GetString("target", &request.target);
    entry->GetString("path", &request.path);
    request.headers = ReadPairs(*entry, "headers");
    request.body_length = ReadNumber(*entry, "body_length");
    entry->GetString("body_sha256", &request.body_sha256);
    request.status = static_cast<int>(ReadNumber(*entry, "status"));
    request.response_headers = ReadPairs(*entry, "response_headers");
    request.bytes_sent = ReadNumber(*entry, "bytes_sent");
    entry->GetBoolean("complete", &request.complete);
    request.arrival = ReadNumber(*entry, "arrival");
    requests.push_back(std::move(request));
  }
  // Each line is written when its answer ends, and an answer can end after the next request came (a redirect
  // followed, a resume sent as soon as a short body closed): give them back in the order they arrived.
  std::stable_sort(requests.begin(), requests.end(),
                   [](const LoggedRequest& a, const LoggedRequest& b) { return a.arrival < b.arrival; });
  return requests;
}

std::string LoggedRequest::Header(const std::string& name) const {
  return FindHeader(headers, name);
}

std::string LoggedRequest::ResponseHeader(const std::string& name) const {
  return FindHeader(response_headers, name);
}

LoopbackServer::LoopbackServer() {
  WSADATA data;
  winsock_started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

LoopbackServer::~LoopbackServer() {
  Stop();
  if (winsock_started_)
    WSACleanup();
}

bool LoopbackServer::ReadLine(std::string* line, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  for (;;) {
    const size_t end = received_.find('\n');
    if (end != std::string::npos) {
      *line = received_.substr(0, end);
      received_.erase(0, end + 1);
      return true;
    }
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= milliseconds || !WaitReadable(static_cast<SOCKET>(control_), milliseconds - elapsed))
      return false;
    char buffer[512];
    const int count = recv(static_cast<SOCKET>(control_), buffer, sizeof(buffer), 0);
    if (count <= 0)
      return false;
    received_.append(buffer, count);
  }
}

bool LoopbackServer::WaitForRequest(const std::string& path, DWORD milliseconds) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  std::string line;
  for (ULONGLONG now = GetTickCount64(); control_ != kNoSocket && now < end; now = GetTickCount64()) {
    if (!ReadLine(&line, static_cast<DWORD>(end - now)))
      return false;
    if (line == "received " + path)
      return true;
  }
  return false;
}

bool LoopbackServer::WaitForLogged(const std::string& path, size_t count, DWORD milliseconds) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  std::string line;
  // Each "logged" line follows a write of the log: read the log again after each line the server says.
  while (RequestsTo(Requests(), path).size() < count) {
    const ULONGLONG now = GetTickCount64();
    if (control_ == kNoSocket || now >= end || !ReadLine(&line, static_cast<DWORD>(end - now)))
      return false;
  }
  return true;
}

bool LoopbackServer::Start(const std::wstring& root, const std::string& faults_json, std::string* error, int port) {
  Stop();
  port_taken_ = false;
  if (!winsock_started_) {
    *error = "Winsock did not start";
    return false;
  }
  static std::atomic<int> instance{0};
  // Wine reuses process ids soon, and a process that crashed left its folder: the time keeps names apart.
  folder_ = std::make_unique<ScopedTestFolder>(L"loopback_server_" + std::to_wstring(GetTickCount64()) + L"_" +
                                               std::to_wstring(++instance));
  log_path_ = folder_->path() + L"\\requests.jsonl";
  const std::wstring faults_path = folder_->path() + L"\\faults.json";
  if (!WriteFileBytes(faults_path, faults_json.empty() ? "{}" : faults_json)) {
    *error = "cannot write the fault table";
    return false;
  }
  const std::string unix_root = UnixPath(root);
  const std::string unix_faults = UnixPath(faults_path);
  const std::string unix_log = UnixPath(log_path_);
  CreateDirectoryW((folder_->path() + L"\\bodies").c_str(), nullptr);
  const std::string unix_bodies = UnixPath(folder_->path() + L"\\bodies");
  if (unix_root.empty() || unix_faults.empty() || unix_log.empty() || unix_bodies.empty()) {
    *error = "the server runs on the Linux side of wine, which maps the paths: not running under wine?";
    return false;
  }

  // The server connects back to this socket: it announces itself there, and a closed connection stops it.
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof(address);
  if (listener == INVALID_SOCKET || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(listener, 1) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    *error = "cannot listen for the server's control connection, error " + std::to_string(WSAGetLastError());
    if (listener != INVALID_SOCKET)
      closesocket(listener);
    return false;
  }
  // WinINet keeps connections to a server in a pool that outlives the server; a later server on the same port
  // would find its client sending into a connection that no longer exists. Each server of this process thus
  // gets a port of its own.
  static std::wstring used_ports;
  std::wstring command = L"Z:\\usr\\bin\\python3 -B \"" + Widen(ZORVI_LOOPBACK_SERVER_SCRIPT) + L"\" --root \"" +
                         Widen(unix_root) + L"\" --faults \"" + Widen(unix_faults) + L"\" --log \"" +
                         Widen(unix_log) + L"\" --bodies \"" + Widen(unix_bodies) + L"\" --lifetime " +
                         std::to_wstring(kLifetimeSeconds) +
                         L" --control 127.0.0.1:" + std::to_wstring(ntohs(address.sin_port)) + L" --port " +
                         std::to_wstring(port) + (used_ports.empty() ? L"" : L" --exclude-ports " + used_ports);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    *error = "cannot start python3, error " + std::to_string(GetLastError());
    closesocket(listener);
    return false;
  }
  // Wine hands out no handle of a Linux process: hProcess is null and hThread holds a stale value that may name
  // one of this process's own handles by now (closing it once closed the control socket), so neither is closed.
  const bool connected = WaitReadable(listener, kStartBoundMs);
  const SOCKET control = connected ? accept(listener, nullptr, nullptr) : INVALID_SOCKET;
  closesocket(listener);
  control_ = control == INVALID_SOCKET ? kNoSocket : static_cast<uintptr_t>(control);
  std::string announcement;
  if (control_ == kNoSocket || !ReadLine(&announcement, kStartBoundMs)) {
    *error = "the server did not announce itself (is python3 installed?)";
    Stop();
    return false;
  }
  if (announcement.find("\"port_taken\"") != std::string::npos) {
    *error = "skipped: " + announcement;
    port_taken_ = true;
    Stop();
    return false;
  }
  port_ = AnnouncedNumber(announcement, "port");
  closed_port_ = AnnouncedNumber(announcement, "closed_port");
  if (port_ <= 0 || closed_port_ <= 0) {
    *error = "unexpected announcement: " + announcement;
    Stop();
    return false;
  }
  used_ports += (used_ports.empty() ? L"" : L",") + std::to_wstring(port_);
  return true;
}

bool LoopbackServer::Stop() {
  if (control_ == kNoSocket)
    return false;
  send(static_cast<SOCKET>(control_), "stop\n", 5, 0);
  std::string line;
  bool confirmed = false;
  while (!confirmed && ReadLine(&line, kStopBoundMs))
    confirmed = line == "stopped";
  closesocket(static_cast<SOCKET>(control_));
  control_ = kNoSocket;
  received_.clear();
  return confirmed;
}

std::vector<LoggedRequest> LoopbackServer::StopAndReadLog() {
  EXPECT_TRUE(Stop()) << "the server did not confirm its stop";
  return Requests();
}

std::wstring LoopbackServer::Url(const std::string& path, const std::string& host) const {
  return L"http://" + Widen(host) + L":" + std::to_wstring(port_) + Widen(path);
}

bool LoopbackServer::ReadBody(const LoggedRequest& request, std::string* body) const {
  return folder_ && ReadFileBytes(folder_->path() + L"\\bodies\\" + Widen(request.body_sha256), body);
}

std::vector<LoggedRequest> LoopbackServer::Requests() const {
  std::string text;
  if (!log_path_.empty())
    ReadFileBytes(log_path_, &text);
  return ParseRequestLog(text);
}

std::vector<LoggedRequest> RequestsTo(const std::vector<LoggedRequest>& log, const std::string& path) {
  std::vector<LoggedRequest> found;
  for (const LoggedRequest& request : log) {
    if (request.path == path)
      found.push_back(request);
  }
  return found;
}

std::string Sha256SumOf(const std::wstring& table, const std::string& name) {
  std::string text;
  EXPECT_TRUE(ReadFileBytes(table, &text)) << "did the area's testdata_setup.sh run?";
  std::istringstream lines(text);
  for (std::string digest, file; lines >> digest >> file;) {
    if (file == name)
      return digest;
  }
  ADD_FAILURE() << "sha256sum gave no digest of " << name;
  return std::string();
}

}  // namespace test_support
