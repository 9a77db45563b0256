#include "rtc_base/socketserver_factory.h"

#include "rtc_base/physicalsocketserver.h"
#include "rtc_base/thread.h"

namespace rtc {

std::unique_ptr<SocketServer> CreateSocketServer(WaitsFor what) {
  if (what == WaitsFor::kMessagesOnly)
    return std::make_unique<NullSocketServer>();
  return std::make_unique<PhysicalSocketServer>();
}

void InstallPhysicalSocketServers() {
  Thread::SetAdoptedSocketServerFactory(
      [] { return CreateSocketServer(WaitsFor::kMessagesAndIo); });
}

}  // namespace rtc
