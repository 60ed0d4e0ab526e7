// The installer window's drawing and rich-text helpers: scoped holders of GDI objects, device contexts and thread
// hooks, fonts, alpha-blended bitmaps, text colours of rich edits and their texts with links.
#ifndef DESKTOP_LAUNCHER_INSTALLER_UI_INSTALLER_WINDOW_DRAWING_H_
#define DESKTOP_LAUNCHER_INSTALLER_UI_INSTALLER_WINDOW_DRAWING_H_

#include <windows.h>

#include <string>

#include "base/logging.h"

namespace zorvi::installer::window_drawing {

// A memory DC compatible with `target`, with `object` selected into it for the holder's lifetime.
class ScopedMemoryDC {
 public:
  ScopedMemoryDC(HDC target, HGDIOBJ object)
      : dc_(CreateCompatibleDC(target)), previous_(dc_ ? SelectObject(dc_, object) : nullptr) {}
  ScopedMemoryDC(const ScopedMemoryDC&) = delete;
  ScopedMemoryDC& operator=(const ScopedMemoryDC&) = delete;
  ~ScopedMemoryDC() {
    if (!dc_)
      return;
    SelectObject(dc_, previous_);
    DeleteDC(dc_);
  }
  HDC get() const { return dc_; }

 private:
  const HDC dc_;
  const HGDIOBJ previous_;
};

// A GDI object, deleted with the holder.
template <typename Object>
class ScopedGdiObject {
 public:
  explicit ScopedGdiObject(Object object) : object_(object) {}
  ScopedGdiObject(const ScopedGdiObject&) = delete;
  ScopedGdiObject& operator=(const ScopedGdiObject&) = delete;
  ~ScopedGdiObject() {
    if (object_)
      DeleteObject(object_);
  }
  Object get() const { return object_; }

 private:
  const Object object_;
};

// A thread hook held for one message box. A box opened from inside another's modal loop holds its own, so each
// box removes exactly the hook it set.
class ScopedThreadHook {
 public:
  ScopedThreadHook(int type, HOOKPROC procedure)
      : hook_(SetWindowsHookExW(type, procedure, nullptr, GetCurrentThreadId())) {
    if (!hook_)
      PLOG(WARNING) << "Could not set a thread hook";
  }
  ScopedThreadHook(const ScopedThreadHook&) = delete;
  ScopedThreadHook& operator=(const ScopedThreadHook&) = delete;
  ~ScopedThreadHook() {
    if (hook_)
      UnhookWindowsHookEx(hook_);
  }

 private:
  const HHOOK hook_;
};

// The window's text.
std::wstring WindowText(HWND window);

// A font of `points` at the screen's `pixels_per_inch`.
HFONT MakeFont(int pixels_per_inch, int points, int weight, DWORD quality, DWORD pitch, const wchar_t* face);

SIZE BitmapSize(HBITMAP bitmap);

// Draws `bitmap` with its own alpha at (x, y), scaled to `size`.
void BlendBitmap(HDC target, HBITMAP bitmap, int x, int y, SIZE size);

// Colours the characters from `start` to `end` (-1: the end) of a rich edit, leaving nothing selected.
void SetRangeColor(HWND control, LONG start, LONG end, COLORREF color);

}  // namespace zorvi::installer::window_drawing

#endif  // DESKTOP_LAUNCHER_INSTALLER_UI_INSTALLER_WINDOW_DRAWING_H_
