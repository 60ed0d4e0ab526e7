// Thread-safe reference counting for objects shared between threads, and the owning pointer that holds one
// reference.
#ifndef BASE_MEMORY_REF_COUNTED_H_
#define BASE_MEMORY_REF_COUNTED_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace base {

// An atomic 32-bit reference count. A new object starts at 0; its first owner's reference makes it 1.
class RefCountedThreadSafeBase {
 public:
  RefCountedThreadSafeBase(const RefCountedThreadSafeBase&) = delete;
  RefCountedThreadSafeBase& operator=(const RefCountedThreadSafeBase&) = delete;

  // True when exactly one reference exists. Only meaningful to the holder of that reference.
  bool HasOneRef() const { return ref_count_.load(std::memory_order_acquire) == 1; }

 protected:
  RefCountedThreadSafeBase() = default;
  ~RefCountedThreadSafeBase() = default;

  void AddRef() const { ref_count_.fetch_add(1, std::memory_order_relaxed); }

  // True when this released the last reference: the caller then destroys the object. The acquire half makes
  // every other owner's writes visible to the destroying thread.
  bool Release() const { return ref_count_.fetch_sub(1, std::memory_order_acq_rel) == 1; }

 private:
  mutable std::atomic<int32_t> ref_count_{0};
};

template <typename T, typename Traits>
class RefCountedThreadSafe;

template <typename T>
struct DefaultRefCountedThreadSafeTraits {
  static void Destruct(const T* object) {
    RefCountedThreadSafe<T, DefaultRefCountedThreadSafeTraits>::DeleteInternal(object);
  }
};

// Derive as `class Foo : public RefCountedThreadSafe<Foo>`; a Foo with a private destructor befriends
// RefCountedThreadSafe<Foo>. A class whose last release must do something else than delete (for instance
// post its own destruction to another thread) passes Traits whose Destruct does that.
template <typename T, typename Traits = DefaultRefCountedThreadSafeTraits<T>>
class RefCountedThreadSafe : public RefCountedThreadSafeBase {
 public:
  void AddRef() const { RefCountedThreadSafeBase::AddRef(); }
  void Release() const {
    if (RefCountedThreadSafeBase::Release())
      Traits::Destruct(static_cast<const T*>(this));
  }

 protected:
  RefCountedThreadSafe() = default;
  ~RefCountedThreadSafe() = default;

 private:
  friend struct DefaultRefCountedThreadSafeTraits<T>;
  static void DeleteInternal(const T* object) { delete object; }
};

// Holds one reference to a counted object (anything with AddRef and Release).
template <typename T>
class scoped_refptr {
 public:
  using element_type = T;

  constexpr scoped_refptr() = default;
  constexpr scoped_refptr(std::nullptr_t) {}
  scoped_refptr(T* pointer) : ptr_(pointer) {
    if (ptr_)
      ptr_->AddRef();
  }
  scoped_refptr(const scoped_refptr& other) : scoped_refptr(other.ptr_) {}
  template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  scoped_refptr(const scoped_refptr<U>& other) : scoped_refptr(other.get()) {}
  scoped_refptr(scoped_refptr&& other) noexcept : ptr_(other.ptr_) { other.ptr_ = nullptr; }
  template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  scoped_refptr(scoped_refptr<U>&& other) noexcept : ptr_(other.release()) {}
  ~scoped_refptr() {
    if (ptr_)
      ptr_->Release();
  }

  // Copy-and-swap: the new reference is taken before the old one is dropped, so self-assignment is safe.
  scoped_refptr& operator=(T* pointer) { return *this = scoped_refptr(pointer); }
  scoped_refptr& operator=(std::nullptr_t) {
    reset();
    return *this;
  }
  scoped_refptr& operator=(scoped_refptr other) noexcept {
    swap(other);
    return *this;
  }

  T* get() const { return ptr_; }
  T& operator*() const { return *ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

  void reset() { scoped_refptr().swap(*this); }
  // Gives up the reference without releasing it; the caller now owns it.
  [[nodiscard]] T* release() {
    T* pointer = ptr_;
    ptr_ = nullptr;
    return pointer;
  }
  void swap(scoped_refptr& other) noexcept { std::swap(ptr_, other.ptr_); }

  template <typename U>
  bool operator==(const scoped_refptr<U>& other) const { return ptr_ == other.get(); }
  bool operator==(const T* other) const { return ptr_ == other; }
  bool operator==(std::nullptr_t) const { return ptr_ == nullptr; }

 private:
  T* ptr_ = nullptr;
};

// Builds a counted object and takes the first reference.
template <typename T, typename... Args>
scoped_refptr<T> MakeRefCounted(Args&&... args) {
  return scoped_refptr<T>(new T(std::forward<Args>(args)...));
}

}  // namespace base

#endif  // BASE_MEMORY_REF_COUNTED_H_
