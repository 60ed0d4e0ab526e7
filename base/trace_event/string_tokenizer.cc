#include "base/trace_event/string_tokenizer.h"

namespace base {

StringTokenizer::StringTokenizer(const std::string& string, const std::string& delims)
    : StringTokenizer(string.begin(), string.end(), delims) {}

StringTokenizer::StringTokenizer(std::string::const_iterator string_begin, std::string::const_iterator string_end,
                                 const std::string& delims)
    : start_pos_(string_begin),
      token_begin_(string_begin),
      token_end_(string_begin),
      end_(string_end),
      delims_(delims) {}

bool StringTokenizer::AdvanceToken() {
  if (quotes_.empty() && options_ == 0)
    return QuickGetNext();
  return FullGetNext();
}

bool StringTokenizer::QuickGetNext() {
  token_is_delim_ = false;
  for (;;) {
    token_begin_ = token_end_;
    if (token_end_ == end_)
      return false;
    ++token_end_;
    if (!IsDelim(*token_begin_))
      break;
  }
  while (token_end_ != end_ && !IsDelim(*token_end_))
    ++token_end_;
  return true;
}

bool StringTokenizer::FullGetNext() {
  AdvanceState state;
  token_is_delim_ = false;
  for (;;) {
    token_begin_ = token_end_;
    if (token_end_ == end_)
      return false;
    ++token_end_;
    if (AdvanceOne(&state, *token_begin_))
      break;
    if (options_ & RETURN_DELIMS) {
      token_is_delim_ = true;
      return true;
    }
    // A delimiter before the token starts is skipped.
  }
  while (token_end_ != end_ && AdvanceOne(&state, *token_end_))
    ++token_end_;
  return true;
}

bool StringTokenizer::AdvanceOne(AdvanceState* state, char c) {
  if (state->in_quote) {
    if (state->in_escape) {
      state->in_escape = false;
    } else if (c == '\\') {
      state->in_escape = true;
    } else if (c == state->quote_char) {
      state->in_quote = false;
    }
  } else {
    if (IsDelim(c))
      return false;
    state->in_quote = IsQuote(state->quote_char = c);
  }
  return true;
}

}  // namespace base
