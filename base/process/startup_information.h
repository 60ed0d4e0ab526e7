// The start-up record of a new process: a STARTUPINFOEXW that can carry a process-thread attribute list
// (such as the exact list of handles the child inherits). The attribute-list functions are looked up in
// kernel32 at run time, once per process.
#ifndef BASE_PROCESS_STARTUP_INFORMATION_H_
#define BASE_PROCESS_STARTUP_INFORMATION_H_

#include <windows.h>

#include <cstddef>
#include <memory>

namespace base {

class StartupInformation {
 public:
  // Zeroed; the size field says STARTUPINFOEXW from Windows Vista on, else STARTUPINFOW.
  StartupInformation();
  StartupInformation(const StartupInformation&) = delete;
  StartupInformation& operator=(const StartupInformation&) = delete;
  // Deletes the attribute list when one was initialised.
  ~StartupInformation();

  // Makes an attribute list with room for `attribute_count` attributes. False when the system lacks the
  // functions or the list cannot be made.
  bool InitializeProcThreadAttributeList(DWORD attribute_count);
  // Sets one attribute. `value` must stay valid until the process is created.
  bool UpdateProcThreadAttribute(DWORD_PTR attribute, void* value, size_t size);

  STARTUPINFOW* startup_info() { return &startup_info_.StartupInfo; }

 private:
  STARTUPINFOEXW startup_info_;
  std::unique_ptr<char[]> attribute_list_storage_;
};

}  // namespace base

#endif  // BASE_PROCESS_STARTUP_INFORMATION_H_
