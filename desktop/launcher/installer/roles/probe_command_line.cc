#include "desktop/common/product/installer_switches.h"
#include "desktop/launcher/installer/roles/probe_command_line.h"

namespace zorvi::installer {

namespace {

// What the system's splitting function separates arguments with.
constexpr wchar_t kBlanks[] = L" \t";
// What the full parse trims the whole command line of before it splits it.
constexpr wchar_t kWhitespace[] = L" \t\n\v\f\r";

constexpr struct {
  std::wstring_view written;
  const char* name;
} kPlainProbes[] = {
    {L"--version", kVersionSwitch},
    {L"--internal-version", kInternalVersionSwitch},
    {L"--stream", kStreamSwitch},
};

}  // namespace

std::string PlainProbeSwitch(std::wstring_view command_line) {
  if (command_line.empty() || command_line.find_first_of(kWhitespace) == 0)
    return std::string();
  // Without a closing quote or a blank the program is the whole line (npos + 1 is 0).
  const size_t program_end =
      command_line[0] == L'"' ? command_line.find(L'"', 1) + 1 : command_line.find_first_of(kBlanks);
  if (program_end == 0 || program_end == std::wstring_view::npos)
    return std::string();
  const std::wstring_view arguments = command_line.substr(program_end);
  // After a closing quote the system starts the next argument at once, blank or not: only a blank is plain.
  const size_t first = arguments.find_first_not_of(kBlanks);
  if (arguments.empty() || first == 0 || first == std::wstring_view::npos)
    return std::string();
  const std::wstring_view argument = arguments.substr(first, arguments.find_last_not_of(kBlanks) + 1 - first);
  for (const auto& probe : kPlainProbes) {
    if (argument == probe.written)
      return probe.name;
  }
  return std::string();
}

}  // namespace zorvi::installer
