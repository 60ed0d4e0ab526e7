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
      {L".", {}},
      {L"..\\x", {L"..", L"x"}},
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
