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

#include "rtc_base/messagequeue.h"
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

  RecursiveMutex lock_;
  Thread* main_ RTC_GUARDED_BY(lock_);
  Worker worker_;
  State state_ RTC_GUARDED_BY(lock_) = State::kIdle;
  int refcount_ RTC_GUARDED_BY(lock_) = 1;
};

}  // namespace rtc

#endif  // RTC_BASE_SIGNALTHREAD_H_
