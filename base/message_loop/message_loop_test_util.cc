#include "base/message_loop/message_loop_test_util.h"

#include "base/bind.h"
#include "base/message_loop/message_pump_default.h"
#include "gtest/gtest.h"

namespace base {
namespace {

std::unique_ptr<MessagePump> MakeDefaultPump() {
  return std::make_unique<MessagePumpDefault>();
}

constexpr wchar_t kHandlerWindowClass[] = L"MessageLoopTest_HandlerWindow";

}  // namespace

std::unique_ptr<MessageLoop> MakeBoundLoop(MessageLoop::Type type) {
  switch (type) {
    case MessageLoop::TYPE_IO:
      return std::make_unique<MessageLoopForIO>();
    case MessageLoop::TYPE_CUSTOM: {
      std::unique_ptr<MessageLoop> loop = MessageLoop::CreateUnbound(type, Bind(&MakeDefaultPump));
      loop->BindToCurrentThread();
      return loop;
    }
    default:
      return std::make_unique<MessageLoop>(type);
  }
}

std::string LoopTypeName(MessageLoop::Type type) {
  switch (type) {
    case MessageLoop::TYPE_DEFAULT:
      return "Default";
    case MessageLoop::TYPE_UI:
      return "UI";
    case MessageLoop::TYPE_CUSTOM:
      return "Custom";
    case MessageLoop::TYPE_IO:
      return "IO";
  }
  return "Unknown";
}

HandlerWindow::HandlerWindow() {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = &WndProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = kHandlerWindowClass;
  RegisterClassExW(&window_class);  // fails harmlessly when an earlier window registered it
  window_ = CreateWindowExW(0, kHandlerWindowClass, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            window_class.hInstance, nullptr);
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

HandlerWindow::~HandlerWindow() {
  DestroyWindow(window_);
}

// static
LRESULT CALLBACK HandlerWindow::WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<HandlerWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self) {
    auto it = self->handlers_.find(message);
    if (it != self->handlers_.end()) {
      // A copy: the handler may replace itself.
      std::function<void(WPARAM)> handler = it->second;
      handler(wparam);
      return 0;
    }
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

OverlappedFile::OverlappedFile(const std::string& contents, const std::wstring& suffix) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  path_ = std::wstring(temp) + test_support::UniqueName(L"io_pump") + suffix + L".bin";
  EXPECT_TRUE(test_support::WriteFileBytes(path_, contents));
  handle_.reset(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr));
  EXPECT_TRUE(handle_.valid());
}

OverlappedFile::~OverlappedFile() {
  handle_.reset();
  DeleteFileW(path_.c_str());
}

bool OverlappedFile::StartRead(MessagePumpForIO::IOContext* context, char* buffer, DWORD size, DWORD offset) {
  context->overlapped = {};
  context->overlapped.Offset = offset;
  return ReadFile(handle_.get(), buffer, size, nullptr, &context->overlapped) || GetLastError() == ERROR_IO_PENDING;
}

}  // namespace base
