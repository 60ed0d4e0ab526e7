#include "base/json/string_escape.h"

#include <gtest/gtest.h>

#include <string>

namespace base {
namespace {

std::string Escaped(const std::string& input, bool* valid = nullptr) {
  std::string out;
  const bool result = EscapeJsonStringImpl(input, false, &out);
  if (valid)
    *valid = result;
  return out;
}

TEST(StringEscapeTest, EscapesForJsonAndScriptBlocks) {
  EXPECT_EQ("\\b\\f\\n\\r\\t\\\"\\\\", Escaped("\b\f\n\r\t\"\\"));
  EXPECT_EQ("\\u003C/script>", Escaped("</script>"));
  EXPECT_EQ("\\u2028\\u2029", Escaped("\xe2\x80\xa8\xe2\x80\xa9"));
  // Other controls as \u with four upper-case hexadecimal digits; NUL included.
  EXPECT_EQ("\\u0000\\u0001\\u000B\\u001F", Escaped(std::string("\0\x01\x0b\x1f", 4)));
  // Not escaped: '/', DEL, '>', and every other character, written as UTF-8.
  EXPECT_EQ("/\x7f>", Escaped("/\x7f>"));
  EXPECT_EQ("caf\xc3\xa9 \xf0\x9f\x98\x80 \xe2\x80\xa7", Escaped("caf\xc3\xa9 \xf0\x9f\x98\x80 \xe2\x80\xa7"));
}

TEST(StringEscapeTest, QuotesAndAppending) {
  std::string out = "prefix:";
  EXPECT_TRUE(EscapeJsonStringImpl("a\"b", true, &out));
  EXPECT_EQ("prefix:\"a\\\"b\"", out);
  out.clear();
  EXPECT_TRUE(EscapeJsonStringImpl("", true, &out));
  EXPECT_EQ("\"\"", out);
  out.clear();
  EXPECT_TRUE(EscapeJsonStringImpl(StringPiece("nul\0in", 6), false, &out));
  EXPECT_EQ("nul\\u0000in", out);
}

TEST(StringEscapeTest, IllFormedInputBecomesReplacementCharacters) {
  const std::string kReplacement = "\xef\xbf\xbd";
  bool valid = true;
  EXPECT_EQ("A" + kReplacement, Escaped("A\xc3", &valid));
  EXPECT_FALSE(valid);
  // A lead byte with the continuation bytes it announces is one error, whatever it decodes to.
  EXPECT_EQ(kReplacement + "x", Escaped("\xe0\x80\x80x", &valid));
  EXPECT_FALSE(valid);
  EXPECT_EQ(kReplacement + "\\u003C", Escaped("\xed\xa0\x80<", &valid));
  EXPECT_EQ(kReplacement + kReplacement + "A", Escaped("\x80\xfe" "A", &valid));
  EXPECT_EQ(kReplacement + "\\n", Escaped("\xf4\x90\x80\x80\n", &valid));
  EXPECT_FALSE(valid);
  // Escaping goes on after an error.
  EXPECT_EQ(kReplacement + "\\u003C" + kReplacement, Escaped("\xc0<\xff", &valid));
  EXPECT_FALSE(valid);
  // Noncharacters are well-formed UTF-8 and pass.
  EXPECT_EQ("\xef\xbf\xbe", Escaped("\xef\xbf\xbe", &valid));
  EXPECT_TRUE(valid);
}

}  // namespace
}  // namespace base
