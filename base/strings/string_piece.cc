#include "base/strings/string_piece.h"

#include <ostream>

namespace base {
namespace internal {
namespace {

constexpr size_t npos = StringPiece::npos;

// Membership in a set of two or more characters: a table of every byte value for narrow sets, a comparison
// with each member for wide ones.
template <typename Piece>
class CharacterSet;

template <>
class CharacterSet<StringPiece> {
 public:
  explicit CharacterSet(const StringPiece& characters) {
    for (char c : characters)
      member_[static_cast<unsigned char>(c)] = true;
  }
  bool operator()(char c) const { return member_[static_cast<unsigned char>(c)]; }

 private:
  bool member_[256] = {};
};

template <>
class CharacterSet<StringPiece16> {
 public:
  explicit CharacterSet(const StringPiece16& characters) : characters_(characters) {}
  bool operator()(wchar_t c) const {
    for (wchar_t member : characters_) {
      if (member == c)
        return true;
    }
    return false;
  }

 private:
  StringPiece16 characters_;
};

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

template <typename Piece>
size_t FindFirstOf(const Piece& self, const Piece& s, size_t pos) {
  if (self.empty() || s.empty())
    return npos;
  if (s.size() == 1)
    return FindCharacter(self, s[0], pos);
  return ScanForward(self, pos, true, CharacterSet<Piece>(s));
}

// An empty set excludes nothing, so the answer is the start itself.
template <typename Piece>
size_t FindFirstNotOf(const Piece& self, const Piece& s, size_t pos) {
  if (pos >= self.size())
    return npos;
  if (s.empty())
    return pos;
  if (s.size() == 1)
    return FindFirstNotOfCharacter(self, s[0], pos);
  return ScanForward(self, pos, false, CharacterSet<Piece>(s));
}

template <typename Piece>
size_t FindLastOf(const Piece& self, const Piece& s, size_t pos) {
  if (self.empty() || s.empty())
    return npos;
  if (s.size() == 1)
    return RFindCharacter(self, s[0], pos);
  return ScanBackward(self, pos, true, CharacterSet<Piece>(s));
}

template <typename Piece>
size_t FindLastNotOf(const Piece& self, const Piece& s, size_t pos) {
  if (self.empty())
    return npos;
  if (s.empty())
    return pos < self.size() - 1 ? pos : self.size() - 1;
  if (s.size() == 1)
    return FindLastNotOfCharacter(self, s[0], pos);
  return ScanBackward(self, pos, false, CharacterSet<Piece>(s));
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
  return FindFirstOf(self, s, pos);
}
size_t find_first_of(const StringPiece16& self, const StringPiece16& s, size_t pos) {
  return FindFirstOf(self, s, pos);
}

size_t find_first_not_of(const StringPiece& self, const StringPiece& s, size_t pos) {
  return FindFirstNotOf(self, s, pos);
}
size_t find_first_not_of(const StringPiece16& self, const StringPiece16& s, size_t pos) {
  return FindFirstNotOf(self, s, pos);
}
size_t find_first_not_of(const StringPiece& self, char c, size_t pos) {
  return FindFirstNotOfCharacter(self, c, pos);
}
size_t find_first_not_of(const StringPiece16& self, wchar_t c, size_t pos) {
  return FindFirstNotOfCharacter(self, c, pos);
}

size_t find_last_of(const StringPiece& self, const StringPiece& s, size_t pos) {
  return FindLastOf(self, s, pos);
}
size_t find_last_of(const StringPiece16& self, const StringPiece16& s, size_t pos) {
  return FindLastOf(self, s, pos);
}

size_t find_last_not_of(const StringPiece& self, const StringPiece& s, size_t pos) {
  return FindLastNotOf(self, s, pos);
}
size_t find_last_not_of(const StringPiece16& self, const StringPiece16& s, size_t pos) {
  return FindLastNotOf(self, s, pos);
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
