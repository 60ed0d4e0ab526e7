// The other processes of the global storage tests. Usage:
//   globalstorage_test_child hold MUTEX OWNED_EVENT RELEASE_EVENT
//     takes the storage's access mutex MUTEX, signals OWNED_EVENT once it owns it and lets go of it when
//     RELEASE_EVENT is signalled.
//   globalstorage_test_child write COMPANY MUTEX READY_SEMAPHORE GO_EVENT PREFIX COUNT
//     a storage of the product key of COMPANY with the access mutex MUTEX: releases READY_SEMAPHORE once, and
//     once GO_EVENT is signalled writes COUNT values PREFIX_<i> = "value <i>" as fast as it can, then prints
//     "PREFIX_<i>=<result>" for each.
// Exit code 0 on success, 2 for bad arguments or a missing kernel object.
#include <windows.h>

#include <cstdio>
#include <string>

#include "base/message_loop/message_loop.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/autoupdate/updatechecker/globalstorage_test_util.h"

namespace {

int HoldMutex(const wchar_t* mutex_name, const wchar_t* owned_name, const wchar_t* release_name) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, mutex_name);
  if (!mutex && GetLastError() == ERROR_ACCESS_DENIED)
    mutex = OpenMutexW(SYNCHRONIZE, FALSE, mutex_name);  // made by someone who lets others only wait for it
  HANDLE owned = OpenEventW(EVENT_MODIFY_STATE, FALSE, owned_name);
  HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, release_name);
  if (!mutex || !owned || !release || WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0)
    return 2;
  SetEvent(owned);
  WaitForSingleObject(release, INFINITE);
  ReleaseMutex(mutex);
  return 0;
}

int WriteValues(const wchar_t* company, const wchar_t* mutex_name, const wchar_t* ready_name, const wchar_t* go_name,
                const std::string& prefix, int count) {
  zorvi::installer::test::UseTestProduct(base::WideToUTF8(company), mutex_name);
  base::MessageLoop loop;
  zorvi::installer::GlobalStorageWin storage;
  HANDLE ready = OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, ready_name);
  HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, go_name);
  if (!ready || !go || !ReleaseSemaphore(ready, 1, nullptr) || WaitForSingleObject(go, INFINITE) != WAIT_OBJECT_0)
    return 2;
  std::string report;
  for (int i = 0; i < count; ++i) {
    const std::string key = prefix + "_" + std::to_string(i);
    report += key + "=" + std::to_string(storage.Write(key, "value " + std::to_string(i))) + "\n";
  }
  fputs(report.c_str(), stdout);
  return 0;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"hold" && argc == 5)
    return HoldMutex(argv[2], argv[3], argv[4]);
  int count = 0;
  if (mode == L"write" && argc == 8 && base::StringToInt(base::WideToUTF8(argv[7]), &count))
    return WriteValues(argv[2], argv[3], argv[4], argv[5], base::WideToUTF8(argv[6]), count);
  return 2;
}
