#include "base/win/scoped_bstr.h"

#include "base/logging.h"

namespace base {
namespace win {

ScopedBstr::ScopedBstr(const wchar_t* text) : bstr_(SysAllocString(text)) {}

ScopedBstr::~ScopedBstr() { SysFreeString(bstr_); }

void ScopedBstr::Reset(BSTR bstr) {
  if (bstr == bstr_)
    return;
  SysFreeString(bstr_);
  bstr_ = bstr;
}

BSTR ScopedBstr::Release() {
  BSTR bstr = bstr_;
  bstr_ = nullptr;
  return bstr;
}

BSTR* ScopedBstr::Receive() {
  CHECK(!bstr_) << "receiving into a ScopedBstr that holds a string would leak it";
  return &bstr_;
}

}  // namespace win
}  // namespace base
