#include "rtc_base/dispatcherwaiter.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "rtc_base/dispatcherlog_internal.h"
#include "rtc_base/logging.h"
#include "rtc_base/timeutils.h"

namespace rtc {

namespace {

// Level-triggered: a dispatcher that leaves data unread is told again.
uint32_t EpollMaskFor(uint32_t wanted) {
  return (WantsRead(wanted) ? EPOLLIN : 0u) | (WantsWrite(wanted) ? EPOLLOUT : 0u);
}

// The select-range warning keeps the location it was first logged with.
constexpr char kAddLogFile[] = "physicalsocketserver.cpp";

constexpr char kRemoveUnknown[] =
    "PhysicalSocketServer asked to remove a unknown dispatcher, potentially "
    "from a duplicate call to Add.";

constexpr int kEpollSizeHint = 1024;
constexpr size_t kInitialEpollEvents = 128;
constexpr size_t kMaxEpollEvents = 8192;

// Registers (EPOLL_CTL_ADD) or updates (EPOLL_CTL_MOD) the interest of
// `dispatcher` in `fd`; false with errno set on failure.
bool WatchWithEpoll(int epoll_fd, int op, int fd, Dispatcher* dispatcher) {
  epoll_event event = {};
  event.events = EpollMaskFor(dispatcher->WantedEvents());
  event.data.ptr = dispatcher;
  return epoll_ctl(epoll_fd, op, fd, &event) == 0;
}

bool InSelectRange(int fd) {
  return fd >= 0 && fd < FD_SETSIZE;
}

// Milliseconds left until `stop` on the monotonic clock, for waits resumed
// after EINTR or after delivering events. False once `stop` has passed.
bool RemainingUntil(int64_t stop, int* wait_ms) {
  const int64_t left = stop - MonotonicMillis();
  if (left < 0)
    return false;
  *wait_ms = static_cast<int>(std::min<int64_t>(left, INT_MAX));
  return true;
}

timeval AddTimeval(timeval a, const timeval& b) {
  a.tv_sec += b.tv_sec;
  a.tv_usec += b.tv_usec;
  if (a.tv_usec >= 1000000) {
    a.tv_sec += 1;
    a.tv_usec -= 1000000;
  }
  return a;
}

// stop - now into `left`; false when `stop` is not ahead.
bool TimevalLeft(const timeval& stop, timeval* left) {
  timeval now;
  gettimeofday(&now, nullptr);
  if (!timercmp(&stop, &now, >))
    return false;
  left->tv_sec = stop.tv_sec - now.tv_sec;
  left->tv_usec = stop.tv_usec - now.tv_usec;
  if (left->tv_usec < 0) {
    left->tv_sec -= 1;
    left->tv_usec += 1000000;
  }
  return true;
}

// What one system wait call's result means to the wait loops.
enum class WaitOutcome { kReady, kTimedOut, kInterrupted, kFailed };

// `result` is what the call returned; failures other than EINTR are logged
// with `call` at `log_line`.
WaitOutcome OutcomeOf(int result, int log_line, const char* call) {
  if (result > 0)
    return WaitOutcome::kReady;
  if (result == 0)
    return WaitOutcome::kTimedOut;
  const int error = errno;
  if (error == EINTR)
    return WaitOutcome::kInterrupted;  // wait again for what is left
  PSS_LOG_ERRNO(log_line, Error, error) << call;
  return WaitOutcome::kFailed;
}

}  // namespace

// --- Life and registration ---------------------------------------------------

DispatcherWaiter::DispatcherWaiter(EpollCreateFunction epoll_create_fn) {
  epoll_fd_ = (epoll_create_fn != nullptr ? epoll_create_fn : &::epoll_create)(kEpollSizeHint);
  if (epoll_fd_ == -1)
    PSS_LOG_ERRNO(1190, Warning, errno) << "epoll_create";
  wakeup_signaler_.reset(new Signaler(this, &keep_waiting_));
}

DispatcherWaiter::~DispatcherWaiter() {
  wakeup_signaler_.reset();  // removes itself, so before the lock goes
  if (epoll_fd_ != -1)
    close(epoll_fd_);
}

size_t DispatcherWaiter::dispatcher_count() {
  ScopedLock lock(&lock_);
  return dispatchers_.size() + pending_adds_.size() - pending_removes_.size();
}

void DispatcherWaiter::Add(Dispatcher* dispatcher) {
  ScopedLock lock(&lock_);
  if (!iterating_) {
    dispatchers_.insert(dispatcher);
  } else {
    pending_removes_.erase(dispatcher);
    pending_adds_.insert(dispatcher);
  }
  const int fd = dispatcher->Descriptor();
  if (epoll_fd_ == -1) {
    // select cannot watch it; say so once here rather than on every pass.
    if (fd != -1 && !InSelectRange(fd))
      LOG_AT(kAddLogFile, 301, Warning)
          << "descriptor " << fd << " is out of select's range; its events are not delivered";
    return;
  }
  if (fd != -1 && !WatchWithEpoll(epoll_fd_, EPOLL_CTL_ADD, fd, dispatcher))
    PSS_LOG_ERRNO(1551, Error, errno) << "epoll_ctl EPOLL_CTL_ADD";
}

void DispatcherWaiter::Remove(Dispatcher* dispatcher) {
  ScopedLock lock(&lock_);
  if (!iterating_) {
    if (dispatchers_.erase(dispatcher) == 0) {
      PSS_LOG(1286, Warning) << kRemoveUnknown;
      return;
    }
  } else if (pending_adds_.erase(dispatcher) != 0 || dispatchers_.count(dispatcher) != 0) {
    pending_removes_.insert(dispatcher);
  } else {
    PSS_LOG(1278, Warning) << kRemoveUnknown;
    return;
  }
  const int fd = dispatcher->Descriptor();
  if (epoll_fd_ == -1 || fd == -1)
    return;
  epoll_event event = {};
  if (epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, &event) == -1) {
    const int error = errno;
    // ENOENT: the descriptor was closed before its dispatcher went.
    if (error == ENOENT)
      PSS_LOG_ERRNO(1569, Verbose, error) << "epoll_ctl EPOLL_CTL_DEL";
    else
      PSS_LOG_ERRNO(1571, Error, error) << "epoll_ctl EPOLL_CTL_DEL";
  }
}

void DispatcherWaiter::UpdateInterest(Dispatcher* dispatcher) {
  if (epoll_fd_ == -1)
    return;
  ScopedLock lock(&lock_);
  if (dispatchers_.count(dispatcher) == 0)
    return;
  const int fd = dispatcher->Descriptor();
  if (fd == -1)
    return;
  interest_updates_.fetch_add(1, std::memory_order_relaxed);
  if (!WatchWithEpoll(epoll_fd_, EPOLL_CTL_MOD, fd, dispatcher))
    PSS_LOG_ERRNO(1590, Error, errno) << "epoll_ctl EPOLL_CTL_MOD";
}

// --- Waiting -----------------------------------------------------------------

bool DispatcherWaiter::Wait(int timeout_ms, bool process_io) {
  if (!process_io)
    return WaitWithPoll(timeout_ms, wakeup_signaler_.get());
  if (epoll_fd_ != -1)
    return WaitWithEpoll(timeout_ms);
  return WaitWithSelect(timeout_ms);
}

void DispatcherWaiter::WakeUp() {
  wakeup_signaler_->Raise();
}

bool DispatcherWaiter::WaitWithEpoll(int timeout_ms) {
  int wait = kForever;
  int64_t stop = 0;
  if (timeout_ms != kForever) {
    wait = timeout_ms;
    stop = MonotonicMillis() + timeout_ms;
  }
  if (epoll_events_.empty())
    epoll_events_.resize(kInitialEpollEvents);
  keep_waiting_ = true;
  for (;;) {
    const int n =
        epoll_wait(epoll_fd_, epoll_events_.data(), static_cast<int>(epoll_events_.size()), wait);
    const WaitOutcome outcome = OutcomeOf(n, 1620, "epoll");
    if (outcome == WaitOutcome::kFailed)
      return false;
    if (outcome == WaitOutcome::kTimedOut)
      return true;
    if (outcome == WaitOutcome::kReady)
      DeliverEpollResults(n);
    // A full array may have left events behind: make room for them.
    const size_t capacity = epoll_events_.size();
    if (n > 0 && static_cast<size_t>(n) == capacity && capacity < kMaxEpollEvents)
      epoll_events_.resize(std::max(capacity * 2, kMaxEpollEvents));
    if (timeout_ms != kForever && !RemainingUntil(stop, &wait))
      return true;
    if (!keep_waiting_)
      return true;
  }
}

void DispatcherWaiter::DeliverEpollResults(int count) {
  ScopedLock lock(&lock_);
  for (int i = 0; i < count; ++i) {
    const epoll_event& result = epoll_events_[i];
    auto* dispatcher = static_cast<Dispatcher*>(result.data.ptr);
    // An earlier handler of this pass may have removed (and freed) it.
    if (dispatchers_.count(dispatcher) == 0)
      continue;
    DeliverReadiness(dispatcher, (result.events & (EPOLLIN | EPOLLPRI)) != 0,
                     (result.events & EPOLLOUT) != 0,
                     (result.events & (EPOLLERR | EPOLLHUP | EPOLLRDHUP)) != 0);
  }
}

bool DispatcherWaiter::WaitWithSelect(int timeout_ms) {
  timeval interval = {0, 0};
  timeval* limit = nullptr;
  timeval stop = {0, 0};
  if (timeout_ms != kForever) {
    interval.tv_sec = timeout_ms / 1000;
    interval.tv_usec = (timeout_ms % 1000) * 1000;
    limit = &interval;
    timeval now;
    gettimeofday(&now, nullptr);
    stop = AddTimeval(now, interval);
  }
  fd_set read_set;
  fd_set write_set;
  keep_waiting_ = true;
  for (;;) {
    const int largest = FillSelectSets(&read_set, &write_set);
    const WaitOutcome outcome =
        OutcomeOf(select(largest + 1, &read_set, &write_set, nullptr, limit), 1468, "select");
    if (outcome == WaitOutcome::kFailed)
      return false;
    if (outcome == WaitOutcome::kTimedOut)
      return true;
    if (outcome == WaitOutcome::kReady)
      DeliverSelectResults(&read_set, &write_set);
    // Time is up even if descriptors stay ready: a dispatcher that leaves
    // its readiness unconsumed must not keep a timed wait going for ever.
    if (limit != nullptr && !TimevalLeft(stop, &interval))
      return true;
    if (!keep_waiting_)
      return true;
  }
}

// Rebuilt from nothing on every pass: bits left from a pass that was
// interrupted, or from a dispatcher removed meanwhile, would otherwise make
// select watch a descriptor nobody owns any more.
int DispatcherWaiter::FillSelectSets(fd_set* read_set, fd_set* write_set) {
  FD_ZERO(read_set);
  FD_ZERO(write_set);
  int largest = -1;
  ScopedLock lock(&lock_);
  for (Dispatcher* dispatcher : dispatchers_) {
    const int fd = dispatcher->Descriptor();
    if (!InSelectRange(fd))
      continue;
    largest = std::max(largest, fd);
    const uint32_t wanted = dispatcher->WantedEvents();
    if (WantsRead(wanted))
      FD_SET(fd, read_set);
    if (WantsWrite(wanted))
      FD_SET(fd, write_set);
  }
  return largest;
}

void DispatcherWaiter::DeliverSelectResults(fd_set* read_set, fd_set* write_set) {
  ScopedLock lock(&lock_);
  iterating_ = true;
  for (Dispatcher* dispatcher : dispatchers_) {
    // Removed by an earlier handler of this pass: it may be gone already.
    if (pending_removes_.count(dispatcher) != 0)
      continue;
    const int fd = dispatcher->Descriptor();
    bool readable = false;
    bool writable = false;
    if (InSelectRange(fd)) {
      readable = FD_ISSET(fd, read_set);
      writable = FD_ISSET(fd, write_set);
      // Two dispatchers on one descriptor: only the first is told.
      FD_CLR(fd, read_set);
      FD_CLR(fd, write_set);
    }
    DeliverReadiness(dispatcher, readable, writable, readable || writable);
  }
  iterating_ = false;
  ApplyPendingChanges();
}

void DispatcherWaiter::ApplyPendingChanges() {
  dispatchers_.insert(pending_adds_.begin(), pending_adds_.end());
  pending_adds_.clear();
  for (Dispatcher* dispatcher : pending_removes_)
    dispatchers_.erase(dispatcher);
  pending_removes_.clear();
}

bool DispatcherWaiter::WaitWithPoll(int timeout_ms, Dispatcher* dispatcher) {
  int wait = kForever;
  int64_t stop = 0;
  if (timeout_ms != kForever) {
    wait = timeout_ms;
    stop = MonotonicMillis() + timeout_ms;
  }
  keep_waiting_ = true;
  const int fd = dispatcher->Descriptor();
  for (;;) {
    const uint32_t wanted = dispatcher->WantedEvents();
    pollfd request = {};
    request.fd = fd;
    request.events =
        static_cast<short>((WantsRead(wanted) ? POLLIN : 0) | (WantsWrite(wanted) ? POLLOUT : 0));
    const WaitOutcome outcome = OutcomeOf(poll(&request, 1, wait), 1701, "poll");
    if (outcome == WaitOutcome::kFailed)
      return false;
    if (outcome == WaitOutcome::kTimedOut)
      return true;
    if (outcome == WaitOutcome::kReady) {
      DeliverReadiness(dispatcher, (request.revents & (POLLIN | POLLPRI)) != 0,
                       (request.revents & POLLOUT) != 0,
                       (request.revents & (POLLERR | POLLHUP | POLLRDHUP)) != 0);
    }
    if (timeout_ms != kForever && !RemainingUntil(stop, &wait))
      return true;
    if (!keep_waiting_)
      return true;
  }
}

void DispatcherWaiter::DeliverReadiness(Dispatcher* dispatcher, bool readable, bool writable,
                                        bool check_error) {
  int error = 0;
  if (check_error) {
    // Fails on descriptors that are not sockets; `error` then stays 0.
    socklen_t length = sizeof(error);
    getsockopt(dispatcher->Descriptor(), SOL_SOCKET, SO_ERROR, &error, &length);
  }
  const uint32_t wanted = dispatcher->WantedEvents();
  uint32_t events = 0;
  if (readable) {
    if (wanted & DISPATCH_ACCEPT)
      events |= DISPATCH_ACCEPT;
    else if (error != 0 || dispatcher->IsPeerClosed())
      events |= DISPATCH_CLOSE;
    else
      events |= DISPATCH_READ;
  }
  if (writable) {
    if (wanted & DISPATCH_CONNECT)
      events |= error == 0 ? DISPATCH_CONNECT : DISPATCH_CLOSE;
    else
      events |= DISPATCH_WRITE;
  }
  if (events == 0)
    return;
  dispatcher->BeforeEvent(events);
  dispatcher->HandleEvent(events, error);
}

}  // namespace rtc
