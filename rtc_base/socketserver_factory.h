#ifndef RTC_BASE_SOCKETSERVER_FACTORY_H_
#define RTC_BASE_SOCKETSERVER_FACTORY_H_

// The server a thread's queue sleeps in, made for what the thread waits
// for. The runtime's own threads get theirs here (Thread::Current(),
// AutoThread), and so does the module's log thread.
//
// Only the declaration sits this low: the definition is the one file that
// knows both the waiting interface and the servers that implement it.

#include <memory>

#include "rtc_base/socketserver.h"

namespace rtc {

// What a thread's loop has to wait for besides its messages.
enum class WaitsFor {
  kMessagesOnly,   // posts and time-outs: an event is enough
  kMessagesAndIo,  // also descriptors, sockets and POSIX signals
};

// A NullSocketServer for kMessagesOnly, a PhysicalSocketServer otherwise.
std::unique_ptr<SocketServer> CreateSocketServer(WaitsFor what);

}  // namespace rtc

#endif  // RTC_BASE_SOCKETSERVER_FACTORY_H_
