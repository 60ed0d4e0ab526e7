// One module of a crashed process. Its facts come from the module's file on disk, mapped read-only, never from
// the crashed process's memory, which the crash may have damaged. The file may be anything (truncated, replaced,
// hostile): every offset and length in it is checked against the file's size, and what lies outside counts as
// missing.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_MODULE_INFO_IMPL_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_MODULE_INFO_IMPL_H_

#include <windows.h>

#include <cstdint>

#include "desktop/windows/crash_reporter/reporter/process_state.h"

namespace zorvi {
namespace installer {

class ModuleInfoImpl : public ModuleInfo {
 public:
  static constexpr size_t kTextSize = 128;  // name and version, terminator included

  ModuleInfoImpl();
  ~ModuleInfoImpl() override;
  ModuleInfoImpl(const ModuleInfoImpl&) = delete;
  ModuleInfoImpl& operator=(const ModuleInfoImpl&) = delete;

  // `name` (null or empty: unknown) is the module's name as the system listed it; `file` (may be invalid) is
  // the module's file opened for reading. Without a name, one is taken from the file: its export directory's,
  // else its version resource's original file name, else the name the file is mapped under.
  void Init(const wchar_t* name, HANDLE file, uint64_t base, uint32_t size);

  const char* GetName() const override;
  uint64_t GetBaseAddress() const override;
  uint32_t GetSize() const override;
  uint64_t GetLoadAddress() const override;
  uint64_t GetCodeEndOffset() const override;
  const char* GetVersion() const override;
  uint32_t GetTimestamp() const override;

 private:
  // Reads what it can of the mapped file of `size` bytes at `view`.
  void ReadImage(const uint8_t* view, uint64_t size);
  const char* NameForLog() const;

  char name_[kTextSize] = {};
  char version_[kTextSize] = {};
  uint32_t timestamp_ = 0;
  uint64_t base_ = 0;
  uint32_t size_ = 0;
  uint64_t code_end_ = 0;  // absolute: base + code base + code size; 0 when unknown
};

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_MODULE_INFO_IMPL_H_
