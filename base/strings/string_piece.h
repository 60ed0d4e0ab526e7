// Non-owning views of narrow (bytes) and wide (UTF-16 units) text. A view needs no terminating NUL and does not
// keep its text alive: the text must outlive every view of it.
#ifndef BASE_STRINGS_STRING_PIECE_H_
#define BASE_STRINGS_STRING_PIECE_H_

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>

namespace base {

template <typename STRING_TYPE>
class BasicStringPiece;
using StringPiece = BasicStringPiece<std::string>;
using StringPiece16 = BasicStringPiece<std::wstring>;

// The searches behind the member functions, kept out of line (string_piece.cc).
namespace internal {

size_t find(const StringPiece& self, const StringPiece& s, size_t pos);
size_t find(const StringPiece16& self, const StringPiece16& s, size_t pos);
size_t find(const StringPiece& self, char c, size_t pos);
size_t find(const StringPiece16& self, wchar_t c, size_t pos);

size_t rfind(const StringPiece& self, const StringPiece& s, size_t pos);
size_t rfind(const StringPiece16& self, const StringPiece16& s, size_t pos);
size_t rfind(const StringPiece& self, char c, size_t pos);
size_t rfind(const StringPiece16& self, wchar_t c, size_t pos);

size_t find_first_of(const StringPiece& self, const StringPiece& s, size_t pos);
size_t find_first_of(const StringPiece16& self, const StringPiece16& s, size_t pos);

size_t find_first_not_of(const StringPiece& self, const StringPiece& s, size_t pos);
size_t find_first_not_of(const StringPiece16& self, const StringPiece16& s, size_t pos);
size_t find_first_not_of(const StringPiece& self, char c, size_t pos);
size_t find_first_not_of(const StringPiece16& self, wchar_t c, size_t pos);

size_t find_last_of(const StringPiece& self, const StringPiece& s, size_t pos);
size_t find_last_of(const StringPiece16& self, const StringPiece16& s, size_t pos);

size_t find_last_not_of(const StringPiece& self, const StringPiece& s, size_t pos);
size_t find_last_not_of(const StringPiece16& self, const StringPiece16& s, size_t pos);
size_t find_last_not_of(const StringPiece& self, char c, size_t pos);
size_t find_last_not_of(const StringPiece16& self, wchar_t c, size_t pos);

}  // namespace internal

template <typename STRING_TYPE>
class BasicStringPiece {
 public:
  using value_type = typename STRING_TYPE::value_type;
  using traits_type = typename STRING_TYPE::traits_type;
  using size_type = size_t;
  using difference_type = ptrdiff_t;
  using pointer = const value_type*;
  using reference = const value_type&;
  using const_reference = const value_type&;
  using const_iterator = const value_type*;
  using iterator = const value_type*;
  using const_reverse_iterator = std::reverse_iterator<const_iterator>;
  using reverse_iterator = const_reverse_iterator;

  static constexpr size_type npos = static_cast<size_type>(-1);

  constexpr BasicStringPiece() : ptr_(nullptr), length_(0) {}
  // A null pointer makes an empty view.
  BasicStringPiece(const value_type* str) : ptr_(str), length_(str ? traits_type::length(str) : 0) {}
  BasicStringPiece(const STRING_TYPE& str) : ptr_(str.data()), length_(str.size()) {}
  constexpr BasicStringPiece(const value_type* offset, size_type len) : ptr_(offset), length_(len) {}
  BasicStringPiece(const typename STRING_TYPE::const_iterator& begin,
                   const typename STRING_TYPE::const_iterator& end)
      : ptr_(begin < end ? &*begin : nullptr), length_(begin < end ? static_cast<size_type>(end - begin) : 0) {}
  BasicStringPiece(std::basic_string_view<value_type> view) : ptr_(view.data()), length_(view.size()) {}

  constexpr const value_type* data() const { return ptr_; }
  constexpr size_type size() const { return length_; }
  constexpr size_type length() const { return length_; }
  constexpr bool empty() const { return length_ == 0; }
  constexpr size_type max_size() const { return length_; }
  constexpr size_type capacity() const { return length_; }

  void clear() {
    ptr_ = nullptr;
    length_ = 0;
  }
  void set(const value_type* data, size_type len) {
    ptr_ = data;
    length_ = len;
  }
  void set(const value_type* str) {
    ptr_ = str;
    length_ = str ? traits_type::length(str) : 0;
  }

  constexpr value_type operator[](size_type i) const { return ptr_[i]; }
  constexpr value_type front() const { return ptr_[0]; }
  constexpr value_type back() const { return ptr_[length_ - 1]; }

  void remove_prefix(size_type n) {
    ptr_ += n;
    length_ -= n;
  }
  void remove_suffix(size_type n) { length_ -= n; }

  // Three-way comparison of the units, then of the lengths.
  int compare(const BasicStringPiece& x) const {
    const size_type common = length_ < x.length_ ? length_ : x.length_;
    int r = common ? traits_type::compare(ptr_, x.ptr_, common) : 0;
    if (r == 0) {
      if (length_ < x.length_)
        r = -1;
      else if (length_ > x.length_)
        r = +1;
    }
    return r;
  }

  STRING_TYPE as_string() const { return ToString(); }
  STRING_TYPE ToString() const { return empty() ? STRING_TYPE() : STRING_TYPE(ptr_, length_); }
  void CopyToString(STRING_TYPE* target) const {
    if (empty())
      target->clear();
    else
      target->assign(ptr_, length_);
  }
  void AppendToString(STRING_TYPE* target) const {
    if (!empty())
      target->append(ptr_, length_);
  }
  explicit operator STRING_TYPE() const { return ToString(); }
  operator std::basic_string_view<value_type>() const { return {ptr_, length_}; }

  // Copies at most n units starting at pos into buf; returns how many were copied.
  size_type copy(value_type* buf, size_type n, size_type pos = 0) const {
    if (pos >= length_)
      return 0;
    const size_type count = n < length_ - pos ? n : length_ - pos;
    traits_type::copy(buf, ptr_ + pos, count);
    return count;
  }

  constexpr const_iterator begin() const { return ptr_; }
  constexpr const_iterator end() const { return ptr_ + length_; }
  const_reverse_iterator rbegin() const { return const_reverse_iterator(ptr_ + length_); }
  const_reverse_iterator rend() const { return const_reverse_iterator(ptr_); }

  // Searches: positions are unit indexes; npos when nothing is found.
  size_type find(const BasicStringPiece& s, size_type pos = 0) const { return internal::find(*this, s, pos); }
  size_type find(value_type c, size_type pos = 0) const { return internal::find(*this, c, pos); }
  size_type rfind(const BasicStringPiece& s, size_type pos = npos) const {
    return internal::rfind(*this, s, pos);
  }
  size_type rfind(value_type c, size_type pos = npos) const { return internal::rfind(*this, c, pos); }
  size_type find_first_of(const BasicStringPiece& s, size_type pos = 0) const {
    return internal::find_first_of(*this, s, pos);
  }
  size_type find_first_of(value_type c, size_type pos = 0) const { return find(c, pos); }
  size_type find_first_not_of(const BasicStringPiece& s, size_type pos = 0) const {
    return internal::find_first_not_of(*this, s, pos);
  }
  size_type find_first_not_of(value_type c, size_type pos = 0) const {
    return internal::find_first_not_of(*this, c, pos);
  }
  size_type find_last_of(const BasicStringPiece& s, size_type pos = npos) const {
    return internal::find_last_of(*this, s, pos);
  }
  size_type find_last_of(value_type c, size_type pos = npos) const { return rfind(c, pos); }
  size_type find_last_not_of(const BasicStringPiece& s, size_type pos = npos) const {
    return internal::find_last_not_of(*this, s, pos);
  }
  size_type find_last_not_of(value_type c, size_type pos = npos) const {
    return internal::find_last_not_of(*this, c, pos);
  }

  // The sub-view from min(pos, size()) of at most n units.
  BasicStringPiece substr(size_type pos, size_type n = npos) const {
    if (pos > length_)
      pos = length_;
    if (n > length_ - pos)
      n = length_ - pos;
    return BasicStringPiece(ptr_ + pos, n);
  }

  // Found through the view argument, so a string or a literal on either side converts to a view.
  friend bool operator==(const BasicStringPiece& x, const BasicStringPiece& y) {
    return x.length_ == y.length_ && (x.length_ == 0 || traits_type::compare(x.ptr_, y.ptr_, x.length_) == 0);
  }
  friend bool operator!=(const BasicStringPiece& x, const BasicStringPiece& y) { return !(x == y); }
  friend bool operator<(const BasicStringPiece& x, const BasicStringPiece& y) { return x.compare(y) < 0; }
  friend bool operator>(const BasicStringPiece& x, const BasicStringPiece& y) { return x.compare(y) > 0; }
  friend bool operator<=(const BasicStringPiece& x, const BasicStringPiece& y) { return x.compare(y) <= 0; }
  friend bool operator>=(const BasicStringPiece& x, const BasicStringPiece& y) { return x.compare(y) >= 0; }

 private:
  const value_type* ptr_;
  size_type length_;
};

// Writes the view's bytes to the stream unformatted.
std::ostream& operator<<(std::ostream& o, const StringPiece& piece);

}  // namespace base

#endif  // BASE_STRINGS_STRING_PIECE_H_
