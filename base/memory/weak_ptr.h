// Weak pointers: references to an object that turn null once the object's owner invalidates them (at the
// latest when the owner is destroyed). The owner and its weak references share a reference-counted validity
// flag, so the flag outlives the object as long as any weak reference exists.
//
// Weak pointers may be copied and passed to any thread, but must be dereferenced (and invalidated) only on
// the thread or sequence that owns the object: that is the only place where "still valid" stays true until
// the call ends. The usual pattern posts a closure bound to a weak pointer back to the owner's thread.
#ifndef BASE_MEMORY_WEAK_PTR_H_
#define BASE_MEMORY_WEAK_PTR_H_

#include <atomic>
#include <cstddef>
#include <type_traits>

#include "base/memory/ref_counted.h"

namespace base {

// A counted reference to a validity flag, or none.
class WeakReference {
 public:
  // Created valid; only its owner invalidates it.
  class Flag : public RefCountedThreadSafe<Flag> {
   public:
    Flag() = default;
    void Invalidate() { is_valid_.store(false, std::memory_order_release); }
    bool IsValid() const { return is_valid_.load(std::memory_order_acquire); }

   private:
    friend class RefCountedThreadSafe<Flag>;
    ~Flag() = default;

    std::atomic<bool> is_valid_{true};
  };

  WeakReference() = default;
  explicit WeakReference(const scoped_refptr<Flag>& flag) : flag_(flag) {}

  // True when there is a flag and it has not been invalidated.
  bool IsValid() const { return flag_ && flag_->IsValid(); }

 private:
  scoped_refptr<const Flag> flag_;
};

// The owner's side: hands out references to its current flag.
class WeakReferenceOwner {
 public:
  WeakReferenceOwner() = default;
  ~WeakReferenceOwner();
  WeakReferenceOwner(const WeakReferenceOwner&) = delete;
  WeakReferenceOwner& operator=(const WeakReferenceOwner&) = delete;

  // A reference to the current flag; a new flag is made when there is none or nobody else holds it.
  WeakReference GetRef() const;

  // True while some weak reference to the current flag exists.
  bool HasRefs() const { return flag_ && !flag_->HasOneRef(); }

  // Makes every reference handed out so far invalid; later GetRef calls start a fresh flag.
  void Invalidate();

 private:
  mutable scoped_refptr<WeakReference::Flag> flag_;
};

template <typename T>
class WeakPtrFactory;

template <typename T>
class WeakPtr {
 public:
  WeakPtr() = default;
  WeakPtr(std::nullptr_t) {}
  // A weak pointer to a derived class converts to one to its base.
  template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  WeakPtr(const WeakPtr<U>& other) : ref_(other.ref_), ptr_(other.ptr_) {}

  // The object, or null once the weak pointers were invalidated.
  T* get() const { return ref_.IsValid() ? ptr_ : nullptr; }
  T& operator*() const { return *get(); }
  T* operator->() const { return get(); }
  explicit operator bool() const { return get() != nullptr; }

  void reset() {
    ref_ = WeakReference();
    ptr_ = nullptr;
  }

 private:
  template <typename U>
  friend class WeakPtr;
  friend class WeakPtrFactory<T>;

  WeakPtr(const WeakReference& ref, T* ptr) : ref_(ref), ptr_(ptr) {}

  WeakReference ref_;
  T* ptr_ = nullptr;
};

// A member of the object it points to, declared last so that it invalidates the weak pointers before the
// other members are destroyed.
template <typename T>
class WeakPtrFactory {
 public:
  explicit WeakPtrFactory(T* ptr) : ptr_(ptr) {}
  WeakPtrFactory(const WeakPtrFactory&) = delete;
  WeakPtrFactory& operator=(const WeakPtrFactory&) = delete;

  WeakPtr<T> GetWeakPtr() { return WeakPtr<T>(owner_.GetRef(), ptr_); }

  // Weak pointers handed out so far turn null; new ones work again.
  void InvalidateWeakPtrs() { owner_.Invalidate(); }

  bool HasWeakPtrs() const { return owner_.HasRefs(); }

 private:
  WeakReferenceOwner owner_;
  T* ptr_;
};

}  // namespace base

#endif  // BASE_MEMORY_WEAK_PTR_H_
