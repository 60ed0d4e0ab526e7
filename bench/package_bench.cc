// The package checks on data that package_bench.sh made: ChecksumChecker::Check of a large file and LzmaUtil's
// unpacking of a solid package. Prints the best time of several runs of each as figures; package_bench.sh
// sets them against native openssl and 7-Zip on the same files in the same run. Arguments: the large file, its
// SHA-256 text, the archive, and a folder to unpack into (removed between runs, untimed).
#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "bench/bench_util.h"
#include "desktop/launcher/installer/package_fetcher/checksum_checker.h"
#include "desktop/launcher/installer/package_fetcher/lzma_util.h"

int main() {
  wchar_t** argv = bench::Arguments(4, "package_bench FILE SHA256 ARCHIVE TARGET (package_bench.sh makes them)");
  if (!argv)
    return 2;
  const base::FilePath file(argv[1]);
  const std::string checksum = base::WideToUTF8(argv[2]);
  const base::FilePath archive(argv[3]);
  const base::FilePath target(argv[4]);

  const double check = bench::BestSeconds(5, [&] { return zorvi::installer::ChecksumChecker::Check(file, checksum); });
  bench::PrintFigure("check", check, "s");

  // Each run unpacks into a fresh folder. Removing the previous run's tree is not unpacking and stays out of the
  // time, as the reference's removal between its runs does. The folder exists before the unpacking starts, as
  // the package fetcher makes it: the decoded block then lives in a mapped file there, not on the heap.
  const double unpack = bench::BestSeconds(
      5,
      [&] {
        base::DeleteFile(target, true);
        base::CreateDirectory(target);
      },
      [&] {
        zorvi::installer::LzmaUtil unpacker;
        return unpacker.OpenArchive(archive) == 0 && unpacker.UnPack(target) == 0;
      });
  bench::PrintFigure("unpack", unpack, "s");
  return check < 0 || unpack < 0;
}
