#ifndef RTC_BASE_PHYSICALSOCKETSERVER_H_
#define RTC_BASE_PHYSICALSOCKETSERVER_H_

// The server that waits on descriptors: epoll over every registered
// dispatcher, select when no epoll descriptor can be made, poll on the
// wake-up pipe alone when the caller wants no I/O processed. See
// socketserver.h for what Wait and WakeUp promise.
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

#include <stdint.h>
#include <sys/epoll.h>
#include <sys/select.h>

#include <atomic>
#include <memory>
#include <set>
#include <vector>

// What the server's entry points hand out: its sockets, and the dispatcher
// that runs the POSIX signal handlers it was given.
#include "rtc_base/physicalsocket.h"
#include "rtc_base/posixsignal.h"
#include "rtc_base/recursive_mutex.h"
#include "rtc_base/socketserver.h"

namespace rtc {

// A descriptor-less way to wake a server: a pipe whose read end the server
// watches. Any number of Raise() calls before the waiting thread drains the
// pipe leave exactly one byte in it. Registers itself with `server` on
// construction and removes itself on destruction.
class EventDispatcher : public Dispatcher {
 public:
  explicit EventDispatcher(PhysicalSocketServer* server);
  ~EventDispatcher() override;
  EventDispatcher(const EventDispatcher&) = delete;
  EventDispatcher& operator=(const EventDispatcher&) = delete;

  virtual void Raise();

  uint32_t WantedEvents() override;
  // Drains the pipe.
  void BeforeEvent(uint32_t events) override;
  void HandleEvent(uint32_t events, int error) override;
  int Descriptor() override;
  bool IsPeerClosed() override;

 protected:
  PhysicalSocketServer* const server_;

 private:
  int pipe_fds_[2] = {-1, -1};  // read end, write end
  // Changed only under mutex_, with the pipe traffic; read without it by
  // Raise() to skip the lock while a byte is already waiting.
  std::atomic<bool> raised_{false};
  RecursiveMutex mutex_;
};

// The server's wake-up: delivering its event ends the current Wait.
class Signaler : public EventDispatcher {
 public:
  // `wait_flag` is the server's keep-waiting flag, cleared by delivery.
  Signaler(PhysicalSocketServer* server, bool* wait_flag);

  void HandleEvent(uint32_t events, int error) override;

 private:
  bool* const wait_flag_;
};

// Waits with epoll over every registered dispatcher; falls back to select
// (descriptors 0 to 1023 only) when no epoll descriptor can be made, and
// polls the wake-up pipe alone when the caller wants no I/O processed.
class PhysicalSocketServer : public SocketServer {
 public:
  // Stands in for the epoll_create system call; tests pass one that fails.
  using EpollCreateFunction = int (*)(int size);

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

  // Registration, from any thread; handlers running inside Wait may call
  // these on the same server.
  void Add(Dispatcher* dispatcher);
  void Remove(Dispatcher* dispatcher);
  // Tells epoll that dispatcher->WantedEvents() changed.
  void UpdateInterest(Dispatcher* dispatcher);

  bool uses_epoll() const { return epoll_fd_ != -1; }
  // Entries in the epoll result array (0 before the first epoll wait).
  size_t epoll_capacity() const { return epoll_events_.size(); }
  // EPOLL_CTL_MOD calls made so far by UpdateInterest.
  uint64_t interest_updates() const { return interest_updates_.load(); }
  // Registered dispatchers, pending changes included.
  size_t dispatcher_count();
  // The signal dispatcher, null while no signal has a handler.
  PosixSignalDispatcher* signal_dispatcher() { return signal_dispatcher_.get(); }

 private:
  bool WaitWithEpoll(int timeout_ms);
  bool WaitWithSelect(int timeout_ms);
  bool WaitWithPoll(int timeout_ms, Dispatcher* dispatcher);
  void DeliverEpollResults(int count);
  int FillSelectSets(fd_set* read_set, fd_set* write_set);
  void DeliverSelectResults(fd_set* read_set, fd_set* write_set);
  void ApplyPendingChanges();
  void DeliverReadiness(Dispatcher* dispatcher, bool readable, bool writable,
                        bool check_error);

  // Owned; created on demand by SetSignalHandler.
  std::unique_ptr<PosixSignalDispatcher> signal_dispatcher_;
  int epoll_fd_ = -1;
  std::vector<epoll_event> epoll_events_;
  // Registered dispatchers, not owned. While the select path delivers
  // events (iterating_), changes wait in the two pending sets.
  std::set<Dispatcher*> dispatchers_;
  std::set<Dispatcher*> pending_adds_;
  std::set<Dispatcher*> pending_removes_;
  bool iterating_ = false;
  std::unique_ptr<Signaler> wakeup_signaler_;
  RecursiveMutex lock_;  // guards the three sets and iterating_
  // Touched only by the waiting thread; the signaler clears it from inside
  // delivery to end the current Wait.
  bool keep_waiting_ = false;
  std::atomic<uint64_t> interest_updates_{0};
};

}  // namespace rtc

#endif  // RTC_BASE_PHYSICALSOCKETSERVER_H_
