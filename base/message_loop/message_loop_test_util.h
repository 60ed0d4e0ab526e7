// Helpers of the message-loop tests: a loop of any type made the way its owners make it, a window whose
// messages run whatever the test gives them, and a temporary file to read with overlapped I/O.
#ifndef BASE_MESSAGE_LOOP_MESSAGE_LOOP_TEST_UTIL_H_
#define BASE_MESSAGE_LOOP_MESSAGE_LOOP_TEST_UTIL_H_

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "base/message_loop/message_loop.h"
#include "base/message_loop/message_pump_for_io.h"
#include "testing/test_support.h"

namespace base {

// A loop of `type` bound to the calling thread; TYPE_CUSTOM gets a default pump from a factory.
std::unique_ptr<MessageLoop> MakeBoundLoop(MessageLoop::Type type);

// The name of a loop type for test names.
std::string LoopTypeName(MessageLoop::Type type);

// A message-only window of the calling thread; a message with a handler runs it (and answers 0), every
// other message goes to the default procedure.
class HandlerWindow {
 public:
  HandlerWindow();
  ~HandlerWindow();
  HandlerWindow(const HandlerWindow&) = delete;
  HandlerWindow& operator=(const HandlerWindow&) = delete;

  HWND get() const { return window_; }
  void SetHandler(UINT message, std::function<void(WPARAM)> handler) { handlers_[message] = std::move(handler); }
  bool Post(UINT message, WPARAM wparam = 0) { return PostMessageW(window_, message, wparam, 0) != FALSE; }

 private:
  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  HWND window_ = nullptr;
  std::map<UINT, std::function<void(WPARAM)>> handlers_;
};

// A temporary file with known contents, opened for overlapped reads; deleted with the object. `suffix` tells
// apart the files of one test.
class OverlappedFile {
 public:
  explicit OverlappedFile(const std::string& contents, const std::wstring& suffix = L"");
  ~OverlappedFile();
  OverlappedFile(const OverlappedFile&) = delete;
  OverlappedFile& operator=(const OverlappedFile&) = delete;

  HANDLE get() const { return handle_.get(); }

  // Starts a read of `size` bytes at `offset` into `buffer`; false when it could not be started.
  bool StartRead(MessagePumpForIO::IOContext* context, char* buffer, DWORD size, DWORD offset);

 private:
  std::wstring path_;
  test_support::ScopedTestHandle handle_;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_LOOP_TEST_UTIL_H_
