// Checks of the processor and of this module's image.
#ifndef BASE_WIN_MODULE_CHECKS_H_
#define BASE_WIN_MODULE_CHECKS_H_

namespace base {
namespace win {

// Ends the process (after telling the user) on a processor without SSE2. Every module runs it from its
// static initialisers when it is loaded (see area.cmake, which makes every module link it).
void CheckSse2Support();

// Whether this module's image was rewritten by the instrumentation tool that adds the ".thunks" and
// ".syzygy" sections. Tested once and remembered.
bool IsModuleInstrumented();

namespace internal {
// What CheckSse2Support does without SSE2: a message box without owner, then exit code 1. For tests.
[[noreturn]] void ReportMissingSse2AndExit();
}  // namespace internal

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_MODULE_CHECKS_H_
