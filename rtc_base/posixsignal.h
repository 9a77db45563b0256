#ifndef RTC_BASE_POSIXSIGNAL_H_
#define RTC_BASE_POSIXSIGNAL_H_

// POSIX signals handled on a server's waiting thread instead of in signal
// context: a process-wide relay records each signal and writes a byte to a
// pipe, which a server's PosixSignalDispatcher watches. Callers set handlers
// through PhysicalSocketServer::SetSignalHandler().

#include <stdint.h>

#include <map>

#include "rtc_base/dispatcher.h"

namespace rtc {

// The process-level handler that records `signum` (0 to 127; others are
// dropped) and wakes the servers' signal dispatchers. Safe in signal
// context; leaves errno as it found it.
void RelaySignal(int signum);
// sigaction(signum) with `handler`, an empty mask and SA_RESTART; true
// when installed.
bool InstallSigaction(int signum, void (*handler)(int));

// Watches the relay's pipe for a server and calls, on the waiting thread,
// the handler of each signal that arrived, lowest number first. A signal
// that arrives several times before it is handled is handled once.
class PosixSignalDispatcher : public Dispatcher {
 public:
  // Registers with `server`; removes itself when destroyed.
  explicit PosixSignalDispatcher(DispatcherRegistry* server);
  ~PosixSignalDispatcher() override;
  PosixSignalDispatcher(const PosixSignalDispatcher&) = delete;
  PosixSignalDispatcher& operator=(const PosixSignalDispatcher&) = delete;

  void SetHandler(int signum, void (*handler)(int));
  void ClearHandler(int signum);
  bool HasHandlers() const { return !handlers_.empty(); }
  // For a server that drops this dispatcher from inside one of its
  // handlers: it deletes itself once the current delivery has finished.
  // Returns false when it is not delivering (the caller deletes it).
  bool DeleteWhenDelivered();

  uint32_t WantedEvents() override;
  // Drains the relay's pipe.
  void BeforeEvent(uint32_t events) override;
  // Calls the handlers of the signals that arrived.
  void HandleEvent(uint32_t events, int error) override;
  int Descriptor() override;
  bool IsPeerClosed() override;

 private:
  DispatcherRegistry* const server_;
  std::map<int, void (*)(int)> handlers_;
  bool delivering_ = false;
  bool orphaned_ = false;
};

}  // namespace rtc

#endif  // RTC_BASE_POSIXSIGNAL_H_
