#include "base/command_line.h"

#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/strings/utf_string_conversions.h"
#include "testing/test_support.h"

namespace base {
namespace {

using StringVector = CommandLine::StringVector;

// What the system's own splitter makes of a command line: the outside check for the quoting.
StringVector SplitBySystem(const std::wstring& command_line) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(command_line.c_str(), &count);
  StringVector result;
  if (arguments) {
    result.assign(arguments, arguments + count);
    LocalFree(arguments);
  }
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
  EXPECT_EQ((StringVector{L"-", L"/"}), command_line.GetArgs());
  EXPECT_EQ(L"1=2", command_line.GetSwitchValueNative("x"));
  // "-=v" and "--=w" have a prefix and an empty name: one switch, the last value.
  EXPECT_EQ(L"w", command_line.GetSwitchValueNative(""));
  EXPECT_TRUE(command_line.HasSwitch(""));

  std::wstring name, value = L"stale";
  EXPECT_FALSE(SplitSwitchArgument(L"--", &name, &value));
  EXPECT_TRUE(name.empty() && value.empty());
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
  EXPECT_EQ(L"", QuoteArgument(L"", false));
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

TEST(CommandLineTest, CopySwitchesFromTakesListedPresentSwitchesInOrder) {
  CommandLine source;
  source.ParseCommandLineString(L"p --b=2 --d --x=9");
  CommandLine target(FilePath(L"t"));
  const char* const names[] = {"a", "d", "c", "b"};
  target.CopySwitchesFrom(source, names, std::size(names));
  EXPECT_EQ((StringVector{L"t", L"--d", L"--b=2"}), target.argv());
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

// Random arguments and values with blanks, tabs, quotes, backslashes and percent signs, through a real child.
TEST(CommandLineChildTest, RandomArgumentsRoundTrip) {
  const wchar_t alphabet[] = L"ab \t\"\\\\%=\u00e9\u65e5";
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
      command_line.AppendSwitchNative(std::string("s").append(std::to_string(i)), random_text(true));
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
