#include "base/threading/thread_name_registry.h"

#include <string>

#include "base/threading/platform_thread.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Windows thread ids are multiples of 4: odd ids never collide with a real thread of this process.
constexpr PlatformThreadId kFakeId = 0x7FFF0001;
constexpr PlatformThreadId kOtherFakeId = 0x7FFF0003;
HANDLE FakeHandle(uintptr_t value) {
  return reinterpret_cast<HANDLE>(0x7FFF000000000000ull + value);
}

TEST(ThreadNameRegistryTest, UnknownThreadHasTheEmptyName) {
  EXPECT_STREQ(ThreadNameRegistry::GetInstance()->GetName(kOtherFakeId + 8), "");
}

TEST(ThreadNameRegistryTest, RegisteredThreadStartsUnnamedAndTakesItsName) {
  ThreadNameRegistry* registry = ThreadNameRegistry::GetInstance();
  registry->RegisterThread(FakeHandle(1), kFakeId);
  EXPECT_STREQ(registry->GetName(kFakeId), "");
  registry->SetName(kFakeId, "RegistryTest one");
  EXPECT_STREQ(registry->GetName(kFakeId), "RegistryTest one");
  registry->RemoveName(FakeHandle(1), kFakeId);
  EXPECT_STREQ(registry->GetName(kFakeId), "");
}

TEST(ThreadNameRegistryTest, NamesAreInternedOnce) {
  ThreadNameRegistry* registry = ThreadNameRegistry::GetInstance();
  registry->RegisterThread(FakeHandle(2), kFakeId);
  registry->RegisterThread(FakeHandle(3), kOtherFakeId);
  registry->SetName(kFakeId, std::string("RegistryTest shared"));
  registry->SetName(kOtherFakeId, std::string("RegistryTest ") + "shared");
  const char* first = registry->GetName(kFakeId);
  EXPECT_EQ(first, registry->GetName(kOtherFakeId));
  registry->RemoveName(FakeHandle(2), kFakeId);
  registry->RemoveName(FakeHandle(3), kOtherFakeId);
  // Interned names outlive their threads.
  EXPECT_STREQ(first, "RegistryTest shared");
}

// A thread id reused by a newer thread keeps the newer thread's entry when the older one is removed late.
TEST(ThreadNameRegistryTest, RemovingAStaleHandleKeepsTheNewerRegistration) {
  ThreadNameRegistry* registry = ThreadNameRegistry::GetInstance();
  registry->RegisterThread(FakeHandle(4), kFakeId);
  registry->SetName(kFakeId, "RegistryTest old");
  registry->RegisterThread(FakeHandle(5), kFakeId);
  registry->SetName(kFakeId, "RegistryTest new");
  registry->RemoveName(FakeHandle(4), kFakeId);
  EXPECT_STREQ(registry->GetName(kFakeId), "RegistryTest new");
  registry->RemoveName(FakeHandle(5), kFakeId);
  EXPECT_STREQ(registry->GetName(kFakeId), "");
}

// A thread that the registry does not know (here the test's own thread) is taken as the main thread.
TEST(ThreadNameRegistryTest, UnregisteredThreadNamesTheMainThread) {
  ThreadNameRegistry* registry = ThreadNameRegistry::GetInstance();
  PlatformThread::SetName("RegistryTest main");
  EXPECT_STREQ(registry->GetName(PlatformThread::CurrentId()), "RegistryTest main");
  EXPECT_STREQ(PlatformThread::GetName(), "RegistryTest main");
  // A registered thread's name does not change the main thread's.
  registry->RegisterThread(FakeHandle(6), kFakeId);
  registry->SetName(kFakeId, "RegistryTest worker");
  EXPECT_STREQ(registry->GetName(PlatformThread::CurrentId()), "RegistryTest main");
  registry->RemoveName(FakeHandle(6), kFakeId);
}

}  // namespace
}  // namespace base
