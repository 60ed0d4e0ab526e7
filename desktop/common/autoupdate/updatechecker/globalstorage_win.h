// The autoupdate global storage: a small per-user key/value store of narrow strings, shared with the browser's
// autoupdate component and the installer. Values are REG_SZ values of the product's key under
// HKEY_CURRENT_USER; a user who may not write that key gets a JSON file instead ("au_global_storage", its values
// under "GS"), which is copied into the registry once the key becomes writable. One named mutex serialises every
// process of the user; nobody waits for it: an operation that finds it held answers kBusy.
#ifndef DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBALSTORAGE_WIN_H_
#define DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBALSTORAGE_WIN_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace zorvi::installer {

class GlobalStorage {
 public:
  // Results of Write and Read.
  static constexpr int32_t kOk = 0;
  static constexpr int32_t kBusy = 1;  // another process holds the access mutex
  static constexpr int32_t kInvalidArgument = -254;
  static constexpr int32_t kFailure = -252;

  // The process's storage, made on first use and destroyed at exit. The first call also checks whether the
  // user may write the product's key.
  static GlobalStorage* GetInstance();

  // Names the folder of the fallback file and copies that file's values into the registry when it is the first
  // use of the registry by this process. The default does nothing.
  virtual void Initialize(const base::FilePath& folder);
  // An empty value deletes the key. An empty key is an invalid argument. While a fallback file exists, a value
  // it cannot take is refused (kFailure) and written nowhere.
  virtual int32_t Write(const std::string& key, const std::string& value) = 0;
  // *value is cleared first; a missing value reads as empty with kOk.
  virtual int32_t Read(const std::string& key, std::string* value) = 0;
  virtual ~GlobalStorage();
};

class GlobalStorageWin : public GlobalStorage {
 public:
  // The fallback file in the folder given to Initialize.
  static const wchar_t kFallbackFileName[];
  // The mutex every process of the user shares (kernel objects of the user's session).
  static const wchar_t kAccessMutexName[];

  GlobalStorageWin();
  GlobalStorageWin(const GlobalStorageWin&) = delete;
  GlobalStorageWin& operator=(const GlobalStorageWin&) = delete;
  ~GlobalStorageWin() override;

  void Initialize(const base::FilePath& folder) override;
  int32_t Write(const std::string& key, const std::string& value) override;
  int32_t Read(const std::string& key, std::string* value) override;

  // kOk once the access mutex is held open (created, or, where creating it is denied, opened for waiting only);
  // kFailure when neither works.
  int32_t GetAccessMutex();

  // Opens the product's key for reading and writing: only when that is denied do values go to the fallback file
  // instead (a missing key will simply be created). GetInstance runs it on its first call.
  void CheckRegistryAccess();

  bool checked() const { return checked_; }
  bool use_fallback() const { return use_fallback_; }
  HANDLE access_mutex_for_testing() const { return access_mutex_.Get(); }

 private:
  // The registry half of Write; logs its failures.
  int32_t WriteRegistryValue(const std::string& key, const std::string& value);
  int32_t DeleteRegistryValue(const std::string& key);
  int32_t ReadRegistryValue(const std::string& key, std::string* value);
  // The fallback halves.
  bool WriteFallbackValue(const std::string& key, const std::string& value);
  int32_t ReadFallbackValue(const std::string& key, std::string* value);

  base::win::ScopedHandle access_mutex_;
  base::FilePath fallback_file_;
  bool checked_ = false;                 // CheckRegistryAccess ran
  bool use_fallback_ = false;            // writing the product's key was denied
  bool last_registry_write_ok_ = false;  // the last registry write or deletion of this process succeeded
  bool migrating_ = false;               // Initialize is copying the fallback file's values into the registry
};

}  // namespace zorvi::installer

#endif  // DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBALSTORAGE_WIN_H_
