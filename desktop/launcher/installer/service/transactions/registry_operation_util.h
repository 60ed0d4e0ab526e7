// Small helpers the registry operations share for their log lines and access checks.
#ifndef DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_OPERATION_UTIL_H_
#define DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_OPERATION_UTIL_H_

#include <windows.h>

#include <string>

namespace zorvi::installer {

// A root key as the number its handle value stands for (HKEY_CURRENT_USER is 2147483649).
unsigned long RootNumber(HKEY root);

// The security-object name of root\path ("CURRENT_USER\Software\...").
std::wstring RegistryObjectName(HKEY root, const std::wstring& path);

}  // namespace zorvi::installer

#endif  // DESKTOP_LAUNCHER_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_OPERATION_UTIL_H_
