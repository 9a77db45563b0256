#ifndef RTC_BASE_EVENT_H_
#define RTC_BASE_EVENT_H_

#include <pthread.h>

#include "rtc_base/timeutils.h"

namespace rtc {

// A two-state event. Set() wakes every waiter; a Set() with nobody waiting
// is remembered. An auto-reset event (manual_reset == false) is reset by the
// waiter that consumes the signal; a manual-reset event stays set.
// Time-outs are measured on CLOCK_MONOTONIC, so wall-clock changes do not
// shorten or lengthen a wait. Safe for any number of setters and waiters.
class Event {
 public:
  Event(bool manual_reset, bool initially_signaled);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  // Explicitly clears the event (useful for manual-reset events).
  void Reset();
  // True when the event was signaled within timeout_ms (kForever: no
  // limit); false on time-out. Wait(0) polls without blocking. Negative
  // time-outs other than kForever are treated as 0.
  bool Wait(int timeout_ms);

 private:
  pthread_mutex_t event_mutex_;
  pthread_cond_t event_cond_;
  const bool manual_reset_;
  bool signaled_;
};

}  // namespace rtc

#endif  // RTC_BASE_EVENT_H_
