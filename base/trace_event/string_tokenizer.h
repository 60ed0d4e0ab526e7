// Splits narrow text into tokens at any of a set of delimiter characters, optionally keeping quoted runs
// (which may contain delimiters) inside one token and optionally returning each delimiter as a token.
#ifndef BASE_TRACE_EVENT_STRING_TOKENIZER_H_
#define BASE_TRACE_EVENT_STRING_TOKENIZER_H_

#include <string>

namespace base {

class StringTokenizer {
 public:
  // Option bits.
  enum { RETURN_DELIMS = 1 << 0 };

  // `string` must outlive the tokenizer; the delimiters are copied.
  StringTokenizer(const std::string& string, const std::string& delims);
  StringTokenizer(std::string::const_iterator string_begin, std::string::const_iterator string_end,
                  const std::string& delims);

  // Characters that open and close a quoted run; inside one, delimiters belong to the token and a backslash
  // makes the next character part of it whatever it is.
  void set_quote_chars(const std::string& quotes) { quotes_ = quotes; }
  void set_options(int options) { options_ = options; }

  // Moves to the next token; false at the end of the text.
  bool AdvanceToken();
  // Starts again from the beginning of the text.
  void Reset() { token_end_ = start_pos_; }

  bool token_is_delim() const { return token_is_delim_; }
  std::string::const_iterator token_begin() const { return token_begin_; }
  std::string::const_iterator token_end() const { return token_end_; }
  std::string token() const { return std::string(token_begin_, token_end_); }

 private:
  // The form used without quotes and options: skip delimiters, take the run up to the next one.
  bool QuickGetNext();
  bool FullGetNext();

  bool IsDelim(char c) const { return delims_.find(c) != std::string::npos; }
  bool IsQuote(char c) const { return quotes_.find(c) != std::string::npos; }

  // Feeds one character to the quoted-run state; false when the character ends the token.
  struct AdvanceState {
    bool in_quote = false;
    bool in_escape = false;
    char quote_char = '\0';
  };
  bool AdvanceOne(AdvanceState* state, char c);

  std::string::const_iterator start_pos_;
  std::string::const_iterator token_begin_;
  std::string::const_iterator token_end_;
  std::string::const_iterator end_;
  std::string delims_;
  std::string quotes_;
  int options_ = 0;
  bool token_is_delim_ = false;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_STRING_TOKENIZER_H_
