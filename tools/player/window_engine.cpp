#include "window_engine.h"

#include <stdio.h>
#include <sys/stat.h>

#include <chrono>

#include "quon_renderManager.h"
#include "rtc_base/timeutils.h"

namespace player {

namespace {

constexpr int64_t kNanosPerSecond = 1000000000;
constexpr int64_t kPatternFrames = 150;

long long FileSize(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

}  // namespace

WindowEngine::WindowEngine(std::string id, std::unique_ptr<engine::VideoSource> source,
                           const Options& options, bool takes_captures)
    : id_(std::move(id)), source_(std::move(source)), options_(options),
      takes_captures_(takes_captures) {
  if (options_.fps >= 0)
    fps_ = options_.fps;
  else if (source_->fps() > 0)
    fps_ = source_->fps();
}

WindowEngine::~WindowEngine() {
  Stop();
  Join();
  std::lock_guard<std::mutex> lock(render_mutex_);
  if (render_ != nullptr)
    render_->RemoveObserver(this);
}

void WindowEngine::Start() {
  thread_ = std::thread([this] { Run(); });
}

void WindowEngine::Join() {
  if (thread_.joinable())
    thread_.join();
}

void WindowEngine::RequestCapture(const std::string& extension) {
  std::lock_guard<std::mutex> lock(captures_mutex_);
  requested_captures_.push_back(extension);
}

std::vector<CaptureResult> WindowEngine::captures() {
  std::lock_guard<std::mutex> lock(captures_mutex_);
  return captures_;
}

void WindowEngine::OnDestroy(rtc::DestroyNotify* notify) {
  std::lock_guard<std::mutex> lock(render_mutex_);
  if (render_ == notify)
    render_ = nullptr;
}

// Looked up again after the surface went away and came back. Must be
// called with render_mutex_ held.
rtc::IVideoRender* WindowEngine::Renderer() {
  if (render_ == nullptr) {
    std::string id = id_;
    render_ = PluginManager::GetInstance()->FindRender(id);
    if (render_ != nullptr)
      render_->AddObserver(this);
  }
  return render_;
}

void WindowEngine::Run() {
  const int64_t limit = options_.frames > 0 ? options_.frames
                        : options_.input.empty() ? kPatternFrames
                                                 : INT64_MAX;
  const int64_t start_ns = rtc::MonotonicNanos();
  for (int64_t index = 0; index < limit && !stop_; ++index) {
    while (paused_ && !stop_)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!NextFrame())
      break;
    if (!Pace(index, start_ns) && !CaptureDue(index + 1)) {
      ++frames_dropped_;
      continue;
    }
    Present(index + 1);
  }
  finished_ = true;
}

bool WindowEngine::NextFrame() {
  engine::VideoSource::Status status = source_->Next();
  if (status != engine::VideoSource::Status::kFrame && options_.loop && source_->frames_read() > 0 &&
      status != engine::VideoSource::Status::kError && source_->Rewind())
    status = source_->Next();
  switch (status) {
    case engine::VideoSource::Status::kFrame:
      return true;
    case engine::VideoSource::Status::kTruncated:
      truncated_ = true;
      fprintf(stderr, "%s: input ends inside frame %lld: stopped after %lld whole frames\n",
              id_.c_str(), static_cast<long long>(source_->frames_read() + 1),
              static_cast<long long>(source_->frames_read()));
      return false;
    case engine::VideoSource::Status::kError:
      truncated_ = true;
      fprintf(stderr, "%s: %s\n", id_.c_str(), source_->error().c_str());
      return false;
    case engine::VideoSource::Status::kEnd:
      return false;
  }
  return false;
}

// Waits until the frame's time. False for a frame more than one interval
// late: it is dropped instead of drawn, so a slow window catches up.
bool WindowEngine::Pace(int64_t index, int64_t start_ns) {
  if (fps_ <= 0)
    return true;
  const double interval = kNanosPerSecond / fps_;
  const int64_t due = start_ns + static_cast<int64_t>(index * interval);
  const int64_t now = rtc::MonotonicNanos();
  if (now < due)
    std::this_thread::sleep_for(std::chrono::nanoseconds(due - now));
  return now <= due + static_cast<int64_t>(interval);
}

bool WindowEngine::CaptureDue(int64_t frame_number) {
  std::lock_guard<std::mutex> lock(captures_mutex_);
  if (!requested_captures_.empty())
    return true;
  for (const Capture& capture : options_.captures)
    if (takes_captures_ && capture.frame == frame_number)
      return true;
  return false;
}

void WindowEngine::Present(int64_t frame_number) {
  std::string capture_path;
  {
    std::lock_guard<std::mutex> lock(captures_mutex_);
    if (takes_captures_) {
      for (const Capture& capture : options_.captures)
        if (capture.frame == frame_number)
          capture_path = capture.path;
    }
    if (capture_path.empty() && !requested_captures_.empty()) {
      capture_path = "capture-" + id_ + "-" + std::to_string(frame_number) + "." +
                     requested_captures_.front();
      requested_captures_.erase(requested_captures_.begin());
    }
  }
  std::lock_guard<std::mutex> lock(render_mutex_);
  rtc::IVideoRender* render = Renderer();
  if (render == nullptr) {
    ++frames_dropped_;  // no surface right now
    return;
  }
  if (fill_black_.exchange(false))
    render->FillBlack();
  if (!capture_path.empty()) {
    remove(capture_path.c_str());  // so that a failed capture leaves no stale file
    render->EnableCapture(true);
    render->CaptureImage(capture_path, options_.quality);
  }
  render->RenderFrame(source_->frame());
  ++frames_rendered_;
  if (!capture_path.empty()) {
    std::lock_guard<std::mutex> captures_lock(captures_mutex_);
    captures_.push_back({capture_path, frame_number, FileSize(capture_path)});
  }
}

}  // namespace player
