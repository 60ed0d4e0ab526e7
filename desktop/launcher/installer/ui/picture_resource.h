// Decodes a compressed picture resource of the host executable (PNG or JPEG, through GDI+) into a GDI bitmap for
// the installer window's painting.
#ifndef DESKTOP_LAUNCHER_INSTALLER_UI_PICTURE_RESOURCE_H_
#define DESKTOP_LAUNCHER_INSTALLER_UI_PICTURE_RESOURCE_H_

#include <windows.h>

namespace zorvi::installer {

// The picture `id` of resource type `type` ("PNG", "JPG") as a 32-bit bitmap of its own size, with its alpha
// channel; the caller deletes it. Null when the resource is missing or cannot be decoded. GDI+ runs only for the
// call.
HBITMAP LoadPngResourceAsBitmap(int id, const wchar_t* type);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_UI_PICTURE_RESOURCE_H_
