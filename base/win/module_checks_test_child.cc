// Runs what a module does when the processor lacks SSE2 (this one has it): the parent test reads and
// dismisses the message box and checks the exit code.
#include "base/win/module_checks.h"

int main() {
  base::win::internal::ReportMissingSse2AndExit();
}
