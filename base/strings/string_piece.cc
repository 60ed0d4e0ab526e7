#include "base/strings/string_piece.h"

#include <ostream>

namespace base {
namespace internal {
namespace {

constexpr size_t npos = StringPiece::npos;

// Membership of every byte value in a narrow set of two or more characters.
class ByteSet {
 public:
  explicit ByteSet(const StringPiece& characters) {
    for (size_t i = 0; i < characters.size(); ++i)
      member_[static_cast<unsigned char>(characters[i])] = true;
  }
  bool contains(char c) const { return member_[static_cast<unsigned char>(c)]; }

 private:
  bool member_[256] = {};
};

bool WideSetContains(const StringPiece16& characters, wchar_t c) {
  for (wchar_t member : characters) {
    if (member == c)
      return true;
  }
  return false;
}

template <typename Piece>
size_t FindSubstring(const Piece& self, const Piece& s, size_t pos) {
  return static_cast<std::basic_string_view<typename Piece::value_type>>(self).find(s, pos);
}

template <typename Piece>
size_t RFindSubstring(const Piece& self, const Piece& s, size_t pos) {
  return static_cast<std::basic_string_view<typename Piece::value_type>>(self).rfind(s, pos);
}

template <typename Piece>
size_t FindCharacter(const Piece& self, typename Piece::value_type c, size_t pos) {
  if (pos >= self.size())
    return npos;
  const auto* found = Piece::traits_type::find(self.data() + pos, self.size() - pos, c);
  return found ? static_cast<size_t>(found - self.data()) : npos;
}

// Forward scan for the first unit whose membership equals `want_member`.
template <typename Piece, typename Contains>
size_t ScanForward(const Piece& self, size_t pos, bool want_member, const Contains& contains) {
  for (size_t i = pos; i < self.size(); ++i) {
    if (contains(self[i]) == want_member)
      return i;
  }
  return npos;
}

// Backward scan from min(pos, size() - 1); the view is not empty.
template <typename Piece, typename Contains>
size_t ScanBackward(const Piece& self, size_t pos, bool want_member, const Contains& contains) {
  for (size_t i = pos < self.size() - 1 ? pos : self.size() - 1;; --i) {
    if (contains(self[i]) == want_member)
      return i;
    if (i == 0)
      return npos;
  }
}

template <typename Piece>
size_t RFindCharacter(const Piece& self, typename Piece::value_type c, size_t pos) {
  if (self.empty())
    return npos;
  return ScanBackward(self, pos, true, [c](typename Piece::value_type unit) { return unit == c; });
}

template <typename Piece>
size_t FindFirstNotOfCharacter(const Piece& self, typename Piece::value_type c, size_t pos) {
  return ScanForward(self, pos, false, [c](typename Piece::value_type unit) { return unit == c; });
}

template <typename Piece>
size_t FindLastNotOfCharacter(const Piece& self, typename Piece::value_type c, size_t pos) {
  if (self.empty())
    return npos;
  return ScanBackward(self, pos, false, [c](typename Piece::value_type unit) { return unit == c; });
}

}  // namespace

size_t find(const StringPiece& self, const StringPiece& s, size_t pos) {
  return FindSubstring(self, s, pos);
}
size_t find(const StringPiece16& self, const StringPiece16& s, size_t pos) {
  return FindSubstring(self, s, pos);
}
size_t find(const StringPiece& self, char c, size_t pos) {
  return FindCharacter(self, c, pos);
}
size_t find(const StringPiece16& self, wchar_t c, size_t pos) {
  return FindCharacter(self, c, pos);
}

size_t rfind(const StringPiece& self, const StringPiece& s, size_t pos) {
  return RFindSubstring(self, s, pos);
}
size_t rfind(const StringPiece16& self, const StringPiece16& s, size_t pos) {
  return RFindSubstring(self, s, pos);
}
size_t rfind(const StringPiece& self, char c, size_t pos) {
  return RFindCharacter(self, c, pos);
}
size_t rfind(const StringPiece16& self, wchar_t c, size_t pos) {
  return RFindCharacter(self, c, pos);
}

size_t find_first_of(const StringPiece& self, const StringPiece& s, size_t pos) {
  if (self.empty() || s.empty())
    return npos;
  if (s.size() == 1)
    return FindCharacter(self, s[0], pos);
  const ByteSet set(s);
  return ScanForward(self, pos, true, [&set](char c) { return set.contains(c); });
}
size_t find_first_of(const StringPiece16& self, const StringPiece16& s, size_t pos) {
  if (self.empty() || s.empty())
    return npos;
  if (s.size() == 1)
    return FindCharacter(self, s[0], pos);
  return ScanForward(self, pos, true, [&s](wchar_t c) { return WideSetContains(s, c); });
}

// An empty set excludes nothing, so the answer is the start itself.
size_t find_first_not_of(const StringPiece& self, const StringPiece& s, size_t pos) {
  if (pos >= self.size())
    return npos;
  if (s.empty())
    return pos;
  if (s.size() == 1)
    return FindFirstNotOfCharacter(self, s[0], pos);
  const ByteSet set(s);
  return ScanForward(self, pos, false, [&set](char c) { return set.contains(c); });
}
size_t find_first_not_of(const StringPiece16& self, const StringPiece16& s, size_t pos) {
  if (pos >= self.size())
    return npos;
  if (s.empty())
    return pos;
  if (s.size() == 1)
    return FindFirstNotOfCharacter(self, s[0], pos);
  return ScanForward(self, pos, false, [&s](wchar_t c) { return WideSetContains(s, c); });
}
size_t find_first_not_of(const StringPiece& self, char c, size_t pos) {
  return FindFirstNotOfCharacter(self, c, pos);
}
size_t find_first_not_of(const StringPiece16& self, wchar_t c, size_t pos) {
  return FindFirstNotOfCharacter(self, c, pos);
}

size_t find_last_of(const StringPiece& self, const StringPiece& s, size_t pos) {
  if (self.empty() || s.empty())
    return npos;
  if (s.size() == 1)
    return RFindCharacter(self, s[0], pos);
  const ByteSet set(s);
  return ScanBackward(self, pos, true, [&set](char c) { return set.contains(c); });
}
size_t find_last_of(const StringPiece16& self, const StringPiece16& s, size_t pos) {
  if (self.empty() || s.empty())
    return npos;
  if (s.size() == 1)
    return RFindCharacter(self, s[0], pos);
  return ScanBackward(self, pos, true, [&s](wchar_t c) { return WideSetContains(s, c); });
}

size_t find_last_not_of(const StringPiece& self, const StringPiece& s, size_t pos) {
  if (self.empty())
    return npos;
  if (s.empty())
    return pos < self.size() - 1 ? pos : self.size() - 1;
  if (s.size() == 1)
    return FindLastNotOfCharacter(self, s[0], pos);
  const ByteSet set(s);
  return ScanBackward(self, pos, false, [&set](char c) { return set.contains(c); });
}
size_t find_last_not_of(const StringPiece16& self, const StringPiece16& s, size_t pos) {
  if (self.empty())
    return npos;
  if (s.empty())
    return pos < self.size() - 1 ? pos : self.size() - 1;
  if (s.size() == 1)
    return FindLastNotOfCharacter(self, s[0], pos);
  return ScanBackward(self, pos, false, [&s](wchar_t c) { return WideSetContains(s, c); });
}
size_t find_last_not_of(const StringPiece& self, char c, size_t pos) {
  return FindLastNotOfCharacter(self, c, pos);
}
size_t find_last_not_of(const StringPiece16& self, wchar_t c, size_t pos) {
  return FindLastNotOfCharacter(self, c, pos);
}

}  // namespace internal

std::ostream& operator<<(std::ostream& o, const StringPiece& piece) {
  o.write(piece.data(), static_cast<std::streamsize>(piece.size()));
  return o;
}

}  // namespace base
