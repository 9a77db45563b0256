#ifndef RTC_BASE_SOCKETDISPATCHER_H_
#define RTC_BASE_SOCKETDISPATCHER_H_

// Asynchronous sockets: a PhysicalSocket (physicalsocket.h) registered with
// its server's DispatcherRegistry, so that readiness found by the server's
// Wait() becomes the socket's signals on the waiting thread.

#include <stdint.h>

#include <atomic>

#include "rtc_base/dispatcher.h"
#include "rtc_base/physicalsocket.h"

namespace rtc {

class SocketDispatcher : public Dispatcher, public PhysicalSocket {
 public:
  explicit SocketDispatcher(PhysicalSocketServer* server);
  // Takes over `fd`; Register() makes it non-blocking and watched.
  SocketDispatcher(int fd, PhysicalSocketServer* server);
  ~SocketDispatcher() override;

  // A socket over the connected descriptor `fd`, registered with `server`;
  // the caller owns it. What the server's AdoptSocket gives.
  static SocketDispatcher* Adopt(int fd, PhysicalSocketServer* server);

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

  // Tells the server when the enabled bits changed what it has to watch
  // (InterestChanged) from `old_events`; inside an event batch, only the
  // batch's end does.
  void SyncInterest(int old_events);

  // The enabled bits at the start of the event batch being handled, -1
  // outside one.
  std::atomic<int> batch_saved_events_{-1};
  bool registered_ = false;
};

}  // namespace rtc

#endif  // RTC_BASE_SOCKETDISPATCHER_H_
