#ifndef RTC_BASE_MESSAGEQUEUE_H_
#define RTC_BASE_MESSAGEQUEUE_H_

// Message queues: the per-thread mailbox of the runtime.
//
// Any thread posts messages, for now or for later; the owning thread takes
// them out with Get() and delivers each with Dispatch() to its handler.
// While nothing is due, Get() sleeps in the queue's socket server, which a
// post wakes. Every initialised queue is listed in a process-wide registry,
// so a handler that is being destroyed can purge its pending messages from
// all of them.
//
// The owner takes what was posted a batch at a time: everything pending,
// under the lock once, then one message per Get() without it. A message in
// the batch is still queued: Clear(), a dying handler and TimeToNextMessage()
// see it until Get() hands it out. A post wakes the owner only when it sleeps
// (or is about to); while it works through a batch, posts touch nothing but
// the lock.
//
// Payloads: a message's `data` belongs to whoever holds the message. A post
// hands it to the queue; Get() hands it to the caller; Clear() destroys it
// unless the caller collects the removed messages.

#include <stdint.h>

#include <atomic>
#include <list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "rtc_base/socketserver.h"
#include "rtc_base/recursive_mutex.h"
#include "rtc_base/sigslot.h"
#include "rtc_base/timeutils.h"

namespace rtc {

// Where a message was posted. Both texts are static and never freed.
struct PostLocation {
  PostLocation() = default;
  PostLocation(const char* function_name, const char* file_and_line)
      : function_name(function_name), file_and_line(file_and_line) {}

  // "function@file:line", cut to 255 characters.
  std::string ToString() const;

  const char* function_name = "Unknown";
  const char* file_and_line = "Unknown";
};

#define RTC_POST_STRINGIZE_(x) #x
#define RTC_POST_STRINGIZE(x) RTC_POST_STRINGIZE_(x)
// The location of the statement that uses it.
#define POST_LOCATION_HERE                                                  \
  ::rtc::PostLocation(__FUNCTION__, __FILE__ ":" RTC_POST_STRINGIZE(__LINE__))

class MessageHandler;

// A message payload; whoever discards a message destroys it.
class MessageData {
 public:
  MessageData() = default;
  virtual ~MessageData() = default;
  MessageData(const MessageData&) = delete;
  MessageData& operator=(const MessageData&) = delete;
};

// A payload that owns one T.
template <class T>
class ScopedMessageData : public MessageData {
 public:
  explicit ScopedMessageData(std::unique_ptr<T> data) : data_(std::move(data)) {}
  explicit ScopedMessageData(T* data) : data_(data) {}

  T* get() const { return data_.get(); }
  T& operator*() const { return *data_; }
  T* operator->() const { return data_.get(); }
  std::unique_ptr<T>& data() { return data_; }

 private:
  std::unique_ptr<T> data_;
};

struct Message {
  PostLocation posted_from;
  MessageHandler* handler = nullptr;  // not owned
  uint32_t message_id = 0;
  MessageData* data = nullptr;  // owned by whoever holds the message
  // Monotonic milliseconds by which a time-sensitive message should have
  // been taken; 0 for the others.
  int64_t deadline_ms = 0;
};

using MessageList = std::list<Message>;

// Matches every identifier in Clear().
constexpr uint32_t kAnyMessageId = 0xFFFFFFFF;
// A message that only carries a payload to be destroyed on the queue's
// thread; Get() destroys it and never returns it.
constexpr uint32_t kDisposeMessageId = 0xFFFFFFFE;
// A time-sensitive message taken later than this after its post is logged.
constexpr int kMaxLatencyMs = 150;
// A handler that runs this long is logged.
constexpr int kSlowDispatchMs = 50;

// Receives messages. Its destruction purges every message still queued for
// it in every registered queue, so none is delivered once it has begun; a
// message already taken out by a queue's owner is not affected.
class MessageHandler {
 public:
  MessageHandler() = default;
  virtual ~MessageHandler();
  MessageHandler(const MessageHandler&) = delete;
  MessageHandler& operator=(const MessageHandler&) = delete;

  virtual void HandleMessage(Message* message) = 0;
};

// An entry of the delayed set.
struct DelayedEntry {
  int64_t trigger_ms;  // monotonic milliseconds at which it becomes due
  uint32_t sequence;   // posting order among equal triggers
  Message message;
};

class MessageQueue {
 public:
  // The queue owns `socket_server`. Classes derived from MessageQueue pass
  // initialize = false and call Initialize() at the end of their own
  // construction, so the registry never lists a half-built queue.
  MessageQueue(std::unique_ptr<SocketServer> socket_server, bool initialize);
  virtual ~MessageQueue();
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  // From then on posts are dropped (and their payloads destroyed) and Get()
  // returns false once nothing is due; the owner is woken.
  virtual void Quit();
  virtual bool IsQuitRequested();
  virtual void ClearQuit();
  virtual bool IsServingMessages();

  // Owner only. Takes the next due message, waiting up to `wait_ms`
  // (kForever: no limit); serves I/O while waiting when `process_io`.
  // False on a stop request, time-out or failed wait; `*message` is then
  // unspecified.
  virtual bool Get(Message* message, int wait_ms = kForever, bool process_io = true);
  // Owner only. Like Get(), but the message is returned again by the next
  // Get() or Peek().
  virtual bool Peek(Message* message, int wait_ms = 0);

  // Any thread. The queue takes `data`.
  virtual void Post(const PostLocation& posted_from, MessageHandler* handler,
                    uint32_t message_id = 0, MessageData* data = nullptr,
                    bool time_sensitive = false);
  virtual void PostAfter(const PostLocation& posted_from, int delay_ms,
                         MessageHandler* handler, uint32_t message_id = 0,
                         MessageData* data = nullptr);
  // `trigger_ms` on MonotonicMillis().
  virtual void PostAtTime(const PostLocation& posted_from, int64_t trigger_ms,
                          MessageHandler* handler, uint32_t message_id = 0,
                          MessageData* data = nullptr);
  // `trigger_ms` on MonotonicMillis32().
  virtual void PostAtTime32(const PostLocation& posted_from, uint32_t trigger_ms,
                            MessageHandler* handler, uint32_t message_id = 0,
                            MessageData* data = nullptr);

  // Any thread. Removes the messages for `handler` (null: any) with
  // `message_id` (kAnyMessageId: any): appended to `removed`, which then
  // owns their payloads, or destroyed when `removed` is null. Order in
  // `removed`: a peeked message, then immediate ones in delivery order, then
  // delayed ones.
  virtual void Clear(MessageHandler* handler, uint32_t message_id = kAnyMessageId,
                     MessageList* removed = nullptr);

  // Owner only. Delivers one message; the payload stays the handler's
  // business.
  virtual void Dispatch(Message* message);
  // Called at the top of every wait pass of Get(); nothing to do here.
  virtual void ServeSends();
  // Milliseconds until the next message is due: 0 when one is due now,
  // INT_MAX when it is due further ahead than that, kForever when none is
  // queued.
  virtual int TimeToNextMessage();

  // Registers the queue once.
  void Initialize();
  SocketServer* socket_server() { return socket_server_; }

  // Emitted once when teardown starts.
  sigslot::notifier<sigslot::single_threaded> SignalDestroyed;

 protected:
  // The one-time destruction steps; later calls do nothing. Derived classes
  // call it from their destructor so that their own Clear() runs.
  void Teardown();

  static bool Matches(const Message& message, MessageHandler* handler,
                      uint32_t message_id);

  // Guards the message containers; derived classes guard their own queued
  // work with it too.
  RecursiveMutex lock_;

 private:
  void PostDelayed(const PostLocation& posted_from, int64_t trigger_ms,
                   MessageHandler* handler, uint32_t message_id, MessageData* data);
  // The time of one wait pass of Get(), read from the clock only when the
  // pass needs it: most passes take a message that needs no time at all.
  class PassClock {
   public:
    int64_t Now() {
      if (now_ < 0)
        now_ = MonotonicMillis();
      return now_;
    }
    void Reset() { now_ = -1; }

   private:
    int64_t now_ = -1;
  };

  bool TakePeeked(Message* message);
  // The next message of the batch; when the batch is used up, everything
  // posted since becomes the next batch. False when there is nothing; the
  // owner is then marked as going to sleep, and `next_delay` says for how
  // long at most.
  bool TakeNext(Message* message, PassClock* now, int* next_delay);
  bool TakeFromBatch(Message* message);
  // Makes immediate_ the batch.
  void StartBatchLocked() RTC_REQUIRES(lock_);
  // True for the one caller, owner or Clear(), that gets batch entry `i`.
  bool ClaimBatchEntry(size_t i) {
    return !batch_claims_[i].exchange(true, std::memory_order_acq_rel);
  }
  // A delayed message may be due: its trigger has passed.
  bool DelayedDue(PassClock* now);
  // Moves the due delayed entries to `immediate_`; returns the delay to the
  // next remaining one, or kForever.
  int MoveDueDelayedLocked(PassClock* now) RTC_REQUIRES(lock_);
  void NoteNextTriggerLocked() RTC_REQUIRES(lock_);
  void StopSleeping();
  static void WarnIfLate(const Message& message, PassClock* now);
  static int SleepTime(int wait_ms, int64_t elapsed, int next_delay);
  static void Discard(Message* message, MessageList* removed);

  // What posting threads touch, apart from the owner's (below): a post
  // never shares a cache line with the owner working through its batch.

  // Posted since the owner last took a batch, in delivery order.
  std::vector<Message> immediate_ RTC_GUARDED_BY(lock_);
  // The owner found nothing and sleeps, or is about to: the next post wakes
  // it (and clears this, so that later ones need not).
  bool sleeping_ RTC_GUARDED_BY(lock_) = false;
  std::atomic<int> stop_requested_{0};

  // The owner's batch: ahead of immediate_ in delivery order. The vectors
  // change only under lock_ and only by the owner, which alone reads them
  // without the lock. An entry leaves the batch when claimed (see
  // ClaimBatchEntry), by Get() or by Clear().
  alignas(64) std::vector<Message> batch_;
  std::unique_ptr<std::atomic<bool>[]> batch_claims_;
  size_t batch_claims_size_ = 0;
  // Entries of batch_ before it are claimed. Written by the owner; others
  // read it under lock_ to skip the claimed part.
  std::atomic<size_t> batch_next_{0};
  // The top delayed entry's trigger, INT64_MAX with none: lets the owner
  // skip lock_ (and the clock) on a pass with nothing delayed due. Changes
  // under lock_.
  std::atomic<int64_t> next_trigger_ms_{INT64_MAX};
  // Set only by the owner (under lock_), cleared under lock_ by anyone: the
  // owner may read it without the lock to skip taking it when false.
  std::atomic<bool> peek_kept_{false};

  alignas(64) Message peeked_ RTC_GUARDED_BY(lock_);
  // A binary heap, earliest on top.
  std::vector<DelayedEntry> delayed_ RTC_GUARDED_BY(lock_);
  uint32_t next_sequence_ RTC_GUARDED_BY(lock_) = 0;
  // Owner only: set once by Initialize() and Teardown().
  bool initialized_ = false;
  bool destroyed_ = false;
  SocketServer* socket_server_;
  std::unique_ptr<SocketServer> owned_socket_server_;
};

// The process-wide list of initialised queues. Created on first use and
// never destroyed, so queues may come and go on any thread.
class QueueRegistry {
 public:
  static void Add(MessageQueue* queue);
  static void Remove(MessageQueue* queue);
  // Clears every message for `handler` from every registered queue.
  static void ClearHandler(MessageHandler* handler);
};

}  // namespace rtc

#endif  // RTC_BASE_MESSAGEQUEUE_H_
