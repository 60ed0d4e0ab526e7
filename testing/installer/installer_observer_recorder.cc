#include "testing/installer/installer_observer_recorder.h"

#include <cstdio>

namespace test_support {

InstallerObserverRecorder::~InstallerObserverRecorder() {
  if (file_ != INVALID_HANDLE_VALUE)
    CloseHandle(file_);
}

bool InstallerObserverRecorder::AppendToFile(const std::wstring& path) {
  file_ = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  return file_ != INVALID_HANDLE_VALUE;
}

std::string InstallerObserverRecorder::SimpleLine(const char* call) {
  return std::string("{\"call\":\"") + call + "\"}";
}

std::string InstallerObserverRecorder::TerminatedLine(bool success) {
  return std::string("{\"call\":\"OnInstallerTerminated\",\"success\":") + (success ? "true" : "false") + "}";
}

std::string InstallerObserverRecorder::StartingNewMainProcessLine(bool flag) {
  return std::string("{\"call\":\"OnStartingNewMainProcess\",\"flag\":") + (flag ? "true" : "false") + "}";
}

std::string InstallerObserverRecorder::TotalStepsLine(int steps) {
  return "{\"call\":\"OnTotalSteps\",\"steps\":" + std::to_string(steps) + "}";
}

std::string InstallerObserverRecorder::ErrorLine(int code, const std::wstring& detail, const std::string& message) {
  return "{\"call\":\"OnInstallerError\",\"code\":" + std::to_string(code) +
         ",\"detail\":" + JsonQuote(WideToUtf8ForTest(detail)) + ",\"message\":" + JsonQuote(message) + "}";
}

void InstallerObserverRecorder::OnInstallFolderReady() {
  Record(SimpleLine("OnInstallFolderReady"));
}

void InstallerObserverRecorder::OnStartingNewMainProcess(bool flag) {
  Record(StartingNewMainProcessLine(flag));
}

void InstallerObserverRecorder::OnReturnedToPreviousMainProcess() {
  Record(SimpleLine("OnReturnedToPreviousMainProcess"));
}

void InstallerObserverRecorder::OnTotalSteps(int steps) {
  Record(TotalStepsLine(steps));
}

void InstallerObserverRecorder::OnStep() {
  Record(SimpleLine("OnStep"));
}

void InstallerObserverRecorder::OnInstallerError(int code, const std::wstring& detail, const std::string& message) {
  Record(ErrorLine(code, detail, message));
}

void InstallerObserverRecorder::OnInstallerSuccess() {
  Record(SimpleLine("OnInstallerSuccess"));
}

void InstallerObserverRecorder::OnInstallerTerminated(bool success) {
  Record(TerminatedLine(success));
}

void InstallerObserverRecorder::Record(const std::string& line) {
  lines_.push_back(line);
  if (file_ != INVALID_HANDLE_VALUE) {
    const std::string with_end = line + "\n";
    DWORD written = 0;
    WriteFile(file_, with_end.data(), static_cast<DWORD>(with_end.size()), &written, nullptr);
    FlushFileBuffers(file_);
  }
  if (after_call_)
    after_call_(line, lines_.size());
}

std::string JsonQuote(const std::string& text) {
  std::string quoted = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      snprintf(escape, sizeof(escape), "\\u%04x", c);
      quoted += escape;
    } else {
      quoted += static_cast<char>(c);
    }
  }
  return quoted + "\"";
}

std::string WideToUtf8ForTest(const std::wstring& wide) {
  if (wide.empty())
    return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string utf8(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size, nullptr, nullptr);
  return utf8;
}

}  // namespace test_support
