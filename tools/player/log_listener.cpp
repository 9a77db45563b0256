#include "log_listener.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "engine/clock.h"

namespace player {

namespace {

constexpr int64_t kSecond = 1000000000;

// N when `line` is the module's own "N lines dropped" announcement, after
// its prefix and location; else 0.
long long DroppedCount(const std::string& line) {
  static const std::string kLocation = "(quon_render_logfile.cpp:", kTail = " lines dropped\n";
  const size_t at = line.find(kLocation);
  if (at == std::string::npos || line.size() < kTail.size() ||
      line.compare(line.size() - kTail.size(), kTail.size(), kTail) != 0)
    return 0;
  const size_t count = line.find("): ", at);
  return count == std::string::npos ? 0 : strtoll(line.c_str() + count + 3, nullptr, 10);
}

}  // namespace

LogListener::LogListener(const std::string& path, bool append, int delay_ms)
    : delay_ms_(delay_ms),
      file_(path.empty() ? nullptr : fopen(path.c_str(), append ? "a" : "w")) {}

LogListener::~LogListener() {
  if (file_ != nullptr)
    fclose(file_);
}

void LogListener::OnRenderLog(std::string line) {
  if (delay_ms_ > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms_));
  rtc::MutexLock lock(&mutex_);
  ++lines_;
  dropped_ += DroppedCount(line);
  if (file_ == nullptr)
    return;
  fputs(line.c_str(), file_);
  const int64_t now = engine::MonotonicNanos();
  if (now - last_flush_ns_ >= kSecond)
    FlushLocked(now);
}

long long LogListener::lines() {
  rtc::MutexLock lock(&mutex_);
  return lines_;
}

long long LogListener::dropped() {
  rtc::MutexLock lock(&mutex_);
  return dropped_;
}

bool LogListener::Flush() {
  rtc::MutexLock lock(&mutex_);
  if (file_ != nullptr)
    FlushLocked(engine::MonotonicNanos());
  return file_ == nullptr || ferror(file_) == 0;
}

bool LogListener::StillAt(const std::string& path) {
  rtc::MutexLock lock(&mutex_);
  struct stat written, there;
  return file_ == nullptr ||
         (fstat(fileno(file_), &written) == 0 && stat(path.c_str(), &there) == 0 &&
          written.st_dev == there.st_dev && written.st_ino == there.st_ino);
}

void LogListener::FlushLocked(int64_t now) {
  fflush(file_);
  last_flush_ns_ = now;
}

}  // namespace player
