// PersistentPrefStore: a PrefStore whose values can be changed and are kept in a file.
#ifndef COMPONENTS_PREFS_PERSISTENT_PREF_STORE_H_
#define COMPONENTS_PREFS_PERSISTENT_PREF_STORE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "components/prefs/pref_store.h"

class PersistentPrefStore : public PrefStore {
 public:
  // How the initial read ended. The values reach callers and never change.
  enum PrefReadError : int32_t {
    kPrefReadErrorNone = 0,          // read and parsed; the top level is a dictionary
    kPrefReadErrorJsonParse = 1,     // not valid JSON (the file was moved aside)
    kPrefReadErrorJsonType = 2,      // valid JSON whose top level is not a dictionary
    kPrefReadErrorAccessDenied = 3,  // the file could not be opened: access denied
    kPrefReadErrorFileOther = 4,     // the file exists but could not be read
    kPrefReadErrorFileLocked = 5,    // another process holds the file
    kPrefReadErrorNoFile = 6,        // there is no file
    kPrefReadErrorJsonRepeat = 7,    // not valid JSON, and an earlier bad file was already set aside
  };

  // Bits of the flags that go with every change.
  enum PrefWriteFlags : uint32_t {
    kDefaultPrefWriteFlags = 0,
    // Written only with the next normal write or an explicit commit.
    kLossyPrefWriteFlag = 1u << 1,
  };

  // Stores `value` at the dotted path `key` (intermediate dictionaries are made) and tells the observers,
  // unless an equal value is already there.
  virtual void SetValue(const std::string& key, std::unique_ptr<base::Value> value, uint32_t flags) = 0;
  // Removes the value at `key` (emptied parents go too) and tells the observers when something was removed.
  virtual void RemoveValue(const std::string& key, uint32_t flags) = 0;
  // Like GetValue, for changing the value in place; call ReportValueChanged afterwards.
  virtual bool GetMutableValue(const std::string& key, base::Value** result) = 0;
  // Tells the observers that the value at `key` changed and schedules its write.
  virtual void ReportValueChanged(const std::string& key, uint32_t flags) = 0;
  // SetValue without telling the observers.
  virtual void SetValueSilently(const std::string& key, std::unique_ptr<base::Value> value, uint32_t flags) = 0;
  // A read-only store keeps changes in memory only.
  virtual bool ReadOnly() const = 0;
  virtual PrefReadError GetReadError() const = 0;
  // Reads the file on the calling thread.
  virtual PrefReadError ReadPrefs() = 0;
  // Writes pending changes, lossy ones included, now.
  virtual void CommitPendingWrite() = 0;
  // Schedules the write of lossy changes made since the last write.
  virtual void SchedulePendingLossyWrites() = 0;
  virtual void ClearMutableValues() = 0;

 protected:
  ~PersistentPrefStore() override = default;
};

#endif  // COMPONENTS_PREFS_PERSISTENT_PREF_STORE_H_
