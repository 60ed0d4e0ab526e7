// Child process of the object watcher's tests: signals the named event given as its argument, waits until
// the event named after it with "_release" is signalled, and exits with 0 (1 on any failure).
#include <windows.h>

#include <string>

int main(int argc, char** argv) {
  if (argc != 2)
    return 1;
  const std::string name = argv[1];  // the tests' unique names are ASCII
  HANDLE signal = OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str());
  HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, (name + "_release").c_str());
  if (!signal || !release)
    return 1;
  if (!SetEvent(signal))
    return 1;
  if (WaitForSingleObject(release, 60000) != WAIT_OBJECT_0)
    return 1;
  CloseHandle(signal);
  CloseHandle(release);
  return 0;
}
