#ifndef TOOLS_PLAYER_LOG_LISTENER_H_
#define TOOLS_PLAYER_LOG_LISTENER_H_

// The player's listener for the module's runtime log lines (--log,
// --log-append, --slow-listener).

#include <stdint.h>
#include <stdio.h>

#include <string>

#include "ILogRenderListener.h"
#include "rtc_base/mutex.h"
#include "rtc_base/thread_annotations.h"

namespace player {

// Receives the module's runtime log lines on the module's log thread:
// writes them to a file when it has one, as they come (flushed at least
// once a second, so that a killed run leaves what it had), and counts them.
// With a delay it is the slow listener of soak runs, the kind of host that
// must never hold up the threads that log.
class LogListener : public ILogRenderListener {
 public:
  // `path` empty: lines are counted, not written.
  LogListener(const std::string& path, bool append, int delay_ms);
  ~LogListener() override;
  LogListener(const LogListener&) = delete;
  LogListener& operator=(const LogListener&) = delete;

  // False when `path` could not be opened for writing.
  bool opened() const { return file_ != nullptr; }
  void OnRenderLog(std::string line) override RTC_EXCLUDES(mutex_);
  long long lines() RTC_EXCLUDES(mutex_);
  // Lines the module's queue dropped, as its announcements said.
  long long dropped() RTC_EXCLUDES(mutex_);
  // False once a write to the file failed.
  bool Flush() RTC_EXCLUDES(mutex_);
  // Whether the file written is still the one at `path`: a folder removed
  // during the play takes the file with it, though every write succeeds.
  bool StillAt(const std::string& path) RTC_EXCLUDES(mutex_);

 private:
  void FlushLocked(int64_t now) RTC_REQUIRES(mutex_);

  const int delay_ms_;
  rtc::Mutex mutex_;
  // Opened once; written, flushed and looked at under the lock.
  FILE* const file_;
  long long lines_ RTC_GUARDED_BY(mutex_) = 0;
  long long dropped_ RTC_GUARDED_BY(mutex_) = 0;
  int64_t last_flush_ns_ RTC_GUARDED_BY(mutex_) = 0;
};

}  // namespace player

#endif  // TOOLS_PLAYER_LOG_LISTENER_H_
