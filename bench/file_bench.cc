// The file layer on data that file_bench.sh made: reading a 100 MiB file whole with ReadFileToString, and
// copying a 10,000-file tree with CopyDirectory. Prints the best time of several runs of each as figures;
// file_bench.sh sets them against cat and cp on the same data from Linux. Arguments: the big file, the
// tree, and a destination path for the copies (removed between runs).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "bench/bench_util.h"

int main() {
  wchar_t** argv = bench::Arguments(3, "file_bench BIG_FILE TREE DESTINATION (file_bench.sh makes them)");
  if (!argv)
    return 2;
  const base::FilePath big_file(argv[1]);
  const base::FilePath tree(argv[2]);
  const base::FilePath destination(argv[3]);

  std::string contents;
  base::ReadFileToString(big_file, &contents);  // warm the host's cache
  const double read = bench::BestSeconds(5, [&] { return base::ReadFileToString(big_file, &contents); });
  bench::DoNotOptimize(contents.data());
  // The same bytes through one raw read into a buffer that is already there: the platform's own cost.
  std::string buffer(contents.size(), '\0');
  const double raw_read = bench::BestSeconds(5, [&] {
    HANDLE file = CreateFileW(big_file.value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    DWORD done = 0;
    const bool ok = file != INVALID_HANDLE_VALUE &&
                    ::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &done, nullptr) &&
                    done == buffer.size();
    CloseHandle(file);
    return ok;
  });
  bench::Report("ReadFileToString " + std::to_string(contents.size() >> 20) + " MiB", contents.size() / read / 1e6, "MB/s", "one raw ReadFile",
                contents.size() / raw_read / 1e6);

  // Each copy starts without the destination; removing it is not timed.
  double copy = 1e300;
  for (int i = 0; i < bench::Sized(3, 1) && copy >= 0; ++i) {
    base::DeleteFile(destination, true);
    const double start = bench::NowSeconds();
    copy = base::CopyDirectory(tree, destination, true) ? std::min(copy, bench::NowSeconds() - start) : -1;
  }
  // The platform's own cost of the same copy: the system's folder and file copies over a list made beforehand.
  std::vector<std::wstring> folders;
  std::vector<std::wstring> files;
  bench::ListTree(tree.value(), L"", &folders, &files);
  double raw_copy = 1e300;
  for (int i = 0; i < bench::Sized(3, 1) && raw_copy >= 0; ++i) {
    base::DeleteFile(destination, true);
    const double start = bench::NowSeconds();
    bool ok = CreateDirectoryW(destination.value().c_str(), nullptr) != FALSE;
    for (const std::wstring& folder : folders)
      ok = ok && CreateDirectoryW((destination.value() + folder).c_str(), nullptr);
    for (const std::wstring& file : files)
      ok = ok && CopyFileW((tree.value() + file).c_str(), (destination.value() + file).c_str(), FALSE);
    raw_copy = ok ? std::min(raw_copy, bench::NowSeconds() - start) : -1;
  }
  base::DeleteFile(destination, true);
  bench::Report("CopyDirectory of " + std::to_string(files.size()) + " files", files.size() / copy, "files/s", "raw CreateDirectoryW/CopyFileW",
                files.size() / raw_copy);

  if (read < 0 || copy < 0) {
    fprintf(stderr, "a run failed\n");
    return 1;
  }
  bench::PrintFigure("read", read, "s");
  bench::PrintFigure("copy", copy, "s");
  return 0;
}
