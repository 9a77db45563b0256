#ifndef RTC_BASE_SOCKETSERVER_H_
#define RTC_BASE_SOCKETSERVER_H_

// Socket servers: where a message loop sleeps when it has nothing to do.
//
// Wait(timeout_ms, process_io) returns when the time-out passes, when a
// registered descriptor became ready (its dispatcher's handler then runs on
// the waiting thread, inside Wait), or when another thread called WakeUp().
// A wake-up that arrives while nobody waits is remembered and ends the next
// Wait at once. Wait returns false only when the system's wait call fails
// with an error other than EINTR.
//
// This is the waiting interface only. The server that waits on descriptors
// and makes sockets is PhysicalSocketServer (physicalsocketserver.h); the
// sockets themselves are in physicalsocket.h. A thread gets the server it
// needs from CreateSocketServer (socketserver_factory.h).

#include <stdint.h>

#include "rtc_base/event.h"

namespace rtc {

class AsyncSocket;
class MessageQueue;
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

}  // namespace rtc

#endif  // RTC_BASE_SOCKETSERVER_H_
