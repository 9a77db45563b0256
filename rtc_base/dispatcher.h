#ifndef RTC_BASE_DISPATCHER_H_
#define RTC_BASE_DISPATCHER_H_

// Being waited on. Anything with a descriptor to watch (a socket, a pipe)
// is a Dispatcher and registers itself with a DispatcherRegistry; whoever
// owns the registry finds the descriptors ready and calls their dispatchers
// back on its waiting thread.
//
// This is all that sockets and signal dispatch know of the wait that
// serves them. The registry that really waits is DispatcherWaiter
// (dispatcherwaiter.h).

#include <stdint.h>

namespace rtc {

// Readiness bits, combined with OR.
enum DispatcherEvent : uint32_t {
  DISPATCH_READ = 1,     // data can be read
  DISPATCH_WRITE = 2,    // data can be written
  DISPATCH_CONNECT = 4,  // a non-blocking connect completed successfully
  DISPATCH_CLOSE = 8,    // the peer closed the connection or an error is pending
  DISPATCH_ACCEPT = 16,  // a listening socket has a connection waiting
};

// Anything a registry waits on. The registry calls these on its waiting
// thread, with its lock held (except on the poll path).
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

// Where dispatchers register to be waited on. Any thread may call these;
// a handler running inside the wait may call them on the same registry.
// A dispatcher is removed before it goes away.
class DispatcherRegistry {
 public:
  virtual ~DispatcherRegistry() = default;
  virtual void Add(Dispatcher* dispatcher) = 0;
  virtual void Remove(Dispatcher* dispatcher) = 0;
  // The dispatcher's WantedEvents() changed direction (InterestChanged).
  virtual void UpdateInterest(Dispatcher* dispatcher) = 0;
};

// The two directions a descriptor is watched in: reading (data or a
// connection to accept) and writing (room to write, or a connect to finish).
inline bool WantsRead(uint32_t wanted) {
  return (wanted & (DISPATCH_READ | DISPATCH_ACCEPT)) != 0;
}

inline bool WantsWrite(uint32_t wanted) {
  return (wanted & (DISPATCH_WRITE | DISPATCH_CONNECT)) != 0;
}

// True when going from `before` to `after` changes what has to be watched;
// other changes need not reach the registry.
inline bool InterestChanged(uint32_t before, uint32_t after) {
  return WantsRead(before) != WantsRead(after) || WantsWrite(before) != WantsWrite(after);
}

}  // namespace rtc

#endif  // RTC_BASE_DISPATCHER_H_
