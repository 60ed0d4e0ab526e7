#include "base/command_line.h"

#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_local_memory.h"
#include "testing/test_support.h"

namespace base {
namespace {

using StringVector = CommandLine::StringVector;

// What the system's own splitter makes of a command line: the outside check for the quoting.
StringVector SplitBySystem(const std::wstring& command_line) {
  int count = 0;
  const win::ScopedLocalMemory<wchar_t*> arguments(CommandLineToArgvW(command_line.c_str(), &count));
  StringVector result;
  if (arguments.IsValid())
    result.assign(arguments.Get(), arguments.Get() + count);
  return result;
}

std::map<std::string, std::wstring> SwitchesOf(const CommandLine& command_line) {
  return std::map<std::string, std::wstring>(command_line.GetSwitches().begin(), command_line.GetSwitches().end());
}

TEST(CommandLineTest, ParsesPrefixesCaseAndTerminator) {
  CommandLine command_line;
  command_line.ParseCommandLineString(L"installer.exe --Silent -installfolder=D:\\A /? -- --backend x");
  EXPECT_EQ(L"installer.exe", command_line.GetProgram().value());
  const std::map<std::string, std::wstring> expected = {{"silent", L""}, {"installfolder", L"D:\\A"}, {"?", L""}};
  EXPECT_EQ(expected, SwitchesOf(command_line));
  EXPECT_EQ((StringVector{L"--", L"--backend", L"x"}), command_line.GetArgs());
  EXPECT_FALSE(command_line.HasSwitch("backend"));
  EXPECT_TRUE(command_line.HasSwitch("silent"));
  EXPECT_FALSE(command_line.HasSwitch("Silent"));  // lookups are exact
  EXPECT_EQ(L"D:\\A", command_line.GetSwitchValueNative("installfolder"));
  EXPECT_EQ("D:\\A", command_line.GetSwitchValueASCII("installfolder"));
  EXPECT_EQ(L"D:\\A", command_line.GetSwitchValuePath("installfolder").value());
  EXPECT_EQ(L"", command_line.GetSwitchValueNative("absent"));
  // The switches keep their written form with the name lower-cased; the prefixes stay as given.
  EXPECT_EQ((StringVector{L"installer.exe", L"--silent", L"-installfolder=D:\\A", L"/?", L"--", L"--backend", L"x"}),
            command_line.argv());
}

TEST(CommandLineTest, DropsBlankArgumentsAndTrims) {
  CommandLine command_line;
  command_line.ParseCommandLineString(L"  prog.exe \"   \" \" a \" \"--Flag = v \" \"\" b  ");
  EXPECT_EQ(L"prog.exe", command_line.GetProgram().value());
  EXPECT_EQ((StringVector{L"a", L"b"}), command_line.GetArgs());
  EXPECT_EQ(L" v", command_line.GetSwitchValueNative("flag "));  // the element is trimmed, not name or value

  // Whitespace alone changes nothing.
  command_line.ParseCommandLineString(L" \t ");
  EXPECT_EQ(L"prog.exe", command_line.GetProgram().value());
}

TEST(CommandLineTest, PrefixesAloneAreNotSwitches) {
  CommandLine command_line;
  command_line.ParseCommandLineString(L"p - / --x=1=2 -=v --=w");
  // A prefix without a name, with or without a value, is a plain argument.
  EXPECT_EQ((StringVector{L"-", L"/", L"-=v", L"--=w"}), command_line.GetArgs());
  EXPECT_EQ(L"1=2", command_line.GetSwitchValueNative("x"));
  EXPECT_FALSE(command_line.HasSwitch(""));

  std::wstring name, value = L"stale";
  for (const wchar_t* nameless : {L"--", L"--=", L"-=v", L"/=w"}) {
    name = value = L"stale";
    EXPECT_FALSE(SplitSwitchArgument(nameless, &name, &value)) << nameless;
    EXPECT_TRUE(name.empty() && value.empty()) << nameless;
  }
  EXPECT_FALSE(SplitSwitchArgument(L"plain", &name, &value));
  EXPECT_TRUE(SplitSwitchArgument(L"/a=b=c", &name, &value));
  EXPECT_EQ(L"/a", name);
  EXPECT_EQ(L"b=c", value);
  EXPECT_EQ(2u, SwitchPrefixLength(L"--a"));
  EXPECT_EQ(1u, SwitchPrefixLength(L"-a"));
  EXPECT_EQ(1u, SwitchPrefixLength(L"/a"));
  EXPECT_EQ(0u, SwitchPrefixLength(L"a-"));
  EXPECT_EQ(0u, SwitchPrefixLength(L""));
}

TEST(CommandLineTest, RepeatedSwitchKeepsLastValue) {
  CommandLine command_line;
  command_line.ParseCommandLineString(L"p --a=1 arg -A=2");
  EXPECT_EQ(L"2", command_line.GetSwitchValueNative("a"));
  EXPECT_EQ((StringVector{L"p", L"--a=1", L"-a=2", L"arg"}), command_line.argv());
}

TEST(CommandLineTest, AppendSwitchWritesLowerCaseWithDashes) {
  CommandLine command_line(FilePath(L"  C:\\dir\\installer.exe \t"));
  EXPECT_EQ(L"C:\\dir\\installer.exe", command_line.GetProgram().value());
  command_line.AppendArg("plain");
  command_line.AppendSwitchNative("TEMP-Folder", L"D:\\my dir");
  command_line.AppendSwitch("--version");
  command_line.AppendSwitchASCII("lang", "de");
  command_line.AppendSwitchFilePath("installfolder", FilePath(L"D:\\a b\\"));
  EXPECT_EQ((StringVector{L"C:\\dir\\installer.exe", L"--temp-folder=D:\\my dir", L"--version", L"--lang=de",
                          L"--installfolder=D:\\a b\\", L"plain"}),
            command_line.argv());
  EXPECT_TRUE(command_line.HasSwitch("version"));
  EXPECT_TRUE(command_line.HasSwitch("temp-folder"));
  EXPECT_EQ(L"\"C:\\dir\\installer.exe\" --temp-folder=\"D:\\my dir\" --version --lang=de "
            L"--installfolder=\"D:\\a b\\\\\" plain",
            command_line.GetCommandLineString());
  EXPECT_EQ(L"--temp-folder=\"D:\\my dir\" --version --lang=de --installfolder=\"D:\\a b\\\\\" plain",
            command_line.GetArgumentsString());
}

TEST(CommandLineTest, QuoteArgument) {
  EXPECT_EQ(L"plain", QuoteArgument(L"plain", false));
  EXPECT_EQ(L"\"\"", QuoteArgument(L"", false));  // or it would vanish
  EXPECT_EQ(L"\"ab\\\"c\"", QuoteArgument(L"ab\"c", false));
  EXPECT_EQ(L"\"D:\\a b\\\\\"", QuoteArgument(L"D:\\a b\\", false));
  EXPECT_EQ(L"\"a\\b\"", QuoteArgument(L"a\\b", false));  // backslashes not before a quote stay single
  EXPECT_EQ(L"\"a\\\\\\\\\\\"b\"", QuoteArgument(L"a\\\\\"b", false));
  EXPECT_EQ(L"50%", QuoteArgument(L"50%", false));
  EXPECT_EQ(L"\"50%\"", QuoteArgument(L"50%", true));
  // The system splits at tabs as at blanks, so a tab forces quoting too.
  EXPECT_EQ((StringVector{L"p", L"a", L"b"}), SplitBySystem(L"p a\tb"));
  EXPECT_EQ(L"\"a\tb\"", QuoteArgument(L"a\tb", false));
}

TEST(CommandLineTest, QuotedArgumentsSplitBackBySystem) {
  const wchar_t alphabet[] = L"ab \t\"\\%=\u00e9\u65e5";
  std::mt19937 random(20240229);
  std::uniform_int_distribution<size_t> pick(0, std::size(alphabet) - 2);
  std::uniform_int_distribution<int> length(1, 12);
  for (int round = 0; round < 3000; ++round) {
    std::wstring argument;
    for (int i = length(random); i > 0; --i)
      argument += alphabet[pick(random)];
    const bool placeholders = round % 2 == 1;
    const StringVector split = SplitBySystem(L"prog " + QuoteArgument(argument, placeholders));
    ASSERT_EQ(2u, split.size()) << argument;
    ASSERT_EQ(argument, split[1]);
  }
}

// What a child makes of `command_line`'s written form must be what `command_line` holds: the system splits
// it into the same elements, and the parser finds the same program, switches and arguments (empty arguments
// aside: the parser drops them).
void ExpectWrittenLineParsesBack(const CommandLine& command_line, bool quote_placeholders) {
  const std::wstring written = command_line.GetCommandLineString(quote_placeholders);
  EXPECT_EQ(command_line.argv(), SplitBySystem(written)) << written;
  CommandLine child;
  child.ParseCommandLineString(written);
  EXPECT_EQ(command_line.GetProgram().value(), child.GetProgram().value()) << written;
  EXPECT_EQ(SwitchesOf(command_line), SwitchesOf(child)) << written;
  StringVector args = command_line.GetArgs();
  args.erase(std::remove(args.begin(), args.end(), L""), args.end());
  EXPECT_EQ(args, child.GetArgs()) << written;
}

// Command lines a parent received and passes on: switch names with blanks or quotes, a prefix without a name,
// and programs that end in a backslash.
TEST(CommandLineTest, ParsedCommandLinesAreWrittenSoThatTheyParseBack) {
  struct Case {
    const wchar_t* input;
    const wchar_t* program;
    std::map<std::string, std::wstring> switches;
    StringVector args;
  };
  const Case cases[] = {
      {L"p \"--a b\"", L"p", {{"a b", L""}}, {}},
      {L"p \"--foo --bar=x\"", L"p", {{"foo --bar", L"x"}}, {}},
      {L"p --= --foo", L"p", {{"foo", L""}}, {L"--="}},
      {L"p \"--q\\\"t=1 2\" \"-x\ty\"", L"p", {{"q\"t", L"1 2"}, {"x\ty", L""}}, {}},
      {L"\\", L"\\", {}, {}},
      {L"\"C:\\a b\\\" --x=\"d\\\\\"", L"C:\\a b\\", {{"x", L"d\\"}}, {}},
      {L"\"\" --foo", L"", {{"foo", L""}}, {}},
      {L"a\"b --c", L"a\"b", {{"c", L""}}, {}},
  };
  for (const Case& c : cases) {
    CommandLine command_line;
    command_line.ParseCommandLineString(c.input);
    EXPECT_EQ(c.program, command_line.GetProgram().value()) << c.input;
    EXPECT_EQ(c.switches, SwitchesOf(command_line)) << c.input;
    EXPECT_EQ(c.args, command_line.GetArgs()) << c.input;
    ExpectWrittenLineParsesBack(command_line, false);
    ExpectWrittenLineParsesBack(command_line, true);
  }
  // The common case is written byte for byte as before.
  CommandLine plain;
  plain.ParseCommandLineString(L"C:\\dir\\setup.exe --silent --lang=de x");
  EXPECT_EQ(L"\"C:\\dir\\setup.exe\" --silent --lang=de x", plain.GetCommandLineString());
}

// Command lines built in code: no program, an empty argument, a switch name with a blank, and switches
// without a name, which are refused rather than written as the terminator.
TEST(CommandLineTest, BuiltCommandLinesAreWrittenSoThatTheyParseBack) {
  struct Case {
    const char* what;
    void (*build)(CommandLine*);
  };
  const Case cases[] = {
      {"no program", [](CommandLine* c) { c->AppendSwitch("foo"); }},
      {"empty argument", [](CommandLine* c) { c->AppendArg(""); c->AppendArg("x"); }},
      {"blank in a name", [](CommandLine* c) { c->AppendSwitchASCII("my switch", "v"); }},
      {"names with quotes", [](CommandLine* c) { c->AppendSwitchASCII("a\"b\\", "c d"); c->AppendSwitch("e\"f"); }},
      {"program with a trailing backslash", [](CommandLine* c) { c->SetProgram(FilePath(L"D:\\x y\\")); }},
      // Only ASCII blanks are trimmed: other white space may end a folder's name.
      {"values ending in other white space",
       [](CommandLine* c) {
         c->AppendSwitchNative("a", L"D:\\Apps\\Zorvi\u3000");
         c->AppendSwitchNative("b", L"\u00a0D:\\x\u00a0");
         c->AppendArg("\xe2\x80\x87x\xe2\x80\x87");
         c->AppendSwitchNative("last", L"D:\\Apps\\Zorvi\u3000");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CommandLine command_line;
    c.build(&command_line);
    ExpectWrittenLineParsesBack(command_line, false);
    ExpectWrittenLineParsesBack(command_line, true);
  }

  CommandLine command_line(FilePath(L"p"));
  command_line.AppendSwitch("kept");
  for (const char* nameless : {"", "--", "-", "/"}) {
    command_line.AppendSwitchASCII(nameless, "v");
    command_line.AppendSwitch(nameless);
  }
  EXPECT_EQ((StringVector{L"p", L"--kept"}), command_line.argv());
  EXPECT_EQ((std::map<std::string, std::wstring>{{"kept", L""}}), SwitchesOf(command_line));
}

// Random text over the characters that matter to splitting and escaping.
std::wstring RandomText(std::mt19937* random, const std::wstring& alphabet, size_t max_length) {
  std::wstring text;
  for (size_t length = (*random)() % (max_length + 1); length > 0; --length)
    text += alphabet[(*random)() % alphabet.size()];
  return text;
}

// Random command lines as a parent may receive them, and random switch sets built in code: each is written
// and parsed back to the same program, switches and arguments.
TEST(CommandLineTest, RandomCommandLinesParseBack) {
  std::mt19937 random(4302);
  const std::wstring line_alphabet = L"  \t\t\"\"\\\\--/=ab\u00e9%";
  for (int round = 0; round < 3000; ++round) {
    const std::wstring line = RandomText(&random, line_alphabet, 30);
    CommandLine command_line(FilePath(L"unchanged"));
    command_line.ParseCommandLineString(line);
    ExpectWrittenLineParsesBack(command_line, round % 2 == 1);
    if (HasFailure()) {
      ADD_FAILURE() << "from the line [" << line << "]";
      return;
    }
  }

  // A name holds no "=", and what ends an element may not be blank: the child trims its elements.
  const std::wstring name_alphabet = L"ab \t\"\\-/\u00e9";
  const std::wstring value_alphabet = L"ab \t\"\\-/=%\u00e9";
  auto ends_blank = [](const std::wstring& text) { return text.back() == L' ' || text.back() == L'\t'; };
  for (int round = 0; round < 3000; ++round) {
    CommandLine command_line(FilePath(RandomText(&random, L"ab \\\u00e9", 10)));
    for (int count = static_cast<int>(random() % 6); count > 0; --count) {
      const std::wstring name = L"n" + RandomText(&random, name_alphabet, 6);
      const std::wstring value = RandomText(&random, value_alphabet, 8);
      if ((value.empty() && ends_blank(name)) || (!value.empty() && ends_blank(value)))
        continue;
      command_line.AppendSwitchNative(WideToUTF8(name), value);
      if (random() % 2)
        command_line.AppendArg(WideToUTF8(L"x" + RandomText(&random, value_alphabet, 6) + L"x"));
    }
    ExpectWrittenLineParsesBack(command_line, round % 2 == 1);
    if (HasFailure())
      return;
  }
}

// Parsing 40,000 arguments and then 40,000 switches moves the arguments once to put the switches before
// them, not once per switch.
TEST(CommandLineTest, LongCommandLineParsesInLinearWork) {
  constexpr size_t kEach = 40000;
  std::wstring line = L"p";
  for (size_t i = 0; i < kEach; ++i)
    line += L" a" + std::to_wstring(i);
  for (size_t i = 0; i < kEach; ++i)
    line += L" --s" + std::to_wstring(i) + L"=" + std::to_wstring(i);

  size_t moved = 0;
  CommandLine::SetMovedArgumentCounterForTesting(&moved);
  CommandLine command_line;
  command_line.ParseCommandLineString(line);
  CommandLine::SetMovedArgumentCounterForTesting(nullptr);
  EXPECT_EQ(kEach, moved);
  ASSERT_EQ(kEach, command_line.GetArgs().size());
  ASSERT_EQ(kEach, command_line.GetSwitches().size());
  EXPECT_EQ(L"a39999", command_line.GetArgs().back());
  EXPECT_EQ(L"--s0=0", command_line.argv()[1]);
  EXPECT_EQ(L"17", command_line.GetSwitchValueNative("s17"));
  ExpectWrittenLineParsesBack(command_line, false);
}

TEST(CommandLineTest, CopySwitchesFromTakesListedPresentSwitchesInOrder) {
  CommandLine source;
  source.ParseCommandLineString(L"p --b=2 --d --x=9");
  CommandLine target(FilePath(L"t"));
  const char* const names[] = {"a", "d", "c", "b"};
  target.CopySwitchesFrom(source, names, std::size(names));
  EXPECT_EQ((StringVector{L"t", L"--d", L"--b=2"}), target.argv());
}

// Every written form goes, however prefixed or cased; a plain argument that looks like it stays.
TEST(CommandLineTest, RemoveSwitchTakesEveryWrittenFormButNoArgument) {
  CommandLine line;
  line.ParseCommandLineString(L"p --a=1 /A -keep /B=2 arg -- --a");
  line.RemoveSwitch("a");
  line.RemoveSwitch("missing");
  EXPECT_EQ((StringVector{L"p", L"-keep", L"/b=2", L"arg", L"--", L"--a"}), line.argv());
  EXPECT_FALSE(line.HasSwitch("a"));
  EXPECT_EQ(L"2", line.GetSwitchValueNative("b"));
}

TEST(CommandLineTest, AppendArgumentsAndCopies) {
  CommandLine first;
  first.ParseCommandLineString(L"one.exe --s=1 a -- --t");
  CommandLine second(FilePath(L"two.exe"));
  second.AppendSwitch("u");
  second.AppendArg("b");
  second.AppendArguments(first, false);
  EXPECT_EQ(L"two.exe", second.GetProgram().value());
  EXPECT_EQ((StringVector{L"two.exe", L"--u", L"--s=1", L"b", L"a", L"--", L"--t"}), second.argv());
  EXPECT_FALSE(second.HasSwitch("t"));

  second.AppendArguments(second, true);  // with itself: its own arguments are read before they change
  EXPECT_EQ(L"two.exe", second.GetProgram().value());
  EXPECT_EQ((StringVector{L"two.exe", L"--u", L"--s=1", L"--u", L"--s=1", L"b", L"a", L"--", L"--t", L"b", L"a",
                          L"--", L"--t"}),
            second.argv());

  CommandLine copy = first;
  first.AppendSwitchASCII("late", "x");
  EXPECT_FALSE(copy.HasSwitch("late"));
  EXPECT_EQ(L"1", copy.GetSwitchValueNative("s"));
  copy = first;
  EXPECT_EQ(L"x", copy.GetSwitchValueNative("late"));

  copy.ResetFromArguments(copy.argv());
  EXPECT_EQ(first.argv(), copy.argv());
}

TEST(CommandLineTest, NonAsciiValuesAndNames) {
  CommandLine command_line;
  command_line.ParseCommandLineString(L"p --Na\u00efve=\u65e5\u672c --ascii=x");
  EXPECT_EQ(L"\u65e5\u672c", command_line.GetSwitchValueNative("na\xc3\xafve"));
  EXPECT_EQ("", command_line.GetSwitchValueASCII("na\xc3\xafve"));
  EXPECT_EQ("x", command_line.GetSwitchValueASCII("ascii"));
  // The name is written back as it came (only A-Z are lowered).
  EXPECT_EQ(L"p --na\u00efve=\u65e5\u672c --ascii=x", command_line.GetCommandLineString());

  command_line.AppendArg("\xe2\x82\xac");
  EXPECT_EQ(L"\u20ac", command_line.GetArgs().back());
}

TEST(CommandLineTest, ProcessWideInstance) {
  CommandLine::Init();
  EXPECT_TRUE(CommandLine::IsInitialized());
  EXPECT_FALSE(CommandLine::Init());
  const CommandLine& command_line = *CommandLine::ForCurrentProcess();
  EXPECT_EQ(L"base_unittests.exe", command_line.GetProgram().BaseName().value());
  // The test runner passes its filter on the command line; gtest read the same switch.
  const std::string filter = GTEST_FLAG_GET(filter);
  if (filter != "*") {
    EXPECT_EQ(filter, command_line.GetSwitchValueASCII("gtest_filter"));
  }
  EXPECT_EQ(CommandLine::ForCurrentProcess(), &command_line);
}

// A child process started with a command line built here.
class ChildRoundTrip {
 public:
  struct Seen {
    StringVector raw;  // as CommandLineToArgvW split it in the child
    std::wstring program;
    std::map<std::string, std::wstring> switches;
    StringVector args;
  };

  static std::wstring ChildPath() { return test_support::ExecutableDir() + L"\\command_line_test_child.exe"; }

  static bool Run(const std::wstring& command_line, Seen* seen) {
    DWORD exit_code = 1;
    std::string output;
    if (!test_support::RunProcess(command_line, &exit_code, &output)) {
      ADD_FAILURE() << "could not start " << command_line;
      return false;
    }
    EXPECT_EQ(0u, exit_code) << output;
    std::string pending_name;
    size_t pos = 0;
    while (pos < output.size()) {
      const char kind = output[pos];
      const size_t colon = output.find(':', pos);
      if (colon == std::string::npos)
        return false;
      const size_t length = std::stoul(output.substr(pos + 1, colon - pos - 1));
      const std::wstring text = UTF8ToWide(output.substr(colon + 1, length));
      pos = colon + 1 + length + 1;
      switch (kind) {
        case 'R':
          seen->raw.push_back(text);
          break;
        case 'P':
          seen->program = text;
          break;
        case 'S':
          pending_name = WideToUTF8(text);
          break;
        case 'V':
          seen->switches[pending_name] = text;
          break;
        case 'A':
          seen->args.push_back(text);
          break;
        default:
          ADD_FAILURE() << "unexpected record " << kind;
          return false;
      }
    }
    return exit_code == 0;
  }
};

TEST(CommandLineChildTest, SwitchesAndArgumentsReachTheChild) {
  CommandLine command_line(FilePath(ChildRoundTrip::ChildPath()));
  command_line.AppendSwitchNative("TEMP-Folder", L"D:\\my dir");
  command_line.AppendSwitchNative("installfolder", L"D:\\a b\\");
  command_line.AppendSwitch("--version");
  command_line.AppendArg("x y");
  command_line.AppendArg("--");
  command_line.AppendArg("--backend");
  command_line.AppendArg("-q=1");

  ChildRoundTrip::Seen seen;
  ASSERT_TRUE(ChildRoundTrip::Run(command_line.GetCommandLineString(), &seen));
  EXPECT_EQ(command_line.argv(), seen.raw);
  EXPECT_EQ(command_line.GetProgram().value(), seen.program);
  EXPECT_EQ(SwitchesOf(command_line), seen.switches);
  EXPECT_EQ((StringVector{L"x y", L"--", L"--backend", L"-q=1"}), seen.args);
}

// Random arguments and values with blanks, tabs, other white space, quotes, backslashes and percent signs, through
// a real child.
TEST(CommandLineChildTest, RandomArgumentsRoundTrip) {
  const wchar_t alphabet[] = L"ab \t\"\\\\%=\u00e9\u65e5\u3000\u00a0";
  std::mt19937 random(7);
  std::uniform_int_distribution<size_t> pick(0, std::size(alphabet) - 2);
  std::uniform_int_distribution<int> length(1, 10);
  // Text that the child keeps as it is: not blank at either end (elements are trimmed) and not a switch.
  auto random_text = [&](bool value) {
    std::wstring text;
    while (text.empty() || text.front() == L' ' || text.front() == L'\t' || text.back() == L' ' ||
           text.back() == L'\t' || (!value && SwitchPrefixLength(text) != 0)) {
      text.clear();
      for (int i = length(random); i > 0; --i)
        text += alphabet[pick(random)];
    }
    return text;
  };

  for (int round = 0; round < 12; ++round) {
    CommandLine command_line(FilePath(ChildRoundTrip::ChildPath()));
    for (int i = 0; i < 4; ++i) {
      command_line.AppendArg(WideToUTF8(random_text(false)));
      // Some names hold a blank or a quote.
      std::string name = std::string("s").append(std::to_string(i));
      if (round % 3 == 0)
        name.append(" \"x");
      command_line.AppendSwitchNative(name, random_text(true));
    }
    const bool placeholders = round % 2 == 1;
    ChildRoundTrip::Seen seen;
    ASSERT_TRUE(ChildRoundTrip::Run(command_line.GetCommandLineString(placeholders), &seen));
    EXPECT_EQ(command_line.argv(), seen.raw) << command_line.GetCommandLineString(placeholders);
    EXPECT_EQ(SwitchesOf(command_line), seen.switches);
    EXPECT_EQ(command_line.GetArgs(), seen.args);
  }
}

// The program path itself needs quoting when its folder has a blank.
TEST(CommandLineChildTest, ProgramInFolderWithBlanks) {
  wchar_t temp[MAX_PATH];
  ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
  const std::wstring folder = std::wstring(temp) + test_support::UniqueName(L"cl dir \u00e9 ");
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring child = folder + L"\\child copy.exe";
  ASSERT_TRUE(CopyFileW(ChildRoundTrip::ChildPath().c_str(), child.c_str(), FALSE));

  CommandLine command_line{FilePath(child)};
  command_line.AppendSwitchASCII("mode", "x");
  ChildRoundTrip::Seen seen;
  const bool ran = ChildRoundTrip::Run(command_line.GetCommandLineString(), &seen);
  DeleteFileW(child.c_str());
  RemoveDirectoryW(folder.c_str());
  ASSERT_TRUE(ran);
  EXPECT_EQ(child, seen.program);
  EXPECT_EQ(L"x", seen.switches["mode"]);
  EXPECT_EQ(command_line.argv(), seen.raw);
}

}  // namespace
}  // namespace base
