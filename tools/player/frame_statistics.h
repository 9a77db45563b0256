#ifndef TOOLS_PLAYER_FRAME_STATISTICS_H_
#define TOOLS_PLAYER_FRAME_STATISTICS_H_

// The figures of one window's frames: how many were drawn, its own rate
// (pauses left out) and how much the times between frames strayed from
// those planned. Kept by the engine thread; the count is read by others at
// any time, the rest after the engine thread ended.

#include <stdint.h>

#include <atomic>

namespace player {

class FrameStatistics {
 public:
  // A new frame reached the window at `frame_ns` (when it was due, or when
  // it came), and was drawn at `drawn_ns`; `due_ns` is when it was due, 0
  // unpaced.
  void Count(int64_t frame_ns);
  void Time(int64_t drawn_ns, int64_t due_ns);
  // The play was paused for `ns` since the first frame.
  void AddPause(int64_t ns) { paused_ns_ += ns; }
  // A seek or a step: the next gap is not a frame's.
  void BreakTiming() { timing_broken_ = true; }
  // The first frame's time on the window starts again at `ns`: setting up
  // the surface does not count in the window's rate.
  void RestartSpanAt(int64_t ns) { first_frame_ns_ = ns; }

  int64_t rendered() const { return rendered_.load(); }
  // Frames drawn per second from the first frame to the last, pauses left
  // out; 0 with fewer than two frames.
  double fps() const;
  // When the first frame had been drawn (0 when none was), and the standard
  // deviation of the gaps' strays, in ms.
  int64_t first_drawn_ns() const { return first_drawn_ns_; }
  double jitter_ms() const;

 private:
  std::atomic<int64_t> rendered_{0};
  int64_t first_frame_ns_ = 0;
  int64_t paused_ns_ = 0;      // paused since the first frame
  int64_t drawn_span_ns_ = 0;  // first frame to last, pauses left out
  int64_t first_drawn_ns_ = 0;
  // Frame-time jitter: the deviations of the gaps between frames drawn from
  // their planned gaps (mean and sum of squared differences, Welford's way).
  int64_t last_drawn_ns_ = 0;
  int64_t last_due_ns_ = 0;
  bool timing_broken_ = false;
  int64_t jitter_count_ = 0;
  double jitter_mean_ = 0;
  double jitter_m2_ = 0;
};

}  // namespace player

#endif  // TOOLS_PLAYER_FRAME_STATISTICS_H_
