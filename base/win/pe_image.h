// A view of a module loaded in this process: its headers and sections, reached from its base address.
#ifndef BASE_WIN_PE_IMAGE_H_
#define BASE_WIN_PE_IMAGE_H_

#include <windows.h>

namespace base {
namespace win {

class PEImage {
 public:
  explicit PEImage(HMODULE module) : module_(module) {}

  HMODULE module() const { return module_; }
  PIMAGE_NT_HEADERS GetNTHeaders() const;

  // The section whose 8-byte name field equals `name` (compared as up to 8 bytes, so a name of 8 characters
  // needs no terminator in the field), or null; null for a null name.
  PIMAGE_SECTION_HEADER GetImageSectionHeaderByName(const char* name) const;

  // The address of a relative virtual address in the loaded image; null for 0.
  void* RVAToAddr(DWORD rva) const;

 private:
  HMODULE module_;
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_PE_IMAGE_H_
