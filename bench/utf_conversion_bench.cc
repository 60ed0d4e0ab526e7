// UTF-8 to UTF-16 and back on 10 MiB of ASCII and of mixed-script text, against the system converter
// (MultiByteToWideChar / WideCharToMultiByte, code page 65001) in the same run. Rates count the UTF-8 bytes
// in both directions. The converters under test return a new string on every call, so the main reference
// does too, in the faster of two ways: a length query, then an exact string filled by a second call; or one
// call into a string sized for the worst case. A second line sets
// them against the system call writing into a warm buffer allocated once, which no caller that needs a new
// string gets (under wine, touching fresh pages of a 20 MB result costs about as much as converting it).
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "base/strings/utf_string_conversions.h"
#include "bench/bench_util.h"

namespace {

const size_t kTextBytes = bench::Sized(10 << 20, 256 << 10);

std::string MakeASCII() {
  std::string text;
  text.reserve(kTextBytes);
  std::mt19937 random(1);
  while (text.size() < kTextBytes)
    text.push_back(static_cast<char>(0x20 + random() % 0x5F));
  return text;
}

void AppendUTF8(uint32_t code_point, std::string* out) {
  if (code_point < 0x80) {
    out->push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

// Words of one script each (Latin with accents, Greek, Cyrillic, Arabic, CJK, Hangul, emoji) between ASCII
// spaces and punctuation, roughly as a localised user interface or a file list mixes them.
std::string MakeMixed() {
  struct Range {
    uint32_t low, high;
  };
  const Range ranges[] = {{0x61, 0x7A},   {0xC0, 0x17F},   {0x391, 0x3C9},   {0x410, 0x44F},
                          {0x627, 0x64A}, {0x4E00, 0x9FFF}, {0xAC00, 0xD7A3}, {0x1F600, 0x1F64F}};
  std::string text;
  text.reserve(kTextBytes + 64);
  std::mt19937 random(2);
  while (text.size() < kTextBytes) {
    const Range& range = ranges[random() % (sizeof(ranges) / sizeof(ranges[0]))];
    const int length = 1 + static_cast<int>(random() % 10);
    for (int i = 0; i < length; ++i)
      AppendUTF8(range.low + random() % (range.high - range.low + 1), &text);
    text.push_back(random() % 8 == 0 ? ',' : ' ');
  }
  return text;
}

// The faster of the system converter's two ways to a new string: one call into a string sized for the worst
// case, or a length query and then an exact string filled by a second call. `convert(out, capacity)`
// converts the whole input into at most `capacity` units at `out` (with a null `out` it only counts them)
// and returns the units written or needed.
template <typename String, typename Convert>
double SystemToNewStringRate(size_t worst_case, double megabytes, Convert convert) {
  return std::max(bench::Rate(
                      [&] {
                        String result(worst_case, 0);
                        result.resize(convert(result.data(), static_cast<int>(result.size())));
                        bench::DoNotOptimize(result.data());
                      },
                      megabytes),
                  bench::Rate(
                      [&] {
                        const int n = convert(nullptr, 0);
                        String result(n, 0);
                        convert(result.data(), n);
                        bench::DoNotOptimize(result.data());
                      },
                      megabytes));
}

void Measure(const char* label, const std::string& utf8) {
  const double megabytes = static_cast<double>(utf8.size()) / 1e6;
  const std::wstring utf16 = base::UTF8ToWide(utf8);
  if (base::WideToUTF8(utf16) != utf8) {
    printf("%s: round trip differs\n", label);
    return;
  }

  std::vector<wchar_t> wide_buffer(utf8.size() + 1);
  std::vector<char> narrow_buffer(utf16.size() * 3 + 1);
  const int utf8_length = static_cast<int>(utf8.size());
  const int utf16_length = static_cast<int>(utf16.size());
  const auto system_to_wide = [&](wchar_t* out, int capacity) {
    return MultiByteToWideChar(CP_UTF8, 0, utf8.data(), utf8_length, out, capacity);
  };
  const auto system_to_utf8 = [&](char* out, int capacity) {
    return WideCharToMultiByte(CP_UTF8, 0, utf16.data(), utf16_length, out, capacity, nullptr, nullptr);
  };

  const double ours_to_wide = bench::Rate(
      [&] {
        std::wstring result = base::UTF8ToWide(utf8);
        bench::DoNotOptimize(result.data());
      },
      megabytes);
  const double system_to_new_wide = SystemToNewStringRate<std::wstring>(utf8.size(), megabytes, system_to_wide);
  const double system_to_warm_wide = bench::Rate(
      [&] {
        const int n = system_to_wide(wide_buffer.data(), utf8_length);
        bench::DoNotOptimize(wide_buffer.data() + n);
      },
      megabytes);
  bench::Report(std::string(label) + " UTF8ToWide", ours_to_wide, "MB/s", "MultiByteToWideChar, new string",
                system_to_new_wide);
  bench::Report(std::string(label) + " UTF8ToWide", ours_to_wide, "MB/s", "MultiByteToWideChar, warm buffer",
                system_to_warm_wide);

  const double ours_to_utf8 = bench::Rate(
      [&] {
        std::string result = base::WideToUTF8(utf16);
        bench::DoNotOptimize(result.data());
      },
      megabytes);
  const double system_to_new_utf8 = SystemToNewStringRate<std::string>(utf16.size() * 3, megabytes, system_to_utf8);
  const double system_to_warm_utf8 = bench::Rate(
      [&] {
        const int n = system_to_utf8(narrow_buffer.data(), static_cast<int>(narrow_buffer.size()));
        bench::DoNotOptimize(narrow_buffer.data() + n);
      },
      megabytes);
  bench::Report(std::string(label) + " WideToUTF8", ours_to_utf8, "MB/s", "WideCharToMultiByte, new string",
                system_to_new_utf8);
  bench::Report(std::string(label) + " WideToUTF8", ours_to_utf8, "MB/s", "WideCharToMultiByte, warm buffer",
                system_to_warm_utf8);
}

}  // namespace

int main() {
  Measure("10 MiB ASCII", MakeASCII());
  Measure("10 MiB mixed", MakeMixed());
  return 0;
}
