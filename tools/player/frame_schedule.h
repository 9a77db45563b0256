#ifndef TOOLS_PLAYER_FRAME_SCHEDULE_H_
#define TOOLS_PLAYER_FRAME_SCHEDULE_H_

// When each frame of a window is due, and which frames are too late to be
// drawn. Times of day are nanoseconds of one monotonic clock, given by the
// caller; a frame's own times are seconds of the input.
//
// The schedule starts at the first frame shown, however long it took to
// come. A frame more than a frame late is dropped, so that a slow window
// catches up, but never more than a few in a row: the next one is shown and
// the times start again from it, so that a stall never starves the rest. A jump in the input's
// times (a transport stream's discontinuity) is played across at the frames' pace, and a rewind
// starts the times again once the frame on show has had its time.

#include <stdint.h>

namespace player {

class FrameSchedule {
 public:
  // `frame_ns`: the length of a frame that does not state its own, and
  // how late a frame may be drawn; 0: frames are not paced.
  explicit FrameSchedule(int64_t frame_ns) : frame_ns_(frame_ns) {}

  // Frames dropped in a row after which the next is shown, late or not.
  static constexpr int kMostDropsInARow = 5;

  // The next frame, its time in the input and its own length in seconds (0:
  // not stated), read at `now_ns`. Returns by how much the input's times
  // jumped before it (back when negative), or 0.
  double Next(double timestamp, double duration, int64_t now_ns);
  // When the frame last given to Next is due.
  int64_t due_ns() const { return due_ns_; }
  // Whether that frame, at `now_ns`, is to be dropped: more than a frame
  // late, once frames are shown, and not after too many drops in a row.
  bool TooLate(int64_t now_ns) const;
  void Dropped() { ++drops_in_a_row_; }
  // The frame is drawn from `now_ns`: the first one starts the times, and
  // so does a late one shown after the most drops in a row.
  void Shown(int64_t now_ns);
  // The frame on show is due at `now_ns` and the times go on from there
  // (setting up a window's first picture must not make the next late).
  void RestartAt(int64_t now_ns);
  // The next frame starts the times afresh: at once (a seek), or when the
  // frame on show has had its time (a rewind).
  void Restart(bool at_once);
  // Every time moves on by `ns` (a pause).
  void Delay(int64_t ns);
  // When the frame on show has had its time, or `length_ns` after it was due.
  int64_t shown_end_ns() const { return shown_due_ns_ + shown_length_ns_; }
  int64_t shown_due_ns() const { return shown_due_ns_; }
  bool started() const { return started_; }
  // Makes `ns` the time waited for (the last frame's hold).
  void WaitFor(int64_t ns) { due_ns_ = ns; }

 private:
  int64_t LengthNs(double duration) const;
  // Whether a step of `gap` seconds after a frame of `length_ns` is no
  // frame's length but a jump of the times.
  static bool IsJump(double gap, int64_t length_ns);

  int64_t frame_ns_;
  bool started_ = false;  // a frame was shown
  bool have_previous_ = false;
  bool restart_ = false;
  bool restart_at_once_ = false;
  int drops_in_a_row_ = 0;
  // The frame at input time anchor_ts_ is due at anchor_ns_; the others by
  // their distance from it.
  int64_t anchor_ns_ = 0;
  double anchor_ts_ = 0;
  // The frame last given to Next.
  double timestamp_ = 0;
  int64_t length_ns_ = 0;
  int64_t due_ns_ = 0;
  // The frame on show.
  int64_t shown_due_ns_ = 0;
  int64_t shown_length_ns_ = 0;
};

}  // namespace player

#endif  // TOOLS_PLAYER_FRAME_SCHEDULE_H_
