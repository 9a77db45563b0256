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
// Each line is queued once, in the sink. The log thread takes every queued
// line at once and runs while there are any; it is posted a drain only when
// it has none, so a logging thread that finds it at work neither posts nor
// wakes anything. Lines the log thread has taken and not yet delivered still
// count against the bound, and the oldest of them are dropped first.
//
// One sink per process, created by PluginManager's constructor or by the
// first setRenderLogFile; it switches runtime logging on ("verbose
// realtstamp") and lives until the process ends.

#include <stdint.h>

#include <atomic>
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
  // How long a drain that ran out of lines sleeps before it looks again.
  static constexpr int kLingerUs = 100;

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

  // Lines logged and neither handed to a listener nor dropped, whether
  // the log thread has taken them or not.
  size_t QueuedLines() const { return UndeliveredLines(); }
  size_t UndeliveredLines() const;

 private:
  enum class Delivery { kDelivered, kNothingYet, kOver };

  void Drain();
  Delivery DeliverBatch(bool may_linger);
  void PutBack(size_t from) RTC_REQUIRES(lock_);
  void DropOldestLocked() RTC_REQUIRES(lock_);
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
  rtc::RecursiveMutex lock_;
  // Written under both lock_ and listenerCallLock_, so either one suffices
  // to read it.
  ILogRenderListener* listener_ RTC_GUARDED_BY(lock_) = nullptr;
  std::unique_ptr<rtc::Thread> thread_ RTC_GUARDED_BY(lock_);
  std::unique_ptr<rtc::AsyncInvoker> invoker_ RTC_GUARDED_BY(lock_);

  // Lines are numbered in logging order from 0; tail_ is the next number.
  // Those below dropped_ were dropped (unless already delivered), those
  // below delivered_ were handed to a listener or skipped as dropped.
  std::atomic<uint64_t> tail_{0};
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> delivered_{0};
  // delivered_ as last read by a logging thread: a line need only look at
  // the log thread's progress when the queue seems full by this.
  uint64_t deliveredSeen_ RTC_GUARDED_BY(lock_) = 0;

  // The lines not yet taken by the log thread: incoming_[i] is line number
  // incomingBase_ + i, for i below incomingCount_. Entries past the count
  // keep their buffers for later lines, and the log thread's batch and
  // incoming_ trade places whole, so that buffers go round instead of being
  // allocated by one thread and freed by another.
  std::vector<std::string> incoming_ RTC_GUARDED_BY(lock_);
  size_t incomingCount_ RTC_GUARDED_BY(lock_) = 0;
  uint64_t incomingBase_ RTC_GUARDED_BY(lock_) = 0;
  // A drain is posted or running. It clears this itself, under lock_, when
  // it finds nothing it can deliver, so that the next line posts another.
  bool drainScheduled_ RTC_GUARDED_BY(lock_) = false;

  // The log thread's: the lines it took, batch_[i] being number batchBase_
  // + i, for i below batchCount_.
  std::vector<std::string> batch_;
  size_t batchCount_ = 0;
  uint64_t batchBase_ = 0;
  // The number the listener should see next; a later one means the lines
  // in between were dropped.
  uint64_t nextToDeliver_ = 0;

  // Held across each listener call (which runs outside lock_), so that a
  // listener being replaced is never called after the replacement returns.
  rtc::RecursiveMutex listenerCallLock_ RTC_ACQUIRED_BEFORE(lock_);
};

#endif  // QUON_OHOS_NAPI_QUON_RENDER_LOGFILE_H_
