// The trace log and the memory dump manager sit below the threading layer; this gives them what they need of
// it: the calling thread's message loop and the news of its end, its task runner, the registered thread
// names, and the memory-infra thread and timer. The first message loop bound in the process and the first
// thread name set install them, so no program has to.
#ifndef BASE_THREADING_TRACING_THREADING_HOOKS_H_
#define BASE_THREADING_TRACING_THREADING_HOOKS_H_

namespace base {
namespace internal {

// Installs the hooks the first time it is called in the process; later calls do nothing.
void InstallTracingThreadingHooks();

}  // namespace internal
}  // namespace base

#endif  // BASE_THREADING_TRACING_THREADING_HOOKS_H_
