#include "base/command_line.h"

#include <windows.h>

#include <shellapi.h>

#include <cwchar>

#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"

namespace base {

namespace {

// Tested in this order, so that "--" wins over "-".
const wchar_t* const kSwitchPrefixes[] = {L"--", L"-", L"/"};
const wchar_t kSwitchTerminator[] = L"--";
const wchar_t kSwitchValueSeparator = L'=';

CommandLine* g_current_process_command_line = nullptr;

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
  *switch_string = argument.substr(0, equals_position).as_string();
  if (equals_position != StringPiece16::npos)
    *switch_value = argument.substr(equals_position + 1).as_string();
  return true;
}

std::wstring QuoteArgument(const std::wstring& argument, bool quote_placeholders) {
  // A tab separates arguments as a blank does, so it forces quoting too.
  const wchar_t* const forcing_characters = quote_placeholders ? L" \t\\\"%" : L" \t\\\"";
  if (argument.find_first_of(forcing_characters) == std::wstring::npos)
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
  TrimWhitespace(command_line, TRIM_ALL, &trimmed);
  if (trimmed.empty())
    return;

  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(trimmed.c_str(), &count);
  if (!arguments) {
    PLOG(ERROR) << "CommandLineToArgvW failed on command line: " << trimmed;
    return;
  }
  ResetFromArguments(StringVector(arguments, arguments + count));
  LocalFree(arguments);
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
  StringType string = QuoteArgument(argv_[0], quote_placeholders);
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
      string += switch_string;
      if (!switch_value.empty())
        string += kSwitchValueSeparator + QuoteArgument(switch_value, quote_placeholders);
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
  TrimWhitespace(program.value(), TRIM_ALL, &argv_[0]);
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
  const std::string switch_key = ToLowerASCII(switch_string);
  StringType written = UTF8ToWide(switch_key);
  const size_t prefix_length = SwitchPrefixLength(written);
  switches_.insert_or_assign(switch_key.substr(prefix_length), value.as_string());

  if (prefix_length == 0)
    written.insert(0, kSwitchTerminator);  // "--"
  if (!value.empty()) {
    written += kSwitchValueSeparator;
    value.AppendToString(&written);
  }
  argv_.insert(argv_.begin() + static_cast<ptrdiff_t>(begin_args_), written);
  ++begin_args_;
}

void CommandLine::CopySwitchesFrom(const CommandLine& source, const char* const switches[], size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (source.HasSwitch(switches[i]))
      AppendSwitchNative(switches[i], source.GetSwitchValueNative(switches[i]));
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
  bool parse_switches = true;
  for (size_t i = 1; i < argv.size(); ++i) {
    StringType argument;
    TrimWhitespace(argv[i], TRIM_ALL, &argument);
    if (argument.empty())
      continue;
    parse_switches &= argument != kSwitchTerminator;

    StringType switch_string;
    StringType switch_value;
    if (parse_switches && SplitSwitchArgument(argument, &switch_string, &switch_value)) {
      // UTF-8 rather than a lossy narrowing, so that a non-ASCII name is written back as it came.
      AppendSwitchNative(WideToUTF8(switch_string), switch_value);
    } else {
      argv_.push_back(argument);
    }
  }
}

}  // namespace base
