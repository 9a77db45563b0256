#include "rtc_base/timeutils.h"

namespace rtc {

namespace {
constexpr int64_t kNanosPerSecond = 1000000000;
constexpr int64_t kNanosPerMilli = 1000000;
}  // namespace

int64_t MonotonicNanos() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * kNanosPerSecond + ts.tv_nsec;
}

int64_t MonotonicMillis() {
  return MonotonicNanos() / kNanosPerMilli;
}

uint32_t MonotonicMillis32() {
  return static_cast<uint32_t>(MonotonicMillis());
}

timespec DeadlineAfter(const timespec& now, int timeout_ms) {
  timespec deadline = now;
  deadline.tv_sec += timeout_ms / 1000;
  deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * kNanosPerMilli;
  if (deadline.tv_nsec >= kNanosPerSecond) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= kNanosPerSecond;
  }
  return deadline;
}

}  // namespace rtc
