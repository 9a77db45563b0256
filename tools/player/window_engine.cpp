#include "window_engine.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <chrono>

#include "checks.h"
#include "engine/clock.h"
#include "input.h"
#include "quon_renderManager.h"

namespace player {

namespace {

constexpr int64_t kNanosPerSecond = 1000000000;
constexpr int64_t kPatternFrames = 150;

// Frames of all windows are drawn one at a time. Mesa's llvmpipe (22.3)
// reads freed memory when two threads draw and swap with their own
// contexts at the same time, and crashes now and then; drawing in turn is
// safe, also while the UI thread builds and tears down other contexts.
std::mutex& FrameMutex() {
  static std::mutex* const mutex = new std::mutex;
  return *mutex;
}

}  // namespace

WindowEngine::WindowEngine(std::string id, std::unique_ptr<engine::VideoSource> source,
                           const Options& options, bool takes_captures)
    : id_(std::move(id)),
      source_(std::move(source)),
      options_(options),
      takes_captures_(takes_captures),
      scale_(options.scale),
      input_rotation_(source_->rotation()),
      rotation_(options.rotation),
      mirror_(options.mirror) {
  events_.quiet = options_.quiet;
  if (options_.fps >= 0)
    fps_ = options_.fps;
  else if (source_->fps() > 0)
    fps_ = source_->fps();
  // The frames describe themselves as the renderer is told to draw them
  // (RendererLocked), so that a BMP capture, which the frame converts
  // itself, has the window's colours.
  source_->frame()->set_color(
      {ColorRange() == 1 ? engine::ColorRange::kLimited : engine::ColorRange::kFull,
       static_cast<engine::ColorMatrix>(options_.color_matrix)});
}

// The frames as they are coded: limited range unless the input or the user
// says full. 0 full, 1 limited, as the renderer takes it.
int WindowEngine::ColorRange() const {
  return options_.color_range >= 0 ? options_.color_range : (source_->full_range() ? 0 : 1);
}

// The hold, destroyed after the engine thread ended, leaves the renderer.
// The module keeps the events listener for the id: it is taken off before
// it goes, whether a renderer is left or not.
WindowEngine::~WindowEngine() {
  Stop();
  Join();
  std::string id = id_;
  PluginManager::GetInstance()->SetRenderEventListener(id, nullptr);
}

void WindowEngine::Events::OnFirstFrame(const std::string& id, int width, int height) {
  if (++first_frames == 1 && !quiet)
    fprintf(stderr, "%s: first frame on show (%dx%d)\n", id.c_str(), width, height);
}

void WindowEngine::Events::OnFrameSizeChanged(const std::string& id, int width, int height) {
  ++frame_size_changes;
  if (!quiet)
    fprintf(stderr, "%s: frames now %dx%d\n", id.c_str(), width, height);
}

void WindowEngine::Events::OnSurfaceSizeChanged(const std::string& id, int width, int height) {
  ++surface_size_changes;
  if (!quiet)
    fprintf(stderr, "%s: window now %dx%d\n", id.c_str(), width, height);
}

void WindowEngine::Start() {
  thread_ = std::thread([this] { Run(); });
}

void WindowEngine::Join() {
  if (thread_.joinable())
    thread_.join();
}

void WindowEngine::RequestCapture(const std::string& extension) {
  {
    std::lock_guard<std::mutex> lock(captures_mutex_);
    requested_captures_.push_back(extension);
  }
  redraw_ = true;
  Wake();
}

std::vector<CaptureResult> WindowEngine::captures() {
  std::lock_guard<std::mutex> lock(captures_mutex_);
  return captures_;
}

PeriodicCaptures WindowEngine::periodic_captures() {
  std::lock_guard<std::mutex> lock(captures_mutex_);
  return periodic_;
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
  { std::lock_guard<std::mutex> lock(wake_mutex_); }
  wake_.notify_all();
}

double WindowEngine::fps() const {
  const int64_t frames = frames_rendered_.load();
  return frames >= 2 && drawn_span_ns_ > 0 ? (frames - 1) * 1e9 / drawn_span_ns_ : 0;
}

// The engine thread gives the renderer the new type before it draws next;
// paused, it draws the held frame again with it.
void WindowEngine::SetScale(int type) {
  scale_ = type;
  redraw_ = true;
  Wake();
}

void WindowEngine::ToggleMirror() {
  mirror_ = !mirror_;
  redraw_ = true;
  Wake();
}

void WindowEngine::RotateBy90() {
  rotation_ = (rotation_.load() + 90) % 360;
  redraw_ = true;
  Wake();
}

void WindowEngine::RecreateSurface(const std::function<void()>& recreate) {
  ++surface_epoch_;
  recreate();
  ++surface_epoch_;
}

// The window's renderer, taken when the surface came (back), with the
// engine's settings: a fresh renderer starts at its defaults (fit), not at
// the window's scale type. Null while the window has no surface. Call with
// the hold's lock held.
rtc::IVideoRender* WindowEngine::RendererLocked() {
  rtc::IVideoRender* render = hold_.HeldLocked(id_);
  if (render == nullptr)
    return nullptr;
  PluginManager* manager = PluginManager::GetInstance();
  std::string id = id_;
  const int scale = scale_.load();
  if (applied_to_ != hold_.observed()) {
    applied_to_ = hold_.observed();
    manager->SetColorDescription(id, ColorRange(), options_.color_matrix);
    applied_scale_ = 0;
  }
  if (applied_scale_ != scale) {
    manager->SetScaleType(id, scale);
    applied_scale_ = scale;
  }
  // The module keeps these for the id across its renderers: told only
  // when they change.
  const int rotation = DisplayRotation(input_rotation_, rotation_.load());
  if (applied_rotation_ != rotation && manager->SetRotation(id, rotation))
    applied_rotation_ = rotation;
  const bool mirror = mirror_.load();
  if (applied_mirror_ != mirror && manager->SetMirror(id, mirror))
    applied_mirror_ = mirror;
  if (!listening_)
    listening_ = manager->SetRenderEventListener(id, &events_);
  return render;
}

void WindowEngine::Run() {
  const int64_t limit = options_.frames > 0                       ? options_.frames
                        : options_.input.empty() && !options_.Loops() ? kPatternFrames
                                                                      : INT64_MAX;
  int64_t start_ns = engine::MonotonicNanos();
  for (int64_t index = 0; index < limit; ++index) {
    // The frame is read only once its time has come, so that while the
    // engine waits (or is paused) the source still holds the frame on show.
    WaitForTurn(index, &start_ns);
    if (stop_ || !NextFrame())
      break;
    ++frames_read_;
    if (options_.cycle_scale > 0 && (index + 1) % options_.cycle_scale == 0) {
      SetScale(scale_.load() % 3 + 1);
      ++scale_changes_;
    }
    // More than one interval late: dropped instead of drawn, so that a slow
    // window catches up.
    const bool late = fps_ > 0 && engine::MonotonicNanos() > Due(index + 1, start_ns);
    if (late && !CaptureDue(index + 1)) {
      ++frames_dropped_;
      continue;
    }
    due_ns_ = fps_ > 0 ? Due(index, start_ns) : 0;
    Present(index + 1);
    // The first frame's time on the window starts when it gets there:
    // setting up the surface must not make the next frames late (nor count
    // in the window's rate).
    if (index == 0 && fps_ > 0) {
      start_ns = engine::MonotonicNanos();
      if (frames_rendered_ == 1)
        first_frame_ns_ = start_ns;
    }
  }
  finished_ = true;
}

// When frame `index` (from 0) is due.
int64_t WindowEngine::Due(int64_t index, int64_t start_ns) const {
  return start_ns + static_cast<int64_t>(static_cast<double>(index) * (kNanosPerSecond / fps_));
}

// Waits until frame `index` is due, and out any pause: the frames' times
// move on by the pause, so none falls due during it. A stop ends the wait
// at once, however long the interval.
void WindowEngine::WaitForTurn(int64_t index, int64_t* start_ns) {
  while (!stop_) {
    if (paused_) {
      *start_ns += WaitWhilePaused();
      continue;
    }
    const int64_t wait = fps_ > 0 ? Due(index, *start_ns) - engine::MonotonicNanos() : 0;
    if (wait <= 0)
      return;
    std::unique_lock<std::mutex> lock(wake_mutex_);
    wake_.wait_for(lock, std::chrono::nanoseconds(wait), [this] { return stop_ || paused_; });
  }
}

// Acts on the requests made while paused, as they come. Returns how long
// the pause lasted.
int64_t WindowEngine::WaitWhilePaused() {
  const int64_t paused_at = engine::MonotonicNanos();
  std::unique_lock<std::mutex> lock(wake_mutex_);
  while (paused_ && !stop_) {
    if (redraw_.exchange(false)) {
      lock.unlock();
      Redraw();
      lock.lock();
      continue;
    }
    wake_.wait(lock, [this] { return !paused_ || stop_ || redraw_; });
  }
  const int64_t paused = engine::MonotonicNanos() - paused_at;
  paused_ns_ += paused;
  return paused;
}

// While paused: the held frame drawn again (a scale change, a resize, an
// expose, a key's capture), or the window filled black, which stays until
// the play resumes.
void WindowEngine::Redraw() {
  Present(frames_read_.load(), /*again=*/true);
}

bool WindowEngine::NextFrame() {
  engine::VideoSource::Status status = source_->Next();
  const bool cut = status == engine::VideoSource::Status::kTruncated;
  const long long whole = source_->frames_read();
  bool looped = false;
  if (status != engine::VideoSource::Status::kFrame && options_.Loops() && whole > 0 &&
      status != engine::VideoSource::Status::kError) {
    if (source_->Rewind()) {
      status = source_->Next();
      looped = true;
    } else if (status == engine::VideoSource::Status::kEnd) {
      truncated_ = true;
      fprintf(stderr,
              "%s: the input ended after %lld frames, before --duration, and a pipe"
              " cannot be read again\n",
              id_.c_str(), whole);
      return false;
    }
  }
  // A cut input is said once, looped or not (a loop plays its whole frames on).
  if (cut && !truncated_) {
    truncated_ = true;
    fprintf(stderr, "%s: input ends inside frame %lld: %s %lld whole frames\n", id_.c_str(),
            whole + 1, looped ? "looping its" : "stopped after", whole);
  }
  switch (status) {
    case engine::VideoSource::Status::kFrame:
      return true;
    case engine::VideoSource::Status::kTruncated:
      return false;  // said above
    case engine::VideoSource::Status::kError:
      truncated_ = true;
      fprintf(stderr, "%s: %s\n", id_.c_str(), source_->error().c_str());
      return false;
    case engine::VideoSource::Status::kEnd:
      return false;
  }
  return false;
}

// A new frame reached the window. Its time: when it was due, for a paced
// window (it is on show for its interval, drawn a moment late or not);
// otherwise when it was handed to the renderer.
void WindowEngine::CountFrame(int64_t frame_ns) {
  if (frames_rendered_ == 0) {
    first_frame_ns_ = frame_ns;
    paused_ns_ = 0;
  }
  drawn_span_ns_ = frame_ns - first_frame_ns_ - paused_ns_;
  ++frames_rendered_;
  redraw_ = false;
}

bool WindowEngine::CaptureDue(int64_t frame_number) {
  if (options_.capture_every > 0 && frame_number % options_.capture_every == 0)
    return true;
  std::lock_guard<std::mutex> lock(captures_mutex_);
  if (!requested_captures_.empty())
    return true;
  for (const Capture& capture : options_.captures)
    if (takes_captures_ && capture.frame == frame_number)
      return true;
  return false;
}

// The file the frame is to be captured to, if any. Periodic captures go to
// DIR/ID.jpg or DIR/ID.bmp; the module replaces a file only once the new one
// is complete, so each of the two always holds the last good capture.
std::string WindowEngine::CapturePath(int64_t frame_number, CaptureKind* kind) {
  *kind = CaptureKind::kRequested;
  std::lock_guard<std::mutex> lock(captures_mutex_);
  if (takes_captures_) {
    for (const Capture& capture : options_.captures)
      if (capture.frame == frame_number)
        return capture.path;
  }
  *kind = CaptureKind::kKey;
  if (!requested_captures_.empty())
    return TakeKeyCapture(frame_number);
  if (options_.capture_every > 0 && frame_number % options_.capture_every == 0) {
    *kind = CaptureKind::kPeriodic;
    const char* extension = periodic_bmp_next_ ? "bmp" : "jpg";
    return options_.capture_dir + "/" + id_ + "." + extension;
  }
  *kind = CaptureKind::kNone;
  return std::string();
}

// The file of the oldest key capture not yet taken; captures_mutex_ held.
std::string WindowEngine::TakeKeyCapture(int64_t frame_number) {
  const std::string path =
      "capture-" + id_ + "-" + std::to_string(frame_number) + "." + requested_captures_.front();
  requested_captures_.erase(requested_captures_.begin());
  return path;
}

// Draws frame `frame_number`, the source's current frame: a new one, or
// `again`, the held one while paused (captured only for a key: the others
// had their turn when it was new).
void WindowEngine::Present(int64_t frame_number, bool again) {
  CaptureKind kind = CaptureKind::kNone;
  std::string capture_path;
  if (!again) {
    capture_path = CapturePath(frame_number, &kind);
  } else if (frame_number > 0) {
    std::lock_guard<std::mutex> lock(captures_mutex_);
    if (!requested_captures_.empty()) {
      kind = CaptureKind::kKey;
      capture_path = TakeKeyCapture(frame_number);
    }
  }
  const int64_t epoch = surface_epoch_.load();
  int capture_error = -1;  // the module's result: 0 written, an errno value, -1 not taken
  {
    // The turn is taken before the hold's lock, so that the UI thread, whose
    // OnDestroy needs that lock, never waits behind other windows' frames.
    std::lock_guard<std::mutex> frame(FrameMutex());
    std::lock_guard<std::mutex> lock(hold_.mutex());
    rtc::IVideoRender* render = RendererLocked();
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
        render->RenderFrame(source_->frame());
      capture_error = ModuleCaptureResult(capture_path);
      if (!again)
        CountFrame(due_ns_ > 0 ? due_ns_ : handed_ns);
    }
  }
  if (!capture_path.empty())
    RecordCapture(capture_path, frame_number, kind, epoch, capture_error);
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

void WindowEngine::RecordCapture(const std::string& path, int64_t frame_number, CaptureKind kind,
                                 int64_t epoch_before, int error) {
  struct stat info;
  const long long bytes =
      error == 0 ? (stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0) : -1;
  const bool skipped = error < 0 && LostToRecreation(epoch_before);
  if (kind != CaptureKind::kPeriodic) {
    std::string why;
    if (error > 0)
      why = strerror(error);
    else if (error < 0 && !skipped)
      why = "the frame never reached the renderer";
    // A key's capture has no place in the summary: say at once where it went.
    if (kind == CaptureKind::kKey && bytes >= 0)
      printf("capture %s (frame %lld, %lld bytes)\n", path.c_str(),
             static_cast<long long>(frame_number), bytes);
    std::lock_guard<std::mutex> lock(captures_mutex_);
    captures_.push_back({path, frame_number, bytes, skipped, why, kind == CaptureKind::kKey});
    return;
  }
  const bool written = error == 0;
  if (!written && !skipped)
    fprintf(stderr, "%s: capture of frame %lld to %s failed: %s\n", id_.c_str(),
            static_cast<long long>(frame_number), path.c_str(),
            error > 0 ? strerror(error) : "the frame never reached the renderer");
  if (!skipped)
    periodic_bmp_next_ = !periodic_bmp_next_;
  std::lock_guard<std::mutex> lock(captures_mutex_);
  if (written)
    ++periodic_.written;
  else if (skipped)
    ++periodic_.skipped;
  else
    ++periodic_.failed;
}

}  // namespace player
