#include "quon_render_logfile.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "quon_platform_log.h"
#include "rtc_base/socketserver.h"

namespace {

using namespace platform_log;  // the domain, tags and TruncatedToInt

constexpr const char* kLogConfiguration = "verbose realtstamp";

// A line's buffer longer than this is not kept for reuse once delivered.
constexpr size_t kLongestKeptLine = 1024;

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

// A logging thread's spare line buffer: a line is copied into it outside
// the sink's lock, and the queue takes it in exchange for a buffer of its own.
std::string& SpareLine() {
  thread_local std::string line;
  return line;
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
      // Posts and time-outs only: the thread waits on an event, not on
      // descriptors.
      thread_ = std::make_unique<rtc::Thread>(std::make_unique<rtc::NullSocketServer>(),
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
    dropped_ = tail_.load();
    incomingCount_ = 0;
    incomingBase_ = tail_.load();
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
  dropped_ = tail_.load();
  incomingCount_ = 0;
  incomingBase_ = tail_.load();
}

void CallbLogSink::SetListener(const std::string& /*path*/, ILogRenderListener* listener) {
  bool post;
  {
    rtc::ScopedLock call(&listenerCallLock_);
    rtc::ScopedLock lock(&lock_);
    listener_ = listener;
    // Lines logged while there was no listener go out now, not with the
    // next logged line.
    const uint64_t oldest = std::max(incomingBase_, dropped_.load());
    post = listener != nullptr && oldest < tail_.load() && !drainScheduled_;
    drainScheduled_ = drainScheduled_ || post;
  }
  if (post)
    PostDrain();
}

size_t CallbLogSink::UndeliveredLines() const {
  // The tail first: lines logged before this call are below it.
  const uint64_t tail = tail_.load();
  const uint64_t gone = std::max(dropped_.load(), delivered_.load());
  return tail > gone ? static_cast<size_t>(tail - gone) : 0;
}

void CallbLogSink::OnLogMessage(const std::string& message) {
  if (!started_)
    return;
  std::string& line = SpareLine();
  line.assign(message);
  bool post;
  {
    rtc::ScopedLock lock(&lock_);
    const uint64_t number = tail_.load(std::memory_order_relaxed);
    if (number - std::max(dropped_.load(std::memory_order_relaxed), deliveredSeen_) >=
        kMaxQueuedLines) {
      deliveredSeen_ = delivered_.load(std::memory_order_acquire);
      if (number - std::max(dropped_.load(std::memory_order_relaxed), deliveredSeen_) >=
          kMaxQueuedLines) {
        DropOldestLocked();
      }
    }
    if (incomingCount_ == incoming_.size())
      incoming_.emplace_back();
    incoming_[incomingCount_++].swap(line);
    tail_.store(number + 1, std::memory_order_release);
    // A drain posted or running takes this line too. Without a listener,
    // SetListener posts it.
    post = listener_ != nullptr && !drainScheduled_;
    drainScheduled_ = drainScheduled_ || post;
  }
  if (post)
    PostDrain();
}

// The oldest line goes, to make room for line tail_: the log thread skips
// it if it has taken it already.
void CallbLogSink::DropOldestLocked() {
  const uint64_t dropped = tail_.load(std::memory_order_relaxed) + 1 - kMaxQueuedLines;
  dropped_.store(dropped, std::memory_order_release);
  // Dropped lines still in incoming_ are let go of in bulk, once there are
  // as many as the queue may hold; their buffers stay for later lines.
  if (dropped <= incomingBase_)
    return;
  const size_t gone = static_cast<size_t>(
      std::min<uint64_t>(dropped - incomingBase_, static_cast<uint64_t>(incomingCount_)));
  if (gone < kMaxQueuedLines)
    return;
  std::rotate(incoming_.begin(), incoming_.begin() + static_cast<ptrdiff_t>(gone),
              incoming_.begin() + static_cast<ptrdiff_t>(incomingCount_));
  incomingCount_ -= gone;
  incomingBase_ += gone;
}

// Made without lock_, so that the queue's own lock is never taken inside
// ours (the queue may log while holding it).
void CallbLogSink::PostDrain() {
  rtc::AsyncInvoker* invoker;
  rtc::Thread* thread;
  {
    rtc::ScopedLock lock(&lock_);
    invoker = invoker_.get();
    thread = thread_.get();
    if (invoker == nullptr || thread == nullptr) {
      drainScheduled_ = false;
      return;
    }
  }
  invoker->Invoke(
      rtc::PostLocation("OnLogMessage", "../../quon/quon_ohos/napi/quon_render_logfile:104"), thread,
      [this] { Drain(); });
}

// Runs while there are lines to deliver. When it runs out it sleeps a
// little, unwoken, and looks once more before it ends: a thread that logs
// at all usually logs again within microseconds, and being posted and woken
// for each line would cost the logging thread a system call every few
// lines. Nothing posts while the drain sleeps; a line that finds it over
// posts the next one.
void CallbLogSink::Drain() {
  bool lingered = false;
  for (;;) {
    switch (DeliverBatch(!lingered)) {
      case Delivery::kDelivered:
        lingered = false;
        break;
      case Delivery::kNothingYet:
        std::this_thread::sleep_for(std::chrono::microseconds(kLingerUs));
        lingered = true;
        break;
      case Delivery::kOver:
        return;
    }
  }
}

// Takes every queued line at once and hands them to the listener, outside
// lock_ so that a listener that logs, or a thread logging meanwhile, never
// waits on a listener call while holding the logging core's lock. Lines the
// listener did not get (it was replaced or removed meanwhile) go back to the
// front of the queue. Lines the queue dropped show as a gap in the numbers:
// the listener is told how many before it receives the next line. With
// nothing to hand over the drain is over, unless `may_linger`.
CallbLogSink::Delivery CallbLogSink::DeliverBatch(bool may_linger) {
  {
    rtc::ScopedLock lock(&lock_);
    const uint64_t tail = tail_.load(std::memory_order_relaxed);
    const bool empty = std::max(incomingBase_, dropped_.load(std::memory_order_relaxed)) >= tail;
    if (!started_ || listener_ == nullptr || (empty && !may_linger)) {
      drainScheduled_ = false;
      return Delivery::kOver;
    }
    if (empty)
      return Delivery::kNothingYet;
    batch_.swap(incoming_);
    batchCount_ = incomingCount_;
    batchBase_ = incomingBase_;
    incomingCount_ = 0;
    incomingBase_ = tail;
  }
  for (size_t i = 0; i < batchCount_; ++i) {
    const uint64_t number = batchBase_ + i;
    if (number < dropped_.load(std::memory_order_acquire))
      continue;  // dropped since it was taken
    rtc::ScopedLock call(&listenerCallLock_);
    ILogRenderListener* listener = CallingListener();
    if (!started_ || listener == nullptr) {
      rtc::ScopedLock lock(&lock_);
      PutBack(i);
      return Delivery::kDelivered;  // the next round finds the change
    }
    if (number != nextToDeliver_) {
      // Prefixed as every forwarded line is, so a reader parsing the
      // prefix reads this one too.
      listener->OnRenderLog(rtc::LogLine::Prefix(__FILE__, __LINE__) +
                            std::to_string(number - nextToDeliver_) + " lines dropped\n");
    }
    // A copy: the buffer stays ours, to be filled again.
    listener->OnRenderLog(batch_[i]);
    nextToDeliver_ = number + 1;
    delivered_.store(number + 1, std::memory_order_release);
  }
  delivered_.store(batchBase_ + batchCount_, std::memory_order_release);
  for (size_t i = 0; i < batchCount_; ++i) {
    if (batch_[i].capacity() > kLongestKeptLine)
      std::string().swap(batch_[i]);
  }
  return Delivery::kDelivered;
}

// The lines of the batch from `from` on are older than any line still
// queued: they go back in front of them, less those dropped meanwhile.
void CallbLogSink::PutBack(size_t from) {
  const uint64_t dropped = dropped_.load(std::memory_order_relaxed);
  const uint64_t first = std::max<uint64_t>(batchBase_ + from, dropped);
  const uint64_t end = batchBase_ + batchCount_;
  if (first >= end)
    return;
  const size_t count = static_cast<size_t>(end - first);
  incoming_.insert(incoming_.begin(), count, std::string());
  for (size_t i = 0; i < count; ++i)
    incoming_[i].swap(batch_[static_cast<size_t>(first - batchBase_) + i]);
  incomingCount_ += count;
  incomingBase_ = first;
}
