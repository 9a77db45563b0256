#include "rtc_base/event.h"

#include "rtc_base/checks.h"

namespace rtc {

Event::Event(bool manual_reset, bool initially_signaled)
    : manual_reset_(manual_reset), signaled_(initially_signaled) {
  CHECK(pthread_mutex_init(&event_mutex_, nullptr) == 0);
  pthread_condattr_t cond_attr;
  CHECK(pthread_condattr_init(&cond_attr) == 0);
  CHECK(pthread_condattr_setclock(&cond_attr, CLOCK_MONOTONIC) == 0);
  CHECK(pthread_cond_init(&event_cond_, &cond_attr) == 0);
  pthread_condattr_destroy(&cond_attr);
}

Event::~Event() {
  pthread_mutex_destroy(&event_mutex_);
  pthread_cond_destroy(&event_cond_);
}

void Event::Set() {
  pthread_mutex_lock(&event_mutex_);
  signaled_ = true;
  pthread_cond_broadcast(&event_cond_);
  pthread_mutex_unlock(&event_mutex_);
}

void Event::Reset() {
  pthread_mutex_lock(&event_mutex_);
  signaled_ = false;
  pthread_mutex_unlock(&event_mutex_);
}

bool Event::Wait(int timeout_ms) {
  int error = 0;
  if (timeout_ms == kForever) {
    pthread_mutex_lock(&event_mutex_);
    while (!signaled_ && error == 0)
      error = pthread_cond_wait(&event_cond_, &event_mutex_);
  } else {
    // The deadline is taken before locking so that time spent waiting for
    // the mutex counts against the time-out.
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const timespec deadline = DeadlineAfter(now, timeout_ms < 0 ? 0 : timeout_ms);
    pthread_mutex_lock(&event_mutex_);
    while (!signaled_ && error == 0)
      error = pthread_cond_timedwait(&event_cond_, &event_mutex_, &deadline);
  }
  if (error == 0 && !manual_reset_)
    signaled_ = false;
  pthread_mutex_unlock(&event_mutex_);
  return error == 0;
}

}  // namespace rtc
