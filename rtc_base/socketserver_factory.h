#ifndef RTC_BASE_SOCKETSERVER_FACTORY_H_
#define RTC_BASE_SOCKETSERVER_FACTORY_H_

// The top of the runtime: the one file that knows both the threads and the
// servers that wait on descriptors. Threads below never reach up here; a
// program that wants its adopted threads (Thread::Current(), AutoThread) to
// wait on sockets and POSIX signals says so once with
// InstallPhysicalSocketServers().

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

// From now on the threads the runtime adopts get a PhysicalSocketServer.
void InstallPhysicalSocketServers();

}  // namespace rtc

#endif  // RTC_BASE_SOCKETSERVER_FACTORY_H_
