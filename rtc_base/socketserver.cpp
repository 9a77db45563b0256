#include "rtc_base/socketserver.h"

namespace rtc {

// --- NullSocketServer --------------------------------------------------------

NullSocketServer::NullSocketServer() : event_(false, false) {}
NullSocketServer::~NullSocketServer() = default;

Socket* NullSocketServer::OpenSocket(int, int) {
  return nullptr;
}

AsyncSocket* NullSocketServer::OpenAsyncSocket(int, int) {
  return nullptr;
}

void NullSocketServer::AttachQueue(MessageQueue*) {}

bool NullSocketServer::Wait(int timeout_ms, bool) {
  event_.Wait(timeout_ms);
  return true;
}

void NullSocketServer::WakeUp() {
  event_.Set();
}

}  // namespace rtc
