// Double <-> text throughput of the shortest-text printer and the correctly rounded parser, each beside the
// C runtime's snprintf("%.17g") and strtod measured in the same run on the same values.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/strings/dtoa.h"
#include "base/strings/string_number_conversions.h"
#include "bench/bench_util.h"

namespace {

// Doubles of two kinds: random finite bit patterns (17 significant digits mostly) and short decimals such as
// prices and ratios (a few digits).
std::vector<double> MakeValues(bool short_decimals) {
  std::mt19937_64 random(short_decimals ? 11 : 7);
  std::vector<double> values;
  while (values.size() < 4096) {
    double value;
    if (short_decimals) {
      value = static_cast<double>(random() % 1000000) / 100.0;
    } else {
      const uint64_t bits = random();
      std::memcpy(&value, &bits, sizeof(value));
      if (((bits >> 52) & 0x7FF) == 0x7FF)
        continue;
    }
    values.push_back(value);
  }
  return values;
}

void Measure(const char* kind, const std::vector<double>& values) {
  const double count = static_cast<double>(values.size());
  const double ours_print = bench::Rate(
      [&] {
        for (double value : values) {
          std::string text = base::DoubleToString(value);
          bench::DoNotOptimize(text.data());
        }
      },
      count);
  const double reference_print = bench::Rate(
      [&] {
        char buffer[32];
        for (double value : values) {
          std::snprintf(buffer, sizeof(buffer), "%.17g", value);
          bench::DoNotOptimize(buffer);
        }
      },
      count);
  bench::Report(std::string("DoubleToString, ") + kind, ours_print / 1e6, "M/s", "snprintf(\"%.17g\")",
                reference_print / 1e6);

  // Both parsers read the same texts: the C runtime's own "%.17g" form of each value.
  std::vector<std::string> texts;
  for (double value : values) {
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%.17g", value);
    texts.push_back(buffer);
  }
  const double ours_parse = bench::Rate(
      [&] {
        double sum = 0;
        for (const std::string& text : texts) {
          double value;
          base::StringToDouble(text, &value);
          sum += value;
        }
        bench::DoNotOptimize(&sum);
      },
      count);
  const double reference_parse = bench::Rate(
      [&] {
        double sum = 0;
        for (const std::string& text : texts)
          sum += std::strtod(text.c_str(), nullptr);
        bench::DoNotOptimize(&sum);
      },
      count);
  bench::Report(std::string("StringToDouble, ") + kind, ours_parse / 1e6, "M/s", "strtod", reference_parse / 1e6);
}

}  // namespace

int main() {
  Measure("random doubles", MakeValues(false));
  Measure("short decimals", MakeValues(true));
  return 0;
}
