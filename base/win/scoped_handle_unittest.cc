#include "base/win/scoped_handle.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/win/scoped_handle_verifier.h"
#include "testing/test_support.h"

namespace base {
namespace win {
namespace {

// This test executable links the verifier and exports it, so tracking is on here.

HANDLE NewEvent() {
  return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

bool IsOpen(HANDLE handle) {
  DWORD flags;
  return GetHandleInformation(handle, &flags) != 0;
}

#define EXPECT_STOPS(statement) \
  EXPECT_EXIT(statement, ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_BREAKPOINT)), "")

class HandleVerifierDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { ::testing::FLAGS_gtest_death_test_style = "threadsafe"; }
};

TEST(ScopedHandleTest, HoldsAndClosesTheHandle) {
  HANDLE event = NewEvent();
  {
    ScopedHandle holder(event);
    EXPECT_TRUE(holder.IsValid());
    EXPECT_EQ(event, holder.Get());
    EXPECT_TRUE(IsOpen(event));
  }
  EXPECT_FALSE(IsOpen(event));
}

TEST(ScopedHandleTest, InvalidValueOnEmptyHolderStoresAndRegistersNothing) {
  ScopedHandle holder;
  holder.Set(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(holder.IsValid());
  EXPECT_EQ(nullptr, holder.Get());
  // Had -1 been registered, registering it for another owner would stop the process.
  int other_owner = 0;
  VerifierTraits::StartTracking(INVALID_HANDLE_VALUE, &other_owner, nullptr, nullptr);
  VerifierTraits::StopTracking(INVALID_HANDLE_VALUE, &other_owner, nullptr, nullptr);
}

TEST(ScopedHandleTest, SettingTheHeldValueAgainDoesNothing) {
  HANDLE event = NewEvent();
  ScopedHandle holder(event);
  holder.Set(event);  // a second registration would stop the process; a close would invalidate the handle
  EXPECT_TRUE(IsOpen(event));
  EXPECT_EQ(event, holder.Get());
}

TEST(ScopedHandleTest, SetReplacesAndClosesTheOldHandle) {
  HANDLE first = NewEvent(), second = NewEvent();
  ScopedHandle holder(first);
  holder.Set(second);
  EXPECT_FALSE(IsOpen(first));
  EXPECT_EQ(second, holder.Get());
  holder.Set(nullptr);
  EXPECT_FALSE(IsOpen(second));
  EXPECT_FALSE(holder.IsValid());
}

TEST(ScopedHandleTest, SetKeepsTheThreadsLastError) {
  ScopedHandle holder;
  // A failed open stored as it came: the caller still reads the open's error.
  HANDLE missing = CreateFileW(L"C:\\no such folder\\no such file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                               nullptr);
  const DWORD open_error = GetLastError();
  ASSERT_NE(static_cast<DWORD>(ERROR_SUCCESS), open_error);
  holder.Set(missing);
  EXPECT_EQ(open_error, GetLastError());

  HANDLE first = NewEvent(), second = NewEvent();
  SetLastError(1234);
  holder.Set(first);
  EXPECT_EQ(1234u, GetLastError());
  SetLastError(4321);
  holder.Set(second);  // closes the first event, tracks the second
  EXPECT_EQ(4321u, GetLastError());
}

TEST(ScopedHandleTest, TakeHandsOverWithoutClosing) {
  HANDLE event = NewEvent();
  ScopedHandle holder(event);
  HANDLE taken = holder.Take();
  EXPECT_EQ(event, taken);
  EXPECT_FALSE(holder.IsValid());
  EXPECT_TRUE(IsOpen(event));
  ScopedHandle new_holder(taken);  // registered afresh: the old record is gone
  EXPECT_EQ(nullptr, ScopedHandle().Take());
}

TEST(ScopedHandleTest, MoveChangesTheRegisteredOwner) {
  HANDLE event = NewEvent();
  ScopedHandle first(event);
  ScopedHandle second(std::move(first));
  EXPECT_FALSE(first.IsValid());
  EXPECT_EQ(event, second.Get());
  ScopedHandle third;
  third = std::move(second);
  EXPECT_EQ(event, third.Get());
  // Releasing through the new holder must match its registration.
  third.Close();
  EXPECT_FALSE(IsOpen(event));
}

// Every open and close is a call to wine's server, which the whole suite's tests share: more handles than these
// made the test take over a minute on a loaded machine without racing the verifier's table any harder.
TEST(ScopedHandleTest, FourThreadsOpenAndCloseThousandsOfHandlesEach) {
  constexpr int kHandlesPerThread = 2500;
  std::atomic<int> opened{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kHandlesPerThread; ++i) {
        ScopedHandle holder(NewEvent());
        opened += holder.IsValid();
        if (i % 3 == 0)
          holder.Set(NewEvent());
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(4 * kHandlesPerThread, opened.load());
}

TEST(HandleVerifierTest, ThisExecutableSharesItsOwnVerifier) {
  EXPECT_EQ(reinterpret_cast<void*>(&GetHandleVerifier),
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), "GetHandleVerifier")));
  EXPECT_EQ(ActiveVerifier::Get(), GetHandleVerifier());
  EXPECT_EQ(GetModuleHandleW(nullptr), ActiveVerifier::Get()->GetModule());
}

using GetVerifierFunction = ActiveVerifier* (*)();

GetVerifierFunction LoadVerifierExport(const wchar_t* dll_name, HMODULE* library) {
  *library = LoadLibraryW((test_support::ExecutableDir() + L"\\" + dll_name).c_str());
  if (!*library)
    return nullptr;
  return reinterpret_cast<GetVerifierFunction>(
      reinterpret_cast<void*>(GetProcAddress(*library, "GetHandleVerifier")));
}

TEST(HandleVerifierTest, DllsAdoptTheMainExecutablesVerifier) {
  for (const wchar_t* dll : {L"scoped_handle_test_dll.dll", L"zorvi.dll"}) {
    HMODULE library;
    GetVerifierFunction get_verifier = LoadVerifierExport(dll, &library);
    ASSERT_NE(nullptr, get_verifier) << dll;
    EXPECT_NE(reinterpret_cast<void*>(&GetHandleVerifier), reinterpret_cast<void*>(get_verifier));
    EXPECT_EQ(ActiveVerifier::Get(), get_verifier()) << dll;
    FreeLibrary(library);
  }
}

TEST(HandleVerifierTest, HandleHeldInADllIsReleasedThere) {
  HMODULE library;
  ASSERT_NE(nullptr, LoadVerifierExport(L"scoped_handle_test_dll.dll", &library));
  auto hold = reinterpret_cast<void* (*)(HANDLE)>(reinterpret_cast<void*>(GetProcAddress(library, "TestDllHoldHandle")));
  auto release =
      reinterpret_cast<void (*)(void*)>(reinterpret_cast<void*>(GetProcAddress(library, "TestDllReleaseHolder")));
  HANDLE event = NewEvent();
  void* holder = hold(event);
  release(holder);
  EXPECT_FALSE(IsOpen(event));
  // Its record is gone from the shared verifier: this module may hold the same value now.
  ScopedHandle here(NewEvent());
  FreeLibrary(library);
}

TEST(HandleVerifierTest, ProtectedProcessHandleReportsFailedClose) {
  HANDLE process = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &process, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  ASSERT_TRUE(SetHandleInformation(process, HANDLE_FLAG_PROTECT_FROM_CLOSE, HANDLE_FLAG_PROTECT_FROM_CLOSE));
  EXPECT_FALSE(HandleTraits::CloseHandle(process));
  EXPECT_TRUE(IsOpen(process));
  SetHandleInformation(process, HANDLE_FLAG_PROTECT_FROM_CLOSE, 0);
  EXPECT_TRUE(HandleTraits::CloseHandle(process));
}

TEST(HandleVerifierTest, RawCloseOfAHandleNobodyHoldsIsFine) {
  HANDLE event = NewEvent();
  OnHandleBeingClosed(event);
  EXPECT_TRUE(CloseHandle(event));
}

TEST_F(HandleVerifierDeathTest, SecondHolderOfOneHandleStops) {
  EXPECT_STOPS({
    HANDLE event = NewEvent();
    ScopedHandle first(event);
    ScopedHandle second(event);
  });
}

TEST_F(HandleVerifierDeathTest, SecondHolderInAnotherModuleStops) {
  EXPECT_STOPS({
    HMODULE library;
    LoadVerifierExport(L"scoped_handle_test_dll.dll", &library);
    auto hold =
        reinterpret_cast<void* (*)(HANDLE)>(reinterpret_cast<void*>(GetProcAddress(library, "TestDllHoldHandle")));
    HANDLE event = NewEvent();
    ScopedHandle here(event);
    hold(event);
  });
}

TEST_F(HandleVerifierDeathTest, ReleaseByAnotherOwnerStops) {
  EXPECT_STOPS({
    HANDLE event = NewEvent();
    ScopedHandle holder(event);
    int other_owner = 0;
    VerifierTraits::StopTracking(event, &other_owner, nullptr, nullptr);
  });
}

TEST_F(HandleVerifierDeathTest, ReleaseOfAnUnregisteredHandleStops) {
  EXPECT_STOPS({
    int owner = 0;
    VerifierTraits::StopTracking(NewEvent(), &owner, nullptr, nullptr);
  });
}

TEST_F(HandleVerifierDeathTest, HandleClosedBehindTheHoldersBackStops) {
  // Announced by the code that closes it.
  EXPECT_STOPS({
    ScopedHandle holder(NewEvent());
    OnHandleBeingClosed(holder.Get());
  });
  // Not announced: the holder's own close fails.
  EXPECT_STOPS({
    ScopedHandle holder(NewEvent());
    CloseHandle(holder.Get());
    holder.Close();
  });
}

TEST_F(HandleVerifierDeathTest, FailedCloseStops) {
  EXPECT_STOPS({
    HANDLE event = NewEvent();
    CloseHandle(event);
    HandleTraits::CloseHandle(event);
  });
  // Protection from closing excuses only process handles.
  EXPECT_STOPS({
    HANDLE event = NewEvent();
    SetHandleInformation(event, HANDLE_FLAG_PROTECT_FROM_CLOSE, HANDLE_FLAG_PROTECT_FROM_CLOSE);
    HandleTraits::CloseHandle(event);
  });
}

// A main executable without the export: the DLL makes its own verifier, disabled.
std::string RunChild(const char* mode, DWORD* exit_code) {
  std::string output;
  const std::wstring dir = test_support::ExecutableDir();
  std::wstring wide_mode(mode, mode + strlen(mode));
  EXPECT_TRUE(test_support::RunProcess(L"\"" + dir + L"\\scoped_handle_test_child.exe\" " + wide_mode + L" \"" + dir +
                                           L"\\scoped_handle_test_dll.dll\"",
                                       exit_code, &output));
  return output;
}

TEST(HandleVerifierProcessTest, WithoutTheExportDoubleRegistrationPassesUnnoticed) {
  DWORD exit_code = 1;
  const std::string output = RunChild("double", &exit_code);
  EXPECT_EQ(0u, exit_code) << output;
  EXPECT_NE(std::string::npos, output.find("main executable exports the verifier: no")) << output;
  EXPECT_NE(std::string::npos, output.find("verifier made by the DLL: yes")) << output;
  EXPECT_NE(std::string::npos, output.find("double registration passed; handle closed by its holder: yes")) << output;
}

TEST(HandleVerifierProcessTest, WithoutTheExportAFailedCloseStillStops) {
  DWORD exit_code = 0;
  const std::string output = RunChild("failed-close", &exit_code);
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_BREAKPOINT), exit_code) << output;
  EXPECT_NE(std::string::npos, output.find("verifier made by the DLL: yes")) << output;
  EXPECT_EQ(std::string::npos, output.find("survived")) << output;
}

}  // namespace
}  // namespace win
}  // namespace base
