#include "desktop/common/autoupdate/updatechecker/globalstorage_win.h"

#include <memory>
#include <utility>
#include <vector>

#include "base/files/file_util.h"
#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/threading/sequenced_worker_pool.h"
#include "base/values.h"
#include "base/win/registry.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/common/product/product_info.h"
#include "desktop/common/product/test_seams.h"

namespace zorvi::installer {

const wchar_t GlobalStorageWin::kFallbackFileName[] = L"au_global_storage";
const wchar_t GlobalStorageWin::kAccessMutexName[] = L"zauc_registry_mutex";

namespace {

// The fallback file's values all live in this dictionary, one string per key.
constexpr char kFallbackDictionary[] = "GS";

constinit base::LazyInstance<GlobalStorageWin> g_storage;

// Holds the access mutex for one operation, from a successful wait to the end of the scope.
class ScopedMutexHold {
 public:
  explicit ScopedMutexHold(HANDLE mutex) : mutex_(mutex) {}
  ScopedMutexHold(const ScopedMutexHold&) = delete;
  ScopedMutexHold& operator=(const ScopedMutexHold&) = delete;
  ~ScopedMutexHold() { ReleaseMutex(mutex_); }

 private:
  HANDLE mutex_;
};

// The fallback file as a preference store whose file work runs on a pool of one thread made for this access
// alone (the storage is used rarely, and never long). Going away shuts the pool down, which lets the committed
// write reach the disk first.
class FallbackStore {
 public:
  explicit FallbackStore(const base::FilePath& path)
      : pool_(new base::SequencedWorkerPool(1, "GsTaskPool")),
        store_(new JsonPrefStore(path, JsonPrefStore::GetTaskRunnerForFile(path, pool_.get()))) {
    store_->ReadPrefs();
  }
  FallbackStore(const FallbackStore&) = delete;
  FallbackStore& operator=(const FallbackStore&) = delete;
  // The store goes before the pool (members die in reverse order).
  ~FallbackStore() { pool_->Shutdown(0); }

  JsonPrefStore* store() { return store_.get(); }

  // The "GS" dictionary; null when there is none or it is something else.
  const base::DictionaryValue* values() const {
    const base::Value* value = nullptr;
    const base::DictionaryValue* dictionary = nullptr;
    if (store_->GetValue(kFallbackDictionary, &value) && value->GetAsDictionary(&dictionary))
      return dictionary;
    return nullptr;
  }

 private:
  base::scoped_refptr<base::SequencedWorkerPool> pool_;
  base::scoped_refptr<JsonPrefStore> store_;
};

}  // namespace

// GlobalStorage

// static
GlobalStorage* GlobalStorage::GetInstance() {
  GlobalStorageWin* storage = g_storage.Pointer();
  if (!storage->checked())
    storage->CheckRegistryAccess();
  return storage;
}

void GlobalStorage::Initialize(const base::FilePath&) {}

GlobalStorage::~GlobalStorage() = default;

// GlobalStorageWin

GlobalStorageWin::GlobalStorageWin() = default;

GlobalStorageWin::~GlobalStorageWin() = default;

void GlobalStorageWin::CheckRegistryAccess() {
  checked_ = true;
  base::win::RegKey key;
  const LONG result = key.Open(HKEY_CURRENT_USER, GetCompanyRegistryKeyPath().c_str(), KEY_READ | KEY_WRITE);
  if (result == ERROR_ACCESS_DENIED) {
    LOG(WARNING) << "[AU] GS: The registry key is not writable, using a fallback storage";
    use_fallback_ = true;
  }
}

int32_t GlobalStorageWin::GetAccessMutex() {
  if (access_mutex_.IsValid())
    return kOk;
  const wchar_t* name = GetGlobalStorageMutexNameSeam();
  if (!name)
    name = kAccessMutexName;
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
  // Someone with more rights (an elevated installer, another user's process in the session) made it with a
  // descriptor that lets us only wait for it.
  if (!mutex && GetLastError() == ERROR_ACCESS_DENIED)
    mutex = OpenMutexW(SYNCHRONIZE, FALSE, name);
  if (!mutex)
    return kFailure;
  access_mutex_.Set(mutex);
  return kOk;
}

void GlobalStorageWin::Initialize(const base::FilePath& folder) {
  fallback_file_ = folder.Append(kFallbackFileName);
  // Values written to the file while the key was not writable move into the registry, unless this process
  // already wrote there (then the registry holds the newer values).
  if (use_fallback_ || last_registry_write_ok_ || !base::PathExists(fallback_file_))
    return;
  FallbackStore fallback(fallback_file_);
  migrating_ = true;
  if (const base::DictionaryValue* values = fallback.values()) {
    for (base::DictionaryValue::Iterator it(*values); !it.IsAtEnd(); it.Advance()) {
      std::string value;
      if (it.value().GetAsString(&value))
        Write(it.key(), value);
    }
  }
  migrating_ = false;
}

int32_t GlobalStorageWin::Write(const std::string& key, const std::string& value) {
  if (key.empty())
    return kInvalidArgument;
  if (GetAccessMutex() != kOk) {
    LOG(ERROR) << "[AU] GS: Couldn't create an access mutex";
    return kFailure;
  }
  if (WaitForSingleObject(access_mutex_.Get(), 0) == WAIT_TIMEOUT) {
    LOG(ERROR) << "[AU] GS: Couldn't get hold on an access mutex";
    return kBusy;
  }
  ScopedMutexHold hold(access_mutex_.Get());

  // Once a fallback file exists it is kept up to date too, so that it never holds stale values. A later process
  // copies the file's values into the registry: had the registry moved on without the file, that copy would turn
  // the value back, so a value the file cannot take is written nowhere.
  if (use_fallback_ || (!migrating_ && base::PathExists(fallback_file_))) {
    if (!WriteFallbackValue(key, value)) {
      LOG(ERROR) << "[AU] GS: Writing to a fallback storage failed";
      return kFailure;
    }
    if (use_fallback_)
      return kOk;
  }
  const int32_t result = value.empty() ? DeleteRegistryValue(key) : WriteRegistryValue(key, value);
  last_registry_write_ok_ = result == kOk;
  return result;
}

int32_t GlobalStorageWin::Read(const std::string& key, std::string* value) {
  if (!value)
    return kInvalidArgument;
  value->clear();
  if (key.empty())
    return kInvalidArgument;
  if (GetAccessMutex() != kOk)
    return kFailure;
  if (WaitForSingleObject(access_mutex_.Get(), 0) == WAIT_TIMEOUT)
    return kBusy;
  ScopedMutexHold hold(access_mutex_.Get());
  return use_fallback_ ? ReadFallbackValue(key, value) : ReadRegistryValue(key, value);
}

int32_t GlobalStorageWin::WriteRegistryValue(const std::string& key, const std::string& value) {
  base::win::RegKey product_key;
  LONG result = product_key.Create(HKEY_CURRENT_USER, GetCompanyRegistryKeyPath().c_str(), KEY_WRITE);
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "[AU] GS: Creating reg key failed with: " << result;
    return kFailure;
  }
  // The value's bytes alone: readers accept the text with or without a terminator.
  result = RegSetValueExA(product_key.Handle(), key.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data()),
                          static_cast<DWORD>(value.size()));
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "[AU] GS: Setting reg value failed with: " << result;
    return kFailure;
  }
  return kOk;
}

int32_t GlobalStorageWin::DeleteRegistryValue(const std::string& key) {
  base::win::RegKey product_key;
  const LONG result = product_key.Open(HKEY_CURRENT_USER, GetCompanyRegistryKeyPath().c_str(), KEY_WRITE);
  if (result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND)
    return kOk;  // nothing to delete
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "[AU] GS: Deleting reg value failed with: " << result;
    return kFailure;
  }
  RegDeleteValueA(product_key.Handle(), key.c_str());  // a value that is not there is as good as deleted
  return kOk;
}

int32_t GlobalStorageWin::ReadRegistryValue(const std::string& key, std::string* value) {
  base::win::RegKey product_key;
  if (product_key.Open(HKEY_CURRENT_USER, GetCompanyRegistryKeyPath().c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS)
    return kOk;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(product_key.Handle(), key.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      size == 0) {
    return kOk;
  }
  // One byte more than stored, so that a value written without a terminator gets one.
  std::vector<char> buffer(size + 1, '\0');
  DWORD read = size;
  if (RegQueryValueExA(product_key.Handle(), key.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                       &read) != ERROR_SUCCESS) {
    return kFailure;
  }
  value->assign(buffer.data());
  return kOk;
}

bool GlobalStorageWin::WriteFallbackValue(const std::string& key, const std::string& value) {
  // Without a folder from Initialize, or with a folder that is gone, the value could only be lost.
  if (fallback_file_.empty())
    return false;
  {
    FallbackStore fallback(fallback_file_);
    JsonPrefStore* store = fallback.store();
    // A store that could not read an existing file must not overwrite it.
    if (store->ReadOnly() || !store->IsInitializationComplete())
      return false;
    const base::DictionaryValue* current = fallback.values();
    std::unique_ptr<base::DictionaryValue> values(current ? current->DeepCopy() : new base::DictionaryValue);
    if (value.empty())
      values->RemoveWithoutPathExpansion(key, nullptr);
    else
      values->SetStringWithoutPathExpansion(key, value);
    store->SetValue(kFallbackDictionary, std::move(values), JsonPrefStore::kDefaultPrefWriteFlags);
    store->CommitPendingWrite();
  }
  // The write ran on the store's own thread, which the store's end waited for, and reports nothing back; the
  // file says whether it happened (a full disk, or a reader that shares no deletion, keeps the old file).
  FallbackStore written(fallback_file_);
  const base::DictionaryValue* values = written.values();
  const base::Value* entry = nullptr;
  if (!values || !values->GetWithoutPathExpansion(key, &entry))
    return value.empty();
  std::string stored;
  return !value.empty() && entry->GetAsString(&stored) && stored == value;
}

int32_t GlobalStorageWin::ReadFallbackValue(const std::string& key, std::string* value) {
  FallbackStore fallback(fallback_file_);
  const base::Value* stored = nullptr;
  if (!fallback.store()->GetValue(kFallbackDictionary, &stored))
    return kOk;
  const base::DictionaryValue* values = nullptr;
  const base::Value* entry = nullptr;
  std::string text;
  if (!stored->GetAsDictionary(&values))
    return kFailure;
  // A value never written, or deleted, reads as empty, as it does from the registry.
  if (!values->GetWithoutPathExpansion(key, &entry))
    return kOk;
  // Values are ASCII by contract (identifiers, numbers, dates); anything else was not written by this storage.
  if (!entry->GetAsString(&text) || !base::IsStringASCII(text))
    return kFailure;
  *value = std::move(text);
  return kOk;
}

}  // namespace zorvi::installer
