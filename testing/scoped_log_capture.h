// Collects the log messages of every thread while alive, verbose ones included, instead of writing them.
#ifndef TESTING_SCOPED_LOG_CAPTURE_H_
#define TESTING_SCOPED_LOG_CAPTURE_H_

#include <mutex>
#include <string>
#include <vector>

namespace test_support {

class ScopedLogCapture {
 public:
  struct Line {
    int severity;      // logging::LOG_ERROR and so on; verbose level n is -n
    std::string text;  // the message without its prefix and line end
  };

  // One capture at a time; it raises the verbosity to level 1 until it ends.
  ScopedLogCapture();
  ScopedLogCapture(const ScopedLogCapture&) = delete;
  ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;
  ~ScopedLogCapture();

  std::vector<Line> lines() const;
  // Whether some message starts with `prefix`, at `severity` unless that is kAnySeverity.
  static constexpr int kAnySeverity = -100;
  bool HasLineStartingWith(const std::string& prefix, int severity = kAnySeverity) const;
  // Every message, one a line, for failure output.
  std::string Text() const;

 private:
  static bool Handler(int severity, const char* file, int line, size_t message_start, const std::string& text);

  mutable std::mutex lock_;
  std::vector<Line> lines_;
  int previous_min_level_;
};

}  // namespace test_support

#endif  // TESTING_SCOPED_LOG_CAPTURE_H_
