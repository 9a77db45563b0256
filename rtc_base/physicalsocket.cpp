#include "rtc_base/physicalsocket.h"

#include <errno.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "rtc_base/asyncresolver.h"
#include "rtc_base/dispatcherlog_internal.h"
#include "rtc_base/logging.h"
#include "rtc_base/physicalsocketserver.h"

namespace rtc {

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

}  // namespace rtc
