#include "base/win/pe_image.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "testing/test_support.h"

namespace base {
namespace win {
namespace {

__attribute__((noinline)) void SomeCode() {
  asm volatile("");
}

TEST(PEImageTest, FindsSectionsByTheirWholeName) {
  PEImage image(GetModuleHandleW(nullptr));
  PIMAGE_SECTION_HEADER text = image.GetImageSectionHeaderByName(".text");
  ASSERT_NE(nullptr, text);
  EXPECT_EQ(0, memcmp(text->Name, ".text\0\0\0", 8));
  // The code of this very test lies in that section.
  const char* code = reinterpret_cast<const char*>(&SomeCode);
  const char* start = static_cast<const char*>(image.RVAToAddr(text->VirtualAddress));
  EXPECT_GE(code, start);
  EXPECT_LT(code, start + text->Misc.VirtualSize);

  EXPECT_EQ(nullptr, image.GetImageSectionHeaderByName(".tex"));
  EXPECT_EQ(nullptr, image.GetImageSectionHeaderByName(".text2"));
  EXPECT_EQ(nullptr, image.GetImageSectionHeaderByName(""));
  EXPECT_EQ(nullptr, image.GetImageSectionHeaderByName(nullptr));
}

TEST(PEImageTest, EightCharacterNamesNeedNoTerminator) {
  HMODULE library = LoadLibraryW((test_support::ExecutableDir() + L"\\module_checks_test_dll.dll").c_str());
  ASSERT_NE(nullptr, library);
  PEImage image(library);
  PIMAGE_SECTION_HEADER section = image.GetImageSectionHeaderByName(".eightch");
  ASSERT_NE(nullptr, section);
  EXPECT_EQ(0, memcmp(section->Name, ".eightch", 8));
  EXPECT_STREQ("eight", static_cast<const char*>(image.RVAToAddr(section->VirtualAddress)));
  EXPECT_EQ(nullptr, image.GetImageSectionHeaderByName(".eightc"));
  FreeLibrary(library);
}

TEST(PEImageTest, RelativeAddresses) {
  HMODULE module = GetModuleHandleW(nullptr);
  PEImage image(module);
  EXPECT_EQ(nullptr, image.RVAToAddr(0));
  EXPECT_EQ(reinterpret_cast<char*>(module) + 0x1234, image.RVAToAddr(0x1234));
  PIMAGE_NT_HEADERS headers = image.GetNTHeaders();
  EXPECT_EQ(static_cast<DWORD>(IMAGE_NT_SIGNATURE), headers->Signature);
  EXPECT_EQ(reinterpret_cast<ULONGLONG>(module), headers->OptionalHeader.ImageBase);
}

}  // namespace
}  // namespace win
}  // namespace base
