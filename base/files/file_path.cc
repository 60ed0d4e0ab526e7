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

// Counts the path characters that the component walk and relative-path building go over (tests only).
size_t* g_component_work_counter = nullptr;

void CountComponentWork(size_t characters) {
  if (g_component_work_counter)
    *g_component_work_counter += characters;
}

// The length of `path` without its trailing separators. The root separator of "C:\" and "\" stays; so does
// the pair of "\\" (the alternate root), but three or more leading separators reduce to one.
size_t StrippedLength(StringPieceType path) {
  const size_t start = FindDriveLetter(path) + 2;
  size_t length = path.length();
  size_t last_stripped = npos;
  for (size_t pos = path.length(); pos > start && FilePath::IsSeparator(path[pos - 1]); --pos) {
    if (pos != start + 1 || last_stripped == start + 2 || !FilePath::IsSeparator(path[start - 1])) {
      length = pos - 1;
      last_stripped = pos;
    }
  }
  return length;
}

// The index of the last separator in `text`, found from the end, else npos.
size_t LastSeparator(StringPieceType text) {
  for (size_t pos = text.length(); pos > 0; --pos) {
    if (FilePath::IsSeparator(text[pos - 1]))
      return pos - 1;
  }
  return npos;
}

// DirName as a view: a prefix of `path`, or the current directory "." itself (kCurrentDirectory's own text,
// never a view of `path`) when nothing of the path remains.
StringPieceType DirNameView(StringPieceType path) {
  const StringPieceType text = path.substr(0, StrippedLength(path));
  const size_t letter = FindDriveLetter(text);
  const size_t last_separator = LastSeparator(text);
  size_t length;
  if (last_separator == npos)
    length = letter + 1;  // "X:" or nothing
  else if (last_separator == letter + 1)
    length = letter + 2;  // the root "X:\" or "\"
  else if (last_separator == letter + 2 && FilePath::IsSeparator(text[letter + 1]))
    length = letter + 3;  // the double-separator root "\\" or "X:\\"
  else
    length = last_separator;
  length = StrippedLength(text.substr(0, length));
  return length ? text.substr(0, length) : StringPieceType(FilePath::kCurrentDirectory);
}

// BaseName as a view of the end of `path`.
StringPieceType BaseNameView(StringPieceType path) {
  StringPieceType text = path.substr(0, StrippedLength(path));
  const size_t letter = FindDriveLetter(text);
  if (letter != npos)
    text.remove_prefix(letter + 1);
  const size_t last_separator = LastSeparator(text);
  if (last_separator != npos && last_separator < text.length() - 1)
    text.remove_prefix(last_separator + 1);
  return text;
}

bool IsEmptyOrSpecialCase(const StringType& path) {
  return path.empty() || path == FilePath::kCurrentDirectory || path == FilePath::kParentDirectory;
}

bool AreAllSeparators(StringPieceType text) {
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
  return FilePath(DirNameView(path_));
}

FilePath FilePath::BaseName() const {
  return FilePath(BaseNameView(path_));
}

StringType FilePath::Extension() const {
  const FilePath base(BaseName());
  const StringType::size_type dot = ExtensionSeparatorPosition(base.path_);
  if (dot == npos)
    return StringType();
  return base.path_.substr(dot);
}

// The extension functions share one rule for trailing separators: the extension belongs to the base name,
// which ignores them, so "a.tar.gz\" has the extension ".tar.gz" and its name is changed on "a.tar.gz".

FilePath FilePath::RemoveExtension() const {
  const StringType extension = Extension();
  if (extension.empty())
    return *this;
  const StringPieceType stripped = StringPieceType(path_).substr(0, StrippedLength(path_));
  return FilePath(stripped.substr(0, stripped.length() - extension.length()));
}

FilePath FilePath::AddExtension(StringPieceType extension) const {
  if (IsEmptyOrSpecialCase(BaseName().value()))
    return FilePath();
  if (extension.empty() || extension == StringPieceType(L"."))
    return *this;

  StringType text = StripTrailingSeparators().value();
  if (extension[0] != kExtensionSeparator && text.back() != kExtensionSeparator)
    text += kExtensionSeparator;
  extension.AppendToString(&text);
  return FilePath(text);
}

FilePath FilePath::ReplaceExtension(StringPieceType extension) const {
  if (IsEmptyOrSpecialCase(BaseName().value()))
    return FilePath();

  if (extension.empty() || extension == StringPieceType(L"."))
    return RemoveExtension();

  StringType text = StripTrailingSeparators().RemoveExtension().value();
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

  StringType text = StripTrailingSeparators().RemoveExtension().value();
  suffix.AppendToString(&text);
  text += Extension();
  return FilePath(text);
}

FilePath FilePath::InsertBeforeExtensionASCII(StringPiece suffix) const {
  return InsertBeforeExtension(ASCIIToUTF16(suffix));
}

FilePath FilePath::Append(StringPieceType component) const {
  // `component` may view this path's own text; new_path is a separate copy, so the view stays valid.
  FilePath new_path(*this);
  new_path.AppendInternal(component);
  return new_path;
}

void FilePath::AppendInternal(StringPieceType component) {
  StringPieceType appended = component;
  const StringPieceType::size_type nul_pos = component.find(L'\0');
  if (nul_pos != StringPieceType::npos)
    appended = component.substr(0, nul_pos);

  if (path_ == kCurrentDirectory) {
    path_.assign(appended.data() ? appended.data() : L"", appended.size());
    return;
  }
  StripTrailingSeparatorsInternal();
  if (!appended.empty() && !path_.empty() && !IsSeparator(path_.back()) &&
      FindDriveLetter(path_) + 1 != path_.length()) {  // a bare "X:" takes the component directly
    path_ += kSeparators[0];
  }
  appended.AppendToString(&path_);
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

  // Walks from the end as DirName and BaseName would, on views of this path's prefixes: each step goes over
  // one component and the separators before it, so the walk is linear in the length of the path. Two
  // prefixes are the same text exactly when they are equally long.
  const StringPieceType path(path_);
  auto same_text = [](StringPieceType a, StringPieceType b) {
    return a.size() == b.size() && (a.data() == b.data() || a == b);
  };
  std::vector<StringPieceType> reversed;
  StringPieceType current = path;
  StringPieceType dir_name = DirNameView(current);
  while (!same_text(current, dir_name)) {
    CountComponentWork(current.size() - (dir_name.data() == path.data() ? dir_name.size() : 0));
    const StringPieceType base = BaseNameView(current);
    if (!AreAllSeparators(base))
      reversed.push_back(base);
    current = dir_name;
    dir_name = DirNameView(current);
  }

  // The root "\" or "\\", or a "." that the path itself begins with: a relative path ends its walk on the
  // "." that DirName makes up, which is no component, but ".\x" keeps its "." as ".\" and "." do, so that
  // ".\" is the parent of ".\x".
  const StringPieceType base = BaseNameView(current);
  if (!base.empty() && base.data() != kCurrentDirectory)
    reversed.push_back(base);

  // The drive: "C:".
  if (FindDriveLetter(dir_name) != npos)
    reversed.push_back(dir_name.substr(0, 2));

  components->reserve(reversed.size());
  for (auto it = reversed.rbegin(); it != reversed.rend(); ++it)
    components->push_back(it->as_string());
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
    // One string grows: appending to a new copy per component would copy the path once per component.
    FilePath result(*path);
    for (; child_it != child_components.end(); ++child_it) {
      CountComponentWork(child_it->size());
      result.AppendInternal(*child_it);
    }
    *path = result;
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
  path_.resize(StrippedLength(path_));
}

// static
void FilePath::SetComponentWorkCounterForTesting(size_t* counter) {
  g_component_work_counter = counter;
}

}  // namespace base
