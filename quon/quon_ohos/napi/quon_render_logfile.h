#ifndef QUON_OHOS_NAPI_QUON_RENDER_LOGFILE_H_
#define QUON_OHOS_NAPI_QUON_RENDER_LOGFILE_H_

// Forwards every runtime log line to the host's ILogRenderListener on a
// thread of its own, "CallbackLogThread", so that no thread that logs ever
// runs host code. Lines wait in a bounded queue (the oldest is dropped past
// 5120) and reach the listener one call at a time, in logging order, each
// exactly once unless it was dropped. When lines were dropped, the listener
// first receives one line of the sink's own, "N lines dropped\n" behind the
// same prefix as any line (time stamp and the sink's own location), then
// the next line. Lines taken out for a listener that is replaced or removed
// before it gets them go back to the queue, for the next one. With no
// listener set, lines stay queued and are delivered as soon as one is set.
//
// One sink per process, created by PluginManager's constructor or by the
// first setRenderLogFile; it switches runtime logging on ("verbose
// realtstamp") and lives until the process ends.

#include <stdint.h>

#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "ILogRenderListener.h"
#include "rtc_base/asyncinvoker.h"
#include "rtc_base/logging.h"
#include "rtc_base/recursive_mutex.h"
#include "rtc_base/sigslot.h"
#include "rtc_base/thread.h"

// The has_slots base connects to nothing; it stays because the bases and
// their order are part of the class's layout that other code was built with.
class CallbLogSink : public rtc::LogSink, public sigslot::has_slots<sigslot::single_threaded> {
 public:
  static constexpr size_t kMaxQueuedLines = 5120;
  static constexpr size_t kDeliveryBatch = 64;
  // How long a drain that emptied the queue waits for more before ending.
  static constexpr int64_t kLingerNs = 30000;

  // Creates the process's sink unless it exists.
  static void CreateInstance();
  // Creates the sink if needed, then makes `listener` the receiver of every
  // later delivery (null stops delivery; lines then stay queued). Waits for
  // a listener call in progress, so the old listener is not called after
  // this returns. Always true.
  static bool setRenderLogFile(const std::string& path, ILogRenderListener* listener);
  // The process's sink, or null before it exists.
  static CallbLogSink* Instance();

  // A sink of its own, for tests; the product uses the process's instance.
  CallbLogSink();
  ~CallbLogSink() override;
  CallbLogSink(const CallbLogSink&) = delete;
  CallbLogSink& operator=(const CallbLogSink&) = delete;

  void Init();
  // `path` names no file: lines go to the listener only.
  void SetListener(const std::string& path, ILogRenderListener* listener);
  void OnLogMessage(const std::string& message) override;

  size_t QueuedLines();
  // Lines logged and not yet handed to a listener: the queued ones and
  // those the log thread has taken out and not yet delivered.
  size_t UndeliveredLines() const { return queued_.load() + delivering_.load(); }

 private:
  struct QueuedLine {
    uint64_t sequence;
    std::string text;
  };

  void Drain();
  bool DeliverOldest();
  bool LingerForMoreLines();
  bool HasListener();
  // listener_ as the log thread reads it during a call, holding only the
  // call lock: every write holds both locks, which the analysis cannot
  // express.
  ILogRenderListener* CallingListener()
      RTC_REQUIRES(listenerCallLock_) RTC_NO_THREAD_SAFETY_ANALYSIS {
    return listener_;
  }
  void PostDrain();

  static std::atomic<CallbLogSink*> instance_;

  std::atomic<bool> started_{false};
  std::atomic<bool> draining_{false};
  std::atomic<bool> drainPosted_{false};
  rtc::RecursiveMutex lock_;
  // Written under both lock_ and listenerCallLock_, so either one suffices
  // to read it.
  ILogRenderListener* listener_ RTC_GUARDED_BY(lock_) = nullptr;
  std::unique_ptr<rtc::Thread> thread_ RTC_GUARDED_BY(lock_);
  std::unique_ptr<rtc::AsyncInvoker> invoker_ RTC_GUARDED_BY(lock_);
  std::deque<QueuedLine> lines_ RTC_GUARDED_BY(lock_);
  uint64_t nextSequence_ RTC_GUARDED_BY(lock_) = 0;
  std::vector<QueuedLine> batch_;  // the lines the log thread is delivering
  // The sequence number the listener should see next; a line with a later
  // one means the lines in between were dropped. Log thread only.
  uint64_t nextToDeliver_ = 0;
  // lines_.size() as of its last change, for the drain's linger to watch
  // without taking lock_.
  std::atomic<size_t> queued_{0};
  // Lines of batch_ not yet delivered (nor put back in the queue).
  std::atomic<size_t> delivering_{0};
  // Held across each listener call (which runs outside lock_), so that a
  // listener being replaced is never called after the replacement returns.
  rtc::RecursiveMutex listenerCallLock_ RTC_ACQUIRED_BEFORE(lock_);
};

#endif  // QUON_OHOS_NAPI_QUON_RENDER_LOGFILE_H_
