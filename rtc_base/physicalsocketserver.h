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

#include <stdint.h>
#include <sys/epoll.h>
#include <sys/select.h>

#include <atomic>
#include <memory>
#include <set>
#include <vector>

#include "rtc_base/event.h"
#include "rtc_base/recursive_mutex.h"

namespace rtc {

class AsyncSocket;
class MessageQueue;
class PhysicalSocketServer;
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

  // Sockets come with the network layer; until then there are none.
  Socket* OpenSocket(int family, int type) override;
  AsyncSocket* OpenAsyncSocket(int family, int type) override;
  void AttachQueue(MessageQueue* queue) override;
  bool Wait(int timeout_ms, bool process_io) override;
  void WakeUp() override;
  virtual AsyncSocket* AdoptSocket(int fd);
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
  std::unique_ptr<Dispatcher> signal_dispatcher_;
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
};

}  // namespace rtc

#endif  // RTC_BASE_PHYSICALSOCKETSERVER_H_
