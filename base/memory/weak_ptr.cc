#include "base/memory/weak_ptr.h"

namespace base {

WeakReferenceOwner::~WeakReferenceOwner() {
  Invalidate();
}

WeakReference WeakReferenceOwner::GetRef() const {
  // Nobody else holds the flag: start a fresh one, so that an owner invalidated earlier works again.
  if (!flag_ || flag_->HasOneRef())
    flag_ = MakeRefCounted<WeakReference::Flag>();
  return WeakReference(flag_);
}

void WeakReferenceOwner::Invalidate() {
  if (flag_) {
    flag_->Invalidate();
    flag_ = nullptr;
  }
}

}  // namespace base
