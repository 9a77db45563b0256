#ifndef RTC_BASE_EVENTDISPATCHER_H_
#define RTC_BASE_EVENTDISPATCHER_H_

// The wake-up pipe: a way to end a wait from any thread without a
// descriptor of one's own.

#include <stdint.h>

#include <atomic>

#include "rtc_base/dispatcher.h"
#include "rtc_base/recursive_mutex.h"

namespace rtc {

// A pipe whose read end the registry's owner watches. Any number of Raise()
// calls before the waiting thread drains the pipe leave exactly one byte in
// it. Registers itself with `server` on construction and removes itself on
// destruction.
class EventDispatcher : public Dispatcher {
 public:
  explicit EventDispatcher(DispatcherRegistry* server);
  ~EventDispatcher() override;
  EventDispatcher(const EventDispatcher&) = delete;
  EventDispatcher& operator=(const EventDispatcher&) = delete;

  virtual void Raise();

  uint32_t WantedEvents() override;
  // Drains the pipe.
  void BeforeEvent(uint32_t events) override;
  void HandleEvent(uint32_t events, int error) override;
  int Descriptor() override;
  bool IsPeerClosed() override;

 protected:
  DispatcherRegistry* const server_;

 private:
  int pipe_fds_[2] = {-1, -1};  // read end, write end
  // Changed only under mutex_, with the pipe traffic; read without it by
  // Raise() to skip the lock while a byte is already waiting.
  std::atomic<bool> raised_{false};
  RecursiveMutex mutex_;
};

// A waiter's wake-up: delivering its event ends the current wait.
class Signaler : public EventDispatcher {
 public:
  // `wait_flag` is the waiter's keep-waiting flag, cleared by delivery.
  Signaler(DispatcherRegistry* server, bool* wait_flag);

  void HandleEvent(uint32_t events, int error) override;

 private:
  bool* const wait_flag_;
};

}  // namespace rtc

#endif  // RTC_BASE_EVENTDISPATCHER_H_
