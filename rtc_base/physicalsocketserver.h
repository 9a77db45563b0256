#ifndef RTC_BASE_PHYSICALSOCKETSERVER_H_
#define RTC_BASE_PHYSICALSOCKETSERVER_H_

// The server that waits on descriptors: a SocketServer over a
// DispatcherWaiter (dispatcherwaiter.h), which does the waiting: epoll over
// every registered dispatcher, poll over all of them when no epoll
// descriptor can be made, poll on the wake-up pipe alone when the caller
// wants no I/O processed.
// See socketserver.h for what Wait and WakeUp promise.
//
// It is also the socket factory: its asynchronous sockets (physicalsocket.h)
// report readiness through signals emitted on the waiting thread.
//
//   rtc::AsyncSocket* socket = server->OpenAsyncSocket(AF_INET, SOCK_STREAM);
//   socket->Connected.connect(&client, &Client::OnConnected);
//   socket->ReadReady.connect(&client, &Client::OnRead);
//   socket->Closed.connect(&client, &Client::OnClosed);
//   socket->Connect(rtc::SocketEndpoint::FromHostName("localhost", 8080));
//
// Readiness is one-shot: a signal is emitted once, and again only after the
// socket was asked for more (Recv, Send or Accept ask again by themselves).
// It can also run handlers of POSIX signals on the waiting thread:
// SetSignalHandler() (posixsignal.h).

#include <memory>

// What the server's entry points hand out: its sockets, and the dispatcher
// that runs the POSIX signal handlers it was given.
#include "rtc_base/dispatcherwaiter.h"
#include "rtc_base/physicalsocket.h"
#include "rtc_base/posixsignal.h"
#include "rtc_base/socketdispatcher.h"
#include "rtc_base/socketserver.h"

namespace rtc {

// Sockets and signal dispatch register with the waiter part through
// DispatcherRegistry; Add, Remove and UpdateInterest are the waiter's.
class PhysicalSocketServer : public SocketServer, public DispatcherWaiter {
 public:
  explicit PhysicalSocketServer(EpollCreateFunction epoll_create_fn = nullptr);
  ~PhysicalSocketServer() override;
  PhysicalSocketServer(const PhysicalSocketServer&) = delete;
  PhysicalSocketServer& operator=(const PhysicalSocketServer&) = delete;

  // A blocking socket that the server does not watch; null when the
  // system refuses the descriptor.
  Socket* OpenSocket(int family, int type) override;
  // A non-blocking socket whose readiness becomes its signals; null when
  // the system refuses the descriptor.
  AsyncSocket* OpenAsyncSocket(int family, int type) override;
  void AttachQueue(MessageQueue* queue) override;
  bool Wait(int timeout_ms, bool process_io) override;
  void WakeUp() override;
  // Takes over a connected descriptor (made non-blocking) as an
  // asynchronous socket. The caller owns the result.
  virtual AsyncSocket* AdoptSocket(int fd);
  // Runs `handler` for the POSIX signal `signum` on the waiting thread,
  // inside Wait, instead of in signal context. SIG_DFL or SIG_IGN restore
  // that disposition and forget the handler. True on success. Call it on
  // the waiting thread (or before anyone waits).
  virtual bool SetSignalHandler(int signum, void (*handler)(int));

  // The signal dispatcher, null while no signal has a handler.
  PosixSignalDispatcher* signal_dispatcher() { return signal_dispatcher_.get(); }

 private:
  // Owned; created on demand by SetSignalHandler.
  std::unique_ptr<PosixSignalDispatcher> signal_dispatcher_;
};

}  // namespace rtc

#endif  // RTC_BASE_PHYSICALSOCKETSERVER_H_
