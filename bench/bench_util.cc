#include "bench/bench_util.h"

#include <windows.h>

#include <shellapi.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/win/scoped_handle.h"
#include "base/win/scoped_internet_handle.h"

namespace bench {

bool Smoke() {
  static const bool smoke = [] {
    const char* value = getenv("ZORVI_BENCH_SMOKE");
    return value && strcmp(value, "1") == 0;
  }();
  return smoke;
}

int Sized(int full, int smoke) {
  return Smoke() ? smoke : full;
}

double NowSeconds() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Rate(const std::function<void()>& body, double work_per_call, double min_seconds) {
  body();
  double start = NowSeconds(), elapsed = 0;
  int64_t calls = 0;
  do {
    body();
    ++calls;
    elapsed = NowSeconds() - start;
  } while (elapsed < min_seconds && !Smoke());
  return static_cast<double>(calls) * work_per_call / elapsed;
}

void Report(const std::string& name, double value, const std::string& unit, const std::string& reference_name,
            double reference, Better better) {
  double ratio = better == Better::kHigher ? value / reference : reference / value;
  printf("%s: %.4g %s | %s: %.4g %s | ratio %.2fx\n", name.c_str(), value, unit.c_str(), reference_name.c_str(),
         reference, unit.c_str(), ratio);
  fflush(stdout);
}

void PrintFigure(const std::string& name, double value, const std::string& unit) {
  printf("figure\t%s\t%.6g\t%s\n", name.c_str(), value, unit.c_str());
  fflush(stdout);
}

void ListTree(const std::wstring& root, const std::wstring& relative, std::vector<std::wstring>* folders,
              std::vector<std::wstring>* files) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((root + relative + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE)
    return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..")
      continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      folders->push_back(relative + L"\\" + name);
      ListTree(root, relative + L"\\" + name, folders, files);
    } else {
      files->push_back(relative + L"\\" + name);
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

wchar_t** Arguments(int count, const char* usage) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc == count + 1)
    return argv;
  fprintf(stderr, "usage: %s\n", usage);
  return nullptr;
}

bool BareDownload(const std::wstring& url, const std::wstring& output, size_t read_size) {
  const base::win::ScopedInternetHandle internet(
      InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  const base::win::ScopedInternetHandle request(
      internet.IsValid() ? InternetOpenUrlW(internet.Get(), url.c_str(), nullptr, 0,
                                            INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT, 0)
                         : nullptr);
  if (!request.IsValid())
    return false;
  const base::win::ScopedHandle file(
      CreateFileW(output.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid())
    return false;
  std::vector<char> buffer(read_size);
  for (;;) {
    DWORD read = 0;
    if (!InternetReadFile(request.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read))
      return false;
    if (read == 0)
      return true;
    DWORD written = 0;
    if (!WriteFile(file.Get(), buffer.data(), read, &written, nullptr) || written != read)
      return false;
  }
}

bool BareCopy(const std::wstring& tree, const std::wstring& destination, const std::vector<std::wstring>& folders,
              const std::vector<std::wstring>& files) {
  bool ok = CreateDirectoryW(destination.c_str(), nullptr) != FALSE;
  for (const std::wstring& folder : folders)
    ok = ok && CreateDirectoryW((destination + folder).c_str(), nullptr);
  for (const std::wstring& file : files)
    ok = ok && CopyFileW((tree + file).c_str(), (destination + file).c_str(), TRUE);
  return ok;
}

void DoNotOptimize(const void* pointer) {
  asm volatile("" : : "g"(pointer) : "memory");
}

}  // namespace bench
