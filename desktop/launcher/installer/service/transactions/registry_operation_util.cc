#include "desktop/launcher/installer/service/transactions/registry_operation_util.h"

#include <cstdint>

#include "desktop/launcher/installer/service/access_control.h"

namespace zorvi::installer {

unsigned long RootNumber(HKEY root) {
  return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(root));
}

std::wstring RegistryObjectName(HKEY root, const std::wstring& path) {
  return GetRegistryObjectName(root, path);
}

}  // namespace zorvi::installer
