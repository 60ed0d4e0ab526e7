// What both sides of crash reporting use, the installer process that reports its crashes and the reporter that
// serves it: the names of the reporter's kernel objects and the reading of the environment values the reporter
// takes over from its client, and the executable's own path.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_COMMON_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_COMMON_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/files/file_path.h"

namespace zorvi {
namespace installer {

// The reporter signals this event ("<prefix><parent pid>") once its pipe is listening.
inline constexpr wchar_t kCrashReporterInitEventPrefix[] = L"ZorviCrashReporterInitEvent";
// Kernel-object names of the reporter ("<prefix><pid>") fit this many characters with their terminator.
inline constexpr size_t kCrashObjectNameSize = 38;

// "<prefix><pid>", or empty when it would not fit kCrashObjectNameSize.
std::wstring FormatCrashObjectName(const wchar_t* prefix, uint32_t process_id);

// The values the reporter reads from the environment fit a buffer of this many characters, terminator included.
inline constexpr size_t kEnvironmentBufferSize = 512;

// The variable's value; empty when it is absent, empty or does not fit `buffer_size` characters with its
// terminator.
std::wstring ReadEnvironmentVariable(const wchar_t* name, size_t buffer_size = kEnvironmentBufferSize);

// The executable's own path as the system knows it (never an override of the path service's executable key,
// which names another file in tests); false when it cannot be had whole.
bool GetOwnExecutablePath(base::FilePath* path);

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_COMMON_H_
