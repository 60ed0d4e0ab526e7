#include "desktop/windows/crash_reporter/crash_pipe_protocol.h"

#include "base/strings/stringprintf.h"

namespace zorvi {
namespace installer {

HANDLE CreateCrashServerPipe(const std::wstring& name, SECURITY_ATTRIBUTES* security_attributes) {
  constexpr DWORD kOpenMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE;
  constexpr DWORD kPipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
  constexpr DWORD kBufferSize = 64;
  static_assert(kOpenMode == 0x40080003 && kPipeMode == 6);
  return CreateNamedPipeW(name.c_str(), kOpenMode, kPipeMode, 1, kBufferSize, kBufferSize, 0, security_attributes);
}

bool ReadClientMemory(HANDLE process, uint64_t address, void* buffer, size_t size) {
  SIZE_T read = 0;
  return ReadProcessMemory(process, reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), buffer, size,
                           &read) &&
         read == size;
}

bool ReadRemotePointer(HANDLE process, uint64_t address, uint64_t* result) {
  return ReadClientMemory(process, address, result, sizeof(*result));
}

std::wstring GuidToString(const GUID& guid) {
  return base::StringPrintf(L"%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", static_cast<unsigned>(guid.Data1),
                            guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                            guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
}

}  // namespace installer
}  // namespace zorvi
