// Child process of the thread-naming tests: names a thread made by PlatformThread "Named under a debugger"
// (a debugger is expected to be attached) and exits with 0 once the naming has returned; 1 on failure.
#include <string>

#include "base/threading/platform_thread.h"

namespace {

class NamingDelegate : public base::PlatformThread::Delegate {
 public:
  void ThreadMain() override {
    base::PlatformThread::SetName("Named under a debugger");
    named = std::string(base::PlatformThread::GetName()) == "Named under a debugger";
  }
  bool named = false;
};

}  // namespace

int main() {
  NamingDelegate delegate;
  base::PlatformThreadHandle handle = nullptr;
  if (!base::PlatformThread::Create(0, &delegate, &handle))
    return 1;
  base::PlatformThread::Join(handle);
  return delegate.named ? 0 : 1;
}
