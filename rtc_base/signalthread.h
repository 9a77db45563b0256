#ifndef RTC_BASE_SIGNALTHREAD_H_
#define RTC_BASE_SIGNALTHREAD_H_

// One-shot work on a worker thread, reported back on the creating thread.
//
//   class Lookup : public rtc::SignalThread {
//     void PerformWork() override { ... }      // on the worker thread
//   };
//   auto* lookup = new Lookup;                  // on a thread with an rtc::Thread
//   lookup->WorkDone.connect(&watcher, &Watcher::OnDone);
//   lookup->Start();
//   ...  // the creating thread's message loop delivers WorkDone
//   lookup->Destroy(false);                     // never `delete`
//
// The object counts its own references and deletes itself on the creating
// thread: Destroy() gives up the creator's reference. Destroy(false) on
// running work returns at once and the object goes when the work has
// finished (WorkDone is then not emitted); Destroy(true) waits for the
// worker thread to end.

#include <memory>
#include <vector>

#include "rtc_base/messagequeue.h"
#include "rtc_base/nethelpers.h"
#include "rtc_base/recursive_mutex.h"
#include "rtc_base/sigslot.h"
#include "rtc_base/thread.h"

namespace rtc {

class SignalThread : public sigslot::has_slots<sigslot::single_threaded>,
                     private MessageHandler {
 public:
  // On a thread that has an rtc::Thread (Thread::Current()).
  SignalThread();
  SignalThread(const SignalThread&) = delete;
  SignalThread& operator=(const SignalThread&) = delete;

  // Runs the work on a new worker thread. Only when idle or complete (a
  // completed object may be started again); otherwise nothing happens.
  void Start();
  // Gives up the creator's reference; see the top of this file.
  void Destroy(bool wait);

  // Emitted on the creating thread when the work has finished, unless the
  // object was destroyed meanwhile.
  sigslot::notifier<sigslot::single_threaded, SignalThread*> WorkDone;

 protected:
  // Only the reference count deletes the object.
  ~SignalThread() override;

  // On the creating thread, before the worker starts.
  virtual void BeforeWork() {}
  // On the worker thread.
  virtual void PerformWork() = 0;
  // On the creating thread, when a running object is destroyed. The work
  // itself is not interrupted.
  virtual void AbortWork() {}
  // On the creating thread, when the work has finished.
  virtual void AfterWork() {}

  void HandleMessage(Message* message) override;

 private:
  enum class State { kIdle, kRunning, kComplete, kStopping };

  class Worker : public Thread {
   public:
    explicit Worker(SignalThread* parent);
    // Runs the parent's work instead of a message loop.
    void Run() override;
    bool IsServingMessages() override { return false; }

   private:
    SignalThread* const parent_;
  };

  // Holds a reference for the duration of an entry point on the creating
  // thread; the last reference to go deletes the object. The lock is held
  // only to count: hooks and signals run without it, so their slots may
  // take other locks (a socket's server) in any order.
  class Guard {
   public:
    explicit Guard(SignalThread* owner);
    ~Guard();
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    SignalThread* const owner_;
  };

  // The worker thread's body: the work, then the completion message.
  void Run();
  void OnMainThreadDestroyed();

  Thread* main_;  // guarded by lock_
  Worker worker_;
  RecursiveMutex lock_;  // guards state_, refcount_ and main_
  State state_ = State::kIdle;
  int refcount_ = 1;
};

// Resolves an endpoint's host name on a SignalThread.
class AsyncResolver : public SignalThread, public AsyncResolverInterface {
 public:
  AsyncResolver();

  // Ignored while a resolution runs.
  void Start(const SocketEndpoint& request) override;
  bool ResolvedFor(int family, SocketEndpoint* out) const override;
  int ResolveError() const override;
  void Destroy(bool wait) override;

  // What was found, in order.
  const std::vector<IPAddress>& addresses() const { return addresses_; }

 protected:
  ~AsyncResolver() override;

  void BeforeWork() override;
  void PerformWork() override;
  void AfterWork() override;

 private:
  // Taken as request_ only when the worker starts: the running worker
  // reads request_.
  SocketEndpoint next_request_;
  SocketEndpoint request_;
  std::vector<IPAddress> addresses_;
  int error_ = -1;  // -1 until a resolution has run
};

}  // namespace rtc

#endif  // RTC_BASE_SIGNALTHREAD_H_
