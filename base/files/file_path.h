// A Windows path held as UTF-16 text. Every operation works on the text alone and never touches the file
// system. Letter case is preserved; equality ignores the case of the drive letter only.
#ifndef BASE_FILES_FILE_PATH_H_
#define BASE_FILES_FILE_PATH_H_

#include <cstddef>
#include <string>
#include <vector>

#include "base/strings/string_piece.h"

namespace base {

class FilePath {
 public:
  using StringType = std::wstring;
  using CharType = wchar_t;
  using StringPieceType = StringPiece16;

  // Separators recognised in paths, backslash first: the one that the functions here insert.
  static constexpr CharType kSeparators[] = L"\\/";
  static constexpr size_t kSeparatorsLength = 2;
  static constexpr CharType kCurrentDirectory[] = L".";
  static constexpr CharType kParentDirectory[] = L"..";
  static constexpr CharType kExtensionSeparator = L'.';

  FilePath();
  FilePath(const FilePath& that);
  // The path ends at the first NUL of `path`, if it holds one.
  explicit FilePath(StringPieceType path);
  ~FilePath();
  FilePath& operator=(const FilePath& that);

  static FilePath FromUTF16(StringPieceType utf16);
  static bool IsSeparator(CharType character);

  // Equal when the texts are equal, except that drive letters compare without regard to case.
  bool operator==(const FilePath& that) const;
  bool operator!=(const FilePath& that) const;

  const StringType& value() const { return path_; }
  bool empty() const { return path_.empty(); }
  void clear() { path_.clear(); }

  std::string AsUTF8() const;
  // The path as narrow text when every character is ASCII, else empty.
  std::string MaybeAsASCII() const;

  // Three-way comparison (-1, 0, 1) of the texts after upper-casing each character as the system does.
  static int CompareIgnoreCase(StringPieceType string1, StringPieceType string2);

  // The path without its last component: "C:\a\b" gives "C:\a", "C:\a" gives "C:\", "a" gives ".".
  FilePath DirName() const;
  // The last component: "C:\a\b\" gives "b".
  FilePath BaseName() const;
  // The extension of the base name with its dot, double extensions such as ".tar.gz" included; else empty.
  // Like the base name, the functions below ignore trailing separators: "a.tar.gz\" has ".tar.gz", and
  // InsertBeforeExtension of "_1" gives "a_1.tar.gz".
  StringType Extension() const;
  FilePath RemoveExtension() const;
  FilePath AddExtension(StringPieceType extension) const;
  FilePath ReplaceExtension(StringPieceType extension) const;
  // "a\b.tar.gz" with "_1" gives "a\b_1.tar.gz".
  FilePath InsertBeforeExtension(StringPieceType suffix) const;
  FilePath InsertBeforeExtensionASCII(StringPiece suffix) const;

  // Joins with one backslash where needed. An absolute component is not refused: it is appended as text.
  FilePath Append(StringPieceType component) const;
  FilePath Append(const FilePath& component) const;
  FilePath AppendASCII(StringPiece component) const;

  // True for "X:\..." and for "\\..." (UNC); "\a" and "C:a" are not absolute.
  bool IsAbsolute() const;
  // True when a component is made only of dots and blanks and holds "..".
  bool ReferencesParent() const;
  // The components, root and drive included: "C:\a\b" gives "C:", "\", "a", "b". A "." that the path begins
  // with is one: ".\x" gives ".", "x" (and "x" gives "x").
  void GetComponents(std::vector<StringType>* components) const;
  // True when this path is a parent of `child`; then appends the rest of `child` to *path (when not null).
  // Components compare case-sensitively, drive letters without regard to case.
  bool AppendRelativePath(const FilePath& child, FilePath* path) const;

  FilePath StripTrailingSeparators() const;
  // Every slash becomes a backslash.
  FilePath NormalizePathSeparators() const;

  // Adds to *counter (null: nothing) the path characters that GetComponents and AppendRelativePath go over.
  static void SetComponentWorkCounterForTesting(size_t* counter);

 private:
  void StripTrailingSeparatorsInternal();
  // Append in place; `component` must not view this path's own text.
  void AppendInternal(StringPieceType component);

  StringType path_;
};

}  // namespace base

#endif  // BASE_FILES_FILE_PATH_H_
