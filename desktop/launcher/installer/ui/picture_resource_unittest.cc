#include "desktop/launcher/installer/ui/picture_resource.h"

#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "testing/scoped_log_capture.h"
#include "testing/test_support.h"

namespace zorvi::installer {
namespace {

// One load, announced on standard output so that the relay check (testdata_check.sh) can count the loads.
HBITMAP Load(int id, const wchar_t* type) {
  std::printf("picture load %d %ls\n", id, type);
  std::fflush(stdout);
  return LoadPngResourceAsBitmap(id, type);
}

struct PictureFacts {
  int id;
  std::string type;
  int width, height;
  int corner_alpha, centre_alpha;
};

// What ImageMagick reads in this program's pictures (testdata_setup.sh).
std::vector<PictureFacts> ReadPictureFacts() {
  std::string text;
  EXPECT_TRUE(base::ReadFileToString(base::FilePath(test_support::TestDataDir()).Append(L"pictures.txt"), &text));
  std::vector<PictureFacts> facts;
  std::istringstream lines(text);
  PictureFacts fact;
  while (lines >> fact.id >> fact.type >> fact.width >> fact.height >> fact.corner_alpha >> fact.centre_alpha)
    facts.push_back(fact);
  return facts;
}

// The alpha byte of a pixel, read back from the bitmap as 32-bit top-down rows.
int AlphaAt(HBITMAP bitmap, int x, int y, int width, int height) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<DWORD> pixels(static_cast<size_t>(width) * height);
  HDC screen = GetDC(nullptr);
  const int rows = GetDIBits(screen, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  return rows == height ? static_cast<int>(pixels[static_cast<size_t>(y) * width + x] >> 24) : -1;
}

// The host's pictures become 32-bit bitmaps of their own size that keep their transparency; a missing resource, a
// picture asked for under another type and a resource that is no picture give null with an error line.
TEST(PictureResourceTest, DecodablePicturesBecomeBitmapsOfTheirSize) {
  const std::vector<PictureFacts> pictures = ReadPictureFacts();
  ASSERT_EQ(3u, pictures.size());
  for (const PictureFacts& picture : pictures) {
    const std::wstring type = base::UTF8ToWide(picture.type);
    HBITMAP bitmap = Load(picture.id, type.c_str());
    ASSERT_TRUE(bitmap) << picture.id;
    BITMAP facts = {};
    ASSERT_EQ(static_cast<int>(sizeof(facts)), GetObjectW(bitmap, sizeof(facts), &facts));
    EXPECT_EQ(picture.width, facts.bmWidth) << picture.id;
    EXPECT_EQ(picture.height, facts.bmHeight) << picture.id;
    EXPECT_EQ(32, facts.bmBitsPixel) << picture.id;
    EXPECT_EQ(picture.corner_alpha, AlphaAt(bitmap, 0, 0, facts.bmWidth, facts.bmHeight)) << picture.id;
    EXPECT_EQ(picture.centre_alpha, AlphaAt(bitmap, facts.bmWidth / 2, facts.bmHeight / 2, facts.bmWidth,
                                            facts.bmHeight)) << picture.id;
    DeleteObject(bitmap);
  }

  const struct {
    int id;
    const wchar_t* type;
    const char* error;
  } refused[] = {
      {999, L"PNG", "Picture resource 999 of type PNG not found"},
      {140, L"JPG", "Picture resource 140 of type JPG not found"},
      {9001, L"PNG", "Could not decode picture resource 9001"},
  };
  for (const auto& test_case : refused) {
    test_support::ScopedLogCapture log;
    EXPECT_EQ(nullptr, Load(test_case.id, test_case.type)) << test_case.id;
    EXPECT_TRUE(log.HasLineStartingWith(test_case.error, logging::LOG_ERROR)) << log.Text();
  }
}

// The process's committed private memory, region by region as the system describes it.
int64_t CommittedPrivateBytes() {
  int64_t total = 0;
  MEMORY_BASIC_INFORMATION region = {};
  for (const char* address = nullptr; VirtualQuery(address, &region, sizeof(region)) == sizeof(region);
       address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
      total += static_cast<int64_t>(region.RegionSize);
  }
  return total;
}

// Every load frees its copy of the picture's bytes: 64 loads of the 1 MiB resource that is no picture leave the
// process's committed memory about as it was, where keeping each copy would add 64 MiB.
TEST(PictureResourceTest, LoadsKeepNoCopyOfThePicture) {
  HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(9001), L"PNG");
  ASSERT_TRUE(resource);
  ASSERT_GE(SizeofResource(nullptr, resource), 1000000u);
  EXPECT_EQ(nullptr, LoadPngResourceAsBitmap(9001, L"PNG"));  // GDI+'s own first-use allocations
  const int64_t before = CommittedPrivateBytes();
  for (int i = 0; i < 64; ++i)
    EXPECT_EQ(nullptr, LoadPngResourceAsBitmap(9001, L"PNG"));
  EXPECT_LT(CommittedPrivateBytes() - before, 16 << 20);
}

}  // namespace
}  // namespace zorvi::installer
