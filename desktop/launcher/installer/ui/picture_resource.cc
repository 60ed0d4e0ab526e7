#include "desktop/launcher/installer/ui/picture_resource.h"

#include <objidl.h>  // IStream, which GDI+'s header needs first
#include <gdiplus.h>

#include <cstring>

#include "base/logging.h"
#include "base/win/scoped_comptr.h"

namespace zorvi::installer {

namespace {

// GDI+ for the lifetime of one load, so that nothing of it stays running between the window's few loads.
class ScopedGdiplus {
 public:
  ScopedGdiplus() {
    Gdiplus::GdiplusStartupInput input;  // version 1, no callbacks
    started_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
  }
  ScopedGdiplus(const ScopedGdiplus&) = delete;
  ScopedGdiplus& operator=(const ScopedGdiplus&) = delete;
  ~ScopedGdiplus() {
    if (started_)
      Gdiplus::GdiplusShutdown(token_);
  }
  bool started() const { return started_; }

 private:
  ULONG_PTR token_ = 0;
  bool started_ = false;
};

// A stream over a movable copy of the resource's bytes. The stream owns the copy and frees it on its last
// release, so that no load leaves the picture's bytes behind.
base::win::ScopedComPtr<IStream> StreamOverResource(int id, const wchar_t* type) {
  base::win::ScopedComPtr<IStream> stream;
  const std::string_view bytes = HostResourceBytes(id, type);
  if (bytes.empty()) {
    PLOG(ERROR) << "Picture resource " << id << " of type " << type << " not found";
    return stream;
  }
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  void* copy_bytes = copy ? GlobalLock(copy) : nullptr;
  if (!copy_bytes) {
    PLOG(ERROR) << "Could not copy picture resource " << id;
    if (copy)
      GlobalFree(copy);
    return stream;
  }
  std::memcpy(copy_bytes, bytes.data(), bytes.size());
  GlobalUnlock(copy);
  const HRESULT result = CreateStreamOnHGlobal(copy, /*fDeleteOnRelease=*/TRUE, stream.Receive());
  if (FAILED(result)) {
    LOG(ERROR) << "Could not make a stream over picture resource " << id << ": "
               << logging::SystemErrorCodeToString(result);
    GlobalFree(copy);
  }
  return stream;
}

}  // namespace

std::string_view HostResourceBytes(int id, const wchar_t* type) {
  HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(id), type);
  HGLOBAL loaded = resource ? LoadResource(nullptr, resource) : nullptr;
  const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  return bytes ? std::string_view(bytes, SizeofResource(nullptr, resource)) : std::string_view();
}

HBITMAP LoadPngResourceAsBitmap(int id, const wchar_t* type) {
  ScopedGdiplus gdiplus;
  if (!gdiplus.started()) {
    LOG(ERROR) << "Could not start GDI+";
    return nullptr;
  }
  base::win::ScopedComPtr<IStream> stream = StreamOverResource(id, type);
  if (!stream)
    return nullptr;
  Gdiplus::GpBitmap* picture = nullptr;
  if (Gdiplus::DllExports::GdipCreateBitmapFromStream(stream.get(), &picture) != Gdiplus::Ok || !picture) {
    LOG(ERROR) << "Could not decode picture resource " << id << " of type " << type;
    return nullptr;
  }
  HBITMAP bitmap = nullptr;
  if (Gdiplus::DllExports::GdipCreateHBITMAPFromBitmap(picture, &bitmap, /*background=*/0) != Gdiplus::Ok)
    bitmap = nullptr;
  Gdiplus::DllExports::GdipDisposeImage(picture);
  return bitmap;
}

}  // namespace zorvi::installer
