// The named text values a crashed process hands to its crash reporter: build facts, the process type,
// platform facts and the loaded modules. They live in one block of fixed-size UTF-16 entries that the reporter
// reads straight out of this process's memory, so the layout is the contract; the block is read-only except
// inside a write, so that a stray write elsewhere in the process cannot corrupt what a crash report says.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_CRASH_KEYS_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_CRASH_KEYS_H_

#include <cstddef>

#include "base/synchronization/lock.h"
#include "desktop/windows/crash_reporter/crash_pipe_protocol.h"

namespace zorvi {
namespace installer {

class CrashKeys {
 public:
  static constexpr size_t kEntryCount = 96;
  static constexpr size_t kMaxTextLength = CrashCustomInfoEntry::kTextLength - 1;  // 63 characters

  // Indices the installer writes after construction.
  static constexpr size_t kProcessType = 4;
  static constexpr size_t kVemtraTestFirst = 29, kVemtraTestLast = 32;
  static constexpr size_t kOrigin = 33;
  static constexpr size_t kModulesFirst = 78, kModulesLast = 93;

  // The process-wide table, made on first use and never destroyed.
  static CrashKeys* GetInstance();

  // Tables of their own are for tests; the process has the one above.
  CrashKeys();
  ~CrashKeys();
  CrashKeys(const CrashKeys&) = delete;
  CrashKeys& operator=(const CrashKeys&) = delete;

  // Sets the value of entry `index` (0-95): null clears it, a longer text keeps its first 63 characters.
  void SetValue(size_t index, const wchar_t* text);
  // Spreads `text` over entries first..last in pieces of 63 characters, clearing the entries it does not
  // reach (all of them for null or empty); text beyond the range is dropped.
  void SetValueRange(size_t first, size_t last, const wchar_t* text);

  // The block (null when it could not be allocated: writes are then ignored).
  const CrashCustomInfoEntry* entries() const { return entries_; }
  // What a crash client registers: {entries, 96}, or {null, 0} without a block.
  CrashCustomClientInfo custom_client_info() const;

  // Test-only: tables constructed afterwards fail to allocate their block.
  static void FailAllocationForTesting(bool fail);

 private:
  // Runs `write` with the block writable, under the lock; does nothing without a block or when the pages
  // cannot be made writable.
  template <typename Write>
  void WriteLocked(Write write);

  CrashCustomInfoEntry* entries_ = nullptr;
  base::Lock lock_;
};

}  // namespace installer
}  // namespace zorvi

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_CRASH_KEYS_H_
