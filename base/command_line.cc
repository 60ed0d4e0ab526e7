#include "base/command_line.h"

#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <iterator>

#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_local_memory.h"

namespace base {

namespace {

// The blanks an element is trimmed of: the ASCII ones, which CommandLineToArgvW and file names treat as blanks.
// The rest of Unicode's white space (a no-break or an ideographic space) is text, and may end a folder's name.
constexpr wchar_t kElementWhitespace[] = L" \t\n\v\f\r";

// Tested in this order, so that "--" wins over "-".
const wchar_t* const kSwitchPrefixes[] = {L"--", L"-", L"/"};
const wchar_t kSwitchTerminator[] = L"--";
const wchar_t kSwitchValueSeparator = L'=';

CommandLine* g_current_process_command_line = nullptr;

// Counts the plain arguments moved to make room for switches (tests only).
size_t* g_moved_argument_counter = nullptr;

using CommandLineToArgvWFunction = LPWSTR*(WINAPI*)(LPCWSTR, int*);

// From Windows 8.1 on the shell's core library holds CommandLineToArgvW (the shell's own export forwards
// there). Taken from there, splitting a command line spares a process that shows nothing, such as a version
// probe, the shell library and the windowing system it loads; older systems have only the shell's.
CommandLineToArgvWFunction GetCommandLineToArgvW() {
  static const CommandLineToArgvWFunction function = [] {
    if (HMODULE core = LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
      if (FARPROC found = GetProcAddress(core, "CommandLineToArgvW"))
        return reinterpret_cast<CommandLineToArgvWFunction>(reinterpret_cast<void*>(found));
      FreeLibrary(core);
    }
    return &::CommandLineToArgvW;
  }();
  return function;
}

// The characters that split or escape an argument: it must be quoted when it holds one of them. A tab
// separates arguments as a blank does; with `quote_placeholders` the percent sign of "%1" counts too.
bool NeedsQuoting(const std::wstring& argument, bool quote_placeholders) {
  const wchar_t* const forcing_characters = quote_placeholders ? L" \t\\\"%" : L" \t\\\"";
  return argument.find_first_of(forcing_characters) != std::wstring::npos;
}

// A switch string (prefix and name) as written in a command line. The common name needs no quoting and is
// written as it is; one holding a blank, tab or double quote is quoted, or the child would split it into a
// switch and arguments of their own.
std::wstring QuoteSwitchString(const std::wstring& switch_string, bool quote_placeholders) {
  if (switch_string.find_first_of(L" \t\"") == std::wstring::npos)
    return switch_string;
  return QuoteArgument(switch_string, quote_placeholders);
}

// The program as written in a command line. The system reads the first element without backslash escapes:
// up to the next double quote when it starts with one, else up to the first blank or tab. So the program is
// enclosed in quotes and never escaped (a path cannot hold a double quote; text that does is written as it is
// and reads back only without blanks), and an empty program is written as "".
std::wstring QuoteProgram(const std::wstring& program, bool quote_placeholders) {
  if (program.empty())
    return L"\"\"";
  if (!NeedsQuoting(program, quote_placeholders) || program.find(L'"') != std::wstring::npos)
    return program;
  return L'"' + program + L'"';
}

}  // namespace

size_t SwitchPrefixLength(StringPiece16 argument) {
  for (const wchar_t* prefix : kSwitchPrefixes) {
    if (StartsWith(argument, prefix, CompareCase::SENSITIVE))
      return wcslen(prefix);
  }
  return 0;
}

bool SplitSwitchArgument(StringPiece16 argument, std::wstring* switch_string, std::wstring* switch_value) {
  switch_string->clear();
  switch_value->clear();
  const size_t prefix_length = SwitchPrefixLength(argument);
  if (prefix_length == 0 || prefix_length == argument.size())
    return false;

  const size_t equals_position = argument.find(kSwitchValueSeparator);
  // "--=value" has no name: a switch without one would be written back as the terminator "--".
  if (equals_position == prefix_length)
    return false;
  *switch_string = argument.substr(0, equals_position).as_string();
  if (equals_position != StringPiece16::npos)
    *switch_value = argument.substr(equals_position + 1).as_string();
  return true;
}

std::wstring QuoteArgument(const std::wstring& argument, bool quote_placeholders) {
  // Written as nothing, an empty argument would vanish.
  if (argument.empty())
    return L"\"\"";
  if (!NeedsQuoting(argument, quote_placeholders))
    return argument;

  std::wstring quoted(1, L'"');
  for (size_t i = 0; i < argument.size(); ++i) {
    if (argument[i] == L'\\') {
      // Backslashes are literal unless they come before a quote: double the run before a quote, including the
      // closing one.
      const size_t run_start = i;
      const size_t run_end = argument.find_first_not_of(L'\\', i);
      const size_t run_length = (run_end == std::wstring::npos ? argument.size() : run_end) - run_start;
      const bool before_quote = run_end == std::wstring::npos || argument[run_end] == L'"';
      quoted.append(before_quote ? run_length * 2 : run_length, L'\\');
      i += run_length - 1;
    } else if (argument[i] == L'"') {
      quoted += L"\\\"";
    } else {
      quoted += argument[i];
    }
  }
  quoted += L'"';
  return quoted;
}

CommandLine::CommandLine() : argv_(1), begin_args_(1) {}

CommandLine::CommandLine(const FilePath& program) : argv_(1), begin_args_(1) {
  SetProgram(program);
}

CommandLine::CommandLine(const CommandLine& other) = default;

CommandLine& CommandLine::operator=(const CommandLine& other) = default;

CommandLine::~CommandLine() = default;

// static
bool CommandLine::Init() {
  if (g_current_process_command_line)
    return false;
  g_current_process_command_line = new CommandLine();
  g_current_process_command_line->ParseCommandLineString(GetCommandLineW());
  return true;
}

// static
CommandLine* CommandLine::ForCurrentProcess() {
  DCHECK(g_current_process_command_line);
  return g_current_process_command_line;
}

// static
bool CommandLine::IsInitialized() {
  return g_current_process_command_line != nullptr;
}

void CommandLine::ParseCommandLineString(const StringType& command_line) {
  StringType trimmed;
  TrimString(command_line, kElementWhitespace, TRIM_ALL, &trimmed);
  if (trimmed.empty())
    return;

  int count = 0;
  const win::ScopedLocalMemory<wchar_t*> arguments(GetCommandLineToArgvW()(trimmed.c_str(), &count));
  if (!arguments.IsValid()) {
    PLOG(ERROR) << "CommandLineToArgvW failed on command line: " << trimmed;
    return;
  }
  ResetFromArguments(StringVector(arguments.Get(), arguments.Get() + count));
}

void CommandLine::ResetFromArguments(const StringVector& argv) {
  const StringVector arguments = argv;  // `argv` may be this command line's own vector
  argv_ = StringVector(1);
  switches_.clear();
  begin_args_ = 1;
  SetProgram(arguments.empty() ? FilePath() : FilePath(arguments[0]));
  AppendParsedArguments(arguments);
}

CommandLine::StringType CommandLine::GetCommandLineString(bool quote_placeholders) const {
  StringType string = QuoteProgram(argv_[0], quote_placeholders);
  const StringType arguments = GetArgumentsString(quote_placeholders);
  if (!arguments.empty())
    string += L' ' + arguments;
  return string;
}

CommandLine::StringType CommandLine::GetArgumentsString(bool quote_placeholders) const {
  StringType string;
  bool parse_switches = true;
  for (size_t i = 1; i < argv_.size(); ++i) {
    const StringType& argument = argv_[i];
    parse_switches &= argument != kSwitchTerminator;
    if (i > 1)
      string += L' ';

    StringType switch_string;
    StringType switch_value;
    if (parse_switches && SplitSwitchArgument(argument, &switch_string, &switch_value)) {
      string += QuoteSwitchString(switch_string, quote_placeholders);
      if (switch_string.size() < argument.size())
        string += kSwitchValueSeparator;
      if (!switch_value.empty())
        string += QuoteArgument(switch_value, quote_placeholders);
    } else {
      string += QuoteArgument(argument, quote_placeholders);
    }
  }
  return string;
}

FilePath CommandLine::GetProgram() const {
  return FilePath(argv_[0]);
}

void CommandLine::SetProgram(const FilePath& program) {
  TrimString(program.value(), kElementWhitespace, TRIM_ALL, &argv_[0]);
}

bool CommandLine::HasSwitch(StringPiece switch_string) const {
  return switches_.find(switch_string) != switches_.end();
}

std::string CommandLine::GetSwitchValueASCII(StringPiece switch_string) const {
  const StringType value = GetSwitchValueNative(switch_string);
  if (!IsStringASCII(value)) {
    DLOG(WARNING) << "Value of switch (" << switch_string << ") must be ASCII.";
    return std::string();
  }
  return UTF16ToASCII(value);
}

FilePath CommandLine::GetSwitchValuePath(StringPiece switch_string) const {
  return FilePath(GetSwitchValueNative(switch_string));
}

CommandLine::StringType CommandLine::GetSwitchValueNative(StringPiece switch_string) const {
  const auto found = switches_.find(switch_string);
  return found == switches_.end() ? StringType() : found->second;
}

void CommandLine::AppendSwitch(StringPiece switch_string) {
  AppendSwitchNative(switch_string, StringPiece16());
}

void CommandLine::AppendSwitchASCII(StringPiece switch_string, StringPiece value) {
  AppendSwitchNative(switch_string, ASCIIToUTF16(value));
}

void CommandLine::AppendSwitchFilePath(StringPiece switch_string, const FilePath& path) {
  AppendSwitchNative(switch_string, path.value());
}

void CommandLine::AppendSwitchNative(StringPiece switch_string, StringPiece16 value) {
  StringVector written(1);
  if (RecordSwitch(switch_string, value, &written[0]))
    InsertSwitches(&written);
}

bool CommandLine::RecordSwitch(StringPiece switch_string, StringPiece16 value, StringType* written) {
  const std::string switch_key = ToLowerASCII(switch_string);
  *written = UTF8ToWide(switch_key);
  const size_t prefix_length = SwitchPrefixLength(*written);
  if (prefix_length == switch_key.size()) {
    // Without a name it could be neither looked up nor written: "--" alone ends the switches.
    LOG(ERROR) << "Switch without a name ignored: \"" << switch_string << "\"";
    return false;
  }
  switches_.insert_or_assign(switch_key.substr(prefix_length), value.as_string());

  if (prefix_length == 0)
    written->insert(0, kSwitchTerminator);  // "--"
  // A name that ends in whitespace keeps its "=" even without a value: the child trims each element and
  // would otherwise take a shorter name.
  if (!value.empty() || TrimStringPiece(*written, kElementWhitespace, TRIM_TRAILING).size() != written->size()) {
    *written += kSwitchValueSeparator;
    value.AppendToString(written);
  }
  return true;
}

void CommandLine::InsertSwitches(StringVector* written) {
  if (written->empty())
    return;
  if (g_moved_argument_counter)
    *g_moved_argument_counter += argv_.size() - begin_args_;
  argv_.insert(argv_.begin() + static_cast<ptrdiff_t>(begin_args_), std::make_move_iterator(written->begin()),
               std::make_move_iterator(written->end()));
  begin_args_ += written->size();
}

// static
void CommandLine::SetMovedArgumentCounterForTesting(size_t* counter) {
  g_moved_argument_counter = counter;
}

void CommandLine::CopySwitchesFrom(const CommandLine& source, const char* const switches[], size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (source.HasSwitch(switches[i]))
      AppendSwitchNative(switches[i], source.GetSwitchValueNative(switches[i]));
  }
}

void CommandLine::RemoveSwitch(StringPiece switch_string) {
  if (switches_.erase(switch_string.as_string()) == 0)
    return;
  // A repeated switch is written once per occurrence; the plain arguments are never switches.
  for (size_t i = begin_args_; i-- > 1;) {
    StringType written;
    StringType value;
    if (SplitSwitchArgument(argv_[i], &written, &value) &&
        ToLowerASCII(WideToUTF8(written.substr(SwitchPrefixLength(written)))) == switch_string) {
      argv_.erase(argv_.begin() + static_cast<ptrdiff_t>(i));
      --begin_args_;
    }
  }
}

CommandLine::StringVector CommandLine::GetArgs() const {
  return StringVector(argv_.begin() + static_cast<ptrdiff_t>(begin_args_), argv_.end());
}

void CommandLine::AppendArg(StringPiece value) {
  argv_.push_back(UTF8ToWide(value));
}

void CommandLine::AppendArguments(const CommandLine& other, bool include_program) {
  if (include_program)
    SetProgram(other.GetProgram());
  AppendParsedArguments(StringVector(other.argv()));  // a copy: `other` may be this command line
}

void CommandLine::AppendParsedArguments(const StringVector& argv) {
  // The switches go in before the plain arguments in one move at the end: inserting each on its own would
  // move every argument read so far, and take quadratic time on a long command line.
  StringVector switches;
  bool parse_switches = true;
  for (size_t i = 1; i < argv.size(); ++i) {
    StringType argument;
    TrimString(argv[i], kElementWhitespace, TRIM_ALL, &argument);
    if (argument.empty())
      continue;
    parse_switches &= argument != kSwitchTerminator;

    StringType switch_string;
    StringType switch_value;
    if (parse_switches && SplitSwitchArgument(argument, &switch_string, &switch_value)) {
      // UTF-8 rather than a lossy narrowing, so that a non-ASCII name is written back as it came.
      switches.emplace_back();
      if (!RecordSwitch(WideToUTF8(switch_string), switch_value, &switches.back()))
        switches.pop_back();
    } else {
      argv_.push_back(argument);
    }
  }
  InsertSwitches(&switches);
}

}  // namespace base
