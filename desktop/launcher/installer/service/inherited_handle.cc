#include "desktop/launcher/installer/service/inherited_handle.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"

namespace zorvi::installer {

std::string InheritedHandleSwitchValue(HANDLE handle) {
  const uint64_t value = reinterpret_cast<uintptr_t>(handle);
  return base::HexEncode(&value, sizeof(value));
}

bool ParseInheritedHandleSwitchValue(const std::wstring& value, HANDLE* handle) {
  std::vector<uint8_t> bytes;
  uint64_t parsed = 0;
  if (!base::HexStringToBytes(base::WideToUTF8(value), &bytes) || bytes.size() != sizeof(parsed))
    return false;
  memcpy(&parsed, bytes.data(), sizeof(parsed));
  *handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(parsed));
  return true;
}

}  // namespace zorvi::installer
