#include "base/trace_event/string_tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace base {
namespace {

std::vector<std::string> AllTokens(StringTokenizer* tokenizer) {
  std::vector<std::string> tokens;
  while (tokenizer->AdvanceToken())
    tokens.push_back(tokenizer->token());
  return tokens;
}

TEST(StringTokenizerTest, QuickFormSkipsRunsOfDelimiters) {
  const std::string input = ",,toplevel,,";
  StringTokenizer tokenizer(input, ",");
  EXPECT_EQ(std::vector<std::string>({"toplevel"}), AllTokens(&tokenizer));
  EXPECT_FALSE(tokenizer.AdvanceToken());  // stays at the end
}

TEST(StringTokenizerTest, QuickFormTable) {
  struct Case {
    const char* input;
    const char* delims;
    std::vector<std::string> tokens;
  } cases[] = {
      {"", ",", {}},
      {",,,", ",", {}},
      {"a", ",", {"a"}},
      {"a,b", ",", {"a", "b"}},
      {" a , b ", ",", {" a ", " b "}},  // whitespace is kept
      {"a;b,c", ",;", {"a", "b", "c"}},
      {"\"a,b\"", ",", {"\"a", "b\""}},  // no quote characters set: quotes are plain text
  };
  for (const Case& c : cases) {
    const std::string input = c.input;
    StringTokenizer tokenizer(input, c.delims);
    EXPECT_EQ(c.tokens, AllTokens(&tokenizer)) << "input: " << c.input;
  }
}

TEST(StringTokenizerTest, ResetStartsAgain) {
  const std::string input = "x,y";
  StringTokenizer tokenizer(input, ",");
  ASSERT_EQ(2u, AllTokens(&tokenizer).size());
  tokenizer.Reset();
  ASSERT_TRUE(tokenizer.AdvanceToken());
  EXPECT_EQ("x", tokenizer.token());
  EXPECT_EQ(input.begin(), tokenizer.token_begin());
  EXPECT_EQ(input.begin() + 1, tokenizer.token_end());
}

TEST(StringTokenizerTest, QuotedRunKeepsDelimiters) {
  const std::string input = "a,\"b,c\",d";
  StringTokenizer tokenizer(input, ",");
  tokenizer.set_quote_chars("\"");
  EXPECT_EQ(std::vector<std::string>({"a", "\"b,c\"", "d"}), AllTokens(&tokenizer));
}

TEST(StringTokenizerTest, QuoteStartedInsideATokenAndBackslashEscapes) {
  // The quote opens in the middle of a token; inside it an escaped quote does not close it.
  const std::string input = "x=\"1,\\\"2\",y";
  StringTokenizer tokenizer(input, ",");
  tokenizer.set_quote_chars("\"'");
  EXPECT_EQ(std::vector<std::string>({"x=\"1,\\\"2\"", "y"}), AllTokens(&tokenizer));
}

TEST(StringTokenizerTest, OtherQuoteCharacterDoesNotCloseTheRun) {
  const std::string input = "'a,\"b',c";
  StringTokenizer tokenizer(input, ",");
  tokenizer.set_quote_chars("\"'");
  EXPECT_EQ(std::vector<std::string>({"'a,\"b'", "c"}), AllTokens(&tokenizer));
}

TEST(StringTokenizerTest, UnterminatedQuoteRunsToTheEnd) {
  const std::string input = "a,\"b,c";
  StringTokenizer tokenizer(input, ",");
  tokenizer.set_quote_chars("\"");
  EXPECT_EQ(std::vector<std::string>({"a", "\"b,c"}), AllTokens(&tokenizer));
}

TEST(StringTokenizerTest, ReturnDelimsGivesEachDelimiterAsAToken) {
  const std::string input = "a,,b;";
  StringTokenizer tokenizer(input, ",;");
  tokenizer.set_options(StringTokenizer::RETURN_DELIMS);
  std::vector<std::string> tokens;
  std::vector<bool> is_delim;
  while (tokenizer.AdvanceToken()) {
    tokens.push_back(tokenizer.token());
    is_delim.push_back(tokenizer.token_is_delim());
  }
  EXPECT_EQ(std::vector<std::string>({"a", ",", ",", "b", ";"}), tokens);
  EXPECT_EQ(std::vector<bool>({false, true, true, false, true}), is_delim);
}

}  // namespace
}  // namespace base
