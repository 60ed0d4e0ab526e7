// Zipping a crash log for upload: ZipCrashLog of the log named on the command line (best of 3), as a figure in
// MB/s of log for crash_zip_bench.sh, which sets it against Debian's `zip -9` of the same file.
#include <windows.h>

#include <cstdio>
#include <string>

#include "base/files/file_path.h"
#include "base/strings/utf_string_conversions.h"
#include "bench/bench_util.h"
#include "desktop/windows/crash_reporter/reporter/crash_log_zip.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: crash_zip_bench LOG ZIP\n");
    return 2;
  }
  const base::FilePath log(base::UTF8ToWide(argv[1])), zip(base::UTF8ToWide(argv[2]));
  WIN32_FILE_ATTRIBUTE_DATA attributes = {};
  if (!GetFileAttributesExW(log.value().c_str(), GetFileExInfoStandard, &attributes))
    return 1;
  const double bytes = static_cast<double>(attributes.nFileSizeLow) + attributes.nFileSizeHigh * 4294967296.0;
  const double seconds = bench::BestSeconds(3, [&] {
    DeleteFileW(zip.value().c_str());
    return zorvi::installer::ZipCrashLog(log, zip);
  });
  if (seconds < 0)
    return 1;
  bench::PrintFigure("ZipCrashLog", bytes / seconds / 1e6, "MB/s");
  return 0;
}
