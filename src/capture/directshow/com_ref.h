#pragma once

#include <objbase.h>

#include <utility>

namespace ravdel::dshow {

// A counted reference to a COM interface: released when emptied or destroyed, AddRef'd when
// copied. "Release by emptying the field" is reset(). Not thread-safe by itself,
// like any pointer.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  // Takes over a reference the caller already holds (a creation or an out parameter).
  static ComRef adopt(T* pointer) {
    ComRef ref;
    ref.pointer_ = pointer;
    return ref;
  }
  // Takes a reference of its own.
  static ComRef share(T* pointer) {
    if (pointer != nullptr) pointer->AddRef();
    return adopt(pointer);
  }
  ComRef(const ComRef& other) : pointer_(other.pointer_) {
    if (pointer_ != nullptr) pointer_->AddRef();
  }
  ComRef(ComRef&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComRef& operator=(ComRef other) noexcept {
    std::swap(pointer_, other.pointer_);
    return *this;
  }
  ~ComRef() { reset(); }

  void reset() {
    if (T* old = std::exchange(pointer_, nullptr)) old->Release();
  }
  // Hands the reference to the caller.
  T* detach() { return std::exchange(pointer_, nullptr); }

  T* get() const { return pointer_; }
  T* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  // For an out parameter: empties this holder first.
  T** put() {
    reset();
    return &pointer_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }

  // QueryInterface into `out`; `out` is empty on failure.
  template <typename U>
  HRESULT query(REFIID iid, ComRef<U>& out) const {
    if (pointer_ == nullptr) {
      out.reset();
      return E_POINTER;
    }
    return pointer_->QueryInterface(iid, out.putVoid());
  }

 private:
  T* pointer_ = nullptr;
};

}  // namespace ravdel::dshow
