// An inherited handle named on a child installer process's command line: the handle's 8 bytes in memory order
// (least significant first) as hexadecimal digits, the form every installer process writes and reads.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_INHERITED_HANDLE_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_INHERITED_HANDLE_H_

#include <windows.h>

#include <string>

namespace zorvi::installer {

// The switch value that names `handle` to a child that inherits it.
std::string InheritedHandleSwitchValue(HANDLE handle);

// The handle `value` names; false when it is not 8 bytes' hexadecimal digits.
bool ParseInheritedHandleSwitchValue(const std::wstring& value, HANDLE* handle);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_INHERITED_HANDLE_H_
