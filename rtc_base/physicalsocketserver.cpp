#include "rtc_base/physicalsocketserver.h"

#include <signal.h>

namespace rtc {

PhysicalSocketServer::PhysicalSocketServer(EpollCreateFunction epoll_create_fn)
    : DispatcherWaiter(epoll_create_fn) {}

PhysicalSocketServer::~PhysicalSocketServer() {
  // Off the waiter while it is still whole.
  signal_dispatcher_.reset();
}

// --- Waiting -----------------------------------------------------------------

void PhysicalSocketServer::AttachQueue(MessageQueue*) {}

bool PhysicalSocketServer::Wait(int timeout_ms, bool process_io) {
  return DispatcherWaiter::Wait(timeout_ms, process_io);
}

void PhysicalSocketServer::WakeUp() {
  DispatcherWaiter::WakeUp();
}

// --- Sockets and signals -----------------------------------------------------

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
  return SocketDispatcher::Adopt(fd, this);
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

}  // namespace rtc
