// ScopedComPtr holds one reference to a COM interface and releases it when it is reset or goes.
#ifndef BASE_WIN_SCOPED_COMPTR_H_
#define BASE_WIN_SCOPED_COMPTR_H_

#include <objbase.h>
#include <unknwn.h>

#include "base/logging.h"

namespace base {
namespace win {

// The interface needs a declared id (__CRT_UUID_DECL) for __uuidof.
template <class Interface>
class ScopedComPtr {
 public:
  ScopedComPtr() = default;
  // Adds a reference to `pointer` (when not null).
  explicit ScopedComPtr(Interface* pointer) : pointer_(pointer) {
    if (pointer_)
      pointer_->AddRef();
  }
  ScopedComPtr(const ScopedComPtr& other) : ScopedComPtr(other.pointer_) {}
  ScopedComPtr& operator=(const ScopedComPtr& other) {
    Interface* incoming = other.pointer_;  // read first: `other` may be this holder
    if (incoming)
      incoming->AddRef();
    Reset();
    pointer_ = incoming;
    return *this;
  }
  ~ScopedComPtr() { Reset(); }

  Interface* get() const { return pointer_; }
  Interface* operator->() const {
    CHECK(pointer_);
    return pointer_;
  }
  explicit operator bool() const { return pointer_ != nullptr; }

  // Releases the held reference.
  void Reset() {
    if (Interface* held = pointer_) {
      pointer_ = nullptr;
      held->Release();
    }
  }
  // Gives up the reference without releasing it.
  [[nodiscard]] Interface* Detach() {
    Interface* held = pointer_;
    pointer_ = nullptr;
    return held;
  }
  // For a COM out-parameter: the holder must be empty, the callee fills it with a referenced pointer.
  Interface** Receive() {
    CHECK(!pointer_) << "receiving into a ScopedComPtr that holds a reference would leak it";
    return &pointer_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

  // CoCreateInstance of this interface into the (empty) holder.
  HRESULT CreateInstance(REFCLSID class_id, IUnknown* outer = nullptr, DWORD context = CLSCTX_ALL) {
    return CoCreateInstance(class_id, outer, context, __uuidof(Interface), ReceiveVoid());
  }
  // QueryInterface of `object` for this interface into the (empty) holder.
  HRESULT QueryFrom(IUnknown* object) {
    CHECK(object);
    return object->QueryInterface(__uuidof(Interface), ReceiveVoid());
  }

  static const IID& iid() { return __uuidof(Interface); }

 private:
  Interface* pointer_ = nullptr;
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SCOPED_COMPTR_H_
