#ifndef RTC_BASE_RECURSIVE_MUTEX_H_
#define RTC_BASE_RECURSIVE_MUTEX_H_

#include <pthread.h>

namespace rtc {

// A mutex that the owning thread may lock again; every Lock() must be
// matched by one Unlock(). Every shared structure of the runtime is guarded
// by one, so a thread that holds a lock can call back into its owner.
class RecursiveMutex {
 public:
  RecursiveMutex();
  ~RecursiveMutex();
  RecursiveMutex(const RecursiveMutex&) = delete;
  RecursiveMutex& operator=(const RecursiveMutex&) = delete;

  void Lock();
  void Unlock();

 private:
  pthread_mutex_t mutex_;
};

// Holds a RecursiveMutex for the lifetime of the scope.
class ScopedLock {
 public:
  explicit ScopedLock(RecursiveMutex* mutex) : mutex_(mutex) { mutex_->Lock(); }
  ~ScopedLock() { mutex_->Unlock(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  RecursiveMutex* const mutex_;
};

}  // namespace rtc

#endif  // RTC_BASE_RECURSIVE_MUTEX_H_
