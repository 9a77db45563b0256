#include "rtc_base/socketdispatcher.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>

#include "rtc_base/dispatcherlog_internal.h"
#include "rtc_base/physicalsocketserver.h"

namespace rtc {

SocketDispatcher::SocketDispatcher(PhysicalSocketServer* server) : PhysicalSocket(server) {}

SocketDispatcher::SocketDispatcher(int fd, PhysicalSocketServer* server)
    : PhysicalSocket(server, fd) {}

SocketDispatcher::~SocketDispatcher() {
  if (fd_ != -1)
    SocketDispatcher::Close();
  else
    Unregister();  // adopted from a bad descriptor
}

SocketDispatcher* SocketDispatcher::Adopt(int fd, PhysicalSocketServer* server) {
  auto* socket = new SocketDispatcher(fd, server);
  socket->Register();
  return socket;
}

void SocketDispatcher::Register() {
  const int fd = fd_;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
  server_->Add(this);
  registered_ = true;
  // Reopened by a slot during an event batch: the batch's end must compare
  // with what the server watches for the new descriptor, which is what
  // Add gave it.
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
  // However often the slots changed the bits, the server hears once.
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
  if (InterestChanged(static_cast<uint32_t>(old_events), enabled_events_))
    server_->UpdateInterest(this);
}

}  // namespace rtc
