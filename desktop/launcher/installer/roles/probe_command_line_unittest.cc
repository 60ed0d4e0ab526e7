#include "desktop/launcher/installer/roles/probe_command_line.h"

#include <gtest/gtest.h>

#include <string>

#include "base/command_line.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/common/product/installer_switches.h"

namespace zorvi::installer {
namespace {

// Which command lines are answered before the full parse. Every one taken must be, to the full parse, the same
// single probe switch and nothing else, so that the answer is the one the full parse gives.
TEST(ProbeCommandLineTest, OnlyThePlainFormIsTakenAndTheFullParseAgrees) {
  const struct {
    const wchar_t* command_line;
    const char* taken;  // the switch's name, or "" when the full parse reads the line
  } rows[] = {
      {LR"("C:\Program Files\Zorvi\installer.exe" --version)", kVersionSwitch},
      {LR"(C:\Zorvi\installer.exe --internal-version)", kInternalVersionSwitch},
      {L"\"C:\\a b\\installer.exe\"\t--stream \t", kStreamSwitch},
      {L"installer.exe\t \t--version", kVersionSwitch},
      {LR"("" --version)", kVersionSwitch},
      // Unquoted, the program ends at the first blank, quotes and all.
      {LR"(install"er.exe --stream)", kStreamSwitch},
      // Inside the program's quotes, or without a closing quote, the switch belongs to the program.
      {LR"("C:\a b\installer.exe --version")", ""},
      {LR"("C:\a b\installer.exe --version)", ""},
      // No blank after the closing quote, or white space first, which the full parse trims.
      {LR"("installer.exe"--version)", ""},
      {L" installer.exe --version", ""},
      {L"\n\"installer.exe --version", ""},
      // Other arguments, other spellings, other white space.
      {L"installer.exe --version --backend", ""},
      {L"installer.exe --stream --version", ""},
      {L"installer.exe -- --version", ""},
      {L"installer.exe /version", ""},
      {L"installer.exe -version", ""},
      {L"installer.exe --version=1", ""},
      {L"installer.exe --VERSION", ""},
      {L"installer.exe \"--version\"", ""},
      {L"installer.exe --versions", ""},
      {L"installer.exe --version\r\n", ""},
      {L"installer.exe --help", ""},
      {L"installer.exe --", ""},
      {L"installer.exe ", ""},
      {L"installer.exe", ""},
      {L"", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(base::WideToUTF8(row.command_line));
    const std::string taken = PlainProbeSwitch(row.command_line);
    EXPECT_EQ(row.taken, taken);
    if (taken.empty())
      continue;
    base::CommandLine parsed;
    parsed.ParseCommandLineString(row.command_line);
    EXPECT_TRUE(parsed.HasSwitch(taken));
    EXPECT_EQ(1u, parsed.GetSwitches().size());
    EXPECT_EQ(L"", parsed.GetSwitchValueNative(taken));
    EXPECT_TRUE(parsed.GetArgs().empty());
  }
}

}  // namespace
}  // namespace zorvi::installer
