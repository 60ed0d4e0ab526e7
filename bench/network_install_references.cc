// The bare references of network_install_bench.sh: each phase of a network install done by plain calls under
// wine, on the same server, file and tree, in the same run. Prints one figure per phase (seconds):
//   download   a synchronous WinINet GET of URL, 64 KiB per InternetReadFile, each piece written to DOWNLOADED
//   sha256     ReadFile of DOWNLOADED in 1 MiB pieces into SHA-256 (the digest is printed for the caller to check)
//   decode     the 7z decoder alone: every solid block of ARCHIVE decoded into memory
//   write      CreateDirectoryW, then CreateFileW/WriteFile/CloseHandle of every decoded entry under UNPACKED
//   copy       CreateDirectoryW/CopyFileW of the tree below UNPACKED to COPIED
//   delete     FindFirstFileW/DeleteFileW/RemoveDirectoryW of the tree below UNPACKED, as the run's end removes it
// Arguments: URL DOWNLOADED ARCHIVE UNPACKED COPIED.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "7z.h"
#include "7zAlloc.h"
#include "7zCrc.h"
#include "base/win/scoped_handle.h"
#include "bench/bench_util.h"
#include "crypto/secure_hash.h"
#include "desktop/launcher/installer/package_fetcher/lzma_util.h"

namespace {

bool Sha256(const std::wstring& path, std::string* hex) {
  const base::win::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::unique_ptr<crypto::SecureHash> hash = crypto::SecureHash::Create(crypto::SecureHash::SHA256);
  if (!file.IsValid() || !hash)
    return false;
  std::vector<char> buffer(1 << 20);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
      return false;
    if (read == 0)
      break;
    hash->Update(buffer.data(), read);
  }
  unsigned char digest[32];
  hash->Finish(digest, sizeof(digest));
  char text[3];
  for (unsigned char byte : digest) {
    snprintf(text, sizeof(text), "%02x", byte);
    *hex += text;
  }
  return true;
}

struct Entry {
  std::wstring name;
  bool folder;
  std::vector<unsigned char> data;
};

// Every entry of the archive, its data cut out of the decoded blocks.
bool Decode(const std::wstring& archive, std::vector<Entry>* entries) {
  const base::win::ScopedHandle file(CreateFileW(archive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid())
    return false;
  zorvi::installer::LzmaFileStream stream(file.Get());
  std::vector<Byte> look_buffer(1 << 18);
  CLookToRead2 look;
  LookToRead2_CreateVTable(&look, False);
  look.buf = look_buffer.data();
  look.bufSize = look_buffer.size();
  look.realStream = &stream.vt;
  LookToRead2_INIT(&look);
  static const ISzAlloc kHeap = {&SzAlloc, &SzFree};
  static const ISzAlloc kHeapTemp = {&SzAllocTemp, &SzFreeTemp};
  CrcGenerateTable();
  CSzArEx database;
  SzArEx_Init(&database);
  bool ok = SzArEx_Open(&database, &look.vt, &kHeap, &kHeapTemp) == SZ_OK;
  UInt32 block_index = 0xFFFFFFFF;
  Byte* block = nullptr;
  size_t block_size = 0;
  for (UInt32 i = 0; ok && i < database.NumFiles; ++i) {
    Entry entry{std::wstring(SzArEx_GetFileNameUtf16(&database, i, nullptr), L'\0'),
                SzArEx_IsDir(&database, i) != 0, {}};
    SzArEx_GetFileNameUtf16(&database, i, reinterpret_cast<UInt16*>(entry.name.data()));
    entry.name.pop_back();
    for (wchar_t& c : entry.name)
      c = c == L'/' ? L'\\' : c;
    size_t offset = 0;
    size_t size = 0;
    if (database.FileToFolder[i] != static_cast<UInt32>(-1)) {
      ok = SzArEx_Extract(&database, &look.vt, i, &block_index, &block, &block_size, &offset, &size, &kHeap,
                          &kHeapTemp) == SZ_OK;
      if (ok)
        entry.data.assign(block + offset, block + offset + size);
    }
    entries->push_back(std::move(entry));
  }
  ISzAlloc_Free(&kHeap, block);
  SzArEx_Free(&database, &kHeap);
  return ok;
}

// Folders are made as the archive lists them; a file's folder is made before it when the archive did not list it.
bool Write(const std::wstring& root, const std::vector<Entry>& entries) {
  bool ok = CreateDirectoryW(root.c_str(), nullptr) != FALSE;
  for (const Entry& entry : entries) {
    const std::wstring path = root + L"\\" + entry.name;
    if (entry.folder) {
      ok = ok && (CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
      continue;
    }
    for (size_t slash = path.find(L'\\', root.size() + 1); ok && slash != std::wstring::npos;
         slash = path.find(L'\\', slash + 1)) {
      ok = CreateDirectoryW(path.substr(0, slash).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
    }
    const base::win::ScopedHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ok = ok && file.IsValid() &&
         WriteFile(file.Get(), entry.data.data(), static_cast<DWORD>(entry.data.size()), &written, nullptr) &&
         written == entry.data.size();
  }
  return ok;
}

bool Copy(const std::wstring& tree, const std::wstring& destination) {
  std::vector<std::wstring> folders;
  std::vector<std::wstring> files;
  bench::ListTree(tree, L"", &folders, &files);
  return bench::BareCopy(tree, destination, folders, files);
}

bool Delete(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return false;
  bool ok = true;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..")
      continue;
    const std::wstring path = folder + L"\\" + name;
    ok = ok && ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? Delete(path) : DeleteFileW(path.c_str()));
  } while (ok && FindNextFileW(search, &found));
  FindClose(search);
  return ok && RemoveDirectoryW(folder.c_str());
}

}  // namespace

int main() {
  wchar_t** argv = bench::Arguments(5, "network_install_references URL DOWNLOADED ARCHIVE UNPACKED COPIED");
  if (!argv)
    return 2;
  std::string digest;
  std::vector<Entry> entries;
  const std::pair<const char*, std::function<bool()>> phases[] = {
      {"download", [&] { return bench::BareDownload(argv[1], argv[2], 64 * 1024); }},
      {"sha256", [&] { return Sha256(argv[2], &digest); }},
      {"decode", [&] { return Decode(argv[3], &entries); }},
      {"write", [&] { return Write(argv[4], entries); }},
      {"copy", [&] { return Copy(argv[4], argv[5]); }},
      {"delete", [&] { return Delete(argv[4]); }},
  };
  bool failed = false;
  for (const auto& [name, body] : phases) {
    const double seconds = bench::BestSeconds(1, body);
    bench::PrintFigure(name, seconds, "s");
    failed = failed || seconds < 0;
  }
  printf("digest\t%s\n", digest.c_str());
  return failed;
}
