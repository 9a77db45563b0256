#include "window_engine.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>
#include <chrono>

#include "checks.h"
#include "frame_schedule.h"
#include "engine/clock.h"
#include "input.h"
#include "messages.h"
#include "quon_renderManager.h"
#include "rtc_base/mutex.h"

namespace player {

namespace {

constexpr int64_t kNanosPerSecond = 1000000000;
constexpr int64_t kPatternFrames = 150;

// How long a still image is shown.
constexpr int64_t kStillImageNs = kNanosPerSecond;

// Frames of all windows are drawn one at a time. Mesa's llvmpipe (22.3)
// reads freed memory when two threads draw and swap with their own
// contexts at the same time, and crashes now and then; drawing in turn is
// safe, also while the UI thread builds and tears down other contexts.
rtc::Mutex& FrameMutex() {
  static rtc::Mutex* const mutex = new rtc::Mutex;
  return *mutex;
}

}  // namespace

WindowEngine::WindowEngine(std::string id, std::unique_ptr<engine::VideoSource> source,
                           const Options& options, bool takes_captures)
    : id_(std::move(id)),
      source_(std::move(source)),
      options_(options),
      by_timestamps_(options.by_timestamps),
      duration_(source_->duration()),
      reader_(id_, source_.get(), options_, takes_captures),
      settings_(id_, options, source_->rotation()),
      captures_(id_, options, takes_captures) {
  if (options_.fps >= 0)
    fps_ = options_.fps;
  else if (source_->fps() > 0)
    fps_ = source_->fps();
  interval_ns_ = fps_ > 0 ? static_cast<int64_t>(kNanosPerSecond / fps_) : 0;
  schedule_ = FrameSchedule(interval_ns_);
  // Before the first frame: where the input starts (--start).
  shown_ts_ = source_->timestamp();
  position_us_ = llround(shown_ts_ * 1e6);
}

// The hold, destroyed after the engine thread ended, leaves the renderer;
// the settings before it take the events listener off.
WindowEngine::~WindowEngine() {
  Stop();
  Join();
}

void WindowEngine::Start(std::function<void()> on_finished) {
  on_finished_ = std::move(on_finished);
  thread_ = std::thread([this] { Run(); });
}

void WindowEngine::Join() {
  if (thread_.joinable())
    thread_.join();
}

void WindowEngine::RequestCapture(const std::string& extension) {
  captures_.Request(extension);
  redraw_ = true;
  Wake();
}

void WindowEngine::RequestFillBlack() {
  fill_black_ = true;
  redraw_ = true;
  Wake();
}

void WindowEngine::RequestRedraw() {
  redraw_ = true;
  Wake();
}

void WindowEngine::TogglePause() {
  paused_ = !paused_;
  Wake();
}

void WindowEngine::Step() {
  step_ = true;
  paused_ = true;
  Wake();
}

void WindowEngine::SeekBy(double seconds) {
  seek_by_ms_ += llround(seconds * 1000);
  seek_ = true;
  Wake();
}

void WindowEngine::Stop() {
  stop_ = true;
  Wake();
}

void WindowEngine::Close() {
  closed_ = true;
  Stop();
}

// The flags are set before the waiter's lock is taken here, so a waiter
// either sees them when it checks or is already waiting for this call.
void WindowEngine::Wake() {
  { rtc::MutexLock lock(&wake_mutex_); }
  wake_.notify_all();
}

// The engine thread gives the renderer the new type before it draws next;
// paused, it draws the held frame again with it.
void WindowEngine::SetScale(int type) {
  settings_.SetScale(type);
  redraw_ = true;
  Wake();
}

void WindowEngine::ToggleMirror() {
  settings_.ToggleMirror();
  redraw_ = true;
  Wake();
}

void WindowEngine::RotateBy90() {
  settings_.RotateBy90();
  redraw_ = true;
  Wake();
}

void WindowEngine::RecreateSurface(const std::function<void()>& recreate) {
  ++surface_epoch_;
  recreate();
  ++surface_epoch_;
}

// The window's renderer, taken when the surface came (back), with the
// window's settings: a fresh renderer starts at its defaults, not at the
// window's scale type and the frames' colours. Null while the window has
// no surface. Call with the hold's lock held.
rtc::IVideoRender* WindowEngine::RendererLocked(const engine::ColorDescription& color) {
  rtc::IVideoRender* render = hold_.HeldLocked(id_);
  if (render != nullptr)
    settings_.ApplyTo(hold_.observed(), color);
  return render;
}

void WindowEngine::Run() {
  const int64_t limit = options_.frames > 0                           ? options_.frames
                        : options_.input.empty() && !options_.Loops() ? kPatternFrames
                                                                      : INT64_MAX;
  reader_.SayNotes();
  const bool paced = fps_ > 0;
  bool read_ahead = false;  // the next frame is scheduled (by timestamps: read) and waits
  bool ended = false;       // the input, or --frames, came to its end
  for (int64_t index = 0; !stop_;) {
    if (index >= limit) {
      ended = true;
      break;
    }
    // Evenly spaced frames are read only once their time has come, so that
    // while the engine waits (or is paused) the source still holds the frame
    // on show. A frame's own time is known only once it is read: it is read
    // ahead, and the frame on show kept meanwhile.
    if (!read_ahead) {
      if (by_timestamps_) {
        KeepFrameOnShow();
        if (!reader_.Next()) {
          ended = true;
          break;
        }
        Schedule(source_->timestamp(), source_->frame_duration());
      } else {
        Schedule(static_cast<double>(index) * interval_ns_ / 1e9, interval_ns_ / 1e9);
      }
      read_ahead = true;
    }
    const Turn turn = WaitForTurn();
    if (stop_)
      break;
    if (turn == Turn::kSought) {
      read_ahead = false;  // the sought frame is read next
      continue;
    }
    if (!by_timestamps_ && !reader_.Next()) {
      ended = true;
      break;
    }
    read_ahead = false;
    on_show_.reset();
    ++frames_read_;
    if (options_.cycle_scale > 0 && (index + 1) % options_.cycle_scale == 0) {
      SetScale(settings_.scale() % 3 + 1);
      ++scale_changes_;
    }
    const bool timed = paced && turn == Turn::kDue;
    // More than one interval late: dropped instead of drawn, so that a slow
    // window catches up (never the first, nor many in a row).
    if (timed && schedule_.TooLate(engine::MonotonicNanos()) && !captures_.Due(index + 1)) {
      schedule_.Dropped();
      ++frames_dropped_;
      ++index;
      continue;
    }
    const bool first = !schedule_.started();
    if (paced)
      schedule_.Shown(engine::MonotonicNanos());
    due_ns_ = timed ? schedule_.due_ns() : 0;
    Present(index + 1);
    shown_ts_ = source_->timestamp();
    const double position = by_timestamps_ || source_->has_timestamps() ? shown_ts_
                            : fps_ > 0 ? static_cast<double>(index) / fps_
                                       : 0;
    position_us_ = llround(position * 1e6);
    // The first frame's time on the window starts when it gets there:
    // setting up the surface must not make the next frames late (nor count
    // in the window's rate).
    if (paced && first) {
      schedule_.RestartAt(engine::MonotonicNanos());
      if (statistics_.rendered() == 1)
        statistics_.RestartSpanAt(schedule_.due_ns());
    }
    ++index;
  }
  if (ended && paced && !stop_)
    HoldLastFrame();
  reader_.SayDamage();
  finished_ = true;
  if (on_finished_)
    on_finished_();
}

// Gives the schedule the next frame, and says the first jump in the
// input's times, which is played across at the frames' pace.
void WindowEngine::Schedule(double timestamp, double duration) {
  if (reader_.TakeLooped())
    schedule_.Restart(/*at_once=*/false);
  const double jump = schedule_.Next(timestamp, duration, engine::MonotonicNanos());
  if (jump == 0 || said_jump_)
    return;
  said_jump_ = true;
  char seconds[32];
  snprintf(seconds, sizeof seconds, fabs(jump) >= 10 ? "%.0f" : "%.1f", fabs(jump));
  Say(stderr, id_ + ": timestamps jump " + (jump < 0 ? "back " : "") + "by " + seconds +
                  " s after frame " + std::to_string(frames_read_.load()));
}

// The last frame stays on show for its length: its own, or a frame's at
// the rate played; a still image (an input of one frame and no stated
// length) a second.
void WindowEngine::HoldLastFrame() {
  if (statistics_.rendered() == 0)
    return;
  int64_t end = schedule_.shown_end_ns();
  if (by_timestamps_ && frames_read_ == 1 && source_->duration() <= 0)
    end = schedule_.shown_due_ns() + kStillImageNs;
  schedule_.WaitFor(end);
  WaitForTurn();
}

// A reference on the frame on show (a decoder's), or a copy (the source
// reuses its own), before the source moves on to the next.
void WindowEngine::KeepFrameOnShow() {
  on_show_.reset();
  if (statistics_.rendered() == 0)
    return;
  rtc::IVideoFrame* clone = source_->frame()->Clone();
  on_show_.reset(dynamic_cast<engine::VideoFrame*>(clone));
  if (!on_show_)
    delete clone;
}

engine::VideoFrame* WindowEngine::FrameOnShow() const {
  return on_show_ ? on_show_.get() : source_->frame();
}

// Waits until frame `index` is due, and out any pause: the frames' times
// move on by the pause, so none falls due during it. A stop ends the wait
// at once, however long the interval; a seek ends it with the sought frame
// to read, a step (paused) with the frame to show now.
WindowEngine::Turn WindowEngine::WaitForTurn() {
  while (!stop_) {
    if (seek_.exchange(false)) {
      if (DoSeek(seek_by_ms_.exchange(0)))
        return Turn::kSought;
      continue;
    }
    if (paused_) {
      if (step_.exchange(false)) {
        statistics_.BreakTiming();
        return Turn::kStep;
      }
      schedule_.Delay(WaitWhilePaused());
      continue;
    }
    const int64_t wait = fps_ > 0 ? schedule_.due_ns() - engine::MonotonicNanos() : 0;
    if (wait <= 0)
      return Turn::kDue;
    rtc::MutexLock lock(&wake_mutex_);
    wake_mutex_.AwaitFor(wake_, std::chrono::nanoseconds(wait),
                         [this] { return stop_ || paused_ || seek_; });
  }
  return Turn::kDue;
}

// Acts on the requests made while paused, as they come, until the pause
// ends or a seek or a step needs the engine. Returns how long it waited.
int64_t WindowEngine::WaitWhilePaused() {
  const int64_t paused_at = engine::MonotonicNanos();
  // Redrawn with the lock given up: a request made meanwhile wakes the next
  // wait at once.
  while (paused_ && !stop_ && !seek_ && !step_) {
    if (redraw_.exchange(false)) {
      Redraw();
      continue;
    }
    rtc::MutexLock lock(&wake_mutex_);
    wake_mutex_.Await(wake_, [this] { return !paused_ || stop_ || redraw_ || seek_ || step_; });
  }
  const int64_t paused = engine::MonotonicNanos() - paused_at;
  statistics_.AddPause(paused);
  return paused;
}

// From the frame on show; the next read gives the sought frame, which a
// paused window shows at once, as a step does. False when the input cannot
// seek (said once) or the seek failed.
bool WindowEngine::DoSeek(int64_t by_ms) {
  if (by_ms == 0)
    return false;
  if (!source_->Seek(std::max(0.0, shown_ts_ + by_ms / 1000.0))) {
    if (!said_seek_failure_)
      Say(stderr, id_ + ": " + source_->error());
    said_seek_failure_ = true;
    return false;
  }
  on_show_.reset();
  schedule_.Restart(/*at_once=*/true);
  statistics_.BreakTiming();
  shown_ts_ = source_->timestamp();
  position_us_ = llround(shown_ts_ * 1e6);
  if (paused_)
    step_ = true;
  return true;
}

// While paused: the held frame drawn again (a scale change, a resize, an
// expose, a key's capture), or the window filled black, which stays
// until the play resumes.
void WindowEngine::Redraw() {
  Present(frames_read_.load(), /*again=*/true);
}

// Draws frame `frame_number`, the frame on show: a new one, or `again`,
// the held one while paused (captured only for a key: the others
// had their turn when it was new).
void WindowEngine::Present(int64_t frame_number, bool again) {
  CaptureKind kind = CaptureKind::kNone;
  std::string capture_path;
  if (!again)
    capture_path = captures_.PathFor(frame_number, &kind);
  else if (frame_number > 0)
    capture_path = captures_.TakeKey(frame_number, &kind);
  const int64_t epoch = surface_epoch_.load();
  int capture_error = -1;  // the module's result: 0 written, an errno value, -1 not taken
  {
    // The turn is taken before the hold's lock, so that the UI thread, whose
    // OnDestroy needs that lock, never waits behind other windows' frames.
    rtc::MutexLock frame(&FrameMutex());
    rtc::MutexLock lock(&hold_.mutex());
    engine::VideoFrame* on_show = FrameOnShow();
    rtc::IVideoRender* render = RendererLocked(on_show->color());
    if (render == nullptr) {
      if (!again)
        ++frames_dropped_;  // no surface right now
    } else {
      const bool black = fill_black_.exchange(false);
      if (black)
        render->FillBlack();
      if (!capture_path.empty()) {
        render->EnableCapture(true);
        render->CaptureImage(capture_path, options_.quality);
      }
      const int64_t handed_ns = engine::MonotonicNanos();
      // Drawn again, black stays black unless a capture needs the frame.
      if (frame_number > 0 && !(again && black && capture_path.empty()))
        Hand(render, on_show, again ? 0 : due_ns_);
      capture_error = ModuleCaptureResult(capture_path);
      if (!again) {
        // On show from when it was due, unless it came later than a frame
        // late (a capture's frame is never dropped): then from when it came.
        statistics_.Count(due_ns_ > 0 && handed_ns - due_ns_ <= interval_ns_ ? due_ns_ : handed_ns);
        redraw_ = false;
        statistics_.Time(engine::MonotonicNanos(), due_ns_);
      }
    }
  }
  if (!capture_path.empty())
    captures_.Record(capture_path, frame_number, kind, capture_error < 0 && LostToRecreation(epoch),
                     capture_error);
}

// An I420 frame goes through the renderer's RenderFrame, as an engine's
// frames always have. A decoder's NV12 or NV21 frame goes as it is, by its
// description: its planes and strides, its colours, and as its capture time
// its time in the stream as the play's clock has it (when it was due; 0, the
// push, when unpaced or drawn again): no conversion on the CPU.
void WindowEngine::Hand(rtc::IVideoRender* render, engine::VideoFrame* frame, int64_t due_ns) {
  if (frame->layout() == kFrameLayoutI420) {
    render->RenderFrame(frame);
    return;
  }
  FrameDescription description = frame->Describe();
  description.captureTimeUs = due_ns / 1000;
  std::string id = id_;
  PluginManager::GetInstance()->PushFrame(id, &description);
}

// What the module says of the capture armed for `path`: 0 when its file was
// written, the errno value of why not, -1 when it was not taken (no frame
// reached the renderer, or it is another's result).
int WindowEngine::ModuleCaptureResult(const std::string& path) {
  if (path.empty())
    return -1;
  std::string taken;
  int error = 0;
  std::string id = id_;
  if (!PluginManager::GetInstance()->LastCaptureResult(id, &taken, &error) || taken != path)
    return -1;
  return error;
}

// A recreation was under way when the capture began, or started since: the
// surface, and with it the armed capture, may have gone in between.
bool WindowEngine::LostToRecreation(int64_t epoch_before) const {
  return epoch_before % 2 != 0 || surface_epoch_.load() != epoch_before;
}

}  // namespace player
