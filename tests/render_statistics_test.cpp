// A renderer's figures and its frame-rate limit on known runs of frames,
// every time given: the recorder's rate, freezes and latency, which frames
// the limit keeps, and the figures read whole while a frame is recorded.

#include <stdint.h>

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "quon_render_rate.h"
#include "quon_render_statistics.h"

namespace {

constexpr int64_t kMs = 1000000;  // nanoseconds

// Draws a frame ending at each of `ends` (ns), each `latency` after its
// origin and taking 1 ms to draw.
void DrawRun(RenderStatisticsRecorder* recorder, const std::vector<int64_t>& ends,
             int64_t latency = 0) {
  for (int64_t end : ends) {
    recorder->Received();
    recorder->Drawn(64, 36, end - latency, end - kMs, end);
  }
}

// Frames every `interval` from `from`, `count` of them.
std::vector<int64_t> Paced(int64_t from, int64_t interval, int count) {
  std::vector<int64_t> ends;
  for (int i = 0; i < count; ++i)
    ends.push_back(from + i * interval);
  return ends;
}

// The rate counts the frames of the last second only; the freezes are the
// intervals longer than max(3 x pace, pace + 150 ms), judged against the
// mean of the intervals before them, so a stream that slows for good stops
// freezing once its pace has followed.
TEST(RenderStatisticsTest, RateAndFreezesOnAKnownRun) {
  struct Case {
    const char* what;
    int64_t pace;  // the run's interval before and after the gap
    int64_t gap;   // one interval in the middle of the run
    int64_t freezes;
  } const cases[] = {
      {"30 fps, a 120 ms gap is within the pace's margin", 33 * kMs, 120 * kMs, 0},
      {"30 fps, a 190 ms gap is a freeze", 33 * kMs, 190 * kMs, 1},
      {"10 fps, a 290 ms gap is below three intervals", 100 * kMs, 290 * kMs, 0},
      {"10 fps, a 310 ms gap is a freeze", 100 * kMs, 310 * kMs, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RenderStatisticsRecorder recorder;
    std::vector<int64_t> ends = Paced(5000 * kMs, c.pace, 40);
    const std::vector<int64_t> after = Paced(ends.back() + c.gap, c.pace, 40);
    ends.insert(ends.end(), after.begin(), after.end());
    DrawRun(&recorder, ends);
    const RenderStatistics figures = recorder.Snapshot(ends.back());
    EXPECT_EQ(figures.freezeCount, c.freezes);
    EXPECT_EQ(figures.freezeTotalMs, c.freezes * c.gap / kMs);
    // Frames ending in the last second: those after end - 1 s.
    EXPECT_EQ(figures.framesPerSecond, (1000 * kMs - 1) / c.pace + 1);
  }

  // 30 fps, then 3 fps for good: each slow interval raises the pace by
  // 10 ms, and the first eight freeze (at a pace of 103 ms, 333 ms is still
  // above three of it; at 113 ms no longer).
  RenderStatisticsRecorder slowed;
  std::vector<int64_t> ends = Paced(0, 33 * kMs, 31);
  const std::vector<int64_t> slow = Paced(ends.back() + 333 * kMs, 333 * kMs, 60);
  ends.insert(ends.end(), slow.begin(), slow.end());
  DrawRun(&slowed, ends);
  RenderStatistics figures = slowed.Snapshot(ends.back());
  EXPECT_EQ(figures.freezeCount, 8);
  EXPECT_EQ(figures.freezeTotalMs, 8 * 333);
  EXPECT_EQ(figures.framesPerSecond, 4);  // the last, and 333, 666 and 999 ms before it
  // Seconds later nothing was drawn in the last second.
  figures = slowed.Snapshot(ends.back() + 5000 * kMs);
  EXPECT_EQ(figures.framesPerSecond, 0);
  EXPECT_EQ(figures.latencyFrames, 0);
  EXPECT_EQ(figures.latencyMeanUs, 0);
}

// Latency from each frame's origin to the end of its swap: the mean and
// the 99th percentile (nearest rank) of the last two seconds' frames only.
TEST(RenderStatisticsTest, LatencyMeanAndPercentileOverTheLastTwoSeconds) {
  RenderStatisticsRecorder recorder;
  // Three seconds ago: frames a second late, outside the window.
  DrawRun(&recorder, Paced(1000 * kMs, 10 * kMs, 50), 1000 * kMs);
  // The last two seconds: 200 frames, latencies 1..200 ms in turn.
  const int64_t now = 4000 * kMs;
  for (int i = 1; i <= 200; ++i) {
    const int64_t end = now - 2000 * kMs + i * 10 * kMs;
    recorder.Received();
    recorder.Drawn(64, 36, end - i * kMs, end - kMs, end);
  }
  // And one whose origin lies ahead of its end (another clock): 0, not
  // a negative latency.
  recorder.Received();
  recorder.Drawn(64, 36, now + 5000 * kMs, now, now);
  const RenderStatistics figures = recorder.Snapshot(now);
  EXPECT_EQ(figures.latencyFrames, 201);
  EXPECT_EQ(figures.latencyMeanUs, 100000);  // (1 + ... + 200 + 0) ms / 201
  EXPECT_EQ(figures.latencyP99Us, 198000);   // the 199th of 201 in order
  EXPECT_EQ(figures.framesPerSecond, 101);   // 100 frames of the last second, and the newest

  // More frames in two seconds than the recorder keeps: the newest 512.
  RenderStatisticsRecorder busy;
  DrawRun(&busy, Paced(0, kMs, 1500), 7 * kMs);
  const RenderStatistics many = busy.Snapshot(1499 * kMs);
  EXPECT_EQ(many.latencyFrames, RenderStatisticsRecorder::kRecentFrames);
  EXPECT_EQ(many.framesPerSecond, RenderStatisticsRecorder::kRecentFrames);
  EXPECT_EQ(many.latencyMeanUs, 7000);
  EXPECT_EQ(many.latencyP99Us, 7000);
}

// Which frames a limit keeps: the average at the limit whatever comes in
// above it (30 in under 15 keeps every other one, not one in three), every
// frame when they come at or below it, jitter included; a clock that
// starts again and a changed limit start the schedule afresh.
TEST(FrameRateLimitTest, KeepsTheAverageAtTheLimit) {
  struct Case {
    int inFps;
    int limit;
    int jitterUs;  // added to every other frame's time
    int kept;      // of three seconds of frames
  } const cases[] = {
      {30, 15, 0, 45}, {60, 15, 0, 45},    {30, 20, 0, 60}, {25, 15, 0, 45},
      {30, 30, 0, 90}, {30, 30, 4000, 90}, {10, 15, 0, 30}, {30, 0, 0, 90},
      {60, 24, 0, 72}, {30, 15, 3000, 45}, {120, 1, 0, 3},  {50, 49, 0, 147},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.inFps << " in, limit " << c.limit << ", jitter " << c.jitterUs);
    FrameRateLimit limit;
    int kept = 0;
    const int frames = 3 * c.inFps;
    for (int i = 0; i < frames; ++i) {
      const int64_t time = 7000000 + i * 1000000LL / c.inFps + (i % 2) * c.jitterUs;
      kept += limit.Admit(c.limit, time) ? 1 : 0;
    }
    EXPECT_NEAR(kept, c.kept, 1);
  }

  FrameRateLimit limit;
  EXPECT_TRUE(limit.Admit(10, 5000000));
  EXPECT_FALSE(limit.Admit(10, 5050000));
  EXPECT_TRUE(limit.Admit(10, 1000));  // the clock started again
  EXPECT_TRUE(limit.Admit(20, 1001));  // a new limit
  EXPECT_FALSE(limit.Admit(20, 2000));
  EXPECT_TRUE(limit.Admit(0, 2001));  // no limit at all
  EXPECT_TRUE(limit.Admit(0, 2002));
}

// A reader on another thread gets the figures of one moment, never half
// of a frame's: received covers drawn and dropped, the recent frames stay
// within what was drawn. Under the thread sanitizer, no race.
TEST(RenderStatisticsTest, SnapshotsWhileFramesAreRecordedAreWhole) {
  RenderStatisticsRecorder recorder;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done.load()) {
      const RenderStatistics f = recorder.Snapshot(INT64_MAX / 2);
      EXPECT_LE(f.framesDrawn + f.framesDropped, f.framesReceived);
      EXPECT_LE(f.framesDroppedByRate, f.framesDropped);
      EXPECT_LE(f.latencyFrames, f.framesDrawn);
      EXPECT_LE(f.framesPerSecond, f.latencyFrames);
    }
  });
  for (int64_t i = 0; i < 20000; ++i) {
    recorder.Received();
    if (i % 3 == 0) {
      recorder.DroppedByRate();
      continue;
    }
    const int64_t end = INT64_MAX / 2 - 1000 * kMs + i * 10000;
    recorder.Drawn(64, 36, end - kMs, end - kMs, end);
  }
  done = true;
  reader.join();
  const RenderStatistics f = recorder.Snapshot(INT64_MAX / 2);
  EXPECT_EQ(f.framesReceived, 20000);
  EXPECT_EQ(f.framesDroppedByRate, 6667);
  EXPECT_EQ(f.framesDropped, 6667);
  EXPECT_EQ(f.framesDrawn, 13333);
}

}  // namespace
