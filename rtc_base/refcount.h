#ifndef RTC_BASE_REFCOUNT_H_
#define RTC_BASE_REFCOUNT_H_

// Reference counting for objects shared between threads.
//
//   RefPtr<RefCountedObject<Event>> done(new RefCountedObject<Event>(false, false));
//
// A RefCountedObject<T> is a T with an atomic count; it destroys itself when
// the last reference goes. RefPtr holds one reference.

#include <atomic>
#include <utility>

namespace rtc {

template <class T>
class RefCountedObject : public T {
 public:
  template <class... Args>
  explicit RefCountedObject(Args&&... args) : T(std::forward<Args>(args)...) {}
  RefCountedObject(const RefCountedObject&) = delete;
  RefCountedObject& operator=(const RefCountedObject&) = delete;

  virtual void AddRef() const { ref_count_.fetch_add(1, std::memory_order_relaxed); }
  // True while other references remain; false when this call dropped the
  // last one and destroyed the object.
  virtual bool Release() const {
    // acq_rel: whatever any holder did happens-before the destruction.
    if (ref_count_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      delete this;
      return false;
    }
    return true;
  }
  virtual bool HasOneRef() const {
    return ref_count_.load(std::memory_order_acquire) == 1;
  }

 protected:
  virtual ~RefCountedObject() = default;

 private:
  mutable std::atomic<int> ref_count_{0};
};

// One counted reference to a T with AddRef() and Release().
template <class T>
class RefPtr {
 public:
  RefPtr() = default;
  explicit RefPtr(T* object) : object_(object) {
    if (object_ != nullptr)
      object_->AddRef();
  }
  RefPtr(const RefPtr& other) : RefPtr(other.object_) {}
  RefPtr(RefPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  RefPtr& operator=(RefPtr other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~RefPtr() { reset(); }

  void reset() {
    if (T* object = std::exchange(object_, nullptr))
      object->Release();
  }
  T* get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_ = nullptr;
};

}  // namespace rtc

#endif  // RTC_BASE_REFCOUNT_H_
