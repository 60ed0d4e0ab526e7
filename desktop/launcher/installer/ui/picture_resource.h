// The host executable's resources as the installer window reads them: the bytes of one, and a compressed picture
// (PNG or JPEG, through GDI+) decoded into a GDI bitmap for the window's painting.
#ifndef DESKTOP_LAUNCHER_INSTALLER_UI_PICTURE_RESOURCE_H_
#define DESKTOP_LAUNCHER_INSTALLER_UI_PICTURE_RESOURCE_H_

#include <windows.h>

#include <string_view>

namespace zorvi::installer {

// The bytes of resource `id` of type `type` in the host executable, mapped for the process's lifetime; empty when
// it is missing.
std::string_view HostResourceBytes(int id, const wchar_t* type);

// The picture `id` of resource type `type` ("PNG", "JPG") as a 32-bit bitmap of its own size, with its alpha
// channel; the caller deletes it. Null when the resource is missing or cannot be decoded. GDI+ runs only for the
// call.
HBITMAP LoadPngResourceAsBitmap(int id, const wchar_t* type);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_UI_PICTURE_RESOURCE_H_
