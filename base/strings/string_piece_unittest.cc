#include "base/strings/string_piece.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <string_view>

namespace base {
namespace {

constexpr size_t npos = StringPiece::npos;

// The standard library's searches agree with the view's wherever both define the answer; they serve as the
// oracle over many random texts, sets and start positions (both text kinds, one- and many-character sets).
template <typename Piece>
void CompareSearchesWithStandardLibrary(const std::basic_string<typename Piece::value_type>& text,
                                        const std::basic_string<typename Piece::value_type>& set, size_t pos) {
  using View = std::basic_string_view<typename Piece::value_type>;
  const Piece piece(text);
  const Piece set_piece(set);
  const View view(text);
  SCOPED_TRACE(testing::Message() << "size " << text.size() << " set size " << set.size() << " pos " << pos);

  EXPECT_EQ(view.find(set, pos), piece.find(set_piece, pos));
  EXPECT_EQ(view.rfind(set, pos), piece.rfind(set_piece, pos));
  EXPECT_EQ(view.find_first_of(set, pos), piece.find_first_of(set_piece, pos));
  EXPECT_EQ(view.find_last_of(set, pos), piece.find_last_of(set_piece, pos));
  EXPECT_EQ(view.find_first_not_of(set, pos), piece.find_first_not_of(set_piece, pos));
  EXPECT_EQ(view.find_last_not_of(set, pos), piece.find_last_not_of(set_piece, pos));
  if (!set.empty()) {
    EXPECT_EQ(view.find(set[0], pos), piece.find(set[0], pos));
    EXPECT_EQ(view.rfind(set[0], pos), piece.rfind(set[0], pos));
    EXPECT_EQ(view.find_first_not_of(set[0], pos), piece.find_first_not_of(set[0], pos));
    EXPECT_EQ(view.find_last_not_of(set[0], pos), piece.find_last_not_of(set[0], pos));
  }
}

template <typename Char>
std::basic_string<Char> RandomText(std::mt19937* random, size_t max_length, const std::basic_string<Char>& alphabet) {
  std::basic_string<Char> text((*random)() % (max_length + 1), Char());
  for (Char& c : text)
    c = alphabet[(*random)() % alphabet.size()];
  return text;
}

TEST(StringPieceSearchTest, AgreesWithStandardLibraryOnRandomInput) {
  std::mt19937 random(20240611);
  // Bytes above 0x7F must index the narrow membership table as unsigned values.
  const std::string narrow_alphabet("ab\xE9\xFF\x80 \0", 7);
  const std::wstring wide_alphabet(L"ab\x00E9\xFFFF\x8000 \0", 7);
  for (int round = 0; round < 3000; ++round) {
    const std::string text = RandomText(&random, 12, narrow_alphabet);
    const std::string set = RandomText(&random, 4, narrow_alphabet);
    const size_t pos = round % 7 == 0 ? npos : random() % 15;
    CompareSearchesWithStandardLibrary<StringPiece>(text, set, pos);

    const std::wstring wide_text = RandomText(&random, 12, wide_alphabet);
    const std::wstring wide_set = RandomText(&random, 4, wide_alphabet);
    CompareSearchesWithStandardLibrary<StringPiece16>(wide_text, wide_set, pos);
  }
}

TEST(StringPieceSearchTest, EmptyViewFindsNothing) {
  const StringPiece empty;
  EXPECT_EQ(npos, empty.find('a'));
  EXPECT_EQ(npos, empty.rfind('a'));
  EXPECT_EQ(npos, empty.find_first_of("ab"));
  EXPECT_EQ(npos, empty.find_first_not_of("ab"));
  EXPECT_EQ(npos, empty.find_first_not_of(""));
  EXPECT_EQ(npos, empty.find_last_of("ab"));
  EXPECT_EQ(npos, empty.find_last_not_of("ab"));
  EXPECT_EQ(npos, empty.find_last_not_of(""));
  EXPECT_EQ(npos, StringPiece16().find_first_of(L"a"));
}

TEST(StringPieceSearchTest, EmptySetMatchesNothingButExcludesNothing) {
  const StringPiece text("abc");
  EXPECT_EQ(npos, text.find_first_of(""));
  EXPECT_EQ(npos, text.find_last_of(""));
  EXPECT_EQ(0u, text.find_first_not_of(""));
  EXPECT_EQ(2u, text.find_first_not_of("", 2));
  EXPECT_EQ(npos, text.find_first_not_of("", 3));
  EXPECT_EQ(2u, text.find_last_not_of(""));
  EXPECT_EQ(1u, text.find_last_not_of("", 1));
  const StringPiece16 wide(L"abc");
  EXPECT_EQ(0u, wide.find_first_not_of(L""));
  EXPECT_EQ(2u, wide.find_last_not_of(L""));
}

TEST(StringPieceSearchTest, BackwardSearchesClampTheStart) {
  const StringPiece text("a.b.c");
  EXPECT_EQ(3u, text.rfind('.'));
  EXPECT_EQ(3u, text.rfind('.', 1000));
  EXPECT_EQ(1u, text.rfind('.', 2));
  EXPECT_EQ(npos, text.rfind('.', 0));
  EXPECT_EQ(0u, text.rfind('a', 0));
  EXPECT_EQ(3u, text.find_last_of("./", 3));
  EXPECT_EQ(1u, text.find_last_of("./", 2));
  EXPECT_EQ(4u, text.find_last_not_of("./"));
  EXPECT_EQ(2u, text.find_last_not_of("./", 3));
}

TEST(StringPieceSearchTest, ForwardSearchesFromOrBeyondTheEnd) {
  const StringPiece text("abc");
  EXPECT_EQ(npos, text.find('c', 3));
  EXPECT_EQ(npos, text.find('c', npos));
  EXPECT_EQ(2u, text.find('c', 2));
  EXPECT_EQ(npos, text.find_first_of("xc", 3));
  EXPECT_EQ(npos, text.find_first_not_of("xy", 3));
  EXPECT_EQ(npos, text.find_first_not_of('x', 3));
}

TEST(StringPieceSearchTest, NulIsAnOrdinaryUnit) {
  const std::string text("a\0b", 3);
  const StringPiece piece(text);
  EXPECT_EQ(3u, piece.size());
  EXPECT_EQ(1u, piece.find('\0'));
  EXPECT_EQ(1u, piece.find_first_of(StringPiece("\0b", 2)));
  EXPECT_EQ(2u, piece.find_first_not_of(StringPiece("a\0", 2)));
}

TEST(StringPieceTest, SubstrClampsStartAndCount) {
  const StringPiece text("hello");
  EXPECT_EQ("ell", text.substr(1, 3));
  EXPECT_EQ("llo", text.substr(2));
  EXPECT_EQ("lo", text.substr(3, 100));
  const StringPiece beyond = text.substr(9, 2);
  EXPECT_TRUE(beyond.empty());
  EXPECT_EQ(text.data() + text.size(), beyond.data());  // an empty view at the end, not a stray pointer
  EXPECT_EQ(L"b", StringPiece16(L"abc").substr(1, 1));
  EXPECT_TRUE(StringPiece16(L"abc").substr(4).empty());
}

TEST(StringPieceTest, ConstructionAndComparison) {
  const char* null_text = nullptr;
  EXPECT_TRUE(StringPiece(null_text).empty());
  const std::string owned("abc");
  EXPECT_EQ(owned.data(), StringPiece(owned).data());
  EXPECT_EQ(StringPiece("abc"), owned);
  EXPECT_EQ(owned, StringPiece("abc"));
  EXPECT_NE(StringPiece("abc"), StringPiece("abcd"));
  EXPECT_NE(StringPiece("abc"), StringPiece("abd"));
  EXPECT_EQ(StringPiece(), StringPiece(""));
  EXPECT_LT(StringPiece("ab"), StringPiece("abc"));
  EXPECT_LT(StringPiece("abc"), StringPiece("abd"));
  EXPECT_GT(StringPiece("\xE9"), StringPiece("z"));  // bytes compare unsigned
  EXPECT_EQ(0, StringPiece("abc").compare("abc"));
  EXPECT_EQ(StringPiece16(L"x"), std::wstring(L"x"));
  EXPECT_EQ(L"x", StringPiece16(L"x"));
}

TEST(StringPieceTest, CopyAppendAndToString) {
  const StringPiece piece("xyz");
  std::string target("abc");
  piece.AppendToString(&target);
  EXPECT_EQ("abcxyz", target);
  piece.CopyToString(&target);
  EXPECT_EQ("xyz", target);
  StringPiece().CopyToString(&target);
  EXPECT_EQ("", target);
  EXPECT_EQ("xyz", piece.ToString());
  std::wstring wide(L"1");
  StringPiece16(L"23").AppendToString(&wide);
  EXPECT_EQ(L"123", wide);
  EXPECT_EQ(L"23", StringPiece16(L"23").ToString());
}

TEST(StringPieceTest, StreamsBytesUnformatted) {
  std::ostringstream out;
  out.width(10);
  out << StringPiece(std::string("a\0b", 3));
  EXPECT_EQ(std::string("a\0b", 3), out.str());
}

}  // namespace
}  // namespace base
