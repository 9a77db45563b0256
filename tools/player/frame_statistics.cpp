#include "frame_statistics.h"

#include <math.h>

namespace player {

// A new frame's time: when it was due, for a paced window (it is on show
// for its interval, drawn a moment late or not); otherwise when it was
// handed to the renderer.
void FrameStatistics::Count(int64_t frame_ns) {
  if (rendered_ == 0) {
    first_frame_ns_ = frame_ns;
    paused_ns_ = 0;
  }
  drawn_span_ns_ = frame_ns - first_frame_ns_ - paused_ns_;
  ++rendered_;
}

// How far the gap since the frame before strays from the gap planned
// (their due times; unpaced, none is planned and the gaps' spread is the
// jitter).
void FrameStatistics::Time(int64_t drawn_ns, int64_t due_ns) {
  if (first_drawn_ns_ == 0)
    first_drawn_ns_ = drawn_ns;
  if (last_drawn_ns_ > 0 && !timing_broken_) {
    const int64_t planned = due_ns > 0 && last_due_ns_ > 0 ? due_ns - last_due_ns_ : 0;
    const double deviation = (drawn_ns - last_drawn_ns_ - planned) / 1e6;
    ++jitter_count_;
    const double delta = deviation - jitter_mean_;
    jitter_mean_ += delta / jitter_count_;
    jitter_m2_ += delta * (deviation - jitter_mean_);
  }
  last_drawn_ns_ = drawn_ns;
  last_due_ns_ = due_ns;
  timing_broken_ = false;
}

double FrameStatistics::fps() const {
  const int64_t frames = rendered_.load();
  return frames >= 2 && drawn_span_ns_ > 0 ? (frames - 1) * 1e9 / drawn_span_ns_ : 0;
}

double FrameStatistics::jitter_ms() const {
  return jitter_count_ > 0 ? sqrt(jitter_m2_ / jitter_count_) : 0;
}

}  // namespace player
