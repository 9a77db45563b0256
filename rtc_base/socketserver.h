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
// and makes sockets is PhysicalSocketServer (physicalsocketserver.h); a
// thread is handed its server by whoever makes the thread (thread.h).

#include "rtc_base/event.h"

namespace rtc {

class AsyncSocket;
class MessageQueue;
class Socket;

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
