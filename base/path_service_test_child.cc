// Prints what the path service answers for each key given on the command line, one "key=path" line each
// ("key=" alone when the key fails), for tests that run it under another Windows version.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/windows_version.h"

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::printf("version=%d\n", static_cast<int>(base::win::GetVersion()));
  for (int i = 1; i < argc; ++i) {
    const int key = static_cast<int>(std::wcstol(argv[i], nullptr, 10));
    base::FilePath path;
    const bool found = base::PathService::Get(key, &path);
    std::printf("%d=%s\n", key, found ? base::WideToUTF8(path.value()).c_str() : "");
  }
  return 0;
}
