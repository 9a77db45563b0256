#include "frame_schedule.h"

#include <math.h>

#include <algorithm>

namespace player {

namespace {

// A step in the input's times longer than this many frames (and than the
// shortest jump) is a jump, not a still: played across at the frames' pace.
constexpr double kJumpFrames = 10;
constexpr double kShortestJumpS = 5;
// No frame is waited for longer than this, whatever its times say.
constexpr double kLongestGapS = 60;

int64_t Nanos(double seconds) {
  return llround(seconds * 1e9);
}

}  // namespace

int64_t FrameSchedule::LengthNs(double duration) const {
  return duration > 0 ? std::min(Nanos(duration), Nanos(kLongestGapS)) : frame_ns_;
}

bool FrameSchedule::IsJump(double gap, int64_t length_ns) {
  if (gap < 0)
    return true;
  const double limit = std::max(kShortestJumpS, kJumpFrames * length_ns / 1e9);
  return gap > std::min(limit, kLongestGapS);
}

double FrameSchedule::Next(double timestamp, double duration, int64_t now_ns) {
  double jump = 0;
  if (!have_previous_ || (restart_ && (restart_at_once_ || !started_))) {
    anchor_ns_ = now_ns;
    anchor_ts_ = timestamp;
  } else if (restart_) {
    anchor_ns_ = std::max(now_ns, shown_end_ns());
    anchor_ts_ = timestamp;
  } else if (IsJump(timestamp - timestamp_, length_ns_)) {
    jump = timestamp - timestamp_;
    anchor_ns_ = due_ns_ + length_ns_;
    anchor_ts_ = timestamp;
  }
  have_previous_ = true;
  restart_ = false;
  timestamp_ = timestamp;
  length_ns_ = LengthNs(duration);
  due_ns_ = anchor_ns_ + Nanos(timestamp - anchor_ts_);
  return jump;
}

bool FrameSchedule::TooLate(int64_t now_ns) const {
  return frame_ns_ > 0 && started_ && drops_in_a_row_ < kMostDropsInARow &&
         now_ns > due_ns_ + frame_ns_;
}

void FrameSchedule::Shown(int64_t now_ns) {
  if (!started_ || (drops_in_a_row_ >= kMostDropsInARow && now_ns > due_ns_ + frame_ns_))
    RestartAt(now_ns);
  started_ = true;
  drops_in_a_row_ = 0;
  shown_due_ns_ = due_ns_;
  shown_length_ns_ = length_ns_;
}

void FrameSchedule::RestartAt(int64_t now_ns) {
  anchor_ns_ = now_ns;
  anchor_ts_ = timestamp_;
  due_ns_ = now_ns;
  shown_due_ns_ = now_ns;
}

void FrameSchedule::Restart(bool at_once) {
  restart_ = true;
  restart_at_once_ = at_once;
}

void FrameSchedule::Delay(int64_t ns) {
  anchor_ns_ += ns;
  due_ns_ += ns;
  shown_due_ns_ += ns;
}

}  // namespace player
