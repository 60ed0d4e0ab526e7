#include "base/process/startup_information.h"

#include <utility>

#include "base/logging.h"
#include "base/win/windows_version.h"

namespace base {
namespace {

using InitializeProcThreadAttributeListFunction = BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST attribute_list,
                                                                 DWORD attribute_count, DWORD flags,
                                                                 PSIZE_T size);
using UpdateProcThreadAttributeFunction = BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST attribute_list, DWORD flags,
                                                         DWORD_PTR attribute, PVOID value, SIZE_T size,
                                                         PVOID previous_value, PSIZE_T return_size);
using DeleteProcThreadAttributeListFunction = VOID(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST attribute_list);

// The attribute-list functions exist from Windows Vista on.
struct AttributeListFunctions {
  AttributeListFunctions() {
    HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    initialize = reinterpret_cast<InitializeProcThreadAttributeListFunction>(
        reinterpret_cast<void*>(::GetProcAddress(kernel32, "InitializeProcThreadAttributeList")));
    update = reinterpret_cast<UpdateProcThreadAttributeFunction>(
        reinterpret_cast<void*>(::GetProcAddress(kernel32, "UpdateProcThreadAttribute")));
    remove = reinterpret_cast<DeleteProcThreadAttributeListFunction>(
        reinterpret_cast<void*>(::GetProcAddress(kernel32, "DeleteProcThreadAttributeList")));
  }
  bool available() const { return initialize && update && remove; }

  InitializeProcThreadAttributeListFunction initialize;
  UpdateProcThreadAttributeFunction update;
  DeleteProcThreadAttributeListFunction remove;
};

const AttributeListFunctions& GetAttributeListFunctions() {
  static const AttributeListFunctions functions;
  return functions;
}

}  // namespace

StartupInformation::StartupInformation() : startup_info_() {
  startup_info_.StartupInfo.cb = win::GetVersion() >= win::VERSION_VISTA ? sizeof(STARTUPINFOEXW)
                                                                         : sizeof(STARTUPINFOW);
}

StartupInformation::~StartupInformation() {
  if (startup_info_.lpAttributeList)
    GetAttributeListFunctions().remove(startup_info_.lpAttributeList);
}

bool StartupInformation::InitializeProcThreadAttributeList(DWORD attribute_count) {
  const AttributeListFunctions& functions = GetAttributeListFunctions();
  if (startup_info_.StartupInfo.cb != sizeof(STARTUPINFOEXW) || startup_info_.lpAttributeList ||
      !functions.available()) {
    return false;
  }
  // The first call only measures: it fails with ERROR_INSUFFICIENT_BUFFER and reports the size.
  SIZE_T size = 0;
  functions.initialize(nullptr, attribute_count, 0, &size);
  if (size == 0)
    return false;
  std::unique_ptr<char[]> storage(new char[size]);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.get());
  if (!functions.initialize(list, attribute_count, 0, &size)) {
    PLOG(ERROR) << "InitializeProcThreadAttributeList failed";
    return false;
  }
  attribute_list_storage_ = std::move(storage);
  startup_info_.lpAttributeList = list;
  return true;
}

bool StartupInformation::UpdateProcThreadAttribute(DWORD_PTR attribute, void* value, size_t size) {
  if (!startup_info_.lpAttributeList)
    return false;
  if (!GetAttributeListFunctions().update(startup_info_.lpAttributeList, 0, attribute, value, size, nullptr,
                                          nullptr)) {
    PLOG(ERROR) << "UpdateProcThreadAttribute failed";
    return false;
  }
  return true;
}

}  // namespace base
