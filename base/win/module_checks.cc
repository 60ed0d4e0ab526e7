#include "base/win/module_checks.h"

#include <windows.h>

#include <atomic>

#include "base/win/pe_image.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;  // this module's base address, provided by the linker

namespace base {
namespace win {
namespace {

enum InstrumentationState : uint32_t {
  kNotTested = 0,
  kInstrumented = 1,
  kNotInstrumented = 2,
};
std::atomic<uint32_t> g_instrumentation_state{kNotTested};

}  // namespace

namespace internal {

void ReportMissingSse2AndExit() {
  // Every module runs the check, so user32 is loaded only on this path rather than imported by all of them.
  using MessageBoxFunction = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
  if (HMODULE user32 = LoadLibraryW(L"user32.dll")) {
    if (auto message_box = reinterpret_cast<MessageBoxFunction>(
            reinterpret_cast<void*>(GetProcAddress(user32, "MessageBoxW")))) {
      message_box(nullptr, L"This program requires a computer that supports SSE2 instructions.", L"Error", MB_OK);
    }
  }
  ExitProcess(1);
}

}  // namespace internal

void CheckSse2Support() {
  if (!IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE))
    internal::ReportMissingSse2AndExit();
}

bool IsModuleInstrumented() {
  uint32_t state = g_instrumentation_state.load(std::memory_order_relaxed);
  if (state == kNotTested) {
    // Racing first callers compute the same answer.
    PEImage image(reinterpret_cast<HMODULE>(&__ImageBase));
    state = image.GetImageSectionHeaderByName(".thunks") && image.GetImageSectionHeaderByName(".syzygy")
                ? kInstrumented
                : kNotInstrumented;
    g_instrumentation_state.store(state, std::memory_order_relaxed);
  }
  return state == kInstrumented;
}

}  // namespace win
}  // namespace base

// Referenced by name from area.cmake, so that every module links this object and runs the check when loaded.
extern "C" {
extern const bool zorvi_module_sse2_check;
const bool zorvi_module_sse2_check = (base::win::CheckSse2Support(), true);
}
