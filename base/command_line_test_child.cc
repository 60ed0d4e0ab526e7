// Started by the command-line tests: reports how it sees its own command line, once as the system splits it
// (CommandLineToArgvW) and once as the process-wide CommandLine parses it. Each record is a kind letter, the
// byte length of the UTF-8 text, ':' and the text, so that any character survives.
#include <windows.h>

#include <shellapi.h>

#include <string>

#include "base/command_line.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_local_memory.h"

namespace {

void Emit(std::string* out, char kind, const std::wstring& text) {
  const std::string utf8 = base::WideToUTF8(text);
  *out += kind;
  *out += std::to_string(utf8.size()) + ":" + utf8 + "\n";
}

}  // namespace

int main() {
  if (!base::CommandLine::Init())
    return 2;
  if (base::CommandLine::Init())  // a second initialisation is refused
    return 3;

  std::string out;
  int count = 0;
  base::win::ScopedLocalMemory<wchar_t*> raw(CommandLineToArgvW(GetCommandLineW(), &count));
  if (!raw.IsValid())
    return 4;
  for (int i = 0; i < count; ++i)
    Emit(&out, 'R', raw.Get()[i]);
  raw.Close();

  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  Emit(&out, 'P', command_line.GetProgram().value());
  for (const auto& entry : command_line.GetSwitches()) {
    Emit(&out, 'S', base::UTF8ToWide(entry.first));
    Emit(&out, 'V', entry.second);
  }
  for (const std::wstring& argument : command_line.GetArgs())
    Emit(&out, 'A', argument);

  DWORD written = 0;
  return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written,
                   nullptr) && written == out.size()
             ? 0
             : 5;
}
