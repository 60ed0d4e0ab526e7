// PathService tells where well-known files and folders are, by the numbered keys of base_paths.h (other
// subsystems use further numbers that only an override resolves). Answers come from a cache, then from
// overrides set at run time, then from the providers; any thread may ask.
#ifndef BASE_PATH_SERVICE_H_
#define BASE_PATH_SERVICE_H_

#include "base/base_paths.h"
#include "base/files/file_path.h"

namespace base {

class PathService {
 public:
  PathService() = delete;

  // The path for `key` into *result; false, leaving *result untouched, when no one answers.
  static bool Get(int key, FilePath* result);

  // Override(key, path) is OverrideAndCreateIfNeeded(key, path, false, true).
  static bool Override(int key, const FilePath& path);

  // From now on `key` resolves to `path` (made absolute unless `is_absolute` says it is; with `create` the
  // folder is created first when missing). Clears every cached answer, since other keys derive from this one.
  // kCurrentDir cannot be overridden.
  static bool OverrideAndCreateIfNeeded(int key, const FilePath& path, bool is_absolute, bool create);
};

}  // namespace base

#endif  // BASE_PATH_SERVICE_H_
