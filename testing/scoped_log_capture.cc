#include "testing/scoped_log_capture.h"

#include "base/logging.h"

namespace test_support {

namespace {

// Another thread may log while a capture ends: the handler finds out under this lock whether one still exists.
std::mutex g_capture_lock;
ScopedLogCapture* g_capture = nullptr;

}  // namespace

ScopedLogCapture::ScopedLogCapture() : previous_min_level_(logging::GetMinLogLevel()) {
  {
    std::lock_guard<std::mutex> hold(g_capture_lock);
    g_capture = this;
  }
  logging::SetLogMessageHandler(&Handler);
  logging::SetMinLogLevel(-1);
}

ScopedLogCapture::~ScopedLogCapture() {
  logging::SetLogMessageHandler(nullptr);
  logging::SetMinLogLevel(previous_min_level_);
  std::lock_guard<std::mutex> hold(g_capture_lock);
  g_capture = nullptr;
}

std::vector<ScopedLogCapture::Line> ScopedLogCapture::lines() const {
  std::lock_guard<std::mutex> hold(lock_);
  return lines_;
}

bool ScopedLogCapture::HasLineStartingWith(const std::string& prefix, int severity) const {
  std::lock_guard<std::mutex> hold(lock_);
  for (const Line& line : lines_) {
    if (line.text.compare(0, prefix.size(), prefix) == 0 && (severity == kAnySeverity || severity == line.severity))
      return true;
  }
  return false;
}

std::string ScopedLogCapture::Text() const {
  std::string text;
  for (const Line& line : lines())
    text += std::to_string(line.severity) + ": " + line.text + "\n";
  return text;
}

bool ScopedLogCapture::Handler(int severity, const char*, int, size_t message_start, const std::string& text) {
  std::string message = text.substr(message_start);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
    message.pop_back();
  std::lock_guard<std::mutex> hold_capture(g_capture_lock);
  if (!g_capture)
    return false;  // the capture ended after this message found the handler: it is written as usual
  std::lock_guard<std::mutex> hold(g_capture->lock_);
  g_capture->lines_.push_back({severity, std::move(message)});
  return true;
}

}  // namespace test_support
