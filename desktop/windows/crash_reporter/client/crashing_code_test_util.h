// The programming errors the crash reporter's test children commit, written so that the compiler can neither
// see nor drop them.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_CRASHING_CODE_TEST_UTIL_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_CRASHING_CODE_TEST_UTIL_H_

namespace crash_test {

// A destructor that reaches a pure virtual function while the object is a PureCallBase again: `delete new
// PureCallDerived` makes a pure call. Behind the empty asm, so that the compiler cannot prove the call pure.
struct PureCallBase {
  virtual ~PureCallBase() { CallPure(); }
  __attribute__((noinline)) void CallPure() {
    PureCallBase* self = this;
    asm volatile("" : "+r"(self));
    self->Pure();
  }
  virtual void Pure() = 0;
};
struct PureCallDerived : PureCallBase {
  void Pure() override {}
};

// Volatile all the way, so that the compiler can neither see the null nor drop the store.
inline volatile int* volatile g_null_target = nullptr;

__attribute__((noinline)) inline void WriteThroughNull() {
  *g_null_target = 1;
}

}  // namespace crash_test

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_CRASHING_CODE_TEST_UTIL_H_
