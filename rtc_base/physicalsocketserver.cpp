#include "rtc_base/physicalsocketserver.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "rtc_base/logging.h"
#include "rtc_base/signalthread.h"
#include "rtc_base/timeutils.h"

// Log tooling in the field keys on this file name and these line numbers,
// so the server's lines carry them explicitly.
#define PSS_LOG(line, sev) LOG_AT(kLogFile, line, sev)
#define PSS_LOG_ERRNO(line, sev, error)                                     \
  RTC_LOG_IMPL(kLogFile, line, ::rtc::LogSeverity::sev,                     \
               ::rtc::LogErrorContext::Errno, error)

namespace rtc {

namespace {

constexpr char kLogFile[] = "../../rtc_base/physicalsocketserver";
constexpr char kRemoveUnknown[] =
    "PhysicalSocketServer asked to remove a unknown dispatcher, potentially "
    "from a duplicate call to Add.";

constexpr int kEpollSizeHint = 1024;
constexpr size_t kInitialEpollEvents = 128;
constexpr size_t kMaxEpollEvents = 8192;

bool WantsRead(uint32_t wanted) {
  return (wanted & (DISPATCH_READ | DISPATCH_ACCEPT)) != 0;
}

bool WantsWrite(uint32_t wanted) {
  return (wanted & (DISPATCH_WRITE | DISPATCH_CONNECT)) != 0;
}

// Level-triggered: a dispatcher that leaves data unread is told again.
uint32_t EpollMaskFor(uint32_t wanted) {
  return (WantsRead(wanted) ? EPOLLIN : 0u) | (WantsWrite(wanted) ? EPOLLOUT : 0u);
}

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

// --- NullSocketServer --------------------------------------------------------

NullSocketServer::NullSocketServer() : event_(false, false) {}
NullSocketServer::~NullSocketServer() = default;

Socket* NullSocketServer::OpenSocket(int, int) {
  return nullptr;
}

AsyncSocket* NullSocketServer::OpenAsyncSocket(int, int) {
  return nullptr;
}

void NullSocketServer::AttachQueue(MessageQueue*) {}

bool NullSocketServer::Wait(int timeout_ms, bool) {
  event_.Wait(timeout_ms);
  return true;
}

void NullSocketServer::WakeUp() {
  event_.Set();
}

// --- EventDispatcher and Signaler ------------------------------------------

EventDispatcher::EventDispatcher(PhysicalSocketServer* server) : server_(server) {
  // Left blocking: a read happens only after a write was recorded.
  if (pipe(pipe_fds_) < 0)
    PSS_LOG(876, Error) << "pipe failed";
  server_->Add(this);
}

EventDispatcher::~EventDispatcher() {
  server_->Remove(this);
  for (int fd : pipe_fds_) {
    if (fd >= 0)
      close(fd);
  }
}

void EventDispatcher::Raise() {
  // The byte already in the pipe will wake the waiter. Seeing true here
  // means the drain that clears it has not yet happened, so whatever the
  // caller published before raising is seen after that drain.
  if (raised_.load())
    return;
  {
    ScopedLock lock(&mutex_);
    if (raised_.load())
      return;
    raised_.store(true);
  }
  // Only the caller that raised the flag writes, so the pipe holds at most
  // one byte. Written outside the lock: the write may switch straight to
  // the waiting thread, which would otherwise block on our lock in its
  // drain and switch back.
  const uint8_t byte = 0;
  [[maybe_unused]] const ssize_t written = write(pipe_fds_[1], &byte, 1);
}

uint32_t EventDispatcher::WantedEvents() {
  return DISPATCH_READ;
}

void EventDispatcher::BeforeEvent(uint32_t) {
  ScopedLock lock(&mutex_);
  if (!raised_.load())
    return;
  uint8_t buffer[4];
  [[maybe_unused]] const ssize_t got = read(pipe_fds_[0], buffer, sizeof(buffer));
  raised_.store(false);
}

void EventDispatcher::HandleEvent(uint32_t, int) {}

int EventDispatcher::Descriptor() {
  return pipe_fds_[0];
}

bool EventDispatcher::IsPeerClosed() {
  return false;
}

Signaler::Signaler(PhysicalSocketServer* server, bool* wait_flag)
    : EventDispatcher(server), wait_flag_(wait_flag) {}

void Signaler::HandleEvent(uint32_t, int) {
  if (wait_flag_ != nullptr)
    *wait_flag_ = false;
}

// --- PhysicalSocketServer: life and registration ---------------------------

PhysicalSocketServer::PhysicalSocketServer(EpollCreateFunction epoll_create_fn) {
  epoll_fd_ = (epoll_create_fn != nullptr ? epoll_create_fn : &::epoll_create)(
      kEpollSizeHint);
  if (epoll_fd_ == -1)
    PSS_LOG_ERRNO(1190, Warning, errno) << "epoll_create";
  wakeup_signaler_.reset(new Signaler(this, &keep_waiting_));
}

PhysicalSocketServer::~PhysicalSocketServer() {
  signal_dispatcher_.reset();
  wakeup_signaler_.reset();  // removes itself, so before the lock goes
  if (epoll_fd_ != -1)
    close(epoll_fd_);
}

Socket* PhysicalSocketServer::OpenSocket(int family, int type) {
  auto* socket = new PhysicalSocket(this);
  if (!socket->Open(family, type)) {
    delete socket;
    return nullptr;
  }
  return socket;
}

AsyncSocket* PhysicalSocketServer::OpenAsyncSocket(int family, int type) {
  auto* socket = new SocketDispatcher(this);
  if (!socket->Open(family, type)) {
    delete socket;
    return nullptr;
  }
  return socket;
}

AsyncSocket* PhysicalSocketServer::AdoptSocket(int fd) {
  auto* socket = new SocketDispatcher(fd, this);
  socket->Register();
  return socket;
}

bool PhysicalSocketServer::SetSignalHandler(int signum, void (*handler)(int)) {
  if (handler != SIG_DFL && handler != SIG_IGN) {
    if (!signal_dispatcher_)
      signal_dispatcher_.reset(new PosixSignalDispatcher(this));
    signal_dispatcher_->SetHandler(signum, handler);
    // A failure leaves the handler recorded, to be installed by a retry.
    return InstallSigaction(signum, &RelaySignal);
  }
  if (!InstallSigaction(signum, handler))
    return false;
  if (signal_dispatcher_) {
    signal_dispatcher_->ClearHandler(signum);
    if (!signal_dispatcher_->HasHandlers()) {
      PosixSignalDispatcher* last = signal_dispatcher_.release();
      // Called from one of its own handlers it must outlive the delivery.
      if (!last->DeleteWhenDelivered())
        delete last;
    }
  }
  return true;
}

size_t PhysicalSocketServer::dispatcher_count() {
  ScopedLock lock(&lock_);
  return dispatchers_.size() + pending_adds_.size() - pending_removes_.size();
}

void PhysicalSocketServer::AttachQueue(MessageQueue*) {}

void PhysicalSocketServer::WakeUp() {
  wakeup_signaler_->Raise();
}

void PhysicalSocketServer::Add(Dispatcher* dispatcher) {
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
      LOG(Warning) << "descriptor " << fd
                   << " is out of select's range; its events are not delivered";
    return;
  }
  if (fd != -1 && !WatchWithEpoll(epoll_fd_, EPOLL_CTL_ADD, fd, dispatcher))
    PSS_LOG_ERRNO(1551, Error, errno) << "epoll_ctl EPOLL_CTL_ADD";
}

void PhysicalSocketServer::Remove(Dispatcher* dispatcher) {
  ScopedLock lock(&lock_);
  if (!iterating_) {
    if (dispatchers_.erase(dispatcher) == 0) {
      PSS_LOG(1286, Warning) << kRemoveUnknown;
      return;
    }
  } else if (pending_adds_.erase(dispatcher) != 0 ||
             dispatchers_.count(dispatcher) != 0) {
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

void PhysicalSocketServer::UpdateInterest(Dispatcher* dispatcher) {
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

// --- PhysicalSocketServer: waiting -----------------------------------------

bool PhysicalSocketServer::Wait(int timeout_ms, bool process_io) {
  if (!process_io)
    return WaitWithPoll(timeout_ms, wakeup_signaler_.get());
  if (epoll_fd_ != -1)
    return WaitWithEpoll(timeout_ms);
  return WaitWithSelect(timeout_ms);
}

bool PhysicalSocketServer::WaitWithEpoll(int timeout_ms) {
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
    const int n = epoll_wait(epoll_fd_, epoll_events_.data(),
                             static_cast<int>(epoll_events_.size()), wait);
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

void PhysicalSocketServer::DeliverEpollResults(int count) {
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

bool PhysicalSocketServer::WaitWithSelect(int timeout_ms) {
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
    const WaitOutcome outcome = OutcomeOf(
        select(largest + 1, &read_set, &write_set, nullptr, limit), 1468, "select");
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
int PhysicalSocketServer::FillSelectSets(fd_set* read_set, fd_set* write_set) {
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

void PhysicalSocketServer::DeliverSelectResults(fd_set* read_set, fd_set* write_set) {
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

void PhysicalSocketServer::ApplyPendingChanges() {
  dispatchers_.insert(pending_adds_.begin(), pending_adds_.end());
  pending_adds_.clear();
  for (Dispatcher* dispatcher : pending_removes_)
    dispatchers_.erase(dispatcher);
  pending_removes_.clear();
}

bool PhysicalSocketServer::WaitWithPoll(int timeout_ms, Dispatcher* dispatcher) {
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
    request.events = static_cast<short>((WantsRead(wanted) ? POLLIN : 0) |
                                        (WantsWrite(wanted) ? POLLOUT : 0));
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

void PhysicalSocketServer::DeliverReadiness(Dispatcher* dispatcher, bool readable,
                                            bool writable, bool check_error) {
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

// --- PhysicalSocket ----------------------------------------------------------

namespace {

// Lengths beyond what the int-based calls can report are sent or read in
// part, never handed to the system as a negative int.
int ClampLength(size_t length) {
  return static_cast<int>(std::min<size_t>(length, INT_MAX));
}

// Arrival of the last datagram in microseconds, -1 when unknown.
int64_t ReceiveStamp(int fd) {
  timeval stamp;
  if (ioctl(fd, SIOCGSTAMP, &stamp) != 0)
    return -1;
  return static_cast<int64_t>(stamp.tv_sec) * 1000000 + stamp.tv_usec;
}

// getsockname or getpeername as an endpoint; false when the call failed.
bool QueryAddress(int (*query)(int, sockaddr*, socklen_t*), int fd, SocketEndpoint* out) {
  sockaddr_storage storage = {};
  socklen_t length = sizeof(storage);
  if (query(fd, reinterpret_cast<sockaddr*>(&storage), &length) < 0)
    return false;
  EndpointFromSockaddr(storage, out);
  return true;
}

// The level and name of an option id; false for ids without one.
bool TranslateOption(int option, int* level, int* name) {
  switch (option) {
    case Socket::OPT_NO_FRAGMENT:
      *level = IPPROTO_IP;
      *name = IP_MTU_DISCOVER;
      return true;
    case Socket::OPT_RECV_BUFFER:
      *level = SOL_SOCKET;
      *name = SO_RCVBUF;
      return true;
    case Socket::OPT_SEND_BUFFER:
      *level = SOL_SOCKET;
      *name = SO_SNDBUF;
      return true;
    case Socket::OPT_TCP_NO_DELAY:
      *level = IPPROTO_TCP;
      *name = TCP_NODELAY;
      return true;
    case Socket::OPT_DSCP:
      PSS_LOG(562, Warning) << "Socket::OPT_DSCP not supported.";
      return false;
    default:
      return false;
  }
}

}  // namespace

PhysicalSocket::PhysicalSocket(PhysicalSocketServer* server, int fd)
    : server_(server), fd_(fd), state_(fd != -1 ? STATE_CONNECTED : STATE_CLOSED) {
  if (fd == -1)
    return;
  enabled_events_ = DISPATCH_READ | DISPATCH_WRITE;
  int type = SOCK_STREAM;
  socklen_t length = sizeof(type);
  if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0)
    type = SOCK_STREAM;
  is_udp_ = type == SOCK_DGRAM;
}

PhysicalSocket::~PhysicalSocket() {
  Close();
  // Close() keeps the resolver of a socket without a descriptor; going
  // away, the socket must still let it go.
  if (resolver_ != nullptr) {
    resolver_->Done.disconnect(this);
    resolver_->Destroy(false);
    resolver_ = nullptr;
  }
}

int PhysicalSocket::RecordErrno() {
  const int error = errno;
  SetLastError(error);
  return error;
}

bool PhysicalSocket::IsBlockingError(int error) const {
  return error == EAGAIN || error == EWOULDBLOCK || error == EINPROGRESS;
}

bool PhysicalSocket::Open(int family, int type) {
  Close();
  fd_ = ::socket(family, type, 0);
  is_udp_ = type == SOCK_DGRAM;
  RecordErrno();
  if (is_udp_)
    enabled_events_ = DISPATCH_READ | DISPATCH_WRITE;
  return fd_ != -1;
}

SocketEndpoint PhysicalSocket::GetLocalAddress() {
  SocketEndpoint address;
  if (!QueryAddress(&::getsockname, fd_, &address))
    PSS_LOG(163, Warning) << "GetLocalAddress: unable to get local addr, socket=" << fd_;
  return address;
}

SocketEndpoint PhysicalSocket::GetRemoteAddress() {
  SocketEndpoint address;
  if (!QueryAddress(&::getpeername, fd_, &address))
    PSS_LOG(178, Warning) << "GetRemoteAddress: unable to get remote addr, socket=" << fd_;
  return address;
}

int PhysicalSocket::Bind(const SocketEndpoint& address) {
  sockaddr_storage storage;
  const size_t length = address.ToSockaddr(&storage);
  const int result = ::bind(fd_, reinterpret_cast<sockaddr*>(&storage),
                            static_cast<socklen_t>(length));
  RecordErrno();
  return result;
}

int PhysicalSocket::Connect(const SocketEndpoint& address) {
  if (state_ != STATE_CLOSED) {
    SetLastError(EALREADY);
    return -1;
  }
  if (!address.NeedsResolving())
    return ConnectNow(address);
  PSS_LOG(241, Verbose) << "Resolving addr in PhysicalSocket::Connect";
  if (resolver_ != nullptr) {
    // Left from an earlier connect of a socket closed by its peer.
    resolver_->Done.disconnect(this);
    resolver_->Destroy(false);
  }
  resolver_ = new AsyncResolver();
  resolver_->Done.connect(this, &PhysicalSocket::OnResolved);
  resolver_->Start(address);
  state_ = STATE_CONNECTING;
  return 0;
}

int PhysicalSocket::ConnectNow(const SocketEndpoint& address) {
  if (fd_ == -1 && !Open(address.ip.family(), SOCK_STREAM))
    return -1;
  sockaddr_storage storage;
  const size_t length = address.ToSockaddr(&storage);
  const int result = ::connect(fd_, reinterpret_cast<sockaddr*>(&storage),
                               static_cast<socklen_t>(length));
  const int error = RecordErrno();
  if (result == 0) {
    state_ = STATE_CONNECTED;
    Enable(DISPATCH_READ | DISPATCH_WRITE);
    return 0;
  }
  if (IsBlockingError(error)) {
    state_ = STATE_CONNECTING;
    Enable(DISPATCH_READ | DISPATCH_WRITE | DISPATCH_CONNECT);
    return 0;
  }
  return -1;
}

void PhysicalSocket::OnResolved(AsyncResolverInterface* resolver) {
  if (resolver != resolver_)
    return;
  int error = resolver_->ResolveError();
  if (error == 0)
    error = ConnectNow(resolver_->BestAddress());
  else
    Close();
  if (error != 0) {
    SetLastError(error);
    Closed.emit(this, error);
  }
}

int PhysicalSocket::Send(const void* data, size_t length) {
  return FinishSend(RawSend(fd_, data, ClampLength(length), MSG_NOSIGNAL), length);
}

int PhysicalSocket::SendTo(const void* data, size_t length, const SocketEndpoint& address) {
  sockaddr_storage storage;
  const size_t address_length = address.ToSockaddr(&storage);
  return FinishSend(RawSendTo(fd_, data, ClampLength(length), MSG_NOSIGNAL,
                              reinterpret_cast<sockaddr*>(&storage),
                              static_cast<socklen_t>(address_length)),
                    length);
}

// Right after the system call: errno is still the send's.
int PhysicalSocket::FinishSend(int sent, size_t length) {
  const int error = RecordErrno();
  if ((sent > 0 && static_cast<size_t>(sent) < length) ||
      (sent < 0 && IsBlockingError(error))) {
    Enable(DISPATCH_WRITE);
  }
  return sent;
}

int PhysicalSocket::Recv(void* buffer, size_t length, int64_t* timestamp) {
  const int received = static_cast<int>(::recv(fd_, buffer, ClampLength(length), 0));
  // Taken before the time-stamp query can replace it.
  const int error = errno;
  if (received == 0 && length != 0) {
    // The server reports the end of the stream as a close event once the
    // caller comes back for more.
    PSS_LOG(375, Warning) << "EOF from socket; deferring close event";
    Enable(DISPATCH_READ);
    SetLastError(EAGAIN);
    return -1;
  }
  return FinishReceive(received, error, timestamp, 392, "Recv: Error = ");
}

int PhysicalSocket::RecvFrom(void* buffer, size_t length, SocketEndpoint* from,
                             int64_t* timestamp) {
  sockaddr_storage storage = {};
  socklen_t address_length = sizeof(storage);
  const int received = static_cast<int>(
      ::recvfrom(fd_, buffer, ClampLength(length), 0,
                 reinterpret_cast<sockaddr*>(&storage), &address_length));
  const int error = errno;
  if (from != nullptr && received >= 0)
    EndpointFromSockaddr(storage, from);
  return FinishReceive(received, error, timestamp, 418, "RecvFrom: Error = ");
}

int PhysicalSocket::FinishReceive(int received, int error, int64_t* timestamp,
                                  int log_line, const char* log_text) {
  if (timestamp != nullptr)
    *timestamp = ReceiveStamp(fd_);
  SetLastError(error);
  if (received >= 0) {
    Enable(DISPATCH_READ);
    return received;
  }
  const bool blocking = IsBlockingError(error);
  if (is_udp_ || blocking)
    Enable(DISPATCH_READ);
  if (!blocking)
    PSS_LOG(log_line, Verbose) << log_text << error;
  return received;
}

int PhysicalSocket::Listen(int backlog) {
  const int result = ::listen(fd_, backlog);
  RecordErrno();
  if (result == 0) {
    state_ = STATE_CONNECTING;
    Enable(DISPATCH_ACCEPT);
  }
  return result;
}

Socket* PhysicalSocket::Accept(SocketEndpoint* from) {
  // Asked again first, so the next connection is reported even when this
  // accept fails.
  Enable(DISPATCH_ACCEPT);
  sockaddr_storage storage = {};
  socklen_t length = sizeof(storage);
  const int fd = RawAccept(fd_, reinterpret_cast<sockaddr*>(&storage), &length);
  RecordErrno();
  if (fd == -1)
    return nullptr;
  if (from != nullptr)
    EndpointFromSockaddr(storage, from);
  return server_->AdoptSocket(fd);
}

int PhysicalSocket::Close() {
  if (fd_ == -1)
    return 0;
  const int result = ::close(fd_);
  RecordErrno();
  fd_ = -1;
  state_ = STATE_CLOSED;
  SetEnabled(0);
  if (resolver_ != nullptr) {
    resolver_->Done.disconnect(this);
    resolver_->Destroy(false);
    resolver_ = nullptr;
  }
  return result;
}

int PhysicalSocket::LastError() {
  ScopedLock lock(&lock_);
  return last_error_;
}

void PhysicalSocket::SetLastError(int error) {
  ScopedLock lock(&lock_);
  last_error_ = error;
}

Socket::ConnectionState PhysicalSocket::State() {
  return state_;
}

int PhysicalSocket::GetOpt(int option, int* value) {
  int level;
  int name;
  if (value == nullptr || !TranslateOption(option, &level, &name))
    return -1;
  socklen_t length = sizeof(*value);
  const int result = getsockopt(fd_, level, name, value, &length);
  if (result == 0 && option == OPT_NO_FRAGMENT)
    *value = *value != IP_PMTUDISC_DONT ? 1 : 0;
  return result;
}

int PhysicalSocket::SetOpt(int option, int value) {
  int level;
  int name;
  if (!TranslateOption(option, &level, &name))
    return -1;
  if (option == OPT_NO_FRAGMENT)
    value = value != 0 ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
  return setsockopt(fd_, level, name, &value, sizeof(value));
}

int PhysicalSocket::RawAccept(int fd, sockaddr* address, socklen_t* length) {
  return ::accept(fd, address, length);
}

int PhysicalSocket::RawSend(int fd, const void* data, int length, int flags) {
  return static_cast<int>(::send(fd, data, static_cast<size_t>(length), flags));
}

int PhysicalSocket::RawSendTo(int fd, const void* data, int length, int flags,
                              const sockaddr* address, socklen_t address_length) {
  return static_cast<int>(
      ::sendto(fd, data, static_cast<size_t>(length), flags, address, address_length));
}

void PhysicalSocket::SetEnabled(uint8_t events) {
  enabled_events_ = events;
}

void PhysicalSocket::Enable(uint8_t events) {
  enabled_events_ |= events;
}

void PhysicalSocket::Disable(uint8_t events) {
  enabled_events_ &= static_cast<uint8_t>(~events);
}

// --- SocketDispatcher --------------------------------------------------------

SocketDispatcher::SocketDispatcher(PhysicalSocketServer* server)
    : PhysicalSocket(server) {}

SocketDispatcher::SocketDispatcher(int fd, PhysicalSocketServer* server)
    : PhysicalSocket(server, fd) {}

SocketDispatcher::~SocketDispatcher() {
  if (fd_ != -1)
    SocketDispatcher::Close();
  else
    Unregister();  // adopted from a bad descriptor
}

void SocketDispatcher::Register() {
  const int fd = fd_;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
  server_->Add(this);
  registered_ = true;
  // Reopened by a slot during an event batch: the batch's end must compare
  // with what epoll has for the new descriptor, which is what Add gave it.
  if (batch_saved_events_ != -1)
    batch_saved_events_ = enabled_events_.load();
}

void SocketDispatcher::Unregister() {
  if (!registered_)
    return;
  registered_ = false;
  server_->Remove(this);
}

bool SocketDispatcher::Open(int type) {
  return Open(AF_INET, type);
}

bool SocketDispatcher::Open(int family, int type) {
  if (!PhysicalSocket::Open(family, type))
    return false;
  Register();
  return true;
}

int SocketDispatcher::Close() {
  if (fd_ == -1)
    return 0;
  // Off the server first: the waiting thread must not see the descriptor
  // closed under it.
  Unregister();
  return PhysicalSocket::Close();
}

uint32_t SocketDispatcher::WantedEvents() {
  return enabled_events_;
}

int SocketDispatcher::Descriptor() {
  return fd_;
}

void SocketDispatcher::BeforeEvent(uint32_t events) {
  if (events & DISPATCH_CONNECT)
    state_ = STATE_CONNECTED;
  if (events & DISPATCH_CLOSE)
    state_ = STATE_CLOSED;
}

bool SocketDispatcher::IsPeerClosed() {
  if (is_udp_)
    return fd_ == -1;
  char byte;
  const ssize_t peeked = ::recv(fd_, &byte, 1, MSG_PEEK);
  if (peeked > 0)
    return false;
  if (peeked == 0)
    return true;  // end of stream
  const int error = errno;
  switch (error) {
    case EBADF:
    case ECONNRESET:
      return true;
    case EINTR:
    case EAGAIN:
      return false;
    default:
      PSS_LOG_ERRNO(708, Warning, error) << "Assuming benign blocking error";
      return false;
  }
}

// Connection and acceptance come before data, so a slot never sees a read
// before the connect. Every bit is disabled as it is delivered; slots ask
// again by calling Recv, Send or Accept.
void SocketDispatcher::HandleEvent(uint32_t events, int error) {
  batch_saved_events_ = enabled_events_;
  if (events & DISPATCH_CONNECT) {
    Disable(DISPATCH_CONNECT);
    Connected.emit(this);
  }
  if (events & DISPATCH_ACCEPT) {
    Disable(DISPATCH_ACCEPT);
    ReadReady.emit(this);
  }
  if (events & DISPATCH_READ) {
    Disable(DISPATCH_READ);
    ReadReady.emit(this);
  }
  if (events & DISPATCH_WRITE) {
    Disable(DISPATCH_WRITE);
    WriteReady.emit(this);
  }
  if (events & DISPATCH_CLOSE) {
    SetEnabled(0);
    Closed.emit(this, error);
  }
  // However often the slots changed the bits, epoll hears once.
  SyncInterest(batch_saved_events_.exchange(-1));
}

void SocketDispatcher::SetEnabled(uint8_t events) {
  SyncInterest(enabled_events_.exchange(events));
}

void SocketDispatcher::Enable(uint8_t events) {
  SyncInterest(enabled_events_.fetch_or(events));
}

void SocketDispatcher::Disable(uint8_t events) {
  SyncInterest(enabled_events_.fetch_and(static_cast<uint8_t>(~events)));
}

void SocketDispatcher::SyncInterest(int old_events) {
  if (batch_saved_events_ != -1)
    return;
  if (EpollMaskFor(enabled_events_) != EpollMaskFor(static_cast<uint32_t>(old_events)))
    server_->UpdateInterest(this);
}

// --- POSIX signals -----------------------------------------------------------

namespace {

constexpr int kMaxRelayedSignal = 128;

enum RelayState : int { kRelayNone = 0, kRelayCreating = 1, kRelayReady = 2 };

// One per process, never destroyed. Plain static storage rather than a
// heap object: the first signal may create it, in signal context.
struct SignalRelay {
  std::atomic<int> state;
  int read_fd;   // meaningful once state is kRelayReady; -1 without a pipe
  int write_fd;
  std::atomic<uint8_t> flags[kMaxRelayedSignal];  // 1: arrived, not handled
};
static_assert(std::atomic<uint8_t>::is_always_lock_free &&
                  std::atomic<int>::is_always_lock_free,
              "the relay is written in signal context");

SignalRelay g_relay;  // zero-initialised: kRelayNone, no flags

// Only async-signal-safe calls unless `may_log`.
void CreateRelay(bool may_log) {
  int fds[2];
  if (pipe(fds) != 0) {
    if (may_log)
      PSS_LOG_ERRNO(993, Error, errno) << "pipe failed";
    g_relay.read_fd = -1;
    g_relay.write_fd = -1;
  } else {
    // Both ends non-blocking: a full pipe must never block a signal
    // handler, and the reader drains whatever is there.
    if (fcntl(fds[0], F_SETFL, O_NONBLOCK) < 0 && may_log)
      PSS_LOG_ERRNO(997, Warning, errno) << "fcntl #1 failed";
    if (fcntl(fds[1], F_SETFL, O_NONBLOCK) < 0 && may_log)
      PSS_LOG_ERRNO(1000, Warning, errno) << "fcntl #2 failed";
    g_relay.read_fd = fds[0];
    g_relay.write_fd = fds[1];
  }
  g_relay.state.store(kRelayReady, std::memory_order_release);
}

// Outside signal context.
SignalRelay& Relay() {
  if (g_relay.state.load(std::memory_order_acquire) == kRelayReady)
    return g_relay;
  int expected = kRelayNone;
  if (g_relay.state.compare_exchange_strong(expected, kRelayCreating)) {
    CreateRelay(true);
    return g_relay;
  }
  // Another thread is creating it (a signal handler never is: it would
  // have finished before this thread went on).
  while (g_relay.state.load(std::memory_order_acquire) != kRelayReady)
    sched_yield();
  return g_relay;
}

void WakeRelay() {
  const uint8_t byte = 0;
  [[maybe_unused]] const ssize_t written = write(g_relay.write_fd, &byte, 1);
}

}  // namespace

void RelaySignal(int signum) {
  // The interrupted code may be between a failing call and its errno check.
  const int saved_errno = errno;
  int state = g_relay.state.load(std::memory_order_acquire);
  if (state == kRelayNone) {
    int expected = kRelayNone;
    if (g_relay.state.compare_exchange_strong(expected, kRelayCreating)) {
      CreateRelay(false);
      state = kRelayReady;
    } else {
      state = expected;
    }
  }
  if (signum >= 0 && signum < kMaxRelayedSignal) {
    g_relay.flags[signum].store(1);
    // Still being created by another thread: the flag is found with the
    // next byte.
    if (state == kRelayReady)
      WakeRelay();
  }
  errno = saved_errno;
}

bool InstallSigaction(int signum, void (*handler)(int)) {
  struct sigaction action = {};
  if (sigemptyset(&action.sa_mask) != 0) {
    PSS_LOG_ERRNO(1775, Error, errno) << "Couldn't set mask";
    return false;
  }
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  if (sigaction(signum, &action, nullptr) != 0) {
    PSS_LOG_ERRNO(1788, Error, errno) << "Couldn't set sigaction";
    return false;
  }
  return true;
}

PosixSignalDispatcher::PosixSignalDispatcher(PhysicalSocketServer* server)
    : server_(server) {
  Relay();
  server_->Add(this);
}

PosixSignalDispatcher::~PosixSignalDispatcher() {
  if (!orphaned_)
    server_->Remove(this);
}

void PosixSignalDispatcher::SetHandler(int signum, void (*handler)(int)) {
  handlers_[signum] = handler;
}

void PosixSignalDispatcher::ClearHandler(int signum) {
  handlers_.erase(signum);
}

bool PosixSignalDispatcher::DeleteWhenDelivered() {
  if (!delivering_)
    return false;
  // Off the server now, so a dispatcher created meanwhile can watch the
  // same pipe.
  server_->Remove(this);
  orphaned_ = true;
  return true;
}

uint32_t PosixSignalDispatcher::WantedEvents() {
  return DISPATCH_READ;
}

void PosixSignalDispatcher::BeforeEvent(uint32_t) {
  // Signals that came close together left several bytes: one read takes
  // them all, the flags say which signals they were.
  uint8_t bytes[16];
  const ssize_t got = read(Relay().read_fd, bytes, sizeof(bytes));
  if (got < 0)
    PSS_LOG_ERRNO(1057, Warning, errno) << "Error in read()";
  else if (got == 0)
    PSS_LOG(1059, Warning) << "Should have read at least one byte";
}

void PosixSignalDispatcher::HandleEvent(uint32_t, int) {
  SignalRelay& relay = Relay();
  delivering_ = true;
  for (int signum = 0; signum < kMaxRelayedSignal && !orphaned_; ++signum) {
    if (relay.flags[signum].exchange(0) == 0)
      continue;
    auto it = handlers_.find(signum);
    if (it == handlers_.end()) {
      // It arrived while its handler was being removed.
      PSS_LOG(1073, Info) << "Received signal with no handler: " << signum;
      continue;
    }
    it->second(signum);
  }
  delivering_ = false;
  if (!orphaned_)
    return;
  // A handler dropped the last handler. Signals not yet looked at stay
  // flagged; a byte makes sure whoever watches the pipe next sees them.
  for (int signum = 0; signum < kMaxRelayedSignal; ++signum) {
    if (relay.flags[signum].load() != 0) {
      WakeRelay();
      break;
    }
  }
  delete this;
}

int PosixSignalDispatcher::Descriptor() {
  return Relay().read_fd;
}

bool PosixSignalDispatcher::IsPeerClosed() {
  return false;
}

}  // namespace rtc
