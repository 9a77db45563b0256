#ifndef ENGINE_RTC_BASE_MUTEX_H_
#define ENGINE_RTC_BASE_MUTEX_H_

// The engine's own rtc::Mutex: a lock of another size than the module's
// (a pointer to a heap mutex). Were the module's objects laid out with it,
// every field after a lock would move.
#include <memory>
#include <mutex>

#include "rtc_base/thread_annotations.h"

namespace rtc {

class RTC_CAPABILITY("mutex") Mutex {
 public:
  Mutex() : impl_(new std::mutex) {}
  void Lock() RTC_ACQUIRE() { impl_->lock(); }
  void Unlock() RTC_RELEASE() { impl_->unlock(); }

 private:
  std::unique_ptr<std::mutex> impl_;
};

class MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) : mutex_(mutex) { mutex_->Lock(); }
  ~MutexLock() { mutex_->Unlock(); }

 private:
  Mutex* mutex_;
};

}  // namespace rtc

#endif  // ENGINE_RTC_BASE_MUTEX_H_
