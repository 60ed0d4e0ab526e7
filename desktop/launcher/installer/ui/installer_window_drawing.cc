#include "desktop/launcher/installer/ui/installer_window_drawing.h"

#include <richedit.h>

#include <algorithm>
#include <map>
#include <vector>

#include "base/strings/string_util.h"
#include "desktop/launcher/installer/ui/installer_window.h"

namespace zorvi::installer {
namespace window_drawing {

std::wstring WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(length + 1, L'\0');
  text.resize(GetWindowTextW(window, text.data(), length + 1));
  return text;
}

HFONT MakeFont(int pixels_per_inch, int points, int weight, DWORD quality, DWORD pitch, const wchar_t* face) {
  return CreateFontW(-MulDiv(points, pixels_per_inch, 72), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_OUTLINE_PRECIS, CLIP_DEFAULT_PRECIS, quality, pitch, face);
}

SIZE BitmapSize(HBITMAP bitmap) {
  BITMAP info = {};
  GetObjectW(bitmap, sizeof(info), &info);
  return {info.bmWidth, info.bmHeight};
}

// Draws `bitmap` with its own alpha at (x, y), scaled to `size`.
void BlendBitmap(HDC target, HBITMAP bitmap, int x, int y, SIZE size) {
  const ScopedMemoryDC source(target, bitmap);
  const SIZE own = BitmapSize(bitmap);
  const BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  AlphaBlend(target, x, y, size.cx, size.cy, source.get(), 0, 0, own.cx, own.cy, blend);
}

void SetRangeColor(HWND control, LONG start, LONG end, COLORREF color) {
  CHARRANGE range = {start, end};
  SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
  CHARFORMAT2W format = {};
  format.cbSize = sizeof(format);
  format.dwMask = CFM_COLOR;
  format.crTextColor = color;
  SendMessageW(control, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
  range = {0, 0};
  SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
}

}  // namespace window_drawing

namespace {

using window_drawing::SetRangeColor;
using window_drawing::WindowText;

constexpr COLORREF kLinkLineColor = RGB(104, 104, 104);

// Replaces each anchor <a ... href="X" ...>Y</a> by "$1X$2Y$3", and in `plain` by Y alone; `link_targets` maps
// each Y to its X. An anchor missing a part ends the conversion: the rest is kept as it stands.
std::wstring ConvertLinkMarkup(const std::wstring& text, std::wstring* plain,
                               std::map<std::wstring, std::wstring>* link_targets) {
  std::wstring result;
  size_t position = 0;
  while (position < text.size()) {
    const size_t anchor = text.find(L"<a ", position);
    const size_t href = anchor == std::wstring::npos ? anchor : text.find(L"href=\"", anchor);
    const size_t target = href == std::wstring::npos ? href : href + 6;
    const size_t target_end = target == std::wstring::npos ? target : text.find(L'"', target);
    const size_t tag_end = target_end == std::wstring::npos ? target_end : text.find(L'>', target_end);
    const size_t close = tag_end == std::wstring::npos ? tag_end : text.find(L"</a>", tag_end);
    if (close == std::wstring::npos)
      break;
    const std::wstring link_text = text.substr(tag_end + 1, close - tag_end - 1);
    const std::wstring link_target = text.substr(target, target_end - target);
    (*link_targets)[link_text] = link_target;
    result.append(text, position, anchor - position);
    result += L"$1" + link_target + L"$2" + link_text + L"$3";
    plain->append(text, position, anchor - position);
    *plain += link_text;
    position = close + 4;
  }
  if (position < text.size()) {
    result.append(text, position, std::wstring::npos);
    plain->append(text, position, std::wstring::npos);
  }
  return result;
}

DWORD CALLBACK RtfStreamOutCallback(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG* written) {
  reinterpret_cast<std::string*>(cookie)->append(reinterpret_cast<const char*>(buffer), count);
  *written = count;
  return 0;
}

struct RtfSource {
  const std::string* rtf;
  size_t offset;
};

DWORD CALLBACK RtfStreamInCallback(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG* read) {
  auto* source = reinterpret_cast<RtfSource*>(cookie);
  const size_t left = source->rtf->size() - source->offset;
  const size_t size = std::min(left, static_cast<size_t>(std::max<LONG>(count, 0)));
  std::copy_n(source->rtf->data() + source->offset, size, buffer);
  source->offset += size;
  *read = static_cast<LONG>(size);
  return 0;
}

void StreamRtfIn(HWND control, const std::string& rtf) {
  RtfSource source = {&rtf, 0};
  EDITSTREAM stream = {reinterpret_cast<DWORD_PTR>(&source), 0, &RtfStreamInCallback};
  SendMessageW(control, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
}

std::wstring FirstLine(HWND control) {
  const LRESULT length = SendMessageW(control, EM_LINELENGTH, 0, 0);
  std::wstring line(std::max<LRESULT>(length, 1) + 1, L'\0');
  *reinterpret_cast<WORD*>(line.data()) = static_cast<WORD>(line.size());
  const LRESULT copied = SendMessageW(control, EM_GETLINE, 0, reinterpret_cast<LPARAM>(line.data()));
  line.resize(std::clamp<LRESULT>(copied, 0, static_cast<LRESULT>(line.size())));
  return line;
}

}  // namespace

std::map<std::wstring, std::wstring> InstallerWindow::SetRichTextWithLinks(HWND control, const std::wstring& text) {
  std::map<std::wstring, std::wstring> link_targets;
  if (!control)
    return link_targets;
  std::wstring plain;
  const std::wstring converted = ConvertLinkMarkup(text, &plain, &link_targets);
  SetWindowTextW(control, converted.c_str());
  const size_t first = converted.find(L"$1");
  const size_t last = first == std::wstring::npos ? first : converted.find(L"$3", first);
  if (last != std::wstring::npos)
    SetRangeColor(control, static_cast<LONG>(first), static_cast<LONG>(last + 2), kLinkLineColor);

  std::string rtf;
  EDITSTREAM out = {reinterpret_cast<DWORD_PTR>(&rtf), 0, &RtfStreamOutCallback};
  SendMessageW(control, EM_STREAMOUT, SF_RTF, reinterpret_cast<LPARAM>(&out));
  std::vector<std::string> fields = {"{\\field{\\*\\fldinst{HYPERLINK \"", "\"}}{\\fldrslt{\\ul ", "}}}"};
  StreamRtfIn(control, base::ReplaceStringPlaceholders(rtf, fields, nullptr));
  // Some rich-edit versions show a field's instruction as text unless the field starts a line of its own.
  if (base::EndsWith(FirstLine(control), L"HYPERLINK ", base::CompareCase::SENSITIVE)) {
    fields[0] = "\\line" + fields[0];
    StreamRtfIn(control, base::ReplaceStringPlaceholders(rtf, fields, nullptr));
  }
  // A rich edit that knows no link fields drops them whole, link text and all: the sentence then keeps the link's
  // text, unlinked, rather than losing words.
  if (WindowText(control).size() < plain.size()) {
    LOG(WARNING) << "The rich edit control dropped the text's links; showing them as plain text";
    SetWindowTextW(control, plain.c_str());
  }
  return link_targets;
}

}  // namespace zorvi::installer
