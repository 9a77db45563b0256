#ifndef RTC_BASE_TIMEUTILS_H_
#define RTC_BASE_TIMEUTILS_H_

#include <stdint.h>
#include <time.h>

namespace rtc {

// Time-outs are int milliseconds; kForever means "no limit".
constexpr int kForever = -1;

// Readings of CLOCK_MONOTONIC: time since an arbitrary fixed point,
// unaffected by changes of the wall clock.
int64_t MonotonicNanos();
// MonotonicNanos() / 1,000,000, truncated.
int64_t MonotonicMillis();
// The low 32 bits of MonotonicMillis(). Differences between two such values
// are taken modulo 2^32 and read as signed (see MillisDiff32).
uint32_t MonotonicMillis32();

// later - earlier on the 32-bit millisecond clock, read as signed so that a
// wrap of the counter between the two readings does not matter.
inline int32_t MillisDiff32(uint32_t later, uint32_t earlier) {
  return static_cast<int32_t>(later - earlier);
}

// The absolute time timeout_ms (>= 0) after `now`, with the nanoseconds
// normalised into [0, 1e9).
timespec DeadlineAfter(const timespec& now, int timeout_ms);

}  // namespace rtc

#endif  // RTC_BASE_TIMEUTILS_H_
