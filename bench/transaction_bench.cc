// The install operations on data that transaction_bench.sh made: a 3,000-file tree shaped like a browser
// package copied into a new folder through one CopyFileOperation per file in one transaction, then committed,
// against the system's bare folder and file copies over the same list in the same run; and the deletion of a
// 1,001-key registry tree through DeleteRegKeyOperation and its rollback, against the system's own tree
// deletion and a plain recreation. Arguments: the tree and a destination path (removed between runs).
#include <windows.h>

#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "bench/bench_util.h"
#include "desktop/launcher/installer/service/transactions/delete_reg_key_operation.h"
#include "desktop/launcher/installer/service/transactions/file_transfer_operation.h"

namespace {

using zorvi::installer::CopyFileOperation;
using zorvi::installer::DeleteRegKeyOperation;
using zorvi::installer::OperationList;

const int kRuns = bench::Sized(3, 1);

bool CopyWithOperations(const std::wstring& tree,
                        const std::wstring& destination,
                        const std::vector<std::wstring>& files) {
  OperationList transaction;
  for (const std::wstring& file : files) {
    if (!ExecuteOperation(&transaction, std::make_unique<CopyFileOperation>(base::FilePath(tree + file),
                                                                            base::FilePath(destination + file)))) {
      zorvi::installer::RollbackOperations(&transaction);
      return false;
    }
  }
  zorvi::installer::DeleteOperations(&transaction);
  return true;
}

bool CopyBare(const std::wstring& tree,
              const std::wstring& destination,
              const std::vector<std::wstring>& folders,
              const std::vector<std::wstring>& files) {
  bool ok = CreateDirectoryW(destination.c_str(), nullptr) != FALSE;
  for (const std::wstring& folder : folders)
    ok = ok && CreateDirectoryW((destination + folder).c_str(), nullptr);
  for (const std::wstring& file : files)
    ok = ok && CopyFileExW((tree + file).c_str(), (destination + file).c_str(), nullptr, nullptr, nullptr, 0);
  return ok;
}

// 1 + 100 + 900 keys, each of the 900 with one value.
bool MakeKeyTree(const std::wstring& root) {
  for (int i = 0; i < 100; ++i) {
    for (int j = 0; j < 9; ++j) {
      HKEY key = nullptr;
      const std::wstring path = root + L"\\K" + std::to_wstring(i) + L"\\S" + std::to_wstring(j);
      if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr))
        return false;
      const DWORD value = i * 10 + j;
      RegSetValueExW(key, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
      RegCloseKey(key);
    }
  }
  return true;
}

}  // namespace

int main() {
  wchar_t** argv = bench::Arguments(2, "transaction_bench TREE DESTINATION (transaction_bench.sh makes them)");
  if (!argv)
    return 2;
  const std::wstring tree = argv[1];
  const std::wstring destination = argv[2];
  std::vector<std::wstring> folders;
  std::vector<std::wstring> files;
  bench::ListTree(tree, L"", &folders, &files);

  // Turn about, so that neither side always finds the host's caches in the other's favour.
  double operations = 1e300;
  double bare = 1e300;
  for (int i = 0; i < kRuns; ++i) {
    for (const bool with_operations : {true, false}) {
      base::DeleteFile(base::FilePath(destination), true);
      const double start = bench::NowSeconds();
      const bool ok =
          with_operations ? CopyWithOperations(tree, destination, files) : CopyBare(tree, destination, folders, files);
      const double spent = bench::NowSeconds() - start;
      if (!ok) {
        fprintf(stderr, "a copy failed\n");
        return 1;
      }
      (with_operations ? operations : bare) = std::min(with_operations ? operations : bare, spent);
    }
  }
  base::DeleteFile(base::FilePath(destination), true);
  bench::Report("CopyFileOperations of " + std::to_string(files.size()) + " files, committed",
                files.size() / operations, "files/s", "bare CreateDirectoryW/CopyFileExW", files.size() / bare);
  bench::PrintFigure("copy", operations, "s");

  const std::wstring root = L"Software\\ZorviTransactionBench" + std::to_wstring(GetCurrentProcessId());
  double deletion = 1e300, rollback = 1e300, system_deletion = 1e300, recreation = 1e300;
  for (int i = 0; i < kRuns; ++i) {
    if (!MakeKeyTree(root))
      return 1;
    double start = bench::NowSeconds();
    OperationList transaction;
    if (!ExecuteOperation(&transaction, std::make_unique<DeleteRegKeyOperation>(HKEY_CURRENT_USER, root)))
      return 1;
    deletion = std::min(deletion, bench::NowSeconds() - start);
    start = bench::NowSeconds();
    zorvi::installer::RollbackOperations(&transaction);
    rollback = std::min(rollback, bench::NowSeconds() - start);
    start = bench::NowSeconds();
    SHDeleteKeyW(HKEY_CURRENT_USER, root.c_str());
    system_deletion = std::min(system_deletion, bench::NowSeconds() - start);
    start = bench::NowSeconds();
    if (!MakeKeyTree(root))
      return 1;
    recreation = std::min(recreation, bench::NowSeconds() - start);
    SHDeleteKeyW(HKEY_CURRENT_USER, root.c_str());
  }
  bench::Report("DeleteRegKeyOperation of 1,001 keys", deletion * 1e3, "ms", "SHDeleteKeyW", system_deletion * 1e3,
                bench::Better::kLower);
  bench::Report("its rollback", rollback * 1e3, "ms", "creating the keys and values plainly", recreation * 1e3,
                bench::Better::kLower);
  return 0;
}
