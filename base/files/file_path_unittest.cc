#include "base/files/file_path.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace base {
namespace {

struct UnaryCase {
  const wchar_t* input;
  const wchar_t* expected;
};

struct BinaryCase {
  const wchar_t* first;
  const wchar_t* second;
  const wchar_t* expected;
};

struct BooleanCase {
  const wchar_t* input;
  bool expected;
};

TEST(FilePathTest, ConstructionStopsAtNul) {
  const wchar_t text[] = {L'a', L'\0', L'b'};
  EXPECT_EQ(L"a", FilePath(StringPiece16(text, 3)).value());
  EXPECT_EQ(L"a", FilePath::FromUTF16(StringPiece16(text, 3)).value());
  EXPECT_TRUE(FilePath(StringPiece16()).empty());
  EXPECT_EQ(L"x", FilePath().Append(StringPiece16(L"x\0y", 3)).value());
}

TEST(FilePathTest, DirName) {
  const UnaryCase cases[] = {
      {L"", L"."},
      {L"a", L"."},
      {L"aa", L"."},
      {L"a\\b", L"a"},
      {L"a\\b\\", L"a"},
      {L"a\\b\\\\", L"a"},
      {L"a\\\\b", L"a"},
      {L"a/b", L"a"},
      {L"\\a", L"\\"},
      {L"\\", L"\\"},
      {L"\\\\", L"\\\\"},
      {L"\\\\\\", L"\\"},
      {L"\\\\server", L"\\\\"},
      {L"\\\\server\\share", L"\\\\server"},
      {L"\\\\server\\share\\", L"\\\\server"},
      {L"C:\\a\\b", L"C:\\a"},
      {L"C:\\a", L"C:\\"},
      {L"C:\\", L"C:\\"},
      {L"C:/", L"C:/"},
      {L"C:", L"C:"},
      {L"C:a", L"C:"},
      {L"C:a\\b", L"C:a"},
      {L"C:\\\\", L"C:\\\\"},
      {L"C:\\\\a", L"C:\\\\"},
      {L"1:\\a", L"1:"},  // a digit is no drive letter: "1:" is an ordinary component
      {L".", L"."},
      {L"..", L"."},
  };
  for (const UnaryCase& c : cases)
    EXPECT_EQ(c.expected, FilePath(c.input).DirName().value()) << "input: " << c.input;
}

TEST(FilePathTest, BaseName) {
  const UnaryCase cases[] = {
      {L"", L""},
      {L"a", L"a"},
      {L"a\\b", L"b"},
      {L"a\\b\\", L"b"},
      {L"C:\\a\\b\\", L"b"},
      {L"a/b//", L"b"},
      {L"\\a", L"a"},
      {L"\\", L"\\"},
      {L"\\\\", L"\\\\"},
      {L"\\\\\\", L"\\"},
      {L"\\\\server", L"server"},
      {L"C:", L""},
      {L"C:a", L"a"},
      {L"C:\\", L"\\"},
      {L"C:\\\\", L"\\\\"},
      {L"..", L".."},
  };
  for (const UnaryCase& c : cases)
    EXPECT_EQ(c.expected, FilePath(c.input).BaseName().value()) << "input: " << c.input;
}

TEST(FilePathTest, StripTrailingSeparators) {
  const UnaryCase cases[] = {
      {L"a\\b\\\\", L"a\\b"}, {L"a/", L"a"},         {L"C:\\", L"C:\\"},   {L"C:\\\\\\", L"C:\\"},
      {L"\\", L"\\"},         {L"\\\\", L"\\\\"},    {L"\\\\\\", L"\\"},   {L"\\\\\\\\", L"\\"},
      {L"C:", L"C:"},         {L"", L""},            {L"\\a\\", L"\\a"},   {L"C:\\\\", L"C:\\\\"},
  };
  for (const UnaryCase& c : cases)
    EXPECT_EQ(c.expected, FilePath(c.input).StripTrailingSeparators().value()) << "input: " << c.input;
}

TEST(FilePathTest, Append) {
  const BinaryCase cases[] = {
      {L".", L"x", L"x"},
      {L"C:", L"x", L"C:x"},
      {L"C:\\", L"x", L"C:\\x"},
      {L"a\\\\", L"b", L"a\\b"},
      {L"a/", L"b", L"a\\b"},  // trailing separators go first
      {L"", L"x", L"x"},
      {L"a", L"", L"a"},
      {L"a", L"b\\c", L"a\\b\\c"},
      {L"\\", L"x", L"\\x"},
      {L"\\\\", L"x", L"\\\\x"},
      {L"\\\\server", L"share", L"\\\\server\\share"},
      {L"a", L"C:\\x", L"a\\C:\\x"},  // absolute components are appended as text
      {L"..", L"x", L"..\\x"},
  };
  for (const BinaryCase& c : cases) {
    EXPECT_EQ(c.expected, FilePath(c.first).Append(c.second).value()) << c.first << " + " << c.second;
    EXPECT_EQ(c.expected, FilePath(c.first).Append(FilePath(c.second)).value()) << c.first << " + " << c.second;
  }
  EXPECT_EQ(L"a\\b.txt", FilePath(L"a").AppendASCII("b.txt").value());
}

TEST(FilePathTest, AppendOfItsOwnText) {
  FilePath path(L"dir\\name");
  path = path.Append(path.value());
  EXPECT_EQ(L"dir\\name\\dir\\name", path.value());
}

TEST(FilePathTest, Extension) {
  const UnaryCase cases[] = {
      {L"a.user.JS", L".user.JS"},
      {L"a.tar.GZ", L".tar.GZ"},
      {L"a.b.c", L".c"},
      {L"dir.x\\file", L""},
      {L".", L""},
      {L"..", L""},
      {L"", L""},
      {L"a", L""},
      {L"a.", L"."},
      {L".profile", L".profile"},
      {L".tar.gz", L".tar.gz"},
      {L"x.tar.gz", L".tar.gz"},
      {L"x.tar.z", L".tar.z"},
      {L"x.tar.bz2", L".tar.bz2"},
      {L"x.tar.bz", L".tar.bz"},
      {L"x.tar.xz", L".xz"},
      {L"x.a.gz", L".a.gz"},        // first extension of one character
      {L"x..gz", L".gz"},           // ...and none at all
      {L"x.abcd.gz", L".abcd.gz"},  // four characters
      {L"x.abcde.gz", L".gz"},      // five are too many
      {L"x.longer.gz", L".gz"},
      {L"x.gz", L".gz"},
      {L"dir.tar\\x.gz", L".gz"},
      {L"C:\\dir\\prefs.user.js", L".user.js"},
      {L"x.user.js.bak", L".bak"},
      {L"x.js", L".js"},
      {L"a\\b.c\\", L".c"},
  };
  for (const UnaryCase& c : cases)
    EXPECT_EQ(c.expected, FilePath(c.input).Extension()) << "input: " << c.input;
}

TEST(FilePathTest, RemoveExtension) {
  const UnaryCase cases[] = {
      {L"a.b.c", L"a.b"},       {L"x.tar.gz", L"x"},   {L"dir.x\\file", L"dir.x\\file"},
      {L"a", L"a"},             {L".", L"."},          {L"..", L".."},
      {L"C:\\d\\f.txt", L"C:\\d\\f"},   {L".profile", L""},    {L"x.abcde.gz", L"x.abcde"},
  };
  for (const UnaryCase& c : cases)
    EXPECT_EQ(c.expected, FilePath(c.input).RemoveExtension().value()) << "input: " << c.input;
}

TEST(FilePathTest, AddExtension) {
  const BinaryCase cases[] = {
      {L"a", L"txt", L"a.txt"},      {L"a", L".txt", L"a.txt"}, {L"a.", L"txt", L"a.txt"},
      {L"a.", L".txt", L"a..txt"},   {L"a", L"", L"a"},         {L"a", L".", L"a"},
      {L"", L"txt", L""},            {L".", L"txt", L""},       {L"..", L"txt", L""},
      {L"d\\..", L"txt", L""},       {L"a.b", L"c", L"a.b.c"},  {L"C:\\x", L"y", L"C:\\x.y"},
  };
  for (const BinaryCase& c : cases)
    EXPECT_EQ(c.expected, FilePath(c.first).AddExtension(c.second).value()) << c.first << " + " << c.second;
}

TEST(FilePathTest, ReplaceExtension) {
  const BinaryCase cases[] = {
      {L"a.b", L"c", L"a.c"},         {L"a.b", L".c", L"a.c"},    {L"a.b", L"", L"a"},
      {L"a.b", L".", L"a"},           {L"a", L"c", L"a.c"},       {L"x.tar.gz", L"zip", L"x.zip"},
      {L"", L"c", L""},               {L".", L"c", L""},          {L"..", L"c", L""},
      {L"dir.x\\f", L"y", L"dir.x\\f.y"},
  };
  for (const BinaryCase& c : cases)
    EXPECT_EQ(c.expected, FilePath(c.first).ReplaceExtension(c.second).value()) << c.first << " + " << c.second;
}

TEST(FilePathTest, InsertBeforeExtension) {
  const BinaryCase cases[] = {
      {L"a\\b.tar.gz", L"_1", L"a\\b_1.tar.gz"},
      {L"a.b.c", L"_x", L"a.b_x.c"},
      {L"a", L"_x", L"a_x"},
      {L"a.txt", L"", L"a.txt"},
      {L"", L"_x", L""},
      {L".", L"_x", L""},
      {L"..", L"_x", L""},
      {L"", L"", L""},
      {L".profile", L"_x", L"_x.profile"},
  };
  for (const BinaryCase& c : cases) {
    EXPECT_EQ(c.expected, FilePath(c.first).InsertBeforeExtension(c.second).value())
        << c.first << " + " << c.second;
  }
  EXPECT_EQ(L"log (1).txt", FilePath(L"log.txt").InsertBeforeExtensionASCII(" (1)").value());
}

// Trailing separators are ignored by every extension function alike, as by Extension and BaseName.
TEST(FilePathTest, ExtensionFunctionsIgnoreTrailingSeparators) {
  struct Case {
    const wchar_t* input;
    const wchar_t* extension;
    const wchar_t* removed;
    const wchar_t* inserted;  // InsertBeforeExtension("_1")
    const wchar_t* replaced;  // ReplaceExtension(".zip")
    const wchar_t* added;     // AddExtension("x")
  };
  const Case cases[] = {
      {L"a.tar.gz\\", L".tar.gz", L"a", L"a_1.tar.gz", L"a.zip", L"a.tar.gz.x"},
      {L"d\\a.tar.gz//", L".tar.gz", L"d\\a", L"d\\a_1.tar.gz", L"d\\a.zip", L"d\\a.tar.gz.x"},
      {L"a.b\\", L".b", L"a", L"a_1.b", L"a.zip", L"a.b.x"},
      {L"a\\", L"", L"a\\", L"a_1", L"a.zip", L"a.x"},
      {L"C:\\d.e\\f\\", L"", L"C:\\d.e\\f\\", L"C:\\d.e\\f_1", L"C:\\d.e\\f.zip", L"C:\\d.e\\f.x"},
      {L"a.tar.gz", L".tar.gz", L"a", L"a_1.tar.gz", L"a.zip", L"a.tar.gz.x"},
  };
  for (const Case& c : cases) {
    const FilePath path(c.input);
    EXPECT_EQ(c.extension, path.Extension()) << c.input;
    EXPECT_EQ(c.removed, path.RemoveExtension().value()) << c.input;
    EXPECT_EQ(c.inserted, path.InsertBeforeExtension(L"_1").value()) << c.input;
    EXPECT_EQ(c.replaced, path.ReplaceExtension(L".zip").value()) << c.input;
    EXPECT_EQ(c.added, path.AddExtension(L"x").value()) << c.input;
  }
}

TEST(FilePathTest, IsAbsolute) {
  const BooleanCase cases[] = {
      {L"C:\\", true},   {L"C:/a", true},   {L"c:\\a", true},   {L"\\\\server\\s", true}, {L"//server", true},
      {L"\\\\", true},   {L"\\a", false},   {L"C:a", false},    {L"C:", false},           {L"a\\b", false},
      {L"", false},      {L"\\", false},    {L"1:\\a", false},
  };
  for (const BooleanCase& c : cases)
    EXPECT_EQ(c.expected, FilePath(c.input).IsAbsolute()) << "input: " << c.input;
}

TEST(FilePathTest, GetComponents) {
  struct Case {
    const wchar_t* input;
    std::vector<std::wstring> expected;
  };
  const Case cases[] = {
      {L"", {}},
      {L"C:\\a\\b", {L"C:", L"\\", L"a", L"b"}},
      {L"a\\b", {L"a", L"b"}},
      {L"a\\\\b\\", {L"a", L"b"}},
      {L"\\a", {L"\\", L"a"}},
      {L"\\\\server\\share\\x", {L"\\\\", L"server", L"share", L"x"}},
      {L"C:", {L"C:"}},
      {L"C:a", {L"C:", L"a"}},
      {L"C:\\", {L"C:", L"\\"}},
      {L"..\\x", {L"..", L"x"}},
      // A "." the path begins with is a component, with or without more after it.
      {L".", {L"."}},
      {L".\\", {L"."}},
      {L".\\x", {L".", L"x"}},
      {L"./x/", {L".", L"x"}},
      {L"a\\.\\b", {L"a", L".", L"b"}},
      {L"C:.\\x", {L"C:", L".", L"x"}},
  };
  for (const Case& c : cases) {
    std::vector<std::wstring> components = {L"stale"};
    FilePath(c.input).GetComponents(&components);
    EXPECT_EQ(c.expected, components) << "input: " << c.input;
  }
}

TEST(FilePathTest, AppendRelativePath) {
  FilePath out(L"base");
  EXPECT_TRUE(FilePath(L"C:\\a").AppendRelativePath(FilePath(L"c:\\a\\b\\c"), &out));
  EXPECT_EQ(L"base\\b\\c", out.value());

  // Components other than the drive letter compare case-sensitively.
  out = FilePath(L"base");
  EXPECT_FALSE(FilePath(L"C:\\a").AppendRelativePath(FilePath(L"C:\\A\\b"), &out));
  EXPECT_EQ(L"base", out.value());

  EXPECT_FALSE(FilePath(L"C:\\a").AppendRelativePath(FilePath(L"C:\\a"), nullptr));
  EXPECT_FALSE(FilePath(L"C:\\a\\").AppendRelativePath(FilePath(L"C:\\a"), nullptr));
  EXPECT_FALSE(FilePath(L"").AppendRelativePath(FilePath(L"a"), nullptr));
  EXPECT_FALSE(FilePath(L"C:\\a").AppendRelativePath(FilePath(L"D:\\a\\b"), nullptr));
  EXPECT_FALSE(FilePath(L"C:\\ab").AppendRelativePath(FilePath(L"C:\\abc\\d"), nullptr));
  EXPECT_FALSE(FilePath(L"C:\\a").AppendRelativePath(FilePath(L"C:/a/b"), nullptr));  // root separators compare as text
  EXPECT_TRUE(FilePath(L"\\\\srv\\share").AppendRelativePath(FilePath(L"\\\\srv\\share\\d"), nullptr));

  out = FilePath(L".");
  EXPECT_TRUE(FilePath(L"a").AppendRelativePath(FilePath(L"a\\b\\c"), &out));
  EXPECT_EQ(L"b\\c", out.value());

  // ".\" + "x" gives ".\x", whose parent it is; "." is too, but "x" has no "." to match.
  EXPECT_EQ(L".\\x", FilePath(L".\\").Append(L"x").value());
  for (const wchar_t* parent : {L".\\", L".", L"./"}) {
    out = FilePath();
    EXPECT_TRUE(FilePath(parent).AppendRelativePath(FilePath(L".\\x"), &out)) << parent;
    EXPECT_EQ(L"x", out.value()) << parent;
  }
  EXPECT_FALSE(FilePath(L".").AppendRelativePath(FilePath(L"x"), nullptr));
}

TEST(FilePathTest, ReferencesParent) {
  const BooleanCase cases[] = {
      {L"a\\..\\b", true},  {L"..", true},         {L"...", true},       {L".. ", true},     {L"a\\..", true},
      {L"..\\a", true},     {L"a\\..b", false},    {L"a..b", false},     {L". .", false},    {L".", false},
      {L"a\\.\\b", false},  {L"a\\\t..\\b", true}, {L"C:\\..", true},    {L"", false},
  };
  for (const BooleanCase& c : cases)
    EXPECT_EQ(c.expected, FilePath(c.input).ReferencesParent()) << "input: " << c.input;
}

TEST(FilePathTest, EqualityIgnoresOnlyDriveLetterCase) {
  EXPECT_TRUE(FilePath(L"c:\\X") == FilePath(L"C:\\X"));
  EXPECT_FALSE(FilePath(L"c:\\x") == FilePath(L"C:\\X"));
  EXPECT_TRUE(FilePath(L"c:\\x") != FilePath(L"C:\\X"));
  EXPECT_FALSE(FilePath(L"a\\b") == FilePath(L"a/b"));
  EXPECT_FALSE(FilePath(L"c:") == FilePath(L"d:"));
  EXPECT_TRUE(FilePath(L"") == FilePath());
  EXPECT_FALSE(FilePath(L"c:\\a") == FilePath(L"ca\\a"));
}

TEST(FilePathTest, NormalizeSeparators) {
  EXPECT_EQ(L"C:\\a\\b\\\\c", FilePath(L"C:/a\\b//c").NormalizePathSeparators().value());
}

TEST(FilePathTest, TextConversions) {
  const FilePath path(L"C:\\Gr\u00fc\u00dfe\\\u65e5");
  EXPECT_EQ("C:\\Gr\xc3\xbc\xc3\x9f" "e\\\xe6\x97\xa5", path.AsUTF8());
  EXPECT_EQ("", path.MaybeAsASCII());
  EXPECT_EQ("C:\\plain", FilePath(L"C:\\plain").MaybeAsASCII());
}

// The system's ordinal upper-case comparison is the outside check for the character-wise comparison.
TEST(FilePathTest, CompareIgnoreCaseAgreesWithTheSystem) {
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(L"C:\\Abc", L"c:\\aBC"));
  EXPECT_EQ(-1, FilePath::CompareIgnoreCase(L"abc", L"ABCD"));
  EXPECT_EQ(1, FilePath::CompareIgnoreCase(L"abcd", L"ABC"));
  EXPECT_EQ(-1, FilePath::CompareIgnoreCase(L"a", L"B"));
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(L"", L""));
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(L"\u00e4\u0431", L"\u00c4\u0411"));

  const wchar_t alphabet[] = L"aAbBzZ_~09\u00e4\u00c4\u00df\u0431\u0411\u03c9\u03a9\u65e5\u00ff\u0178";
  std::mt19937 random(1234);
  std::uniform_int_distribution<size_t> pick(0, std::size(alphabet) - 2);
  std::uniform_int_distribution<int> length(0, 4);
  for (int round = 0; round < 2000; ++round) {
    std::wstring a, b;
    for (int i = length(random); i > 0; --i)
      a += alphabet[pick(random)];
    for (int i = length(random); i > 0; --i)
      b += alphabet[pick(random)];
    const int expected = CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                              static_cast<int>(b.size()), TRUE) - CSTR_EQUAL;
    ASSERT_EQ(expected, FilePath::CompareIgnoreCase(a, b)) << a << " vs " << b;
  }
}

bool StartsWithDriveLetter(const std::wstring& text) {
  return text.size() >= 2 && text[1] == L':' && ((text[0] >= L'A' && text[0] <= L'Z') || (text[0] >= L'a' && text[0] <= L'z'));
}

// The components as DirName and BaseName define them, walking one copy of the path per step: the reference for
// GetComponents.
std::vector<std::wstring> ComponentsByWalking(const FilePath& path) {
  std::vector<std::wstring> reversed;
  if (path.empty())
    return reversed;
  FilePath current = path;
  while (current != current.DirName()) {
    const std::wstring base = current.BaseName().value();
    if (base.find_first_not_of(L"\\/") != std::wstring::npos)
      reversed.push_back(base);
    current = current.DirName();
  }
  const std::wstring root = current.BaseName().value();
  if (!root.empty() && root != L".")
    reversed.push_back(root);
  if (StartsWithDriveLetter(current.DirName().value()))
    reversed.push_back(current.DirName().value().substr(0, 2));
  return std::vector<std::wstring>(reversed.rbegin(), reversed.rend());
}

// Random paths keep the path functions consistent with one another: GetComponents with the DirName/BaseName
// walk, Append with DirName, BaseName and AppendRelativePath, and the extension functions with Extension and
// the folder the path names.
TEST(FilePathTest, RandomPathsKeepThePathFunctionsConsistent) {
  const wchar_t* const pieces[] = {L"a", L"b.c", L".", L"..", L"x.tar.gz", L"\\", L"/", L"C:", L"c:", L" ", L".gz"};
  const wchar_t* const names[] = {L"n", L"n.tar.gz", L"..", L"m.b", L".e"};
  std::mt19937 random(4312);
  for (int round = 0; round < 20000; ++round) {
    std::wstring text;
    for (size_t count = random() % 9; count > 0; --count)
      text += pieces[random() % std::size(pieces)];
    const FilePath path(text);
    SCOPED_TRACE(testing::Message() << "path [" << text << "]");

    std::vector<std::wstring> components;
    path.GetComponents(&components);
    // The walk ends a relative path on the "." that DirName makes up and drops it, and with it a "." that the
    // path begins with; that one is a component like any name, so the walk is given a name in its place.
    const bool begins_with_dot = text[0] == L'.' && (text.size() == 1 || FilePath::IsSeparator(text[1]));
    std::vector<std::wstring> walked = ComponentsByWalking(begins_with_dot ? FilePath(L"@" + text.substr(1)) : path);
    if (begins_with_dot) {
      ASSERT_EQ(L"@", walked[0]);
      walked[0] = L".";
    }
    ASSERT_EQ(walked, components);

    if (path.empty())
      continue;
    const std::wstring name = names[random() % std::size(names)];
    const FilePath appended = path.Append(name);
    ASSERT_EQ(name, appended.BaseName().value());
    ASSERT_EQ(path.StripTrailingSeparators().value(), appended.DirName().value());
    if (path.value() != L".") {  // "." + "n" is "n", which has no "." to match
      FilePath relative;
      ASSERT_TRUE(path.AppendRelativePath(appended, &relative));
      ASSERT_EQ(name, relative.value());
    }

    const std::wstring extension = path.Extension();
    if (!extension.empty()) {
      ASSERT_EQ(path.StripTrailingSeparators().value(), path.RemoveExtension().value() + extension);
    }
    // A new extension or suffix changes the name, never the folder it is in.
    const std::wstring base = path.BaseName().value();
    if (base != L"." && base != L".." && base.find_first_not_of(L"\\/") != std::wstring::npos) {
      ASSERT_EQ(path.DirName(), path.InsertBeforeExtension(L"_1").DirName());
      ASSERT_EQ(path.DirName(), path.ReplaceExtension(L".z").DirName());
      ASSERT_EQ(path.DirName(), path.AddExtension(L"z").DirName());
    }
  }
}

// 65,536 components are taken apart, checked for "..", and made relative with work in proportion to the
// length of the path.
TEST(FilePathTest, ManyComponentsTakeLinearWork) {
  constexpr size_t kComponents = 65536;
  auto name = [](size_t i) { return std::wstring(L"c").append(std::to_wstring(i % 7)); };
  auto separator = [](size_t i) { return std::wstring(i % 3 ? L"\\" : L"/"); };
  std::wstring parent_text = L"C:\\" + name(0);
  for (size_t i = 1; i < kComponents / 2; ++i)
    parent_text += separator(i) + name(i);
  std::wstring relative_text = name(kComponents / 2);
  for (size_t i = kComponents / 2 + 1; i < kComponents; ++i)
    relative_text += separator(i) + name(i);
  const FilePath parent(parent_text);
  const FilePath path(parent_text + L"\\" + relative_text);

  size_t work = 0;
  FilePath::SetComponentWorkCounterForTesting(&work);
  std::vector<std::wstring> components;
  path.GetComponents(&components);
  const size_t components_work = work;
  EXPECT_FALSE(path.ReferencesParent());
  const size_t references_work = work - components_work;
  EXPECT_TRUE(path.Append(L"..").ReferencesParent());
  FilePath relative(L"r");
  work = 0;
  EXPECT_TRUE(parent.AppendRelativePath(path, &relative));
  const size_t relative_work = work;
  FilePath::SetComponentWorkCounterForTesting(nullptr);

  ASSERT_EQ(kComponents + 2, components.size());  // "C:", "\", then the names
  EXPECT_EQ(name(kComponents - 1), components.back());
  EXPECT_EQ(L"r\\" + FilePath(relative_text).NormalizePathSeparators().value(), relative.value());
  EXPECT_LE(components_work, path.value().size());
  EXPECT_LE(references_work, path.value().size());
  EXPECT_LE(relative_work, parent.value().size() + 2 * path.value().size());
  EXPECT_GT(components_work, 0u);
}

// Components taken apart and appended again give back a path that equals the original once its separators
// are normalised and doubled ones removed; and a path is the parent of everything appended to it.
TEST(FilePathTest, ComponentsRebuildThePath) {
  const wchar_t* const pieces[] = {L"a", L"bc", L"d.e", L"x.tar.gz", L"\u00e4", L"..", L"...f", L"g h"};
  const wchar_t* const roots[] = {L"", L"C:\\", L"c:", L"\\", L"\\\\srv\\"};
  std::mt19937 random(99);
  for (int round = 0; round < 500; ++round) {
    const std::wstring root = roots[random() % std::size(roots)];
    std::vector<std::wstring> names;
    const size_t count = 1 + random() % 4;
    for (size_t i = 0; i < count; ++i)
      names.push_back(pieces[random() % std::size(pieces)]);

    std::wstring text = root;
    for (size_t i = 0; i < names.size(); ++i) {
      if (i > 0)
        text += (random() % 2) ? L"\\" : L"/";
      text += names[i];
    }
    const FilePath path(text);

    std::vector<std::wstring> components;
    path.GetComponents(&components);
    ASSERT_GE(components.size(), names.size()) << text;
    const std::vector<std::wstring> tail(components.end() - static_cast<ptrdiff_t>(names.size()),
                                         components.end());
    EXPECT_EQ(names, tail) << text;

    FilePath rebuilt;
    for (const std::wstring& component : components)
      rebuilt = rebuilt.empty() ? FilePath(component) : rebuilt.Append(component);
    EXPECT_EQ(path.NormalizePathSeparators().value(), rebuilt.value()) << text;

    FilePath relative(L".");
    EXPECT_TRUE(FilePath(root.empty() ? L"." : root).Append(L"p").AppendRelativePath(
        FilePath(root.empty() ? L"." : root).Append(L"p").Append(path.value().substr(root.size())), &relative))
        << text;
    FilePath expected_relative;
    for (const std::wstring& name : names)
      expected_relative = expected_relative.empty() ? FilePath(name) : expected_relative.Append(name);
    EXPECT_EQ(expected_relative.value(), relative.value()) << text;

    EXPECT_FALSE(path.DirName() == path) << text;
  }
}

}  // namespace
}  // namespace base
