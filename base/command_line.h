// The parsed form of a Windows command line: the program, the switches with their values, and the plain
// arguments. A switch starts with "--", "-" or "/", carries its value after "=", is stored under its lower-cased
// name and is written back with "--"; a lone "--" ends the switches. A command line written by
// GetCommandLineString parses back, in the child that receives it, to the same switches and arguments, except for
// what the parser trims or drops: whitespace at either end of an element (the program, a plain argument, a switch
// with its value) is trimmed, an argument left empty is dropped, and a plain argument that looks like a switch
// ("-x", "/x", "--x=y") comes back as a switch unless a lone "--" stands before it.
#ifndef BASE_COMMAND_LINE_H_
#define BASE_COMMAND_LINE_H_

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/strings/string_piece.h"

namespace base {

class CommandLine {
 public:
  using StringType = std::wstring;
  using StringVector = std::vector<StringType>;
  // Switch names (lower-case, without prefix) to their values; looked up by view without a copy.
  using SwitchMap = std::map<std::string, StringType, std::less<>>;

  // An empty program and nothing else.
  CommandLine();
  // The program with whitespace trimmed at both ends; no switches.
  explicit CommandLine(const FilePath& program);
  CommandLine(const CommandLine& other);
  CommandLine& operator=(const CommandLine& other);
  ~CommandLine();

  // Makes the process-wide instance from the process's command line; false, changing nothing, when it exists.
  // Call on the main thread before other threads start: afterwards the instance is only read.
  static bool Init();
  static CommandLine* ForCurrentProcess();
  static bool IsInitialized();

  // Replaces the content with the parse of `command_line`, split as CommandLineToArgvW splits it. A string
  // that is empty after trimming changes nothing.
  void ParseCommandLineString(const StringType& command_line);
  // Replaces the content: element 0 is the program, the rest is parsed for switches and arguments.
  void ResetFromArguments(const StringVector& argv);

  // The program and the arguments, quoted where needed; with `quote_placeholders` "%" forces quoting too.
  StringType GetCommandLineString(bool quote_placeholders = false) const;
  StringType GetArgumentsString(bool quote_placeholders = false) const;

  FilePath GetProgram() const;
  void SetProgram(const FilePath& program);

  // Exact lookup: pass lower-case names without prefix.
  bool HasSwitch(StringPiece switch_string) const;
  // Empty when the switch is absent or its value holds a non-ASCII character.
  std::string GetSwitchValueASCII(StringPiece switch_string) const;
  FilePath GetSwitchValuePath(StringPiece switch_string) const;
  StringType GetSwitchValueNative(StringPiece switch_string) const;
  const SwitchMap& GetSwitches() const { return switches_; }

  // The name is lower-cased; "--" goes in front unless it has a prefix already. A repeated switch keeps the
  // last value. Switches are inserted before the plain arguments. A switch without a name ("" or a prefix
  // alone) is refused with an error in the log.
  void AppendSwitch(StringPiece switch_string);
  void AppendSwitchASCII(StringPiece switch_string, StringPiece value);
  void AppendSwitchFilePath(StringPiece switch_string, const FilePath& path);
  void AppendSwitchNative(StringPiece switch_string, StringPiece16 value);
  // Appends each of the listed switches that `source` has, with its value, in the listed order.
  void CopySwitchesFrom(const CommandLine& source, const char* const switches[], size_t count);
  // Removes the switch (a lower-case name without prefix), every written form of it included.
  void RemoveSwitch(StringPiece switch_string);

  // The plain arguments ("--" and what follows it included).
  StringVector GetArgs() const;
  // Appends a UTF-8 argument.
  void AppendArg(StringPiece value);
  // Appends the switches and arguments of `other`; with `include_program` takes its program too.
  void AppendArguments(const CommandLine& other, bool include_program);

  // Element 0 is the program, then the switches as written, then the plain arguments.
  const StringVector& argv() const { return argv_; }

  // Adds to *counter (null: nothing) the number of plain arguments moved to make room for switches.
  static void SetMovedArgumentCounterForTesting(size_t* counter);

 private:
  // Parses argv[1..] for switches and arguments, trimming each element and dropping the empty ones.
  void AppendParsedArguments(const StringVector& argv);
  // Enters the switch in the map and gives its written form; false, recording nothing, when it has no name.
  bool RecordSwitch(StringPiece switch_string, StringPiece16 value, StringType* written);
  // Moves written switches in before the plain arguments, keeping their order.
  void InsertSwitches(StringVector* written);

  StringVector argv_;
  SwitchMap switches_;
  // Index in argv_ of the first plain argument; switches are inserted just before it.
  size_t begin_args_;
};

// The length of the switch prefix ("--", "-" or "/") that `argument` starts with; 0 when none.
size_t SwitchPrefixLength(StringPiece16 argument);

// Splits "--name=value" into "--name" and "value" (empty when there is no "="). False, with both outputs
// empty, when `argument` has no prefix, is a prefix alone or has no name ("--=value").
bool SplitSwitchArgument(StringPiece16 argument, std::wstring* switch_string, std::wstring* switch_value);

// `argument` unchanged when it needs no quoting, else enclosed in double quotes with the backslashes and
// quotes escaped so that CommandLineToArgvW gives `argument` back; an empty argument is written as "".
std::wstring QuoteArgument(const std::wstring& argument, bool quote_placeholders);

}  // namespace base

#endif  // BASE_COMMAND_LINE_H_
