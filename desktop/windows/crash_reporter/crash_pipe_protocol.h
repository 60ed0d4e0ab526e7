// The channel between an installer process and its crash reporter: one named pipe, used only for a short
// registration at start-up, then three kernel objects that carry the crash-time handshake. Both sides read
// these layouts, so every structure here is fixed to the byte and checked by static_assert.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_PROTOCOL_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_PROTOCOL_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace zorvi {
namespace installer {

// The reporter's pipe is this prefix followed by the reporter's process id in decimal.
inline constexpr wchar_t kCrashPipeNamePrefix[] = L"\\\\.\\pipe\\ZorviCrashReporter";

enum CrashPipeMessageTag : uint32_t {
  kCrashRegistrationRequest = 1,
  kCrashRegistrationReply = 2,
  kCrashRegistrationAck = 3,
  kCrashUploadRequest = 4,
};

// One layout for every tag and both directions. The addresses (request only) lie in the client's address
// space; the handles (reply only) are valid inside the client process. Unused fields are zero.
struct CrashPipeMessage {
  uint32_t tag;
  uint32_t process_id;  // the client's in a request, the server's in a reply
  uint32_t dump_type;   // minidump type flags the client asks for
  uint32_t reserved;
  uint64_t thread_id_address;
  uint64_t exception_pointers_address;
  uint64_t assertion_address;
  uint64_t custom_info_entries_address;
  uint64_t custom_info_count;
  uint64_t dump_request_event;
  uint64_t dump_done_event;
  uint64_t server_alive_mutex;
};
static_assert(sizeof(CrashPipeMessage) == 80);
static_assert(offsetof(CrashPipeMessage, thread_id_address) == 16);
static_assert(offsetof(CrashPipeMessage, server_alive_mutex) == 72);

enum CrashAssertionType : uint32_t {
  kNoAssertion = 0,
  kInvalidParameterAssertion = 1,
  kPureCallAssertion = 2,
};

// What a runtime failure that is not an exception reports; it also becomes the dump's assertion stream.
struct CrashAssertionRecord {
  static constexpr size_t kTextLength = 128;  // UTF-16 units, terminator included
  wchar_t expression[kTextLength];
  wchar_t function[kTextLength];
  wchar_t file[kTextLength];
  uint32_t line;
  uint32_t type;  // CrashAssertionType
};
static_assert(sizeof(CrashAssertionRecord) == 776);

// A named text value handed to the reporter; a table of these is read straight out of the client's memory.
struct CrashCustomInfoEntry {
  static constexpr size_t kTextLength = 64;  // UTF-16 units, terminator included
  wchar_t name[kTextLength];
  wchar_t value[kTextLength];
};
static_assert(sizeof(CrashCustomInfoEntry) == 256);

// The table a client registers: null and 0 when it has none.
struct CrashCustomClientInfo {
  const CrashCustomInfoEntry* entries = nullptr;
  size_t count = 0;
};

// Access the server grants the client on each duplicated object: the client only signals its request, waits
// for the answer, and watches the server's life.
inline constexpr DWORD kDumpRequestEventAccess = EVENT_MODIFY_STATE;
inline constexpr DWORD kDumpDoneEventAccess = SYNCHRONIZE | EVENT_MODIFY_STATE;
inline constexpr DWORD kServerAliveMutexAccess = SYNCHRONIZE;

// Creates the server's end of the pipe: duplex, overlapped, the only instance, message mode, tiny buffers
// (messages are 80 bytes and one client is served at a time; the others find the pipe busy).
// INVALID_HANDLE_VALUE on failure.
HANDLE CreateCrashServerPipe(const std::wstring& name, SECURITY_ATTRIBUTES* security_attributes);

// Reads a client's crash facts at an address it registered; true only when every byte arrived.
bool ReadClientMemory(HANDLE process, uint64_t address, void* buffer, size_t size);
// Reads the 8-byte pointer at `address` of a crashed process; true only when all 8 bytes arrived.
bool ReadRemotePointer(HANDLE process, uint64_t address, uint64_t* result);

// A GUID as 36 lower-case characters in the usual groups; dump files are named after it.
std::wstring GuidToString(const GUID& guid);

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_PROTOCOL_H_
