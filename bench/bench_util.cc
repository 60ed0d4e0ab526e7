#include "bench/bench_util.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

void DoNotOptimize(const void* pointer) {
  asm volatile("" : : "g"(pointer) : "memory");
}

}  // namespace bench
