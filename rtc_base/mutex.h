#ifndef RTC_BASE_MUTEX_H_
#define RTC_BASE_MUTEX_H_

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "rtc_base/thread_annotations.h"

namespace rtc {

// A plain (non-recursive) mutex the lock analysis knows: std::mutex with
// annotated operations, the same size and layout.
class RTC_CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() RTC_ACQUIRE() { mutex_.lock(); }
  void Unlock() RTC_RELEASE() { mutex_.unlock(); }

  // Sleeps on `condition` until `done()` is true, giving the mutex up while
  // asleep and holding it again on return. `done` runs with the mutex held;
  // the analysis sees a lambda as a function of its own, so it should read
  // atomics or state it passes in rather than members guarded here.
  template <typename Predicate>
  void Await(std::condition_variable& condition, Predicate done) RTC_REQUIRES(this) {
    std::unique_lock<std::mutex> held(mutex_, std::adopt_lock);
    condition.wait(held, done);
    held.release();  // still held: the caller's scope gives it back
  }

  // The same, for at most `timeout` (measured on the steady clock): whether
  // `done()` was true on return.
  template <typename Predicate>
  bool AwaitFor(std::condition_variable& condition, std::chrono::nanoseconds timeout,
                Predicate done) RTC_REQUIRES(this) {
    std::unique_lock<std::mutex> held(mutex_, std::adopt_lock);
    const bool met = condition.wait_for(held, timeout, done);
    held.release();
    return met;
  }

 private:
  std::mutex mutex_;
};

// Holds a Mutex for the lifetime of the scope.
class RTC_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) RTC_ACQUIRE(mutex) : mutex_(mutex) { mutex_->Lock(); }
  ~MutexLock() RTC_RELEASE() { mutex_->Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex* const mutex_;
};

}  // namespace rtc

#endif  // RTC_BASE_MUTEX_H_
