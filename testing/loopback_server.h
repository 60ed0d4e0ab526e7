// The loopback HTTP test server (testing/loopback_server/loopback_server.py, see its README) run by a test
// under wine: a Linux process started through wine, which announces itself and takes its stop over a control
// connection that the test holds, so that it never outlives the test process. Each test starts its own on a
// free port; its request log is the outside view of what a client sent.
#ifndef TESTING_LOOPBACK_SERVER_H_
#define TESTING_LOOPBACK_SERVER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "testing/test_support.h"

namespace test_support {

// One line of the server's request log.
struct LoggedRequest {
  int request_number = 0;  // per path, from 1
  int64_t arrival = 0;     // over all paths, in the order the heads arrived
  std::string listener;  // the server's address that took it: "127.0.0.2:P"
  std::string method;
  std::string target;  // the raw request target: path and query
  std::string path;
  std::vector<std::pair<std::string, std::string>> headers;
  int64_t body_length = 0;
  std::string body_sha256;
  int status = 0;  // 0 when no answer was sent
  std::vector<std::pair<std::string, std::string>> response_headers;
  int64_t bytes_sent = 0;  // body bytes
  bool complete = false;   // the whole answer went out

  // The value of a request or response header (names compared without case); empty when absent.
  std::string Header(const std::string& name) const;
  std::string ResponseHeader(const std::string& name) const;
};

// The lines of a request log, in the order the requests arrived.
std::vector<LoggedRequest> ParseRequestLog(const std::string& text);

// The requests of `log` to `path` (the target without its query).
std::vector<LoggedRequest> RequestsTo(const std::vector<LoggedRequest>& log, const std::string& path);

// The digest that sha256sum wrote for `name` into `table` (a file of its output); empty, failing the test, when
// the table has none.
std::string Sha256SumOf(const std::wstring& table, const std::string& name);

class LoopbackServer {
 public:
  LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;
  ~LoopbackServer();  // stops the server

  // Serves the files of `root` (a Windows path) with the fault table `faults_json` ("" for none), on a free
  // port unless `port` names one. False, with the reason in *error, when it did not announce itself in time or
  // another program holds the fixed `port` (then port_taken() is true).
  bool Start(const std::wstring& root, const std::string& faults_json, std::string* error, int port = 0);
  bool port_taken() const { return port_taken_; }
  // Stops it and waits until its log is complete; true when the server confirmed.
  bool Stop();
  // Stops it, failing the test unless the server confirmed, and returns its whole request log.
  std::vector<LoggedRequest> StopAndReadLog();

  int port() const { return port_; }
  // A port on the loopback address on which nothing listens, held while the server runs.
  int closed_port() const { return closed_port_; }
  // "http://" + host + ":" + port + path.
  std::wstring Url(const std::string& path, const std::string& host = "127.0.0.1") const;

  // Waits until a request to `path` has arrived (its head, before any answer, so also one that is never answered);
  // arrivals of other paths read meanwhile are dropped. False after `milliseconds` without one.
  bool WaitForRequest(const std::string& path, DWORD milliseconds);

  // Waits until the log holds at least `count` requests to `path`: a client hears the answer before the server
  // has logged it. Arrivals read meanwhile are dropped. False after `milliseconds` without them.
  bool WaitForLogged(const std::string& path, size_t count, DWORD milliseconds);

  // The request log as far as written; complete after Stop.
  std::vector<LoggedRequest> Requests() const;
  // The body of a logged request, as the server received it.
  bool ReadBody(const LoggedRequest& request, std::string* body) const;

 private:
  bool ReadLine(std::string* line, DWORD milliseconds);

  bool winsock_started_ = false;
  uintptr_t control_ = kNoSocket;  // a SOCKET
  static constexpr uintptr_t kNoSocket = ~uintptr_t{0};
  std::string received_;
  int port_ = 0;
  int closed_port_ = 0;
  bool port_taken_ = false;
  std::unique_ptr<ScopedTestFolder> folder_;
  std::wstring log_path_;
};

}  // namespace test_support

#endif  // TESTING_LOOPBACK_SERVER_H_
