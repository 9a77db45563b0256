#include "rtc_base/dispatcherwaiter.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
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

short PollMaskFor(uint32_t wanted) {
  return static_cast<short>((WantsRead(wanted) ? POLLIN : 0) | (WantsWrite(wanted) ? POLLOUT : 0));
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
  if (epoll_fd_ == -1)
    return;
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
  return WaitWithPollSet(timeout_ms);
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

// The fallback without epoll. poll rather than select: select cannot watch
// a descriptor numbered FD_SETSIZE or above, and a process with that many
// files open would never see its wake-up pipe, nor its signals.
bool DispatcherWaiter::WaitWithPollSet(int timeout_ms) {
  int wait = kForever;
  int64_t stop = 0;
  if (timeout_ms != kForever) {
    wait = timeout_ms;
    stop = MonotonicMillis() + timeout_ms;
  }
  keep_waiting_ = true;
  for (;;) {
    FillPollSet();
    const int n = poll(poll_set_.data(), static_cast<nfds_t>(poll_set_.size()), wait);
    const WaitOutcome outcome = OutcomeOf(n, 1468, "poll");
    if (outcome == WaitOutcome::kFailed)
      return false;
    if (outcome == WaitOutcome::kTimedOut)
      return true;
    if (outcome == WaitOutcome::kReady && !DeliverPollResults())
      return false;
    // Time is up even if descriptors stay ready: a dispatcher that leaves
    // its readiness unconsumed must not keep a timed wait going for ever.
    // A wait of 0 makes one pass.
    if (timeout_ms != kForever && (!RemainingUntil(stop, &wait) || wait == 0))
      return true;
    if (!keep_waiting_)
      return true;
  }
}

// Rebuilt from nothing on every pass, from what the dispatchers want now:
// one entry per descriptor, asking for what any of its dispatchers wants.
void DispatcherWaiter::FillPollSet() {
  poll_set_.clear();
  poll_index_.clear();
  ScopedLock lock(&lock_);
  for (Dispatcher* dispatcher : dispatchers_) {
    const int fd = dispatcher->Descriptor();
    if (fd == -1)
      continue;
    const short events = PollMaskFor(dispatcher->WantedEvents());
    auto found = poll_index_.find(fd);
    if (found != poll_index_.end()) {
      poll_set_[found->second].events |= events;
      continue;
    }
    poll_index_.emplace(fd, poll_set_.size());
    pollfd entry = {};
    entry.fd = fd;
    entry.events = events;
    poll_set_.push_back(entry);
  }
}

// False when a registered dispatcher's descriptor was closed under it,
// which select reported as a failed wait (EBADF): poll would report it on
// every pass for ever.
bool DispatcherWaiter::DeliverPollResults() {
  ScopedLock lock(&lock_);
  bool closed = false;
  iterating_ = true;
  for (Dispatcher* dispatcher : dispatchers_) {
    // Removed by an earlier handler of this pass: it may be gone already.
    if (pending_removes_.count(dispatcher) != 0)
      continue;
    auto found = poll_index_.find(dispatcher->Descriptor());
    if (found == poll_index_.end())
      continue;
    pollfd& entry = poll_set_[found->second];
    if ((entry.revents & POLLNVAL) != 0) {
      closed = true;
      break;
    }
    // As select tells them: the end of the stream and an error make a
    // descriptor readable and writable, to whoever watches for that.
    const uint32_t wanted = dispatcher->WantedEvents();
    const bool readable =
        WantsRead(wanted) && (entry.revents & (POLLIN | POLLPRI | POLLHUP | POLLERR)) != 0;
    const bool writable = WantsWrite(wanted) && (entry.revents & (POLLOUT | POLLERR)) != 0;
    // Two dispatchers on one descriptor: only the first is told.
    entry.revents = 0;
    DeliverReadiness(dispatcher, readable, writable, readable || writable);
  }
  iterating_ = false;
  ApplyPendingChanges();
  if (closed)
    PSS_LOG_ERRNO(1468, Error, EBADF) << "poll";
  return !closed;
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
    pollfd request = {};
    request.fd = fd;
    request.events = PollMaskFor(dispatcher->WantedEvents());
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
