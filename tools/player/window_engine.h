#ifndef TOOLS_PLAYER_WINDOW_ENGINE_H_
#define TOOLS_PLAYER_WINDOW_ENGINE_H_

// The media engine of one window: on its own thread it reads frames from a
// source, paces them, and pushes them through the window's renderer.
//
// Renderers are created and destroyed on the UI thread. The engine takes
// the window's renderer on its own thread through its hold
// (engine/engine_hold.h: looked up and observed in one step), uses it only
// under the hold's lock, and gives it up when the renderer's OnDestroy,
// which waits for that lock, says it is going away. Nothing of it runs on
// the UI thread: not the look-up, not a scale change.

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture_queue.h"
#include "engine/color_description.h"
#include "engine/engine_hold.h"
#include "engine/video_frame.h"
#include "engine/video_source.h"
#include "figures.h"
#include "frame_schedule.h"
#include "frame_statistics.h"
#include "input_reader.h"
#include "options.h"
#include "rtc_base/mutex.h"
#include "rtc_base/thread_annotations.h"
#include "window_settings.h"

namespace player {

class WindowEngine {
 public:
  WindowEngine(std::string id, std::unique_ptr<engine::VideoSource> source, const Options& options,
               bool takes_captures);
  ~WindowEngine();

  // `on_finished` runs on the engine thread once the play ended.
  void Start(std::function<void()> on_finished = nullptr);
  void Join();
  // After Join, on the caller's thread: the frame on show drawn again as
  // it is shown. Not when no frame was shown, or when a fill to black is
  // pending: the window is filled instead.
  void DrawHeldFrameAgain() RTC_EXCLUDES(wake_mutex_) { Redraw(); }

  // Requests from the UI thread (keys) and from the player. While paused,
  // each shows at once: the held frame is captured (and drawn again), drawn
  // again with the new scale type or after its picture was lost, or the
  // window filled black.
  void RequestCapture(const std::string& extension);
  void RequestFillBlack();
  void RequestRedraw();
  // Sets the scale type, from the next frame (or, paused, at once) and on
  // every renderer the window gets later.
  void SetScale(int type);
  // The picture mirrored or not, and turned a further 90 degrees
  // clockwise: the keys m and r. Shown as SetScale shows a new type.
  void ToggleMirror();
  void RotateBy90();
  // Pausing holds the frame on the window; resuming carries on with the
  // next frame, none of those that fell due meanwhile dropped.
  void TogglePause();
  // Pauses, if playing, and shows the next frame.
  void Step();
  // Moves the play by `seconds` from the frame on show (back when
  // negative): to the key frame at or before the time, decoded forward to
  // it; paused, the new frame shows at once. An input that cannot seek says
  // so once and plays on.
  void SeekBy(double seconds);
  // Ends the play at once, also in the middle of a frame's interval.
  void Stop();
  // The window is gone: the engine stops, and the player no longer uses it.
  void Close();
  // Runs `recreate`, which destroys the window's surface and creates it
  // again, and counts it. A capture that loses its surface to it is counted
  // as skipped, not as failed.
  void RecreateSurface(const std::function<void()>& recreate);

  const std::string& id() const { return id_; }
  int64_t frames_rendered() const { return statistics_.rendered(); }
  int64_t frames_dropped() const { return frames_dropped_.load(); }
  // Frames taken from the input so far, drawn or dropped.
  int64_t frames_read() const { return frames_read_.load(); }
  int64_t surfaces_recreated() const { return surface_epoch_.load() / 2; }
  int64_t scale_changes() const { return scale_changes_.load(); }
  // What the window's renderers told: first frames (one per surface), and
  // changes of the frames' and of the surface's size.
  int64_t first_frames() const { return settings_.events().first_frames.load(); }
  int64_t frame_size_changes() const { return settings_.events().frame_size_changes.load(); }
  int64_t surface_size_changes() const { return settings_.events().surface_size_changes.load(); }
  bool finished() const { return finished_.load(); }
  bool closed() const { return closed_.load(); }
  bool paused() const { return paused_.load(); }
  // The time of the frame on show in the input, and the input's length (0
  // when it does not say), in seconds.
  double position() const { return position_us_.load() / 1e6; }
  double duration() const { return duration_; }
  // After Join: the input was cut, damaged (frames its decoder skipped),
  // could not be read, or (a pipe) ran out before a timed play was over.
  bool truncated() const { return reader_.truncated(); }
  // After Join: the window's own rate, frames drawn per second from its
  // first frame to its last, pauses left out; 0 with fewer than two frames.
  double fps() const { return statistics_.fps(); }
  // After Join: when the first frame had been drawn (engine::MonotonicNanos;
  // 0 when none was), and how much the times between frames reaching the
  // window strayed from the times planned between them (or, played as fast
  // as possible, from their mean): the standard deviation, in ms.
  int64_t first_drawn_ns() const { return statistics_.first_drawn_ns(); }
  double frame_jitter_ms() const { return statistics_.jitter_ms(); }
  std::vector<CaptureResult> captures() { return captures_.results(); }
  PeriodicCaptures periodic_captures() { return captures_.periodic(); }

 private:
  // How a wait for a frame's turn ended: its time came, a step asked for it
  // at once, or a seek replaced it.
  enum class Turn { kDue, kStep, kSought };

  // The waits and what they call take the wake-up lock only to sleep; a
  // frame is drawn, and the hold's lock taken, with it given up.
  void Run() RTC_EXCLUDES(wake_mutex_);
  void Wake() RTC_EXCLUDES(wake_mutex_);
  Turn WaitForTurn() RTC_EXCLUDES(wake_mutex_);
  int64_t WaitWhilePaused() RTC_EXCLUDES(wake_mutex_);
  void Schedule(double timestamp, double duration);
  void HoldLastFrame();
  void KeepFrameOnShow();
  bool DoSeek(int64_t by_ms);
  void Redraw() RTC_EXCLUDES(wake_mutex_);
  engine::VideoFrame* FrameOnShow() const;
  void Present(int64_t frame_number, bool again = false) RTC_EXCLUDES(wake_mutex_);
  // Gives `frame` to the window's renderer `render`, held; `due_ns`: when it
  // was due (engine::MonotonicNanos), 0 for now.
  void Hand(rtc::IVideoRender* render, engine::VideoFrame* frame, int64_t due_ns)
      RTC_REQUIRES(hold_.mutex());
  rtc::IVideoRender* RendererLocked(const engine::ColorDescription& color)
      RTC_REQUIRES(hold_.mutex());
  int ModuleCaptureResult(const std::string& path);
  bool LostToRecreation(int64_t epoch_before) const;

  const std::string id_;
  std::unique_ptr<engine::VideoSource> source_;
  const Options options_;
  // Frames at their own times (a container's), or evenly spaced at fps_.
  const bool by_timestamps_;
  double fps_ = 30;
  int64_t interval_ns_ = 0;  // one frame at fps_: later than this, a frame is dropped
  const double duration_;
  InputReader reader_;

  // The window's renderer, taken and used on the engine thread only.
  engine::EngineHold hold_;
  // Gone before the hold: the events listener is taken off while the
  // renderer is still held.
  WindowSettings settings_;
  CaptureQueue captures_;

  // What the engine's waits wake for: a stop, a pause, a seek or, while
  // paused, a request or a step (the flags below).
  rtc::Mutex wake_mutex_;
  std::condition_variable wake_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> closed_{false};
  std::atomic<bool> paused_{false};
  std::atomic<bool> step_{false};
  std::atomic<bool> seek_{false};
  std::atomic<int64_t> seek_by_ms_{0};
  std::atomic<bool> fill_black_{false};
  std::atomic<bool> redraw_{false};  // while paused: a request to act on
  std::atomic<bool> finished_{false};
  std::atomic<int64_t> scale_changes_{0};
  std::atomic<int64_t> surface_epoch_{0};  // odd while a recreation is under way
  std::atomic<int64_t> frames_dropped_{0};
  std::atomic<int64_t> frames_read_{0};
  std::atomic<int64_t> position_us_{0};

  // Engine thread only (some read after Join).
  // When each frame is due (evenly spaced, or at its own times).
  FrameSchedule schedule_{0};
  bool said_jump_ = false;  // a jump in the input's times was said
  double shown_ts_ = 0;     // the time of the frame on show
  // While the next frame is read ahead of its time: the frame on show.
  std::unique_ptr<engine::VideoFrame> on_show_;
  bool said_seek_failure_ = false;
  int64_t due_ns_ = 0;  // when the frame being drawn was due; 0 unpaced
  FrameStatistics statistics_;
  std::function<void()> on_finished_;
  std::thread thread_;
};

}  // namespace player

#endif  // TOOLS_PLAYER_WINDOW_ENGINE_H_
