#pragma once

// One local reference to a COM object, released when it goes out of scope,
// so every exit path of a load gives back what it took.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { Reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  // For the out parameter of a creating call; the holder must be empty.
  T** out() { return &object_; }
  void Reset() {
    if (object_ != nullptr) object_->Release();
    object_ = nullptr;
  }

 private:
  T* object_ = nullptr;
};
