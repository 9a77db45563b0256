#ifndef RTC_BASE_PHYSICALSOCKETSERVER_H_
#define RTC_BASE_PHYSICALSOCKETSERVER_H_

// Socket servers: where a message loop sleeps when it has nothing to do.
//
// Wait(timeout_ms, process_io) returns when the time-out passes, when a
// registered descriptor became ready (its dispatcher's handler then runs on
// the waiting thread, inside Wait), or when another thread called WakeUp().
// A wake-up that arrives while nobody waits is remembered and ends the next
// Wait at once. Wait returns false only when the system's wait call fails
// with an error other than EINTR.
//
// The physical server is also a socket factory: its asynchronous sockets
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
// SetSignalHandler().

#include <stdint.h>
#include <sys/epoll.h>
#include <sys/select.h>
#include <sys/socket.h>

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "rtc_base/event.h"
#include "rtc_base/nethelpers.h"
#include "rtc_base/recursive_mutex.h"
#include "rtc_base/sigslot.h"

namespace rtc {

class AsyncResolver;
class AsyncSocket;
class MessageQueue;
class PhysicalSocketServer;
class PosixSignalDispatcher;
class Socket;

// Readiness bits, combined with OR.
enum DispatcherEvent : uint32_t {
  DISPATCH_READ = 1,     // data can be read
  DISPATCH_WRITE = 2,    // data can be written
  DISPATCH_CONNECT = 4,  // a non-blocking connect completed successfully
  DISPATCH_CLOSE = 8,    // the peer closed the connection or an error is pending
  DISPATCH_ACCEPT = 16,  // a listening socket has a connection waiting
};

// Anything a PhysicalSocketServer waits on. The server calls these on its
// waiting thread, with its lock held (except on the poll path).
class Dispatcher {
 public:
  virtual ~Dispatcher() = default;
  // The DISPATCH_* bits wanted now.
  virtual uint32_t WantedEvents() = 0;
  // Called first when events are delivered.
  virtual void BeforeEvent(uint32_t events) = 0;
  // The events and the pending socket error (0 when none).
  virtual void HandleEvent(uint32_t events, int error) = 0;
  // The descriptor to wait on; -1 for none.
  virtual int Descriptor() = 0;
  // For a readable descriptor without a pending error: true when the
  // readability is really the end of the stream.
  virtual bool IsPeerClosed() = 0;
};

class SocketFactory {
 public:
  virtual ~SocketFactory() = default;
  virtual Socket* OpenSocket(int family, int type) = 0;
  virtual AsyncSocket* OpenAsyncSocket(int family, int type) = 0;
};

class SocketServer : public SocketFactory {
 public:
  // Told by a queue about itself when it is built, and null when it goes.
  virtual void AttachQueue(MessageQueue* queue) = 0;
  // See the top of this file. `timeout_ms` may be kForever.
  virtual bool Wait(int timeout_ms, bool process_io) = 0;
  // Any thread, any time.
  virtual void WakeUp() = 0;
};

// A server without descriptors: Wait sleeps on an event that WakeUp sets.
class NullSocketServer : public SocketServer {
 public:
  NullSocketServer();
  ~NullSocketServer() override;

  Socket* OpenSocket(int family, int type) override;
  AsyncSocket* OpenAsyncSocket(int family, int type) override;
  void AttachQueue(MessageQueue* queue) override;
  // Ignores `process_io`; always true.
  bool Wait(int timeout_ms, bool process_io) override;
  void WakeUp() override;

 private:
  Event event_;
};

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

// --- Sockets -----------------------------------------------------------------

// A socket on an operating-system descriptor. Failures return -1 (or null)
// with the reason in LastError(), the errno of the system call; every call
// records errno right after its system call, also when it succeeded.
class Socket {
 public:
  enum ConnectionState {
    STATE_CLOSED = 0,
    STATE_CONNECTING = 1,  // also a listening socket
    STATE_CONNECTED = 2,
  };
  // Option ids for GetOpt and SetOpt; other ids give -1.
  enum Option {
    OPT_NO_FRAGMENT = 0,   // path MTU discovery: 1 = don't fragment
    OPT_RECV_BUFFER = 1,   // SO_RCVBUF
    OPT_SEND_BUFFER = 2,   // SO_SNDBUF
    OPT_TCP_NO_DELAY = 3,  // TCP_NODELAY
    OPT_DSCP = 5,          // not supported: logged, -1
  };

  virtual ~Socket() = default;

  // Empty when the system cannot tell.
  virtual SocketEndpoint GetLocalAddress() = 0;
  virtual SocketEndpoint GetRemoteAddress() = 0;
  virtual int Bind(const SocketEndpoint& address) = 0;
  // 0 when connected or on the way (a host name is resolved first); -1
  // with LastError() EALREADY on a socket that is not closed.
  virtual int Connect(const SocketEndpoint& address) = 0;
  // Bytes sent, or -1. Never raises SIGPIPE: a closed peer gives EPIPE.
  virtual int Send(const void* data, size_t length) = 0;
  virtual int SendTo(const void* data, size_t length, const SocketEndpoint& address) = 0;
  // Bytes received, or -1. The end of a stream reads as -1 with EAGAIN and
  // is reported by the Closed signal. `timestamp`, when given, receives the
  // datagram's arrival in microseconds, or -1.
  virtual int Recv(void* buffer, size_t length, int64_t* timestamp) = 0;
  virtual int RecvFrom(void* buffer, size_t length, SocketEndpoint* from,
                       int64_t* timestamp) = 0;
  virtual int Listen(int backlog) = 0;
  // A new socket owned by the caller, or null. `from` may be null.
  virtual Socket* Accept(SocketEndpoint* from) = 0;
  // 0 on a closed socket.
  virtual int Close() = 0;
  virtual int LastError() = 0;
  virtual void SetLastError(int error) = 0;
  virtual ConnectionState State() = 0;
  virtual int GetOpt(int option, int* value) = 0;
  virtual int SetOpt(int option, int value) = 0;
};

// A socket that reports readiness through signals, emitted on its server's
// waiting thread. Do not destroy a socket from inside one of its own
// signals: Close() it there and destroy it afterwards.
class AsyncSocket : public Socket {
 public:
  // Data can be read, or a listening socket has a connection to Accept().
  // Other threads may connect to these two while they are emitted.
  sigslot::notifier<sigslot::multi_threaded, AsyncSocket*> ReadReady;
  // Data can be written again.
  sigslot::notifier<sigslot::multi_threaded, AsyncSocket*> WriteReady;
  // A connect has completed.
  sigslot::notifier<sigslot::single_threaded, AsyncSocket*> Connected;
  // The peer closed the stream or the connection failed; the error code,
  // 0 for an orderly end. Close the socket then: until it is closed, a
  // pending error keeps the server's epoll wait returning at once.
  sigslot::notifier<sigslot::single_threaded, AsyncSocket*, int> Closed;
};

class PhysicalSocket : public AsyncSocket, public sigslot::has_slots<sigslot::single_threaded> {
 public:
  // With a descriptor, the socket starts connected and takes it over.
  explicit PhysicalSocket(PhysicalSocketServer* server, int fd = -1);
  ~PhysicalSocket() override;
  PhysicalSocket(const PhysicalSocket&) = delete;
  PhysicalSocket& operator=(const PhysicalSocket&) = delete;

  SocketEndpoint GetLocalAddress() override;
  SocketEndpoint GetRemoteAddress() override;
  int Bind(const SocketEndpoint& address) override;
  int Connect(const SocketEndpoint& address) override;
  int Send(const void* data, size_t length) override;
  int SendTo(const void* data, size_t length, const SocketEndpoint& address) override;
  int Recv(void* buffer, size_t length, int64_t* timestamp) override;
  int RecvFrom(void* buffer, size_t length, SocketEndpoint* from,
               int64_t* timestamp) override;
  int Listen(int backlog) override;
  Socket* Accept(SocketEndpoint* from) override;
  int Close() override;
  int LastError() override;
  void SetLastError(int error) override;
  ConnectionState State() override;
  int GetOpt(int option, int* value) override;
  int SetOpt(int option, int value) override;

  // Closes any descriptor first. True when a new one was made.
  virtual bool Open(int family, int type);
  // The system calls, for classes that need to see or shape them.
  virtual int RawAccept(int fd, sockaddr* address, socklen_t* length);
  virtual int RawSend(int fd, const void* data, int length, int flags);
  virtual int RawSendTo(int fd, const void* data, int length, int flags,
                        const sockaddr* address, socklen_t address_length);
  // The DISPATCH_* bits the socket wants next: replaced, added, removed.
  virtual void SetEnabled(uint8_t events);
  virtual void Enable(uint8_t events);
  virtual void Disable(uint8_t events);

  uint8_t enabled_events() const { return enabled_events_.load(); }
  int descriptor() const { return fd_.load(); }

 protected:
  int ConnectNow(const SocketEndpoint& address);
  void OnResolved(AsyncResolverInterface* resolver);
  // The shared ends of the send and receive calls.
  int FinishSend(int sent, size_t length);
  int FinishReceive(int received, int error, int64_t* timestamp, int log_line,
                    const char* log_text);
  // Records errno as the last error and returns it.
  int RecordErrno();
  bool IsBlockingError(int error) const;

  PhysicalSocketServer* const server_;
  // Plain in the single-threaded use; atomic because the waiting thread
  // reads them while the owner may change them.
  std::atomic<int> fd_;
  std::atomic<ConnectionState> state_;
  std::atomic<uint8_t> enabled_events_{0};
  bool is_udp_ = false;
  // The resolver of a connect to a host name; released by Close().
  AsyncResolver* resolver_ = nullptr;

 private:
  RecursiveMutex lock_;  // guards last_error_
  int last_error_ = 0;
};

// A PhysicalSocket registered with its server: readiness found by Wait()
// becomes the socket's signals.
class SocketDispatcher : public Dispatcher, public PhysicalSocket {
 public:
  explicit SocketDispatcher(PhysicalSocketServer* server);
  // Takes over `fd`; Register() makes it non-blocking and watched.
  SocketDispatcher(int fd, PhysicalSocketServer* server);
  ~SocketDispatcher() override;

  uint32_t WantedEvents() override;
  void BeforeEvent(uint32_t events) override;
  void HandleEvent(uint32_t events, int error) override;
  int Descriptor() override;
  bool IsPeerClosed() override;

  // Open(AF_INET, type).
  virtual bool Open(int type);
  bool Open(int family, int type) override;
  int Close() override;
  void SetEnabled(uint8_t events) override;
  void Enable(uint8_t events) override;
  void Disable(uint8_t events) override;

  // Non-blocking, and added to the server.
  void Register();

 private:
  void Unregister();

  // Tells the server when the epoll interest of the enabled bits changed
  // from `old_events`; inside an event batch, only the batch's end does.
  void SyncInterest(int old_events);

  // The enabled bits at the start of the event batch being handled, -1
  // outside one.
  std::atomic<int> batch_saved_events_{-1};
  bool registered_ = false;
};

// --- POSIX signals -----------------------------------------------------------

// The process-level handler that records `signum` (0 to 127; others are
// dropped) and wakes the servers' signal dispatchers. Safe in signal
// context; leaves errno as it found it.
void RelaySignal(int signum);
// sigaction(signum) with `handler`, an empty mask and SA_RESTART; true
// when installed.
bool InstallSigaction(int signum, void (*handler)(int));

// Watches the relay's pipe for a server and calls, on the waiting thread,
// the handler of each signal that arrived, lowest number first. A signal
// that arrives several times before it is handled is handled once.
class PosixSignalDispatcher : public Dispatcher {
 public:
  // Registers with `server`; removes itself when destroyed.
  explicit PosixSignalDispatcher(PhysicalSocketServer* server);
  ~PosixSignalDispatcher() override;
  PosixSignalDispatcher(const PosixSignalDispatcher&) = delete;
  PosixSignalDispatcher& operator=(const PosixSignalDispatcher&) = delete;

  void SetHandler(int signum, void (*handler)(int));
  void ClearHandler(int signum);
  bool HasHandlers() const { return !handlers_.empty(); }
  // For a server that drops this dispatcher from inside one of its
  // handlers: it deletes itself once the current delivery has finished.
  // Returns false when it is not delivering (the caller deletes it).
  bool DeleteWhenDelivered();

  uint32_t WantedEvents() override;
  // Drains the relay's pipe.
  void BeforeEvent(uint32_t events) override;
  // Calls the handlers of the signals that arrived.
  void HandleEvent(uint32_t events, int error) override;
  int Descriptor() override;
  bool IsPeerClosed() override;

 private:
  PhysicalSocketServer* const server_;
  std::map<int, void (*)(int)> handlers_;
  bool delivering_ = false;
  bool orphaned_ = false;
};

}  // namespace rtc

#endif  // RTC_BASE_PHYSICALSOCKETSERVER_H_
