#include "capture_queue.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <utility>

#include "messages.h"

namespace player {

CaptureQueue::CaptureQueue(std::string id, const Options& options, bool takes_captures)
    : id_(std::move(id)),
      captures_asked_(takes_captures ? options.captures : std::vector<Capture>()),
      capture_every_(options.capture_every),
      capture_dir_(options.capture_dir) {}

void CaptureQueue::Request(const std::string& extension) {
  rtc::MutexLock lock(&mutex_);
  requested_.push_back(extension);
}

bool CaptureQueue::Due(int64_t frame_number) {
  if (capture_every_ > 0 && frame_number % capture_every_ == 0)
    return true;
  rtc::MutexLock lock(&mutex_);
  if (!requested_.empty())
    return true;
  for (const Capture& capture : captures_asked_)
    if (capture.frame == frame_number)
      return true;
  return false;
}

std::string CaptureQueue::PathFor(int64_t frame_number, CaptureKind* kind) {
  *kind = CaptureKind::kRequested;
  for (const Capture& capture : captures_asked_)
    if (capture.frame == frame_number)
      return capture.path;
  rtc::MutexLock lock(&mutex_);
  *kind = CaptureKind::kKey;
  if (!requested_.empty())
    return TakeKeyLocked(frame_number);
  if (capture_every_ > 0 && frame_number % capture_every_ == 0) {
    *kind = CaptureKind::kPeriodic;
    const char* extension = periodic_bmp_next_ ? "bmp" : "jpg";
    return capture_dir_ + "/" + id_ + "." + extension;
  }
  *kind = CaptureKind::kNone;
  return std::string();
}

std::string CaptureQueue::TakeKey(int64_t frame_number, CaptureKind* kind) {
  rtc::MutexLock lock(&mutex_);
  if (requested_.empty()) {
    *kind = CaptureKind::kNone;
    return std::string();
  }
  *kind = CaptureKind::kKey;
  return TakeKeyLocked(frame_number);
}

std::string CaptureQueue::TakeKeyLocked(int64_t frame_number) {
  const std::string path =
      "capture-" + id_ + "-" + std::to_string(frame_number) + "." + requested_.front();
  requested_.erase(requested_.begin());
  return path;
}

void CaptureQueue::Record(const std::string& path, int64_t frame_number, CaptureKind kind,
                          bool skipped, int error) {
  struct stat info;
  const long long bytes =
      error == 0 ? (stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0) : -1;
  if (kind != CaptureKind::kPeriodic) {
    std::string why;
    if (error > 0)
      why = strerror(error);
    else if (error < 0 && !skipped)
      why = "the frame never reached the renderer";
    // A key's capture has no place in the summary: say at once where it went.
    if (kind == CaptureKind::kKey && bytes >= 0)
      Say(stdout, "capture " + path + " (frame " + std::to_string(frame_number) + ", " +
                      std::to_string(bytes) + " bytes)");
    rtc::MutexLock lock(&mutex_);
    results_.push_back({path, frame_number, bytes, skipped, why, kind == CaptureKind::kKey});
    return;
  }
  const bool written = error == 0;
  if (!written && !skipped)
    Say(stderr,
        id_ + ": capture of frame " + std::to_string(frame_number) + " to " + path +
            " failed: " + (error > 0 ? strerror(error) : "the frame never reached the renderer"));
  if (!skipped)
    periodic_bmp_next_ = !periodic_bmp_next_;
  rtc::MutexLock lock(&mutex_);
  if (written)
    ++periodic_.written;
  else if (skipped)
    ++periodic_.skipped;
  else
    ++periodic_.failed;
}

std::vector<CaptureResult> CaptureQueue::results() {
  rtc::MutexLock lock(&mutex_);
  return results_;
}

PeriodicCaptures CaptureQueue::periodic() {
  rtc::MutexLock lock(&mutex_);
  return periodic_;
}

}  // namespace player
