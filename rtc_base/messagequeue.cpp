#include "rtc_base/messagequeue.h"

#include <algorithm>
#include <climits>

#include "rtc_base/logging.h"
#include "rtc_base/stringbuilder.h"

namespace rtc {

namespace {

// Heap order: `a` comes after `b` when it is due later, or at the same
// millisecond but posted later. Sequences are compared modulo 2^32 so that
// the counter's wrap does not reorder posts made around it.
bool DueAfter(const DelayedEntry& a, const DelayedEntry& b) {
  if (a.trigger_ms != b.trigger_ms)
    return a.trigger_ms > b.trigger_ms;
  return static_cast<int32_t>(a.sequence - b.sequence) > 0;
}

// The two arrays that take turns as the batch and as the list posts go to
// keep what they have grown to, up to this many entries: a burst past it is
// given back once the owner has worked through it.
constexpr size_t kRetainedBatch = 4096;

int ClampToInt(int64_t value) {
  return static_cast<int>(std::min<int64_t>(std::max<int64_t>(value, INT_MIN), INT_MAX));
}

// The registry of queues. It is never destroyed: a registry that went away
// with its last queue could be freed under a thread that is creating the
// next one or sweeping it for a dying handler.
struct Registry {
  RecursiveMutex lock;
  std::vector<MessageQueue*> queues RTC_GUARDED_BY(lock);
};

std::atomic<Registry*> g_registry{nullptr};

Registry* CreateRegistry() {
  static Registry* const registry = [] {
    auto* created = new Registry;
    g_registry.store(created, std::memory_order_release);
    return created;
  }();
  return registry;
}

// Null until the first queue registers: handlers that never met a queue pay
// no lock on destruction.
Registry* ExistingRegistry() {
  return g_registry.load(std::memory_order_acquire);
}

}  // namespace

std::string PostLocation::ToString() const {
  char buffer[256];
  FormatBounded(buffer, sizeof(buffer), "%s@%s", function_name, file_and_line);
  return buffer;
}

MessageHandler::~MessageHandler() {
  QueueRegistry::ClearHandler(this);
}

// --- QueueRegistry -----------------------------------------------------------

void QueueRegistry::Add(MessageQueue* queue) {
  Registry* registry = CreateRegistry();
  ScopedLock lock(&registry->lock);
  registry->queues.push_back(queue);
}

void QueueRegistry::Remove(MessageQueue* queue) {
  Registry* registry = ExistingRegistry();
  if (registry == nullptr)
    return;
  ScopedLock lock(&registry->lock);
  auto& queues = registry->queues;
  queues.erase(std::remove(queues.begin(), queues.end(), queue), queues.end());
}

void QueueRegistry::ClearHandler(MessageHandler* handler) {
  Registry* registry = ExistingRegistry();
  if (registry == nullptr)
    return;
  ScopedLock lock(&registry->lock);
  // By index: a payload destroyed by Clear may itself remove a queue.
  for (size_t i = 0; i < registry->queues.size(); ++i)
    registry->queues[i]->Clear(handler, kAnyMessageId, nullptr);
}

// --- MessageQueue: life ------------------------------------------------------

MessageQueue::MessageQueue(std::unique_ptr<SocketServer> socket_server, bool initialize)
    : socket_server_(socket_server.get()) {
  socket_server_->AttachQueue(this);
  owned_socket_server_ = std::move(socket_server);
  if (initialize)
    Initialize();
}

MessageQueue::~MessageQueue() {
  Teardown();
  owned_socket_server_.reset();
}

void MessageQueue::Initialize() {
  if (initialized_)
    return;
  initialized_ = true;
  QueueRegistry::Add(this);
}

void MessageQueue::Teardown() {
  if (destroyed_)
    return;
  destroyed_ = true;
  SignalDestroyed.emit();
  QueueRegistry::Remove(this);
  Clear(nullptr, kAnyMessageId, nullptr);
  socket_server_->AttachQueue(nullptr);
}

// --- MessageQueue: stop flag -------------------------------------------------

void MessageQueue::Quit() {
  stop_requested_.store(1);
  socket_server_->WakeUp();
}

bool MessageQueue::IsQuitRequested() {
  return stop_requested_.load() != 0;
}

void MessageQueue::ClearQuit() {
  stop_requested_.store(0);
}

bool MessageQueue::IsServingMessages() {
  return !IsQuitRequested();
}

// --- MessageQueue: posting ---------------------------------------------------

void MessageQueue::Post(const PostLocation& posted_from, MessageHandler* handler,
                        uint32_t message_id, MessageData* data, bool time_sensitive) {
  if (IsQuitRequested()) {
    // The poster handed the payload over; nobody else will ever free it.
    delete data;
    return;
  }
  const int64_t deadline = time_sensitive ? MonotonicMillis() + kMaxLatencyMs : 0;
  bool wake;
  {
    ScopedLock lock(&lock_);
    immediate_.push_back(Message{posted_from, handler, message_id, data, deadline});
    // An owner that is awake takes this with its next batch.
    wake = sleeping_;
    sleeping_ = false;
  }
  if (wake)
    socket_server_->WakeUp();
}

void MessageQueue::PostAfter(const PostLocation& posted_from, int delay_ms,
                             MessageHandler* handler, uint32_t message_id,
                             MessageData* data) {
  PostDelayed(posted_from, MonotonicMillis() + delay_ms, handler, message_id, data);
}

void MessageQueue::PostAtTime(const PostLocation& posted_from, int64_t trigger_ms,
                              MessageHandler* handler, uint32_t message_id,
                              MessageData* data) {
  PostDelayed(posted_from, trigger_ms, handler, message_id, data);
}

void MessageQueue::PostAtTime32(const PostLocation& posted_from, uint32_t trigger_ms,
                                MessageHandler* handler, uint32_t message_id,
                                MessageData* data) {
  PostDelayed(posted_from, static_cast<int64_t>(trigger_ms), handler, message_id, data);
}

void MessageQueue::PostDelayed(const PostLocation& posted_from, int64_t trigger_ms,
                               MessageHandler* handler, uint32_t message_id,
                               MessageData* data) {
  if (IsQuitRequested()) {
    delete data;
    return;
  }
  bool wake;
  {
    ScopedLock lock(&lock_);
    const uint32_t sequence = next_sequence_++;
    delayed_.push_back(
        DelayedEntry{trigger_ms, sequence, Message{posted_from, handler, message_id, data, 0}});
    std::push_heap(delayed_.begin(), delayed_.end(), DueAfter);
    NoteNextTriggerLocked();
    // A sleeping owner needs waking only when its sleep should end sooner:
    // when this is now the earliest entry.
    wake = sleeping_ && delayed_.front().sequence == sequence;
    if (wake)
      sleeping_ = false;
  }
  if (wake)
    socket_server_->WakeUp();
}

// --- MessageQueue: taking ----------------------------------------------------

bool MessageQueue::Get(Message* message, int wait_ms, bool process_io) {
  if (TakePeeked(message))
    return true;
  PassClock now;
  int64_t start = -1;
  for (;;) {
    ServeSends();
    if (DelayedDue(&now)) {
      // Due delayed messages go behind everything posted before this pass.
      ScopedLock lock(&lock_);
      MoveDueDelayedLocked(&now);
    }
    int next_delay = kForever;
    while (TakeNext(message, &now, &next_delay)) {
      WarnIfLate(*message, &now);
      if (message->message_id != kDisposeMessageId)
        return true;
      delete message->data;
      *message = Message();
    }
    if (IsQuitRequested()) {
      StopSleeping();
      return false;
    }
    if (start < 0)
      start = now.Now();
    if (!socket_server_->Wait(SleepTime(wait_ms, now.Now() - start, next_delay), process_io)) {
      StopSleeping();
      return false;
    }
    now.Reset();
    if (wait_ms != kForever && now.Now() - start >= wait_ms) {
      StopSleeping();
      return false;
    }
  }
}

bool MessageQueue::TakeNext(Message* message, PassClock* now, int* next_delay) {
  if (TakeFromBatch(message))
    return true;
  std::vector<Message> spent;  // freed after the lock is released
  {
    ScopedLock lock(&lock_);
    sleeping_ = false;
    // Again under the lock: a post since the pass began may be due already.
    *next_delay = MoveDueDelayedLocked(now);
    if (immediate_.empty()) {
      // From here a post wakes us. Once a stop is requested, Get() returns
      // instead of sleeping, and posts are dropped anyway.
      sleeping_ = !IsQuitRequested();
      return false;
    }
    if (batch_.capacity() > kRetainedBatch)
      spent.swap(batch_);
    StartBatchLocked();
  }
  return TakeFromBatch(message);
}

void MessageQueue::StartBatchLocked() {
  batch_.clear();
  batch_.swap(immediate_);
  const size_t size = batch_.size();
  if (batch_claims_size_ < size || batch_claims_size_ > std::max(size, kRetainedBatch)) {
    batch_claims_size_ = std::max(size, batch_.capacity());
    batch_claims_.reset(new std::atomic<bool>[batch_claims_size_]);
  }
  for (size_t i = 0; i < size; ++i)
    batch_claims_[i].store(false, std::memory_order_relaxed);
  batch_next_.store(0, std::memory_order_relaxed);
}

bool MessageQueue::TakeFromBatch(Message* message) {
  size_t next = batch_next_.load(std::memory_order_relaxed);
  const size_t end = batch_.size();
  while (next < end) {
    const size_t i = next++;
    if (ClaimBatchEntry(i)) {
      batch_next_.store(next, std::memory_order_relaxed);
      *message = batch_[i];
      return true;
    }
  }
  batch_next_.store(next, std::memory_order_relaxed);
  return false;
}

bool MessageQueue::DelayedDue(PassClock* now) {
  const int64_t trigger = next_trigger_ms_.load(std::memory_order_acquire);
  return trigger != INT64_MAX && trigger <= now->Now();
}

void MessageQueue::StopSleeping() {
  ScopedLock lock(&lock_);
  sleeping_ = false;
}

int MessageQueue::SleepTime(int wait_ms, int64_t elapsed, int next_delay) {
  if (wait_ms == kForever)
    return next_delay;
  const int remaining = ClampToInt(std::max<int64_t>(0, wait_ms - elapsed));
  if (next_delay != kForever && next_delay < remaining)
    return next_delay;
  return remaining;
}

bool MessageQueue::Peek(Message* message, int wait_ms) {
  {
    ScopedLock lock(&lock_);
    if (peek_kept_) {
      *message = peeked_;
      return true;
    }
  }
  if (!Get(message, wait_ms, true))
    return false;
  ScopedLock lock(&lock_);
  peeked_ = *message;
  peek_kept_ = true;
  return true;
}

bool MessageQueue::TakePeeked(Message* message) {
  if (!peek_kept_.load(std::memory_order_relaxed))
    return false;  // only this thread ever sets it
  ScopedLock lock(&lock_);
  if (!peek_kept_)
    return false;
  *message = peeked_;
  peek_kept_ = false;
  return true;
}

int MessageQueue::MoveDueDelayedLocked(PassClock* clock) {
  if (delayed_.empty())
    return kForever;
  const int64_t now = clock->Now();
  if (delayed_.front().trigger_ms > now)
    return ClampToInt(delayed_.front().trigger_ms - now);
  while (!delayed_.empty() && delayed_.front().trigger_ms <= now) {
    std::pop_heap(delayed_.begin(), delayed_.end(), DueAfter);
    immediate_.push_back(delayed_.back().message);
    delayed_.pop_back();
  }
  NoteNextTriggerLocked();
  if (delayed_.empty())
    return kForever;
  return ClampToInt(delayed_.front().trigger_ms - now);
}

void MessageQueue::NoteNextTriggerLocked() {
  next_trigger_ms_.store(delayed_.empty() ? INT64_MAX : delayed_.front().trigger_ms,
                         std::memory_order_release);
}

void MessageQueue::WarnIfLate(const Message& message, PassClock* now) {
  if (message.deadline_ms == 0)
    return;
  const int64_t late = now->Now() - message.deadline_ms;
  if (late >= 1) {
    LOG(Warning) << "Get" << ": " << "id: " << message.message_id
                 << "  delay: " << late + kMaxLatencyMs << "ms";
  }
}

void MessageQueue::Dispatch(Message* message) {
  // Timing is only for the log line: skip the two clock reads when it
  // could not be written anyway.
  if (!LogLine::IsLoggable(LogSeverity::Verbose)) {
    message->handler->HandleMessage(message);
    return;
  }
  const int64_t start = MonotonicMillis();
  message->handler->HandleMessage(message);
  const int64_t took = MonotonicMillis() - start;
  if (took >= kSlowDispatchMs) {
    LOG(Verbose) << "Message took " << took << "ms to dispatch. Posted from: "
                 << message->posted_from.ToString();
  }
}

void MessageQueue::ServeSends() {}

int MessageQueue::TimeToNextMessage() {
  ScopedLock lock(&lock_);
  if (!immediate_.empty())
    return 0;
  for (size_t i = batch_next_.load(std::memory_order_relaxed); i < batch_.size(); ++i) {
    if (!batch_claims_[i].load(std::memory_order_acquire))
      return 0;
  }
  if (delayed_.empty())
    return kForever;
  const int64_t trigger = delayed_.front().trigger_ms;
  const int64_t now = MonotonicMillis();
  // Get() hands a message out by its 64-bit trigger, so this answers by it
  // too, saturating both ways instead of wrapping modulo 2^32: one due
  // however long ago is due now, one further ahead than an int can say is
  // INT_MAX away. Within an int's range both readings agree. (Unsigned: a
  // trigger near either end of the 64-bit range must not overflow.)
  if (trigger <= now)
    return 0;
  const uint64_t ahead = static_cast<uint64_t>(trigger) - static_cast<uint64_t>(now);
  return ahead > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(ahead);
}

// --- MessageQueue: clearing --------------------------------------------------

bool MessageQueue::Matches(const Message& message, MessageHandler* handler,
                           uint32_t message_id) {
  return (handler == nullptr || message.handler == handler) &&
         (message_id == kAnyMessageId || message.message_id == message_id);
}

void MessageQueue::Discard(Message* message, MessageList* removed) {
  if (removed != nullptr)
    removed->push_back(*message);
  else
    delete message->data;
}

void MessageQueue::Clear(MessageHandler* handler, uint32_t message_id,
                         MessageList* removed) {
  ScopedLock lock(&lock_);
  if (peek_kept_ && Matches(peeked_, handler, message_id)) {
    Discard(&peeked_, removed);
    peek_kept_ = false;
  }

  // The batch stays as it is (the owner walks it without the lock): a
  // removed entry is claimed, so that the owner passes over it.
  for (size_t i = batch_next_.load(std::memory_order_relaxed); i < batch_.size(); ++i) {
    if (Matches(batch_[i], handler, message_id) && ClaimBatchEntry(i))
      Discard(&batch_[i], removed);
  }
  auto kept = immediate_.begin();
  for (auto it = immediate_.begin(); it != immediate_.end(); ++it) {
    if (Matches(*it, handler, message_id))
      Discard(&*it, removed);
    else
      *kept++ = *it;
  }
  immediate_.erase(kept, immediate_.end());

  // In storage order, then one rebuild of the heap over what is left.
  auto kept_delayed = delayed_.begin();
  for (auto it = delayed_.begin(); it != delayed_.end(); ++it) {
    if (Matches(it->message, handler, message_id))
      Discard(&it->message, removed);
    else
      *kept_delayed++ = std::move(*it);
  }
  delayed_.erase(kept_delayed, delayed_.end());
  std::make_heap(delayed_.begin(), delayed_.end(), DueAfter);
  NoteNextTriggerLocked();
}

}  // namespace rtc
