#include "base/base_paths.h"

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"

namespace base {

bool PathProvider(int key, FilePath* result) {
  FilePath cur;
  switch (key) {
    case kExeDir:
      if (!PathService::Get(kExeFile, &cur))
        return false;
      cur = cur.DirName();
      break;
    case kModuleDir:
      if (!PathService::Get(kModuleFile, &cur))
        return false;
      cur = cur.DirName();
      break;
    case kTempDir:
      if (!GetTempDir(&cur))
        return false;
      break;
    case kHomeDir:
      cur = GetHomeDir();
      if (cur.empty())
        return false;
      break;
    case kTestData:
      if (!PathService::Get(kSourceRoot, &cur))
        return false;
      cur = cur.Append(L"base").Append(L"test").Append(L"data");
      if (!DirectoryExists(cur))
        return false;
      break;
    default:
      return false;
  }
  *result = cur;
  return true;
}

}  // namespace base
