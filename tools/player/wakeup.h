#ifndef TOOLS_PLAYER_WAKEUP_H_
#define TOOLS_PLAYER_WAKEUP_H_

// What the player's main thread sleeps on between the play's timed tasks:
// an engine that finished, or a stop signal, wakes it at once. A pipe, so
// that a signal handler may wake it too.

#include <stdint.h>

namespace player {

class Wakeup {
 public:
  Wakeup();
  ~Wakeup();
  Wakeup(const Wakeup&) = delete;
  Wakeup& operator=(const Wakeup&) = delete;

  // Wakes the sleeper, or the next sleep if none is asleep. Safe in a
  // signal handler and on any thread.
  void Notify() const;
  // Sleeps until a Notify (one since the last sleep counts) or until
  // `deadline_ns` (engine::MonotonicNanos).
  void WaitUntil(int64_t deadline_ns);

 private:
  int read_fd_ = -1;
  int write_fd_ = -1;
};

}  // namespace player

#endif  // TOOLS_PLAYER_WAKEUP_H_
