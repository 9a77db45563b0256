#include "quon_render_logfile.h"

#include <algorithm>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "quon_platform_log.h"
#include "rtc_base/socketserver_factory.h"
#include "rtc_base/timeutils.h"

namespace {

using namespace platform_log;  // the domain, tags and TruncatedToInt

constexpr const char* kLogConfiguration = "verbose realtstamp";

// The sink's own threshold: the first severity other than "none" named in
// the configuration text, Error when it names none.
rtc::LogSeverity ThresholdOf(const char* configuration) {
  std::istringstream tokens(configuration);
  std::string token;
  rtc::LogSeverity severity;
  while (tokens >> token) {
    if (rtc::LogLine::ParseSeverity(token, &severity) && severity != rtc::LogSeverity::None)
      return severity;
  }
  return rtc::LogSeverity::Error;
}

std::mutex& CreationMutex() {
  static std::mutex* const mutex = new std::mutex;
  return *mutex;
}

}  // namespace

std::atomic<CallbLogSink*> CallbLogSink::instance_{nullptr};

CallbLogSink* CallbLogSink::Instance() {
  return instance_.load();
}

void CallbLogSink::CreateInstance() {
  std::lock_guard<std::mutex> creation(CreationMutex());
  if (instance_.load() != nullptr)
    return;
  auto* sink = new CallbLogSink;
  PLATFORM(LOG_ERROR, kNativeTag, "CallbLogSink init");
  sink->Init();
  instance_.store(sink);
}

bool CallbLogSink::setRenderLogFile(const std::string& path, ILogRenderListener* listener) {
  PLATFORM(LOG_ERROR, kNativeTag, "setRenderLogFile listener=%{public}p",
           static_cast<void*>(listener));
  CreateInstance();
  instance_.load()->SetListener(path, listener);
  return true;
}

CallbLogSink::CallbLogSink() = default;

void CallbLogSink::Init() {
  {
    rtc::ScopedLock lock(&lock_);
    if (!thread_) {
      thread_ = std::make_unique<rtc::Thread>(rtc::CreateSocketServer(rtc::WaitsFor::kMessagesOnly),
                                              /*initialize=*/true);
      thread_->SetName("CallbackLogThread", this);
      thread_->Start();
    }
    if (!invoker_)
      invoker_ = std::make_unique<rtc::AsyncInvoker>();
  }
  rtc::LogLine::Configure(kLogConfiguration);
  rtc::LogLine::AddSink(this, ThresholdOf(kLogConfiguration));
  started_ = true;
}

CallbLogSink::~CallbLogSink() {
  PLATFORM(LOG_ERROR, kNativeTag, "CallbLogSink uninit");
  started_ = false;
  // Unregistered first, outside lock_: the logging core calls OnLogMessage
  // under its own lock, which must never wait for ours.
  rtc::LogLine::RemoveSink(this);
  std::unique_ptr<rtc::Thread> thread;
  std::unique_ptr<rtc::AsyncInvoker> invoker;
  {
    // Waits for a listener call in progress; started_ is clear, so the
    // drain makes no further call.
    rtc::ScopedLock call(&listenerCallLock_);
    rtc::ScopedLock lock(&lock_);
    listener_ = nullptr;
    lines_.clear();
    if (thread_ && invoker_)
      thread_->Clear(invoker_.get());
    thread = std::move(thread_);
    invoker = std::move(invoker_);
  }
  // Stopped and joined without lock_: a drain in progress may be waiting
  // for it.
  if (thread)
    thread->Stop();
  thread.reset();
  invoker.reset();
  rtc::ScopedLock lock(&lock_);
  lines_.clear();
}

void CallbLogSink::SetListener(const std::string& /*path*/, ILogRenderListener* listener) {
  {
    rtc::ScopedLock call(&listenerCallLock_);
    rtc::ScopedLock lock(&lock_);
    listener_ = listener;
  }
  // Lines logged while there was no listener go out now, not with the next
  // logged line.
  PostDrain();
}

size_t CallbLogSink::QueuedLines() {
  rtc::ScopedLock lock(&lock_);
  return lines_.size();
}

void CallbLogSink::OnLogMessage(const std::string& message) {
  if (!started_)
    return;
  // The copy is made, and a dropped line freed, outside lock_: the drain
  // waits for lock_ only as long as the queue itself changes.
  QueuedLine line{0, message};
  QueuedLine dropped;
  {
    rtc::ScopedLock lock(&lock_);
    if (lines_.size() >= kMaxQueuedLines) {
      dropped = std::move(lines_.front());
      lines_.pop_front();
    }
    line.sequence = nextSequence_++;
    lines_.push_back(std::move(line));
    queued_.store(lines_.size(), std::memory_order_relaxed);
    if (listener_ == nullptr)
      return;  // SetListener posts the drain
  }
  if (!draining_)
    PostDrain();
}

// At most one drain waits in the thread's queue at a time. The post is
// made without lock_, so that the queue's own lock is never taken inside
// ours (the queue may log while holding it).
void CallbLogSink::PostDrain() {
  if (drainPosted_.exchange(true))
    return;
  rtc::AsyncInvoker* invoker;
  rtc::Thread* thread;
  {
    rtc::ScopedLock lock(&lock_);
    invoker = invoker_.get();
    thread = thread_.get();
  }
  if (invoker == nullptr || thread == nullptr) {
    drainPosted_ = false;
    return;
  }
  invoker->Invoke(
      rtc::PostLocation("OnLogMessage", "../../quon/quon_ohos/napi/quon_render_logfile:104"), thread,
      [this] { Drain(); });
}

void CallbLogSink::Drain() {
  drainPosted_ = false;
  for (;;) {
    draining_ = true;
    while (started_ && DeliverOldest()) {
    }
    // Without a listener the queued lines cannot go anywhere: the drain
    // ends, and SetListener posts the next one.
    if (HasListener() && LingerForMoreLines())
      continue;
    draining_ = false;
    // A line queued after the last delivery but while draining_ was still
    // set posted nothing: look once more now that it is clear.
    rtc::ScopedLock lock(&lock_);
    if (!started_ || lines_.empty() || listener_ == nullptr)
      return;
  }
}

bool CallbLogSink::HasListener() {
  rtc::ScopedLock lock(&lock_);
  return listener_ != nullptr;
}

// A logging thread builds a line in a fraction of a microsecond but waking
// this thread costs several: while lines keep coming, the drain stays a
// little (yielding the processor) so that the next line finds it still
// draining instead of posting and waking it again. True when a line came.
bool CallbLogSink::LingerForMoreLines() {
  const int64_t until = rtc::MonotonicNanos() + kLingerNs;
  while (started_ && rtc::MonotonicNanos() < until) {
    if (queued_.load(std::memory_order_relaxed) != 0)
      return true;
    std::this_thread::yield();
  }
  return false;
}

// Hands the oldest queued lines to the listener, outside lock_ so that a
// listener that logs, or a thread logging meanwhile, never waits on a
// listener call while holding the logging core's lock. Lines are moved out a
// batch at a time (one lock for many lines: a busy logger would otherwise
// win lock_ over the drain line after line); those the listener did not get
// (it was replaced or removed meanwhile) go back to the front of the queue.
// Lines the queue dropped show as a gap in the sequence numbers: the
// listener is told how many before it receives the next line. False when
// nothing was delivered.
bool CallbLogSink::DeliverOldest() {
  {
    rtc::ScopedLock lock(&lock_);
    if (lines_.empty() || listener_ == nullptr)
      return false;
    const size_t count = std::min(lines_.size(), kDeliveryBatch);
    for (size_t i = 0; i < count; ++i) {
      batch_.push_back(std::move(lines_.front()));
      lines_.pop_front();
    }
    // Counted as delivering before the queue's count drops (a release
    // store), so that UndeliveredLines never reads both at 0 too early.
    delivering_.store(count);
    queued_.store(lines_.size());
  }
  size_t delivered = 0;
  for (; delivered < batch_.size(); ++delivered) {
    if (!started_)
      break;
    rtc::ScopedLock call(&listenerCallLock_);
    if (CallingListener() == nullptr)
      break;
    QueuedLine& line = batch_[delivered];
    if (line.sequence != nextToDeliver_) {
      // Prefixed as every forwarded line is, so a reader parsing the
      // prefix reads this one too.
      CallingListener()->OnRenderLog(rtc::LogLine::Prefix(__FILE__, __LINE__) +
                                     std::to_string(line.sequence - nextToDeliver_) +
                                     " lines dropped\n");
    }
    CallingListener()->OnRenderLog(std::move(line.text));
    nextToDeliver_ = line.sequence + 1;
    --delivering_;
  }
  if (delivered < batch_.size()) {
    rtc::ScopedLock lock(&lock_);
    lines_.insert(lines_.begin(), std::make_move_iterator(batch_.begin() + delivered),
                  std::make_move_iterator(batch_.end()));
    while (lines_.size() > kMaxQueuedLines)
      lines_.pop_front();
    queued_.store(lines_.size(), std::memory_order_relaxed);
    delivering_.store(0);
  }
  batch_.clear();
  return delivered > 0;
}
