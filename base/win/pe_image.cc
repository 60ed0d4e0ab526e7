#include "base/win/pe_image.h"

#include <cstring>

namespace base {
namespace win {

PIMAGE_NT_HEADERS PEImage::GetNTHeaders() const {
  const auto* dos_header = reinterpret_cast<const IMAGE_DOS_HEADER*>(module_);
  return static_cast<PIMAGE_NT_HEADERS>(RVAToAddr(static_cast<DWORD>(dos_header->e_lfanew)));
}

PIMAGE_SECTION_HEADER PEImage::GetImageSectionHeaderByName(const char* name) const {
  if (!name)
    return nullptr;
  PIMAGE_NT_HEADERS nt_headers = GetNTHeaders();
  PIMAGE_SECTION_HEADER section = IMAGE_FIRST_SECTION(nt_headers);
  for (WORD i = 0; i < nt_headers->FileHeader.NumberOfSections; ++i, ++section) {
    if (strncmp(reinterpret_cast<const char*>(section->Name), name, IMAGE_SIZEOF_SHORT_NAME) == 0)
      return section;
  }
  return nullptr;
}

void* PEImage::RVAToAddr(DWORD rva) const {
  if (rva == 0)
    return nullptr;
  return reinterpret_cast<char*>(module_) + rva;
}

}  // namespace win
}  // namespace base
