// A client's crash keys as the dump server hands them over, built from name/value pairs for the reporter's tests.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CUSTOM_INFO_ENTRIES_TEST_UTIL_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CUSTOM_INFO_ENTRIES_TEST_UTIL_H_

#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "desktop/windows/crash_reporter/crash_pipe_protocol.h"

namespace zorvi::installer {

using CustomInfoPairs = std::vector<std::pair<std::wstring, std::wstring>>;

// Texts of 64 units fill their entry and stay unterminated, as a client may leave them.
class CustomInfoEntries {
 public:
  explicit CustomInfoEntries(const CustomInfoPairs& pairs = {}) {
    for (const auto& [name, value] : pairs)
      Add(name, value);
  }
  void Add(const std::wstring& name, const std::wstring& value) {
    CrashCustomInfoEntry& entry = entries_.emplace_back();
    wcsncpy(entry.name, name.c_str(), CrashCustomInfoEntry::kTextLength);
    wcsncpy(entry.value, value.c_str(), CrashCustomInfoEntry::kTextLength);
  }
  CrashCustomClientInfo info() const { return {entries_.data(), entries_.size()}; }

 private:
  std::vector<CrashCustomInfoEntry> entries_;
};

}  // namespace zorvi::installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CUSTOM_INFO_ENTRIES_TEST_UTIL_H_
