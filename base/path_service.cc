#include "base/path_service.h"

#include <unordered_map>

#include "base/files/file_util.h"
#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/synchronization/lock.h"

namespace base {
namespace {

using ProviderFunction = bool (*)(int key, FilePath* result);

struct Provider {
  ProviderFunction function;
  Provider* next;
  bool is_static;
};

Provider g_base_provider = {PathProvider, nullptr, true};
Provider g_windows_provider = {PathProviderWin, &g_base_provider, true};

struct PathData {
  Lock lock;
  std::unordered_map<int, FilePath> cache;      // guarded by lock
  std::unordered_map<int, FilePath> overrides;  // guarded by lock
  // Counts overrides (guarded by lock). An answer worked out while an override came in may derive from the
  // old value, so it is handed to its caller but not cached.
  unsigned generation = 0;
  Provider* providers = &g_windows_provider;    // fixed
};

constinit LazyInstance<PathData>::Leaky g_path_data;

}  // namespace

// static
bool PathService::Get(int key, FilePath* result) {
  if (key == kCurrentDir)
    return GetCurrentDirectory(result);

  PathData& path_data = g_path_data.Get();
  unsigned generation;
  {
    AutoLock scoped_lock(path_data.lock);
    generation = path_data.generation;
    auto cached = path_data.cache.find(key);
    if (cached != path_data.cache.end()) {
      *result = cached->second;
      return true;
    }
    auto overridden = path_data.overrides.find(key);
    if (overridden != path_data.overrides.end()) {
      path_data.cache[key] = overridden->second;
      *result = overridden->second;
      return true;
    }
  }

  // Providers run without the lock: they ask for their base keys through Get.
  FilePath path;
  for (Provider* provider = path_data.providers; provider; provider = provider->next) {
    FilePath answer;
    if (provider->function(key, &answer)) {
      path = answer;
      break;
    }
  }
  if (path.empty())
    return false;

  if (path.ReferencesParent()) {
    path = MakeAbsoluteFilePath(path);
    if (path.empty())
      return false;
  }
  *result = path;

  AutoLock scoped_lock(path_data.lock);
  if (path_data.generation == generation)
    path_data.cache[key] = path;
  return true;
}

// static
bool PathService::Override(int key, const FilePath& path) {
  return OverrideAndCreateIfNeeded(key, path, false, true);
}

// static
bool PathService::OverrideAndCreateIfNeeded(int key, const FilePath& path, bool is_absolute, bool create) {
  // Get never looks for an override of the current directory: accepting one would report an effect that
  // never happens.
  if (key == kCurrentDir) {
    LOG(ERROR) << "The current directory cannot be overridden";
    return false;
  }
  PathData& path_data = g_path_data.Get();

  FilePath file_path = path;
  if (create && !PathExists(file_path) && !CreateDirectory(file_path))
    return false;

  if (!is_absolute) {
    file_path = MakeAbsoluteFilePath(file_path);
    if (file_path.empty())
      return false;
  }

  AutoLock scoped_lock(path_data.lock);
  // Keys that derive from this one may be cached.
  path_data.cache.clear();
  path_data.overrides[key] = file_path;
  ++path_data.generation;
  return true;
}

}  // namespace base
