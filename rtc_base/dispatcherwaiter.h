#ifndef RTC_BASE_DISPATCHERWAITER_H_
#define RTC_BASE_DISPATCHERWAITER_H_

// The part of a socket server that waits: the registry of dispatchers, the
// wait over their descriptors and the wake-up that ends it. It knows
// dispatchers only through dispatcher.h, nothing of sockets or signals.
//
// Wait() and WakeUp() keep the promises of SocketServer (socketserver.h);
// PhysicalSocketServer is a server built on this waiter.

#include <poll.h>
#include <stdint.h>
#include <sys/epoll.h>

#include <atomic>
#include <memory>
#include <set>
#include <unordered_map>
#include <vector>

#include "rtc_base/dispatcher.h"
#include "rtc_base/eventdispatcher.h"
#include "rtc_base/recursive_mutex.h"

namespace rtc {

// Waits with epoll over every registered dispatcher; falls back to poll over
// all of them when no epoll descriptor can be made, and polls the wake-up
// pipe alone when the caller wants no I/O processed.
class DispatcherWaiter : public DispatcherRegistry {
 public:
  // Stands in for the epoll_create system call; tests pass one that fails.
  using EpollCreateFunction = int (*)(int size);

  explicit DispatcherWaiter(EpollCreateFunction epoll_create_fn);
  ~DispatcherWaiter() override;
  DispatcherWaiter(const DispatcherWaiter&) = delete;
  DispatcherWaiter& operator=(const DispatcherWaiter&) = delete;

  // Until `timeout_ms` (or kForever) passes, a wake-up, or events were
  // delivered to the dispatchers; with `process_io` false only a wake-up
  // ends it early. False only when the system's wait call fails.
  bool Wait(int timeout_ms, bool process_io);
  // Any thread, any time; remembered when nobody waits.
  void WakeUp();

  // Registration, from any thread; handlers running inside Wait may call
  // these on the same waiter.
  void Add(Dispatcher* dispatcher) final;
  void Remove(Dispatcher* dispatcher) final;
  // Tells epoll that dispatcher->WantedEvents() changed.
  void UpdateInterest(Dispatcher* dispatcher) final;

  bool uses_epoll() const { return epoll_fd_ != -1; }
  // Entries in the epoll result array (0 before the first epoll wait).
  size_t epoll_capacity() const { return epoll_events_.size(); }
  // EPOLL_CTL_MOD calls made so far by UpdateInterest.
  uint64_t interest_updates() const { return interest_updates_.load(); }
  // Registered dispatchers, pending changes included.
  size_t dispatcher_count();

 private:
  bool WaitWithEpoll(int timeout_ms);
  bool WaitWithPollSet(int timeout_ms);
  bool WaitWithPoll(int timeout_ms, Dispatcher* dispatcher);
  void DeliverEpollResults(int count);
  void FillPollSet();
  bool DeliverPollResults();
  void ApplyPendingChanges() RTC_REQUIRES(lock_);
  void DeliverReadiness(Dispatcher* dispatcher, bool readable, bool writable, bool check_error);

  int epoll_fd_ = -1;
  std::vector<epoll_event> epoll_events_;
  // The poll fallback's descriptors, and where each is in the set; rebuilt
  // on every pass by the waiting thread.
  std::vector<pollfd> poll_set_;
  std::unordered_map<int, size_t> poll_index_;
  // Registered dispatchers, not owned. While the poll fallback delivers
  // events (iterating_), changes wait in the two pending sets.
  RecursiveMutex lock_;
  std::set<Dispatcher*> dispatchers_ RTC_GUARDED_BY(lock_);
  std::set<Dispatcher*> pending_adds_ RTC_GUARDED_BY(lock_);
  std::set<Dispatcher*> pending_removes_ RTC_GUARDED_BY(lock_);
  bool iterating_ RTC_GUARDED_BY(lock_) = false;
  std::unique_ptr<Signaler> wakeup_signaler_;
  // Touched only by the waiting thread; the signaler clears it from inside
  // delivery to end the current Wait.
  bool keep_waiting_ = false;
  std::atomic<uint64_t> interest_updates_{0};
};

}  // namespace rtc

#endif  // RTC_BASE_DISPATCHERWAITER_H_
