#ifndef RTC_BASE_PHYSICALSOCKET_H_
#define RTC_BASE_PHYSICALSOCKET_H_

// Sockets on operating-system descriptors. A PhysicalSocketServer
// (physicalsocketserver.h) makes them: blocking ones it does not watch, and
// asynchronous ones (SocketDispatcher, socketdispatcher.h) whose readiness,
// found by its Wait(), becomes their signals on the waiting thread. A socket
// is watched through its server, and hands the descriptors it accepts to
// the server, which makes the sockets for them.

#include <stdint.h>
#include <sys/socket.h>

#include <atomic>

#include "rtc_base/dispatcher.h"
#include "rtc_base/nethelpers.h"
#include "rtc_base/recursive_mutex.h"
#include "rtc_base/sigslot.h"

namespace rtc {

class AsyncResolver;
class PhysicalSocketServer;

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
  // `server` is where it and the sockets it accepts are watched.
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
  RecursiveMutex lock_;
  int last_error_ RTC_GUARDED_BY(lock_) = 0;
};

}  // namespace rtc

#endif  // RTC_BASE_PHYSICALSOCKET_H_
