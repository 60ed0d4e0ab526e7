// Probes: the switches that ask a copy of the installer for one value, which other installer processes read and
// wait for. Those processes write a probe in one plain form, which the entry recognises before it splits the
// command line: the system's splitting function lives in a library that loads the security library and more,
// none of which a probe needs.
#ifndef DESKTOP_LAUNCHER_INSTALLER_ROLES_PROBE_COMMAND_LINE_H_
#define DESKTOP_LAUNCHER_INSTALLER_ROLES_PROBE_COMMAND_LINE_H_

#include <string>
#include <string_view>

namespace zorvi::installer {

// The probe switch's name when `command_line` is the program followed by exactly "--version",
// "--internal-version" or "--stream" with only blanks (spaces or tabs) around it; empty for every other form,
// which the full parse reads. The program is skipped as the system splits it: from a leading double quote to the
// next one, else up to the first blank. A command line that starts with white space, or whose program is not
// followed by a blank, is left to the full parse too, since that trims the line and splits it differently.
std::string PlainProbeSwitch(std::wstring_view command_line);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_ROLES_PROBE_COMMAND_LINE_H_
