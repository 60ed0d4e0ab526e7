#include "base/files/file_path.h"

#include <windows.h>

#include <algorithm>

#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"

namespace base {

using StringType = FilePath::StringType;
using StringPieceType = FilePath::StringPieceType;

namespace {

constexpr StringType::size_type npos = StringType::npos;

// Compression suffixes that make "name.tar.gz" one extension.
const char* const kCommonDoubleExtensionSuffixes[] = {"gz", "z", "bz2", "bz"};
const char kCommonDoubleExtension[] = "user.js";

bool IsAsciiLetter(wchar_t character) {
  return (character >= L'A' && character <= L'Z') || (character >= L'a' && character <= L'z');
}

// The index of the drive letter's colon ("X:..."), else npos. Callers rely on npos + 1 == 0 and npos + 2 == 1.
StringType::size_type FindDriveLetter(StringPieceType path) {
  if (path.length() >= 2 && path[1] == L':' && IsAsciiLetter(path[0]))
    return 1;
  return npos;
}

// The system's upper case of one character: CharUpperW given the character itself in place of a pointer.
wchar_t SystemUpperCase(wchar_t character) {
  return static_cast<wchar_t>(LOWORD(reinterpret_cast<ULONG_PTR>(
      CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(static_cast<unsigned short>(character)))))));
}

bool DriveLettersEqualIgnoringCase(StringPieceType a, StringPieceType b) {
  return a.size() == b.size() && StartsWith(a, b, CompareCase::INSENSITIVE_ASCII);
}

bool EqualIgnoringDriveLetterCase(StringPieceType a, StringPieceType b) {
  const size_t a_letter = FindDriveLetter(a);
  const size_t b_letter = FindDriveLetter(b);
  if (a_letter == npos || b_letter == npos)
    return a == b;
  if (!DriveLettersEqualIgnoringCase(a.substr(0, a_letter + 1), b.substr(0, b_letter + 1)))
    return false;
  return a.substr(a_letter + 1) == b.substr(b_letter + 1);
}

bool IsEmptyOrSpecialCase(const StringType& path) {
  return path.empty() || path == FilePath::kCurrentDirectory || path == FilePath::kParentDirectory;
}

bool AreAllSeparators(const StringType& text) {
  return std::all_of(text.begin(), text.end(), FilePath::IsSeparator);
}

// The position of the last dot, except in "." and "..".
StringType::size_type FinalExtensionSeparatorPosition(const StringType& path) {
  if (path == FilePath::kCurrentDirectory || path == FilePath::kParentDirectory)
    return npos;
  return path.rfind(FilePath::kExtensionSeparator);
}

// Where the extension starts, double extensions such as "tar.gz" and "user.js" included.
StringType::size_type ExtensionSeparatorPosition(const StringType& path) {
  const StringType::size_type last_dot = FinalExtensionSeparatorPosition(path);
  if (last_dot == npos || last_dot == 0)
    return last_dot;

  const StringType::size_type penultimate_dot = path.rfind(FilePath::kExtensionSeparator, last_dot - 1);
  const StringType::size_type last_separator = path.find_last_of(FilePath::kSeparators, last_dot - 1);
  if (penultimate_dot == npos || (last_separator != npos && penultimate_dot < last_separator))
    return last_dot;

  if (LowerCaseEqualsASCII(StringPieceType(path).substr(penultimate_dot + 1), kCommonDoubleExtension))
    return penultimate_dot;

  const StringPieceType extension = StringPieceType(path).substr(last_dot + 1);
  for (const char* suffix : kCommonDoubleExtensionSuffixes) {
    if (LowerCaseEqualsASCII(extension, suffix)) {
      // Only a short first extension: "x.tar.gz" but not "x.longer.gz".
      const StringType::size_type distance = last_dot - penultimate_dot;
      if (distance >= 2 && distance <= 5)
        return penultimate_dot;
      break;
    }
  }
  return last_dot;
}

}  // namespace

FilePath::FilePath() = default;

FilePath::FilePath(const FilePath& that) = default;

FilePath::FilePath(StringPieceType path) : path_(path.data() ? path.data() : L"", path.size()) {
  const StringType::size_type nul_pos = path_.find(L'\0');
  if (nul_pos != npos)
    path_.erase(nul_pos);
}

FilePath::~FilePath() = default;

FilePath& FilePath::operator=(const FilePath& that) = default;

// static
FilePath FilePath::FromUTF16(StringPieceType utf16) {
  return FilePath(utf16);
}

// static
bool FilePath::IsSeparator(CharType character) {
  return character == kSeparators[0] || character == kSeparators[1];
}

bool FilePath::operator==(const FilePath& that) const {
  return EqualIgnoringDriveLetterCase(path_, that.path_);
}

bool FilePath::operator!=(const FilePath& that) const {
  return !(*this == that);
}

std::string FilePath::AsUTF8() const {
  return WideToUTF8(path_);
}

std::string FilePath::MaybeAsASCII() const {
  if (IsStringASCII(path_))
    return UTF16ToASCII(path_);
  return std::string();
}

// static
int FilePath::CompareIgnoreCase(StringPieceType string1, StringPieceType string2) {
  // Character by character, as the system upper-cases one character: no locale-aware collation.
  const size_t common = std::min(string1.size(), string2.size());
  for (size_t i = 0; i < common; ++i) {
    const wchar_t c1 = SystemUpperCase(string1[i]);
    const wchar_t c2 = SystemUpperCase(string2[i]);
    if (c1 < c2)
      return -1;
    if (c1 > c2)
      return 1;
  }
  if (string1.size() > common)
    return 1;
  if (string2.size() > common)
    return -1;
  return 0;
}

FilePath FilePath::DirName() const {
  FilePath new_path(*this);
  new_path.StripTrailingSeparatorsInternal();

  StringType& text = new_path.path_;
  const StringType::size_type letter = FindDriveLetter(text);
  const StringType::size_type last_separator = text.find_last_of(kSeparators);
  if (last_separator == npos) {
    text.resize(letter + 1);  // "X:" or nothing
  } else if (last_separator == letter + 1) {
    text.resize(letter + 2);  // the root "X:\" or "\"
  } else if (last_separator == letter + 2 && IsSeparator(text[letter + 1])) {
    text.resize(letter + 3);  // the double-separator root "\\" or "X:\\"
  } else {
    text.resize(last_separator);
  }

  new_path.StripTrailingSeparatorsInternal();
  if (text.empty())
    text = kCurrentDirectory;
  return new_path;
}

FilePath FilePath::BaseName() const {
  FilePath new_path(*this);
  new_path.StripTrailingSeparatorsInternal();

  StringType& text = new_path.path_;
  const StringType::size_type letter = FindDriveLetter(text);
  if (letter != npos)
    text.erase(0, letter + 1);

  const StringType::size_type last_separator = text.find_last_of(kSeparators);
  if (last_separator != npos && last_separator < text.length() - 1)
    text.erase(0, last_separator + 1);
  return new_path;
}

StringType FilePath::Extension() const {
  const FilePath base(BaseName());
  const StringType::size_type dot = ExtensionSeparatorPosition(base.path_);
  if (dot == npos)
    return StringType();
  return base.path_.substr(dot);
}

FilePath FilePath::RemoveExtension() const {
  if (Extension().empty())
    return *this;
  const StringType::size_type dot = ExtensionSeparatorPosition(path_);
  if (dot == npos)
    return *this;
  return FilePath(StringPieceType(path_).substr(0, dot));
}

FilePath FilePath::AddExtension(StringPieceType extension) const {
  if (IsEmptyOrSpecialCase(BaseName().value()))
    return FilePath();
  if (extension.empty() || extension == StringPieceType(L"."))
    return *this;

  StringType text = path_;
  if (extension[0] != kExtensionSeparator && text.back() != kExtensionSeparator)
    text += kExtensionSeparator;
  extension.AppendToString(&text);
  return FilePath(text);
}

FilePath FilePath::ReplaceExtension(StringPieceType extension) const {
  if (IsEmptyOrSpecialCase(BaseName().value()))
    return FilePath();

  FilePath no_extension = RemoveExtension();
  if (extension.empty() || extension == StringPieceType(L"."))
    return no_extension;

  StringType text = no_extension.value();
  if (extension[0] != kExtensionSeparator)
    text += kExtensionSeparator;
  extension.AppendToString(&text);
  return FilePath(text);
}

FilePath FilePath::InsertBeforeExtension(StringPieceType suffix) const {
  if (suffix.empty())
    return *this;
  if (IsEmptyOrSpecialCase(BaseName().value()))
    return FilePath();

  StringType text = RemoveExtension().value();
  suffix.AppendToString(&text);
  text += Extension();
  return FilePath(text);
}

FilePath FilePath::InsertBeforeExtensionASCII(StringPiece suffix) const {
  return InsertBeforeExtension(ASCIIToUTF16(suffix));
}

FilePath FilePath::Append(StringPieceType component) const {
  StringPieceType appended = component;
  const StringPieceType::size_type nul_pos = component.find(L'\0');
  if (nul_pos != StringPieceType::npos)
    appended = component.substr(0, nul_pos);

  if (path_ == kCurrentDirectory)
    return FilePath(appended);

  // `appended` may view this path's own text; new_path is a separate copy, so the view stays valid.
  FilePath new_path(*this);
  new_path.StripTrailingSeparatorsInternal();
  StringType& text = new_path.path_;
  if (!appended.empty() && !text.empty() && !IsSeparator(text.back()) &&
      FindDriveLetter(text) + 1 != text.length()) {  // a bare "X:" takes the component directly
    text += kSeparators[0];
  }
  appended.AppendToString(&text);
  return new_path;
}

FilePath FilePath::Append(const FilePath& component) const {
  return Append(StringPieceType(component.value()));
}

FilePath FilePath::AppendASCII(StringPiece component) const {
  return Append(ASCIIToUTF16(component));
}

bool FilePath::IsAbsolute() const {
  const StringType::size_type letter = FindDriveLetter(path_);
  if (letter != npos)
    return path_.length() > letter + 1 && IsSeparator(path_[letter + 1]);
  return path_.length() > 1 && IsSeparator(path_[0]) && IsSeparator(path_[1]);
}

bool FilePath::ReferencesParent() const {
  std::vector<StringType> components;
  GetComponents(&components);
  for (const StringType& component : components) {
    // Windows drops trailing dots and blanks, so "... " reaches the parent as ".." does.
    if (component.find_first_not_of(L". \n\r\t") == npos && component.find(kParentDirectory) != npos)
      return true;
  }
  return false;
}

void FilePath::GetComponents(std::vector<StringType>* components) const {
  components->clear();
  if (path_.empty())
    return;

  std::vector<StringType> reversed;
  FilePath current = *this;
  FilePath dir_name = current.DirName();
  while (current != dir_name) {
    FilePath base = current.BaseName();
    if (!AreAllSeparators(base.value()))
      reversed.push_back(base.value());
    current = dir_name;
    dir_name = current.DirName();
  }

  // The root: "\" or "\\".
  const FilePath base = current.BaseName();
  if (!base.value().empty() && base.value() != kCurrentDirectory)
    reversed.push_back(base.value());

  // The drive: "C:".
  const StringType::size_type letter = FindDriveLetter(dir_name.value());
  if (letter != npos)
    reversed.push_back(dir_name.value().substr(0, letter + 1));

  components->assign(reversed.rbegin(), reversed.rend());
}

bool FilePath::AppendRelativePath(const FilePath& child, FilePath* path) const {
  std::vector<StringType> parent_components;
  std::vector<StringType> child_components;
  GetComponents(&parent_components);
  child.GetComponents(&child_components);
  if (parent_components.empty() || parent_components.size() >= child_components.size())
    return false;

  auto parent_it = parent_components.begin();
  auto child_it = child_components.begin();
  if (FindDriveLetter(*parent_it) != npos && FindDriveLetter(*child_it) != npos) {
    if (!DriveLettersEqualIgnoringCase(*parent_it, *child_it))
      return false;
    ++parent_it;
    ++child_it;
  }
  // The file system below may be case-sensitive: the other components compare exactly.
  for (; parent_it != parent_components.end(); ++parent_it, ++child_it) {
    if (*parent_it != *child_it)
      return false;
  }

  if (path) {
    for (; child_it != child_components.end(); ++child_it)
      *path = path->Append(*child_it);
  }
  return true;
}

FilePath FilePath::StripTrailingSeparators() const {
  FilePath new_path(*this);
  new_path.StripTrailingSeparatorsInternal();
  return new_path;
}

FilePath FilePath::NormalizePathSeparators() const {
  StringType text = path_;
  std::replace(text.begin(), text.end(), kSeparators[1], kSeparators[0]);
  return FilePath(text);
}

void FilePath::StripTrailingSeparatorsInternal() {
  // The root separator of "C:\" and "\" stays; so does the pair of "\\" (the alternate root), but three or
  // more leading separators reduce to one.
  const StringType::size_type start = FindDriveLetter(path_) + 2;
  StringType::size_type last_stripped = npos;
  for (StringType::size_type pos = path_.length(); pos > start && IsSeparator(path_[pos - 1]); --pos) {
    if (pos != start + 1 || last_stripped == start + 2 || !IsSeparator(path_[start - 1])) {
      path_.resize(pos - 1);
      last_stripped = pos;
    }
  }
}

}  // namespace base
