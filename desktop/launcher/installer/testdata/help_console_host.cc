// A windowed program like the installer's host, carrying the product's branding and a language list, that runs
// the installer's entry with its own command line and then reads back what the entry's console shows, so that
// the help can be checked where the user reads it. With "--console-text=<file>" it writes "columns=<width>" and
// the console's rows up to the cursor's (trailing blanks cut) to that file as UTF-8 lines; without a console it
// writes "no console: <what failed>". Its exit code is the entry's (0 for true).
#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/launcher/installer/entry/installer_entry.h"

namespace {

std::string ReadConsoleRows(std::string* failure) {
  HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
  CONSOLE_SCREEN_BUFFER_INFO info = {};
  if (console == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(console, &info)) {
    *failure = "CONOUT$ or its screen buffer, error " + std::to_string(GetLastError());
    return std::string();
  }
  std::string rows = "columns=" + std::to_string(info.dwSize.X) + "\n";
  std::wstring row(info.dwSize.X, L' ');
  for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
    DWORD read = 0;
    if (!ReadConsoleOutputCharacterW(console, row.data(), info.dwSize.X, COORD{0, y}, &read)) {
      *failure = "ReadConsoleOutputCharacterW, error " + std::to_string(GetLastError());
      break;
    }
    std::wstring text = row.substr(0, read);
    text.erase(text.find_last_not_of(L' ') + 1);
    rows += base::WideToUTF8(text) + "\n";
  }
  CloseHandle(console);
  return rows;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const bool result = RunInstaller();
  std::string failure;
  std::string rows = ReadConsoleRows(&failure);
  if (!failure.empty())
    rows = "no console: " + failure + "\n";
  const base::FilePath output = base::CommandLine::ForCurrentProcess()->GetSwitchValuePath("console-text");
  base::WriteFile(output, rows.data(), static_cast<int>(rows.size()));
  return result ? 0 : 1;
}
