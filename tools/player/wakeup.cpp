#include "wakeup.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "engine/clock.h"

namespace player {

Wakeup::Wakeup() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    read_fd_ = fds[0];
    write_fd_ = fds[1];
  }
}

Wakeup::~Wakeup() {
  if (read_fd_ >= 0)
    close(read_fd_);
  if (write_fd_ >= 0)
    close(write_fd_);
}

// A full pipe already wakes the sleeper: a failed write loses nothing.
void Wakeup::Notify() const {
  const int saved = errno;
  if (write_fd_ >= 0) {
    const char byte = 1;
    ssize_t written = write(write_fd_, &byte, 1);
    (void)written;
  }
  errno = saved;
}

void Wakeup::WaitUntil(int64_t deadline_ns) {
  const int64_t wait_ns = std::max<int64_t>(deadline_ns - engine::MonotonicNanos(), 0);
  if (read_fd_ < 0) {  // no pipe: sleep in short steps
    const int64_t step = std::min<int64_t>(wait_ns, 10000000);
    const timespec pause = {0, static_cast<long>(step)};
    nanosleep(&pause, nullptr);
    return;
  }
  pollfd fd = {read_fd_, POLLIN, 0};
  const timespec timeout = {static_cast<time_t>(wait_ns / 1000000000),
                            static_cast<long>(wait_ns % 1000000000)};
  if (ppoll(&fd, 1, &timeout, nullptr) > 0) {
    char drain[64];
    while (read(read_fd_, drain, sizeof drain) > 0) {
    }
  }
}

}  // namespace player
