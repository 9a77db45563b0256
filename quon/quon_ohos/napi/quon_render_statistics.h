#ifndef QUON_OHOS_NAPI_QUON_RENDER_STATISTICS_H_
#define QUON_OHOS_NAPI_QUON_RENDER_STATISTICS_H_

// One renderer's figures (RenderStatistics), kept cheaply enough to stay on
// for every frame: atomic counters, and the drawn frames' figures written
// (release stores) by the one thread drawing at a time and read whole
// (acquire loads) by any thread through a sequence count. Nothing
// allocates and nothing takes a lock.
//
// Every time is given by the caller (monotonic nanoseconds): the figures
// of a known run of frames come out the same whenever it is recorded.

#include <stdint.h>

#include <atomic>

#include "IRenderEventListener.h"

class RenderStatisticsRecorder {
 public:
  // What a drawn frame is to tell the id's listener.
  enum class FrameEvent { kNone, kFirstFrame, kFrameSizeChanged };

  // A frame handed to the renderer; any thread.
  void Received() { m_received.fetch_add(1, std::memory_order_relaxed); }
  // A frame received and not drawn; any thread.
  void Dropped() { m_dropped.fetch_add(1, std::memory_order_release); }
  // A frame received and dropped by the frame-rate limit; any thread.
  // Counted as dropped too, first, so that no snapshot sees more dropped
  // by the rate than dropped.
  void DroppedByRate() {
    Dropped();
    m_droppedByRate.fetch_add(1, std::memory_order_release);
  }
  // A frame of width x height drawn from `startNs` to `endNs`, its swap
  // ended; `originNs` is when it was captured (or, without a capture time,
  // handed over), where its latency starts. Only one thread at a time (the
  // renderer's drawing lock holds the others off).
  FrameEvent Drawn(int32_t width, int32_t height, int64_t originNs, int64_t startNs, int64_t endNs);
  // The figures as of `nowNs`; any thread.
  RenderStatistics Snapshot(int64_t nowNs) const;

  // The frames the figures of the last seconds are taken from, at most:
  // two seconds at 256 frames a second.
  static constexpr int kRecentFrames = 512;
  // The intervals whose mean sets the pace a freeze is judged against.
  static constexpr int kPaceIntervals = 30;

 private:
  // Draw times are kept in windows of a second of the monotonic clock: the
  // current one and the one before it.
  static constexpr int64_t kWindowNs = 1000000000;
  struct Window {
    std::atomic<int64_t> index{-1};  // MonotonicNanos() / kWindowNs; -1: none
    std::atomic<int64_t> frames{0};
    std::atomic<int64_t> totalNs{0};
    std::atomic<int64_t> worstNs{0};
  };
  static void Copy(const Window& from, Window* to);

  std::atomic<int64_t> m_received{0};
  std::atomic<int64_t> m_dropped{0};
  std::atomic<int64_t> m_droppedByRate{0};
  // Written by Drawn between two steps of m_sequence (odd while writing).
  std::atomic<uint64_t> m_sequence{0};
  std::atomic<int64_t> m_drawn{0};
  std::atomic<int32_t> m_lastWidth{0};
  std::atomic<int32_t> m_lastHeight{0};
  std::atomic<int64_t> m_firstNs{0};
  std::atomic<int64_t> m_lastNs{0};
  Window m_current;
  Window m_previous;
  // Freezes so far: their count and their intervals' total.
  std::atomic<int64_t> m_freezes{0};
  std::atomic<int64_t> m_freezeNs{0};
  // The last frames drawn, frame n (from 0) at n % kRecentFrames: when its
  // swap ended, and its latency.
  struct Recent {
    std::atomic<int64_t> endNs{0};
    std::atomic<int64_t> latencyNs{0};
  };
  Recent m_recent[kRecentFrames];
};

#endif  // QUON_OHOS_NAPI_QUON_RENDER_STATISTICS_H_
