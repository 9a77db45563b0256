#ifndef QUON_OHOS_NAPI_QUON_RENDER_RATE_H_
#define QUON_OHOS_NAPI_QUON_RENDER_RATE_H_

// The frame-rate limit of one renderer (SetMaxFrameRate): which frames to
// keep so that, whatever comes in above the rate, what is drawn averages
// the rate. A frame is judged by its time (its capture time when it has
// one, else when it arrived), never by the wall clock.
//
// The rule is a schedule: each frame kept makes the next one due one
// interval (1 s / fps) after the last was due, so that kept frames keep
// the average; one that comes late pushes the schedule on, but by at most
// half an interval more, so that a late frame is not followed by a burst.
// A frame a quarter of an interval early still counts as due: frames that
// come at exactly the rate, with their usual jitter, are all kept, and
// frames at twice the rate are kept one in two (30 in, 15 out, not 10).
//
// Not thread-safe: the renderer calls it under its drawing lock.

#include <stdint.h>

class FrameRateLimit {
 public:
  // Whether to draw a frame of time `timeUs` (monotonic microseconds) under
  // a limit of `fps` frames a second; fps 0 keeps every frame. A changed
  // limit, and a time before the last frame kept (a clock that started
  // again), start the schedule afresh.
  bool Admit(int fps, int64_t timeUs) {
    if (fps <= 0) {
      m_fps = 0;
      return true;
    }
    const int64_t interval = 1000000 / fps;
    if (fps != m_fps || timeUs < m_lastUs) {
      m_fps = fps;
      m_dueUs = timeUs;
    }
    if (timeUs < m_dueUs - interval / 4)
      return false;
    m_lastUs = timeUs;
    const int64_t byAverage = m_dueUs + interval;
    const int64_t byLateness = timeUs + interval / 2;
    m_dueUs = byAverage > byLateness ? byAverage : byLateness;
    return true;
  }

 private:
  int m_fps = 0;         // the limit the schedule was made for; 0: none
  int64_t m_dueUs = 0;   // when the next frame is due
  int64_t m_lastUs = 0;  // the time of the last frame kept
};

#endif  // QUON_OHOS_NAPI_QUON_RENDER_RATE_H_
