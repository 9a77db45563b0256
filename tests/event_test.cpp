// Events, the recursive mutex and the monotonic clock.

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "rtc_base/event.h"
#include "rtc_base/recursive_mutex.h"
#include "rtc_base/timeutils.h"

namespace rtc {
namespace {

// --- Event -----------------------------------------------------------------

TEST(EventTest, PollOfSignaledAutoResetEventConsumesTheSignal) {
  Event event(/*manual_reset=*/false, /*initially_signaled=*/true);
  EXPECT_TRUE(event.Wait(0));
  EXPECT_FALSE(event.Wait(0));
}

TEST(EventTest, PollOfUnsignaledEventFailsAtOnce) {
  Event event(false, false);
  EXPECT_FALSE(event.Wait(0));
  EXPECT_FALSE(event.Wait(-5));  // treated as a poll, never as "forever"
}

TEST(EventTest, SetWithNoWaiterIsRemembered) {
  Event event(false, false);
  event.Set();
  EXPECT_TRUE(event.Wait(kForever));
  EXPECT_FALSE(event.Wait(0));
}

TEST(EventTest, ManualResetEventStaysSignaledUntilReset) {
  Event event(/*manual_reset=*/true, false);
  event.Set();
  for (int i = 0; i < 5; ++i)
    EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(kForever));
  event.Reset();
  EXPECT_FALSE(event.Wait(0));
}

TEST(EventTest, TimedWaitEndsWithoutSignal) {
  Event event(false, false);
  const int64_t before = MonotonicMillis();
  EXPECT_FALSE(event.Wait(30));
  // The wait must not end early; how late it ends is the scheduler's business.
  EXPECT_GE(MonotonicMillis() - before, 30);
}

TEST(EventTest, SetFromAnotherThreadWakesAForeverWait) {
  Event event(false, false);
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    event.Set();
  });
  EXPECT_TRUE(event.Wait(kForever));
  setter.join();
}

TEST(EventTest, ManualResetSetWakesEveryWaiter) {
  Event event(true, false);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 8; ++i) {
    waiters.emplace_back([&] {
      if (event.Wait(kForever))
        ++woken;
    });
  }
  event.Set();
  for (std::thread& waiter : waiters)
    waiter.join();
  EXPECT_EQ(woken.load(), 8);
}

TEST(EventTest, AutoResetSetReleasesOneWaiterAtATime) {
  Event event(false, false);
  constexpr int kWaiters = 4;
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.emplace_back([&] {
      if (event.Wait(kForever))
        ++woken;
    });
  }
  for (int round = 1; round <= kWaiters; ++round) {
    event.Set();
    while (woken.load() < round)
      std::this_thread::yield();
    // Give any wrongly woken second waiter a chance to show itself.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(woken.load(), round);
  }
  for (std::thread& waiter : waiters)
    waiter.join();
}

TEST(EventTest, ManySettersAndWaitersNeverLoseTheLastSignal) {
  Event event(false, false);
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([&] {
      while (!stop.load())
        event.Set();
    });
    threads.emplace_back([&] {
      while (!stop.load())
        event.Wait(1);
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  stop = true;
  for (std::thread& thread : threads)
    thread.join();
  event.Set();
  EXPECT_TRUE(event.Wait(0));
}

// --- Time --------------------------------------------------------------------

TEST(TimeTest, DeadlineCarriesNanosecondsIntoSeconds) {
  const timespec low = DeadlineAfter({10, 400000000}, 1500);
  EXPECT_EQ(low.tv_sec, 11);
  EXPECT_EQ(low.tv_nsec, 900000000);

  const timespec edge = DeadlineAfter({10, 499999999}, 1500);
  EXPECT_EQ(edge.tv_sec, 11);
  EXPECT_EQ(edge.tv_nsec, 999999999);

  const timespec carry = DeadlineAfter({10, 500000000}, 1500);
  EXPECT_EQ(carry.tv_sec, 12);
  EXPECT_EQ(carry.tv_nsec, 0);

  const timespec zero = DeadlineAfter({3, 7}, 0);
  EXPECT_EQ(zero.tv_sec, 3);
  EXPECT_EQ(zero.tv_nsec, 7);
}

TEST(TimeTest, MillisAreTruncatedNanos) {
  const int64_t nanos_before = MonotonicNanos();
  const int64_t millis = MonotonicMillis();
  const int64_t nanos_after = MonotonicNanos();
  EXPECT_GE(millis, nanos_before / 1000000);
  EXPECT_LE(millis, nanos_after / 1000000);
  // The 32-bit form is the low half of the same clock.
  const int32_t skew = MillisDiff32(MonotonicMillis32(), static_cast<uint32_t>(millis));
  EXPECT_GE(skew, 0);
  EXPECT_LT(skew, 1000);
}

TEST(TimeTest, ThirtyTwoBitDifferencesSurviveWrap) {
  EXPECT_EQ(MillisDiff32(5u, 0xFFFFFFFBu), 10);
  EXPECT_EQ(MillisDiff32(0xFFFFFFFBu, 5u), -10);
  EXPECT_EQ(MillisDiff32(1000u, 400u), 600);
}

TEST(TimeTest, MonotonicClockNeverGoesBack) {
  int64_t last = MonotonicNanos();
  for (int i = 0; i < 10000; ++i) {
    const int64_t now = MonotonicNanos();
    ASSERT_GE(now, last);
    last = now;
  }
}

// --- Recursive mutex ---------------------------------------------------------

// Locks `mutex` a second time on this thread. The compile-time lock analysis
// has no notion of a recursive lock and reports the second lock as a fault;
// at run time it is the point of the type.
void LockAgain(RecursiveMutex* mutex,
               const std::function<void()>& inside) RTC_NO_THREAD_SAFETY_ANALYSIS {
  ScopedLock again(mutex);
  inside();
}

// Each thread locks again while it holds the lock (a recursive mutex that
// refused its owner would hang here), and the others wait meanwhile.
TEST(RecursiveMutexTest, OwnerLocksAgainWhileOthersAreExcluded) {
  RecursiveMutex mutex;
  int64_t counter = 0;  // plain: ThreadSanitizer sees any unguarded access
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        ScopedLock lock(&mutex);
        LockAgain(&mutex, [&] { ++counter; });
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(counter, 4 * 20000);
}

// A holder that keeps the lock longer than the waiter's spin lasts: the
// waiter goes through every try with the processor's pause hint (its own
// instruction on each architecture), then sleeps until the unlock.
TEST(RecursiveMutexTest, WaiterOutlastingItsSpinSleepsUntilTheUnlock) {
  RecursiveMutex mutex;
  std::atomic<bool> acquired{false};
  mutex.Lock();
  std::thread waiter([&] {
    ScopedLock lock(&mutex);
    acquired = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(acquired);
  mutex.Unlock();
  waiter.join();
  EXPECT_TRUE(acquired);
}

}  // namespace
}  // namespace rtc
