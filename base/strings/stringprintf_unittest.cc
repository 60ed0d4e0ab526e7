#include "base/strings/stringprintf.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "base/strings/allocation_counter_test_util.h"
#include "base/strings/string_split.h"
#include "base/strings/sys_string_conversions.h"
#include "testing/test_support.h"

// Formats are data in this file's tables.
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
// The runtime's own conversions ("%I64d") are not in the compiler's dialect.
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-extra-args"

namespace base {
namespace {

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
  return bytes;
}

// The in-process C runtime's formatter: the result the wrappers must reproduce whatever the dialect.
std::string RuntimeFormat(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  va_list count_ap;
  va_copy(count_ap, ap);
  const int length = vsnprintf(nullptr, 0, format, count_ap);
  va_end(count_ap);
  std::string result(length > 0 ? length : 0, '\0');
  vsnprintf(result.data(), result.size() + 1, format, ap);
  va_end(ap);
  return result;
}

std::wstring RuntimeFormat(const wchar_t* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::vector<wchar_t> buffer(1 << 16);
  const int length = vsnwprintf(buffer.data(), buffer.size(), format, ap);
  va_end(ap);
  return std::wstring(buffer.data(), length > 0 ? length : 0);
}

// ---------------------------------------------------------------------------------------------------------
// A table of formats, formatted on the Linux side by glibc's snprintf and swprintf (testdata_setup.sh).

struct Row {
  std::string kind;
  std::string format;
  std::string argument;
  std::string expected_hex;
};

std::vector<Row> ReadRows() {
  std::string contents;
  EXPECT_TRUE(test_support::ReadFileBytes(test_support::TestDataDir() + L"\\text\\printf_cases.txt", &contents));
  std::vector<Row> rows;
  for (const std::string& line : SplitString(contents, "\n", KEEP_WHITESPACE, SPLIT_WANT_NONEMPTY)) {
    const std::vector<std::string> fields = SplitString(line, "\t", KEEP_WHITESPACE, SPLIT_WANT_ALL);
    EXPECT_EQ(4u, fields.size()) << line;
    if (fields.size() == 4)
      rows.push_back({fields[0], FromHex(fields[1]), fields[2], fields[3]});
  }
  return rows;
}

double DoubleFromBits(const std::string& hex) {
  const uint64_t bits = std::strtoull(hex.c_str(), nullptr, 16);
  double value;
  std::memcpy(&value, &bits, sizeof(value));
  return value;
}

std::wstring WidenASCIIForFormat(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

// Formats one row with `narrow` (or `wide` for wide kinds), which take the format and one typed argument.
template <typename NarrowFormatter, typename WideFormatter>
std::string FormatRow(const Row& row, const NarrowFormatter& narrow, const WideFormatter& wide) {
  const char* format = row.format.c_str();
  const std::wstring wide_format = WidenASCIIForFormat(row.format);
  const char* text = nullptr;
  std::string text_storage;
  if (row.kind == "s" || row.kind == "ws" || row.kind == "wls") {
    text_storage = FromHex(row.argument);
    text = text_storage.c_str();
  }
  auto wide_bytes = [](const std::wstring& w) {
    return std::string(reinterpret_cast<const char*>(w.data()), w.size() * 2);
  };
  if (row.kind == "i")
    return narrow(format, std::atoi(row.argument.c_str()));
  if (row.kind == "i*")
    return narrow(format, 6, std::atoi(row.argument.c_str()));
  if (row.kind == "c")
    return narrow(format, std::atoi(row.argument.c_str()));
  if (row.kind == "u")
    return narrow(format, static_cast<unsigned>(std::strtoul(row.argument.c_str(), nullptr, 10)));
  if (row.kind == "ll")
    return narrow(format, static_cast<long long>(std::strtoull(row.argument.c_str(), nullptr, 10)));
  if (row.kind == "d")
    return narrow(format, DoubleFromBits(row.argument));
  if (row.kind == "s")
    return narrow(format, text);
  if (row.kind == "ws")
    return wide_bytes(wide(wide_format.c_str(), text));
  if (row.kind == "wls") {
    // The argument is UTF-8; its UTF-16 form comes from the system converter, not from the one under test
    // elsewhere.
    return wide_bytes(wide(wide_format.c_str(), SystemUTF8ToWide(text).c_str()));
  }
  if (row.kind == "wi")
    return wide_bytes(wide(wide_format.c_str(), std::atoi(row.argument.c_str())));
  if (row.kind == "wd")
    return wide_bytes(wide(wide_format.c_str(), DoubleFromBits(row.argument)));
  ADD_FAILURE() << "unknown kind " << row.kind;
  return std::string();
}

// Narrow rows hold the bytes, wide rows the UTF-16LE bytes: both compare with the result's memory.
std::string ExpectedBytes(const Row& row) {
  return FromHex(row.expected_hex);
}

TEST(StringPrintfTest, MatchesGlibcOnTableOfFormats) {
  const std::vector<Row> rows = ReadRows();
  ASSERT_GT(rows.size(), 50u);
  for (const Row& row : rows) {
    const std::string actual = FormatRow(
        row, [](const char* f, auto... a) { return StringPrintf(f, a...); },
        [](const wchar_t* f, auto... a) { return StringPrintf(f, a...); });
    EXPECT_TRUE(ExpectedBytes(row) == actual) << "format \"" << row.format << "\" kind " << row.kind
                                              << " argument " << row.argument.substr(0, 40);
  }
}

TEST(StringPrintfTest, MatchesTheRuntimeFormatterOnTheSameTable) {
  for (const Row& row : ReadRows()) {
    const std::string actual = FormatRow(
        row, [](const char* f, auto... a) { return StringPrintf(f, a...); },
        [](const wchar_t* f, auto... a) { return StringPrintf(f, a...); });
    const std::string runtime = FormatRow(
        row, [](const char* f, auto... a) { return RuntimeFormat(f, a...); },
        [](const wchar_t* f, auto... a) { return RuntimeFormat(f, a...); });
    EXPECT_TRUE(runtime == actual) << "format \"" << row.format << "\" kind " << row.kind;
  }
}

// The runtime's own dialect (forms glibc does not share) comes through unchanged.
TEST(StringPrintfTest, RuntimeSpecificConversions) {
  EXPECT_EQ(RuntimeFormat("%I64d|%Iu|%012I64X", -5LL, static_cast<size_t>(7), 0xABCLL),
            StringPrintf("%I64d|%Iu|%012I64X", -5LL, static_cast<size_t>(7), 0xABCLL));
  EXPECT_EQ(RuntimeFormat("%S", L"wide"), StringPrintf("%S", L"wide"));
  EXPECT_EQ(RuntimeFormat("%p", reinterpret_cast<void*>(0x1234)), StringPrintf("%p", reinterpret_cast<void*>(0x1234)));
  EXPECT_EQ(RuntimeFormat(L"%s and %ls", "narrow", L"wide"), StringPrintf(L"%s and %ls", "narrow", L"wide"));
  EXPECT_EQ(L"narrow and wide", StringPrintf(L"%s and %ls", "narrow", L"wide"));
}

void AppendWide(std::wstring* dst, const wchar_t* format, ...) {
  va_list ap;
  va_start(ap, format);
  StringAppendV(dst, format, ap);
  va_end(ap);
}

// ---------------------------------------------------------------------------------------------------------
// Growth, limits and the argument list.

TEST(StringPrintfTest, StackBufferBelow1024UnitsHeapBeyond) {
  std::string narrow;
  narrow.reserve(4096);
  {
    test_support::ScopedAllocationCounter counter;
    StringAppendF(&narrow, "%1023d", 7);
    EXPECT_EQ(0u, counter.count());
  }
  EXPECT_EQ(1023u, narrow.size());
  narrow.clear();
  {
    test_support::ScopedAllocationCounter counter;
    StringAppendF(&narrow, "%1024d", 7);
    EXPECT_EQ(1u, counter.count());
    EXPECT_EQ(1025u, counter.last_size());  // exactly length + 1
  }
  EXPECT_EQ(1024u, narrow.size());
  EXPECT_EQ(std::string(1023, ' ') + "7", narrow);

  std::wstring wide;
  wide.reserve(4096);
  {
    test_support::ScopedAllocationCounter counter;
    AppendWide(&wide, L"%1023d", 7);
    EXPECT_EQ(0u, counter.count());
  }
  wide.clear();
  {
    test_support::ScopedAllocationCounter counter;
    AppendWide(&wide, L"%1024d", 7);
    EXPECT_EQ(1u, counter.count());
    EXPECT_EQ(1025u * sizeof(wchar_t), counter.last_size());
  }
  EXPECT_EQ(std::wstring(1023, L' ') + L"7", wide);
}

// String conversions pad without a stack buffer of the field's width (the runtime's integer conversions take
// one, which a 32 MiB field would overflow).
TEST(StringPrintfTest, SizeLimit) {
  const std::string largest = StringPrintf("%33554431s", "5");
  ASSERT_EQ(33554431u, largest.size());
  EXPECT_EQ('5', largest.back());
  EXPECT_EQ(' ', largest.front());
  EXPECT_EQ("", StringPrintf("%33554432s", "5"));
  EXPECT_EQ("", StringPrintf("%33554430s%s", "5", "67"));
  std::string kept = "kept";
  StringAppendF(&kept, "%40000000s", "x");
  EXPECT_EQ("kept", kept);
  EXPECT_EQ(L"", StringPrintf(L"%33554432s", "5"));
  EXPECT_EQ(33554431u, StringPrintf(L"%33554431s", "5").size());
}

TEST(StringPrintfTest, ArgumentsSurviveTheSecondAttempt) {
  // The first attempt walks every argument; the heap attempt must see them all again, in order.
  const std::string long_text(3000, 'q');
  const std::string result = StringPrintf("%s|%d|%s|%.1f|%lld", long_text.c_str(), 42, "end", 2.5, -7LL);
  EXPECT_EQ(long_text + "|42|end|2.5|-7", result);
  const std::wstring long_wide(3000, L'w');
  EXPECT_EQ(long_wide + L"|42|end", StringPrintf(L"%ls|%d|%s", long_wide.c_str(), 42, "end"));
}

TEST(StringPrintfTest, IntoReplacesAndAppendAppends) {
  std::string text = "old contents";
  const std::string& result = StringPrintfInto(&text, "%d-%s", 1, "x");
  EXPECT_EQ(&text, &result);
  EXPECT_EQ("1-x", text);
  StringAppendF(&text, "%c%c", 'a', 'b');
  EXPECT_EQ("1-xab", text);
  StringPrintfInto(&text, "%s", "");
  EXPECT_EQ("", text);
  EXPECT_EQ("", StringPrintf("%s", ""));
}

TEST(BoundedVsnprintfTest, ReportsTheWholeLength) {
  char buffer[8];
  auto bounded = [&buffer](size_t size, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    const int result = BoundedVsnprintf(buffer, size, format, ap);
    va_end(ap);
    return result;
  };
  EXPECT_EQ(3, bounded(8, "%d", 123));
  EXPECT_STREQ("123", buffer);
  EXPECT_EQ(7, bounded(8, "%s", "1234567"));
  EXPECT_STREQ("1234567", buffer);
  EXPECT_EQ(8, bounded(8, "%s", "12345678"));
  EXPECT_STREQ("1234567", buffer);  // cut, still terminated
  EXPECT_EQ(9, bounded(4, "hello %s", "you"));
  EXPECT_STREQ("hel", buffer);
}

}  // namespace
}  // namespace base
