// Wrappers that say how Bind keeps a bound argument:
//   Unretained(p)   a raw pointer that the callback neither owns nor keeps alive (the caller guarantees it
//                   outlives every run);
//   Owned(p)        a heap object that the callback deletes when its last copy goes;
//   Passed(v)       a move-only value handed over to the function on the first run (a second run fails a
//                   check).
// A scoped_refptr argument keeps its object alive and reaches a function that takes a raw pointer as one.
#ifndef BASE_BIND_HELPERS_H_
#define BASE_BIND_HELPERS_H_

#include <type_traits>
#include <utility>

#include "base/logging.h"
#include "base/memory/ref_counted.h"

namespace base {
namespace internal {

template <typename T>
class UnretainedWrapper {
 public:
  explicit UnretainedWrapper(T* ptr) : ptr_(ptr) {}
  T* get() const { return ptr_; }

 private:
  T* ptr_;
};

template <typename T>
class OwnedWrapper {
 public:
  explicit OwnedWrapper(T* ptr) : ptr_(ptr) {}
  OwnedWrapper(OwnedWrapper&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  OwnedWrapper(const OwnedWrapper&) = delete;
  OwnedWrapper& operator=(const OwnedWrapper&) = delete;
  ~OwnedWrapper() { delete ptr_; }
  T* get() const { return ptr_; }

 private:
  T* ptr_;
};

template <typename T>
class PassedWrapper {
 public:
  explicit PassedWrapper(T&& value) : value_(std::move(value)) {}
  PassedWrapper(PassedWrapper&& other) noexcept : is_valid_(other.is_valid_), value_(std::move(other.value_)) {
    other.is_valid_ = false;
  }
  // Hands the value over; the callback can therefore run only once.
  T Take() const {
    CHECK(is_valid_) << "a callback with a Passed() argument ran twice";
    is_valid_ = false;
    return std::move(value_);
  }

 private:
  mutable bool is_valid_ = true;
  mutable T value_;
};

// What the function receives for each kind of stored argument. Plain values are passed by const reference,
// so a function taking a non-const reference to a bound argument does not compile.
template <typename T>
const T& Unwrap(const T& value) {
  return value;
}
template <typename T>
T* Unwrap(const UnretainedWrapper<T>& wrapper) {
  return wrapper.get();
}
template <typename T>
T* Unwrap(const OwnedWrapper<T>& wrapper) {
  return wrapper.get();
}
template <typename T>
T* Unwrap(const scoped_refptr<T>& ref) {
  return ref.get();
}
template <typename T>
T Unwrap(const PassedWrapper<T>& wrapper) {
  return wrapper.Take();
}

}  // namespace internal

template <typename T>
internal::UnretainedWrapper<T> Unretained(T* ptr) {
  return internal::UnretainedWrapper<T>(ptr);
}

template <typename T>
internal::OwnedWrapper<T> Owned(T* ptr) {
  return internal::OwnedWrapper<T>(ptr);
}

template <typename T, typename = std::enable_if_t<!std::is_lvalue_reference_v<T>>>
internal::PassedWrapper<T> Passed(T&& value) {
  return internal::PassedWrapper<T>(std::move(value));
}
}  // namespace base

#endif  // BASE_BIND_HELPERS_H_
