#ifndef TOOLS_PLAYER_LOG_LISTENER_H_
#define TOOLS_PLAYER_LOG_LISTENER_H_

// The player's listener for the module's runtime log lines (--log,
// --log-append, --slow-listener).

#include <stdint.h>
#include <stdio.h>

#include <mutex>
#include <string>

#include "ILogRenderListener.h"

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
  void OnRenderLog(std::string line) override;
  long long lines();
  // Lines the module's queue dropped, as its announcements said.
  long long dropped();
  // False once a write to the file failed.
  bool Flush();
  // Whether the file written is still the one at `path`: a folder removed
  // during the play takes the file with it, though every write succeeds.
  bool StillAt(const std::string& path);

 private:
  void FlushLocked(int64_t now);

  const int delay_ms_;
  std::mutex mutex_;
  FILE* file_ = nullptr;
  long long lines_ = 0;
  long long dropped_ = 0;
  int64_t last_flush_ns_ = 0;
};

}  // namespace player

#endif  // TOOLS_PLAYER_LOG_LISTENER_H_
