// A tiny stand-in for a downloaded package executable: it answers the probes "--internal-version" and
// "--stream" the way an installer does (the value on standard output, no line end, exit code 0), and nothing
// else. It uses no C runtime, so the whole program is a few kilobytes and imports only kernel32.
//
// The answers live in one patchable record: make_package_fixture.py finds the marker in the built file and
// writes the answers of each fixture variant in place, so one build serves every variant.
#include <windows.h>

struct ProbeAnswers {
  char marker[32];
  char internal_version[64];
  char stream[64];
};

// volatile: the answers must be read from the file's data at run time, never folded into the code.
__attribute__((used)) static volatile const struct ProbeAnswers kAnswers = {
    "package-probe-answers:v1", "", ""};

static int IsSwitchChar(wchar_t c) {
  return c == L'-' || c == L'/';
}

// True when the command line holds `name` as a switch ("--name", "-name" or "/name"), after the program.
static int HasSwitch(const wchar_t* command_line, const char* name) {
  const wchar_t* p = command_line;
  // Skip the program, quoted or not.
  if (*p == L'"') {
    for (++p; *p && *p != L'"'; ++p) {
    }
    if (*p)
      ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t')
      ++p;
  }
  for (;;) {
    while (*p == L' ' || *p == L'\t')
      ++p;
    if (!*p)
      return 0;
    const wchar_t* token = p;
    while (*p && *p != L' ' && *p != L'\t')
      ++p;
    if (IsSwitchChar(*token)) {
      ++token;
      if (*token == L'-')
        ++token;
      const char* n = name;
      while (*n && token < p && *token == (wchar_t)*n) {
        ++token;
        ++n;
      }
      if (!*n && (token == p || *token == L'='))
        return 1;
    }
  }
}

static void WriteAnswer(const volatile char* answer, int capacity) {
  char text[64];
  DWORD length = 0;
  while ((int)length < capacity && answer[length]) {
    text[length] = answer[length];
    ++length;
  }
  DWORD written = 0;
  if (length)
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, length, &written, NULL);
}

// The event "<name>.<probe>" of a meeting, made or opened.
static HANDLE MeetingEvent(wchar_t* name, DWORD length, const char* probe) {
  name[length++] = L'.';
  while (*probe)
    name[length++] = (wchar_t)*probe++;
  name[length] = 0;
  return CreateEventW(NULL, TRUE, FALSE, name);
}

// With ZORVI_PROBE_MEETING set to a name, a probe answers only when the other probe of the package runs at the
// same time: it signals its own event and waits for the other's, at most kMeetingWaitMs, then answers nothing.
// Tests see by it that a check runs both probes side by side.
#define kMeetingWaitMs 30000
static int MeetsTheOtherProbe(const char* own, const char* other) {
  wchar_t name[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"ZORVI_PROBE_MEETING", name, MAX_PATH - 32);
  if (length == 0 || length >= MAX_PATH - 32)
    return 1;
  HANDLE own_event = MeetingEvent(name, length, own);
  HANDLE other_event = MeetingEvent(name, length, other);
  const int met = own_event && other_event && SetEvent(own_event) &&
                  WaitForSingleObject(other_event, kMeetingWaitMs) == WAIT_OBJECT_0;
  if (own_event)
    CloseHandle(own_event);
  if (other_event)
    CloseHandle(other_event);
  return met;
}

void __stdcall ProbeMain(void) {
  const wchar_t* command_line = GetCommandLineW();
  UINT exit_code = 0;
  if (HasSwitch(command_line, "internal-version")) {
    if (MeetsTheOtherProbe("internal-version", "stream"))
      WriteAnswer(kAnswers.internal_version, sizeof(kAnswers.internal_version));
  } else if (HasSwitch(command_line, "stream")) {
    if (MeetsTheOtherProbe("stream", "internal-version"))
      WriteAnswer(kAnswers.stream, sizeof(kAnswers.stream));
  } else {
    exit_code = 1;
  }
  ExitProcess(exit_code);
}
