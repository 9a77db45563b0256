#ifndef RTC_BASE_RECURSIVE_MUTEX_H_
#define RTC_BASE_RECURSIVE_MUTEX_H_

#include <pthread.h>

#include "rtc_base/thread_annotations.h"

namespace rtc {

// A mutex that the owning thread may lock again; every Lock() must be
// matched by one Unlock(). Every shared structure of the runtime is guarded
// by one, so a thread that holds a lock can call back into its owner.
class RTC_CAPABILITY("mutex") RecursiveMutex {
 public:
  RecursiveMutex();
  ~RecursiveMutex();
  RecursiveMutex(const RecursiveMutex&) = delete;
  RecursiveMutex& operator=(const RecursiveMutex&) = delete;

  void Lock() RTC_ACQUIRE();
  void Unlock() RTC_RELEASE();

 private:
  pthread_mutex_t mutex_;
};

// Holds a RecursiveMutex for the lifetime of the scope.
class RTC_SCOPED_CAPABILITY ScopedLock {
 public:
  explicit ScopedLock(RecursiveMutex* mutex) RTC_ACQUIRE(mutex) : mutex_(mutex) { mutex_->Lock(); }
  ~ScopedLock() RTC_RELEASE() { mutex_->Unlock(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  RecursiveMutex* const mutex_;
};

}  // namespace rtc

#endif  // RTC_BASE_RECURSIVE_MUTEX_H_
