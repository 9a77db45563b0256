// Operation sequences on two message queues, checked after every step
// against a reference model: what Get and Peek return, in what order, what
// Clear removes (from the owner's batch too), when payloads are destroyed
// (exactly once each), how often the queue wakes and waits its socket server,
// and which late messages are logged.
//
// The model takes messages a batch at a time as the queue does, and wakes
// the server only for a post that finds the owner asleep. Another thread's
// work while the owner sleeps is played by actions that the simulated server
// runs when a wait begins: a post, a delayed post, a Clear or a Quit.
//
// Time is simulated. The queue's clock reads are redirected at link time to
// a clock of our own (see CMakeLists.txt), and the queues wait in a socket
// server that does not sleep but moves that clock on by the time asked for.
// An input therefore runs the same way every time, at full speed, and
// delayed messages become due exactly when the model says.
//
// Input: the first byte picks the clock's starting point; then operations,
// each an opcode byte and its argument bytes (missing bytes read as 0). See
// RunOperation for the encoding.

#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <array>
#include <climits>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "rtc_base/checks.h"
#include "rtc_base/logging.h"
#include "rtc_base/messagequeue.h"

// --- The simulated clock ------------------------------------------------------

namespace {
int64_t g_now_ms = 0;
}  // namespace

// Linked in place of rtc::MonotonicMillis() and rtc::MonotonicMillis32() for
// every caller (-Wl,--wrap).
extern "C" int64_t __wrap__ZN3rtc15MonotonicMillisEv() {
  return g_now_ms;
}
extern "C" uint32_t __wrap__ZN3rtc17MonotonicMillis32Ev() {
  return static_cast<uint32_t>(g_now_ms);
}

namespace {

using rtc::Message;
using rtc::MessageHandler;
using rtc::MessageQueue;

constexpr int kQueues = 2;
constexpr int kHandlers = 3;
constexpr int kAnyHandler = -1;
// Enough for every path (a burst posts up to 32 messages at once); longer
// inputs found nothing new and halved the rate of executions.
constexpr int kMaxOperations = 128;
constexpr uint32_t kNoSerial = UINT32_MAX;

// Identifiers posted and cleared: ordinary ones, the two with a fixed
// meaning, and the extremes of the range.
constexpr std::array<uint32_t, 8> kIds = {
    0, 1, 2, 3, 0x7fffffff, 0x80000000, rtc::kDisposeMessageId, rtc::kAnyMessageId};

// Starting points of the clock: an ordinary uptime, and just before the
// 32-bit millisecond clock and its signed reading wrap.
constexpr std::array<int64_t, 4> kClockStarts = {1000000, int64_t{1} << 32, (int64_t{1} << 32) - 40,
                                                 (int64_t{1} << 31) - 40};

// --- Payloads: every destruction is counted and checked ----------------------

struct Ledger {
  std::vector<uint8_t> destroyed;  // by serial
  std::vector<uint8_t> has_data;   // by serial
  int live = 0;
};
Ledger* g_ledger = nullptr;

class Payload : public rtc::MessageData {
 public:
  explicit Payload(uint32_t serial) : serial_(serial) { ++g_ledger->live; }
  ~Payload() override {
    CHECK(!g_ledger->destroyed[serial_]) << "payload " << serial_ << " destroyed twice";
    g_ledger->destroyed[serial_] = 1;
    --g_ledger->live;
  }
  uint32_t serial() const { return serial_; }

 private:
  const uint32_t serial_;
};

uint32_t SerialOf(const rtc::MessageData* data) {
  return data != nullptr ? static_cast<const Payload*>(data)->serial() : kNoSerial;
}

// Takes what the handler receives and, as its owner, destroys the payload.
class RecordingHandler : public MessageHandler {
 public:
  void HandleMessage(Message* message) override {
    ++handled;
    last_id = message->message_id;
    last_serial = SerialOf(message->data);
    delete message->data;
    message->data = nullptr;
  }
  int handled = 0;
  uint32_t last_id = 0;
  uint32_t last_serial = kNoSerial;
};

// Longer waits fail, as if the server had given up: a Get without a
// time-out for a message due in 2^62 ms would otherwise simulate 2^36 waits.
constexpr int kLongestWaitMs = 1 << 26;

// Never sleeps. A wait first runs the action set for it, if any (another
// thread's work while the owner sleeps); then a wake-up, given meanwhile or
// before, ends it at once, as the wake-up pipe would; otherwise it moves the
// simulated clock on by its time-out. A wait without a time-out and without
// a wake-up fails, since nothing could ever end it.
class SimulatedSocketServer : public rtc::SocketServer {
 public:
  rtc::Socket* OpenSocket(int, int) override { return nullptr; }
  rtc::AsyncSocket* OpenAsyncSocket(int, int) override { return nullptr; }
  void AttachQueue(MessageQueue*) override {}
  bool Wait(int timeout_ms, bool) override {
    ++waits;
    if (during_wait) {
      std::function<void()> action = std::move(during_wait);
      during_wait = nullptr;
      action();
    }
    if (woken) {
      woken = false;
      return true;
    }
    if (timeout_ms == rtc::kForever || timeout_ms > kLongestWaitMs)
      return false;
    CHECK(timeout_ms >= 0) << "negative wait " << timeout_ms;
    g_now_ms += timeout_ms;
    return true;
  }
  void WakeUp() override {
    ++wakeups;
    woken = true;
  }
  int waits = 0;
  int wakeups = 0;
  bool woken = false;
  std::function<void()> during_wait;
};

// Counts the queue's late-message warnings and keeps their text.
class WarningSink : public rtc::LogSink {
 public:
  void OnLogMessage(const std::string& message) override { lines.push_back(message); }
  std::vector<std::string> lines;
};
WarningSink* g_warnings = nullptr;

// --- The reference model ------------------------------------------------------

struct Expected {
  uint32_t serial;
  int handler;
  uint32_t id;
  bool has_data;
  int64_t deadline;
};

struct ExpectedDelayed {
  int64_t trigger;
  uint32_t sequence;
  Expected message;
};

bool Matches(const Expected& message, int handler, uint32_t id) {
  return (handler == kAnyHandler || message.handler == handler) &&
         (id == rtc::kAnyMessageId || message.id == id);
}

class ModelQueue {
 public:
  // Post and the delayed posts. False when the post is dropped.
  bool Post(const Expected& message) {
    if (quit_)
      return false;
    immediate_.push_back(message);
    held_ += message.has_data;
    if (sleeping_)
      WakeUp();
    return true;
  }
  bool PostAt(int64_t trigger, Expected message) {
    if (quit_)
      return false;
    message.deadline = 0;
    const ExpectedDelayed entry{trigger, next_sequence_++, message};
    // Only a sleep that should now end sooner needs a wake-up.
    const bool earliest =
        std::all_of(delayed_.begin(), delayed_.end(),
                    [&](const ExpectedDelayed& e) { return DueBefore(entry, e); });
    delayed_.push_back(entry);
    held_ += message.has_data;
    if (sleeping_ && earliest)
      WakeUp();
    return true;
  }

  // Get(wait_ms) on a server that moves the clock on instead of sleeping.
  // `disposed` receives the dispose messages destroyed on the way.
  bool Get(int wait_ms, Expected* out, std::vector<Expected>* disposed) {
    if (peeked_) {
      *out = *peeked_;
      peeked_.reset();
      held_ -= out->has_data;
      return true;
    }
    const int64_t start = g_now_ms;
    for (;;) {
      MoveDue();
      int next_delay = rtc::kForever;
      while (TakeNext(out, &next_delay)) {
        held_ -= out->has_data;
        if (out->deadline != 0 && g_now_ms - out->deadline >= 1) {
          warnings.push_back("id: " + std::to_string(out->id) + "  delay: " +
                             std::to_string(g_now_ms - out->deadline + rtc::kMaxLatencyMs) + "ms");
        }
        if (out->id != rtc::kDisposeMessageId)
          return true;
        disposed->push_back(*out);
      }
      if (quit_) {
        sleeping_ = false;
        return false;
      }
      int sleep;
      if (wait_ms == rtc::kForever) {
        sleep = next_delay;
      } else {
        const int64_t remaining = std::max<int64_t>(0, wait_ms - (g_now_ms - start));
        sleep = next_delay != rtc::kForever && next_delay < remaining ? next_delay
                                                                      : static_cast<int>(remaining);
      }
      ++waits;
      if (during_wait) {
        std::function<void()> action = std::move(during_wait);
        during_wait = nullptr;
        action();
      }
      if (woken_) {
        woken_ = false;
      } else {
        if (sleep == rtc::kForever || sleep > kLongestWaitMs) {
          sleeping_ = false;
          return false;
        }
        g_now_ms += sleep;
      }
      if (wait_ms != rtc::kForever && g_now_ms - start >= wait_ms) {
        sleeping_ = false;
        return false;
      }
    }
  }

  bool Peek(int wait_ms, Expected* out, std::vector<Expected>* disposed) {
    if (peeked_) {
      *out = *peeked_;
      return true;
    }
    if (!Get(wait_ms, out, disposed))
      return false;
    peeked_ = *out;
    held_ += out->has_data;
    return true;
  }

  // What Clear removes: the peeked message, the rest of the batch and the
  // immediate ones in order into `ordered`, the delayed ones (whose order in
  // the result is the heap's storage order, not ours to predict) into
  // `delayed`.
  void Clear(int handler, uint32_t id, std::vector<Expected>* ordered,
             std::vector<Expected>* delayed) {
    const size_t removed_before = ordered->size();
    const size_t delayed_before = delayed->size();
    if (peeked_ && Matches(*peeked_, handler, id)) {
      ordered->push_back(*peeked_);
      peeked_.reset();
    }
    batch_.erase(batch_.begin(), batch_.begin() + static_cast<ptrdiff_t>(batch_head_));
    batch_head_ = 0;
    for (std::vector<Expected>* list : {&batch_, &immediate_}) {
      std::vector<Expected> kept;
      for (const Expected& message : *list)
        (Matches(message, handler, id) ? ordered->push_back(message) : kept.push_back(message));
      list->swap(kept);
    }
    std::vector<ExpectedDelayed> kept_delayed;
    for (const ExpectedDelayed& entry : delayed_) {
      if (Matches(entry.message, handler, id))
        delayed->push_back(entry.message);
      else
        kept_delayed.push_back(entry);
    }
    delayed_.swap(kept_delayed);
    for (size_t i = removed_before; i < ordered->size(); ++i)
      held_ -= (*ordered)[i].has_data;
    for (size_t i = delayed_before; i < delayed->size(); ++i)
      held_ -= (*delayed)[i].has_data;
  }

  int TimeToNextMessage() const {
    if (batch_head_ < batch_.size() || !immediate_.empty())
      return 0;
    if (delayed_.empty())
      return rtc::kForever;
    const ExpectedDelayed& top = *std::min_element(delayed_.begin(), delayed_.end(), DueBefore);
    // As Get() sees it, never wrapped: due however long ago is 0, further
    // ahead than an int can say is INT_MAX.
    if (top.trigger <= g_now_ms)
      return 0;
    const uint64_t ahead = static_cast<uint64_t>(top.trigger) - static_cast<uint64_t>(g_now_ms);
    return ahead > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(ahead);
  }

  void Quit() {
    quit_ = true;
    WakeUp();
  }
  void ClearQuit() { quit_ = false; }
  bool quit() const { return quit_; }

  // Payloads the queue holds.
  int held_payloads() const { return held_; }

  int waits = 0;
  int wakeups = 0;
  std::vector<std::string> warnings;  // what the late messages log, in order
  // Run when the next wait begins, as by SimulatedSocketServer.
  std::function<void()> during_wait;

 private:
  static bool DueBefore(const ExpectedDelayed& a, const ExpectedDelayed& b) {
    return a.trigger != b.trigger ? a.trigger < b.trigger : a.sequence < b.sequence;
  }

  void WakeUp() {
    ++wakeups;
    woken_ = true;
    sleeping_ = false;
  }

  // Moves the due delayed messages, earliest first, behind the immediate
  // ones; returns the delay to the next one left, or kForever.
  int MoveDue() {
    auto later = std::partition(delayed_.begin(), delayed_.end(),
                                [](const ExpectedDelayed& e) { return e.trigger <= g_now_ms; });
    std::sort(delayed_.begin(), later, DueBefore);
    for (auto it = delayed_.begin(); it != later; ++it)
      immediate_.push_back(it->message);
    delayed_.erase(delayed_.begin(), later);
    if (delayed_.empty())
      return rtc::kForever;
    const int64_t next =
        std::min_element(delayed_.begin(), delayed_.end(), DueBefore)->trigger - g_now_ms;
    return static_cast<int>(std::min<int64_t>(next, INT_MAX));
  }

  // The next message of the batch; once it is used up, everything posted
  // since becomes the batch. With nothing at all the owner goes to sleep
  // (unless a stop was requested) and `next_delay` is how long for at most.
  bool TakeNext(Expected* out, int* next_delay) {
    if (batch_head_ == batch_.size()) {
      sleeping_ = false;
      *next_delay = MoveDue();
      if (immediate_.empty()) {
        sleeping_ = !quit_;
        return false;
      }
      batch_.clear();
      batch_.swap(immediate_);
      batch_head_ = 0;
    }
    *out = batch_[batch_head_++];
    return true;
  }

  std::vector<Expected> batch_;  // the owner's batch from batch_head_ on
  size_t batch_head_ = 0;
  std::vector<Expected> immediate_;  // posted since, in delivery order
  std::vector<ExpectedDelayed> delayed_;
  std::optional<Expected> peeked_;
  uint32_t next_sequence_ = 0;
  bool quit_ = false;
  bool sleeping_ = false;  // a post must wake the owner
  bool woken_ = false;     // the server holds a wake-up
  int held_ = 0;
};

// --- Input -----------------------------------------------------------------------

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return position_ >= size_; }
  uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

// --- One run: the real queues beside their models ----------------------------

class Run {
 public:
  Run() {
    for (int i = 0; i < kQueues; ++i) {
      auto server = std::make_unique<SimulatedSocketServer>();
      servers_[i] = server.get();
      queues_[i] = std::make_unique<MessageQueue>(std::move(server), true);
    }
    for (auto& handler : handlers_)
      handler = std::make_unique<RecordingHandler>();
  }

  // The queues go first: their teardown must destroy every payload left.
  ~Run() {
    for (auto& queue : queues_)
      queue.reset();
    CHECK(g_ledger->live == 0) << g_ledger->live << " payloads outlived their queues";
    for (size_t serial = 0; serial < g_ledger->has_data.size(); ++serial) {
      CHECK(!g_ledger->has_data[serial] || g_ledger->destroyed[serial])
          << "payload " << serial << " never destroyed";
    }
  }

  void RunOperation(Reader* in) {
    const uint8_t op = in->Byte();
    switch (op % 16) {
      case 0:
      case 1:
        DoPost(in->Byte());
        break;
      case 2:
        // A delay from -4 to 11 ms, mostly around the present.
        DoPostAt(in->Byte(), Kind::kAfter, static_cast<int>(in->Byte() % 16) - 4);
        break;
      case 3:
        DoPostAt(in->Byte(), Kind::kAtTime, TriggerFor(in->Byte()));
        break;
      case 4:
        DoPostAt(in->Byte(), Kind::kAtTime32,
                 static_cast<uint32_t>(static_cast<uint32_t>(g_now_ms) +
                                       static_cast<int8_t>(in->Byte())));
        break;
      case 5:
      case 6:
      case 7: {
        // The opcode's high nibble: what another thread does while this
        // Get or Peek sleeps, if it does.
        const uint8_t args = in->Byte();
        ArmDuringWait(args & 1, op >> 4, in);
        if (op % 16 == 7)
          DoPeek(args);
        else
          DoGet(args);
        DisarmDuringWait(args & 1);
        break;
      }
      case 8:
        DoClear(in->Byte());
        break;
      case 9: {
        const int q = in->Byte() & 1;
        queues_[q]->Quit();
        models_[q].Quit();
        break;
      }
      case 10: {
        const int q = in->Byte() & 1;
        queues_[q]->ClearQuit();
        models_[q].ClearQuit();
        break;
      }
      case 11: {
        const uint8_t step = in->Byte();
        g_now_ms += step < 250 ? step : int64_t{1} << (step - 230);  // up to 2^25 ms
        break;
      }
      case 12: {
        const int q = in->Byte() & 1;
        CHECK(queues_[q]->TimeToNextMessage() == models_[q].TimeToNextMessage())
            << "TimeToNextMessage " << queues_[q]->TimeToNextMessage() << ", expected "
            << models_[q].TimeToNextMessage();
        break;
      }
      case 13:
        DoReplaceHandler(in->Byte() % kHandlers);
        break;
      case 14: {
        const uint8_t args = in->Byte();
        for (int i = 0; i <= (args & 31); ++i)
          DoPost(static_cast<uint8_t>(args + i * 2));
        break;
      }
      case 15: {
        const uint8_t args = in->Byte();
        while (DoGet(static_cast<uint8_t>(args & 1))) {
        }
        break;
      }
    }
    CheckAfterEveryStep();
  }

 private:
  enum class Kind { kAfter, kAtTime, kAtTime32 };

  // Absolute triggers: around the present, long past, far ahead, and the
  // ends of the range.
  static int64_t TriggerFor(uint8_t choice) {
    switch (choice >> 5) {
      case 0:
        return INT64_MIN;
      case 1:
        return INT64_MAX;
      case 2:
        return 0;
      case 3:
        return g_now_ms + (int64_t{1} << 40);
      default:
        return g_now_ms + static_cast<int>(choice & 63) - 16;
    }
  }

  // One byte of posting arguments: bit 0 the queue, bits 1-2 the handler,
  // bits 3-5 the identifier, bit 6 no payload, bit 7 time-sensitive.
  Expected NewMessage(uint8_t args) {
    const uint32_t serial = static_cast<uint32_t>(g_ledger->destroyed.size());
    const bool has_data = (args & 0x40) == 0;
    g_ledger->destroyed.push_back(0);
    g_ledger->has_data.push_back(has_data);
    return Expected{serial, ((args >> 1) & 3) % kHandlers, kIds[(args >> 3) & 7], has_data, 0};
  }

  rtc::MessageData* DataFor(const Expected& message) {
    return message.has_data ? new Payload(message.serial) : nullptr;
  }

  void DoPost(uint8_t args) {
    const int q = args & 1;
    Expected message = NewMessage(args);
    const bool time_sensitive = (args & 0x80) != 0;
    message.deadline = time_sensitive ? g_now_ms + rtc::kMaxLatencyMs : 0;
    queues_[q]->Post(rtc::PostLocation(), handlers_[message.handler].get(), message.id,
                     DataFor(message), time_sensitive);
    if (!models_[q].Post(message))
      ExpectDestroyed(message);
  }

  // `value`: the delay, the trigger, or the 32-bit trigger, by `kind`.
  void DoPostAt(uint8_t args, Kind kind, int64_t value) {
    const int q = args & 1;
    const Expected message = NewMessage(args);
    MessageHandler* handler = handlers_[message.handler].get();
    int64_t trigger = value;
    switch (kind) {
      case Kind::kAfter:
        trigger = g_now_ms + value;
        queues_[q]->PostAfter(rtc::PostLocation(), static_cast<int>(value), handler, message.id,
                              DataFor(message));
        break;
      case Kind::kAtTime:
        queues_[q]->PostAtTime(rtc::PostLocation(), value, handler, message.id, DataFor(message));
        break;
      case Kind::kAtTime32:
        // Widened without sign, whatever the 64-bit clock reads.
        queues_[q]->PostAtTime32(rtc::PostLocation(), static_cast<uint32_t>(value), handler,
                                 message.id, DataFor(message));
        break;
    }
    if (!models_[q].PostAt(trigger, message))
      ExpectDestroyed(message);
  }

  // Bits of `args`: 0 the queue, 1-2 the wait (0, 0, a few ms, forever).
  static int WaitFor(uint8_t args) {
    switch ((args >> 1) & 3) {
      case 2:
        return 1 + ((args >> 3) & 31);
      case 3:
        return rtc::kForever;
      default:
        return 0;
    }
  }

  bool DoGet(uint8_t args) {
    const int q = args & 1;
    const int wait_ms = WaitFor(args);
    const int64_t start = g_now_ms;
    Message message;
    const bool got = queues_[q]->Get(&message, wait_ms, true);
    const int64_t real_end = g_now_ms;

    g_now_ms = start;  // the model runs the same time again
    Expected expected{};
    std::vector<Expected> disposed;
    const bool want = models_[q].Get(wait_ms, &expected, &disposed);
    CHECK(g_now_ms == real_end) << "Get slept until " << real_end << ", expected " << g_now_ms;
    for (const Expected& gone : disposed)
      ExpectDestroyed(gone);
    CHECK(got == want) << "Get returned " << got << ", expected " << want;
    if (!got)
      return false;
    ExpectMessage(message, expected, "Get");

    RecordingHandler* handler = handlers_[expected.handler].get();
    const int handled = handler->handled;
    queues_[q]->Dispatch(&message);
    CHECK(handler->handled == handled + 1 && handler->last_id == expected.id &&
          handler->last_serial == (expected.has_data ? expected.serial : kNoSerial))
        << "Dispatch did not deliver message " << expected.serial << " to its handler";
    ExpectDestroyed(expected);
    return true;
  }

  void DoPeek(uint8_t args) {
    const int q = args & 1;
    const int wait_ms = WaitFor(args);
    const int64_t start = g_now_ms;
    Message message;
    const bool got = queues_[q]->Peek(&message, wait_ms);
    const int64_t real_end = g_now_ms;

    g_now_ms = start;
    Expected expected{};
    std::vector<Expected> disposed;
    const bool want = models_[q].Peek(wait_ms, &expected, &disposed);
    CHECK(g_now_ms == real_end) << "Peek slept until " << real_end << ", expected " << g_now_ms;
    for (const Expected& gone : disposed)
      ExpectDestroyed(gone);
    CHECK(got == want) << "Peek returned " << got << ", expected " << want;
    if (got)
      ExpectMessage(message, expected, "Peek");  // still the queue's to hold
  }

  // Bits of `args`: 0 the queue, 1-2 the handler (3: any), 3-5 the
  // identifier (7: any), 6 collect the removed messages.
  void DoClear(uint8_t args) {
    const int q = args & 1;
    const int h = (args >> 1) & 3;
    const int handler = h == 3 ? kAnyHandler : h;
    const uint32_t id = kIds[(args >> 3) & 7];
    const bool collect = (args & 0x40) != 0;

    rtc::MessageList removed;
    queues_[q]->Clear(handler == kAnyHandler ? nullptr : handlers_[handler].get(), id,
                      collect ? &removed : nullptr);
    std::vector<Expected> ordered;
    std::vector<Expected> delayed;
    models_[q].Clear(handler, id, &ordered, &delayed);

    if (!collect) {
      for (const Expected& gone : ordered)
        ExpectDestroyed(gone);
      for (const Expected& gone : delayed)
        ExpectDestroyed(gone);
      return;
    }
    CHECK(removed.size() == ordered.size() + delayed.size())
        << "Clear removed " << removed.size() << " messages, expected "
        << ordered.size() + delayed.size();
    auto it = removed.begin();
    for (const Expected& expected : ordered)
      ExpectMessage(*it++, expected, "Clear");
    // The delayed part in any order, each exactly once.
    std::vector<Message> rest(it, removed.end());
    for (const Expected& expected : delayed) {
      auto found = std::find_if(rest.begin(), rest.end(), [&](const Message& message) {
        return Identifies(message, expected);
      });
      CHECK(found != rest.end()) << "Clear lost delayed message " << expected.serial;
      rest.erase(found);
    }
    for (Message& message : removed)
      delete message.data;  // the list owns them now
    for (const Expected& gone : ordered)
      ExpectDestroyed(gone);
    for (const Expected& gone : delayed)
      ExpectDestroyed(gone);
  }

  // Sets the action that another thread takes when queue `q` next begins
  // to wait, on the real server and on the model alike. `kind` 0 is none;
  // 1-4 a post, 5-8 a delayed post, 9-11 a Clear (the payloads destroyed),
  // 12-15 a Quit; argument bytes as for those operations, the queue bit
  // ignored.
  void ArmDuringWait(int q, uint8_t kind, Reader* in) {
    if (kind == 0)
      return;
    SimulatedSocketServer* server = servers_[q];
    ModelQueue* model = &models_[q];
    const uint8_t args = static_cast<uint8_t>((in->Byte() & ~1) | q);
    if (kind <= 8) {
      Expected message = NewMessage(args);
      const bool delayed = kind >= 5;
      const int delay = delayed ? static_cast<int>(in->Byte() % 16) - 4 : 0;
      const bool time_sensitive = !delayed && (args & 0x80) != 0;
      armed_[q] = message;
      server->during_wait = [this, q, message, delayed, delay, time_sensitive] {
        MessageHandler* handler = handlers_[message.handler].get();
        if (delayed) {
          queues_[q]->PostAfter(rtc::PostLocation(), delay, handler, message.id, DataFor(message));
        } else {
          queues_[q]->Post(rtc::PostLocation(), handler, message.id, DataFor(message),
                           time_sensitive);
        }
        armed_[q].reset();
      };
      model->during_wait = [this, q, message, delayed, delay, time_sensitive] {
        Expected posted = message;
        posted.deadline = time_sensitive ? g_now_ms + rtc::kMaxLatencyMs : 0;
        const bool kept =
            delayed ? models_[q].PostAt(g_now_ms + delay, posted) : models_[q].Post(posted);
        if (!kept)
          ExpectDestroyed(posted);
      };
    } else if (kind <= 11) {
      const int h = (args >> 1) & 3;
      const int handler = h == 3 ? kAnyHandler : h;
      const uint32_t id = kIds[(args >> 3) & 7];
      server->during_wait = [this, q, handler, id] {
        queues_[q]->Clear(handler == kAnyHandler ? nullptr : handlers_[handler].get(), id, nullptr);
      };
      model->during_wait = [this, q, handler, id] {
        std::vector<Expected> ordered;
        std::vector<Expected> delayed;
        models_[q].Clear(handler, id, &ordered, &delayed);
        for (const Expected& gone : ordered)
          ExpectDestroyed(gone);
        for (const Expected& gone : delayed)
          ExpectDestroyed(gone);
      };
    } else {
      server->during_wait = [this, q] { queues_[q]->Quit(); };
      model->during_wait = [this, q] { models_[q].Quit(); };
    }
  }

  // Forgets an action that neither the queue nor its model came to run. A
  // message it would have posted never had a payload.
  void DisarmDuringWait(int q) {
    servers_[q]->during_wait = nullptr;
    models_[q].during_wait = nullptr;
    if (armed_[q]) {
      g_ledger->has_data[armed_[q]->serial] = 0;
      armed_[q].reset();
    }
  }

  // A dying handler takes its messages out of every queue.
  void DoReplaceHandler(int h) {
    handlers_[h].reset();
    for (ModelQueue& model : models_) {
      std::vector<Expected> ordered;
      std::vector<Expected> delayed;
      model.Clear(h, rtc::kAnyMessageId, &ordered, &delayed);
      for (const Expected& gone : ordered)
        ExpectDestroyed(gone);
      for (const Expected& gone : delayed)
        ExpectDestroyed(gone);
    }
    handlers_[h] = std::make_unique<RecordingHandler>();
  }

  bool Identifies(const Message& message, const Expected& expected) const {
    const uint32_t serial = SerialOf(message.data);
    return message.handler == handlers_[expected.handler].get() &&
           message.message_id == expected.id &&
           serial == (expected.has_data ? expected.serial : kNoSerial);
  }

  void ExpectMessage(const Message& message, const Expected& expected, const char* from) const {
    CHECK(Identifies(message, expected))
        << from << " gave id " << message.message_id << " payload " << SerialOf(message.data)
        << ", expected message " << expected.serial << " id " << expected.id;
    CHECK(message.deadline_ms == expected.deadline)
        << from << " gave deadline " << message.deadline_ms << ", expected " << expected.deadline;
  }

  static void ExpectDestroyed(const Expected& message) {
    CHECK(!message.has_data || g_ledger->destroyed[message.serial])
        << "payload " << message.serial << " should have been destroyed";
  }

  void CheckAfterEveryStep() {
    int held = 0;
    std::vector<std::string> warnings;
    for (int q = 0; q < kQueues; ++q) {
      held += models_[q].held_payloads();
      CHECK(servers_[q]->wakeups == models_[q].wakeups)
          << "queue " << q << " woke its server " << servers_[q]->wakeups << " times, expected "
          << models_[q].wakeups;
      CHECK(servers_[q]->waits == models_[q].waits)
          << "queue " << q << " waited " << servers_[q]->waits << " times, expected "
          << models_[q].waits;
      CHECK(queues_[q]->IsQuitRequested() == models_[q].quit());
      warnings.insert(warnings.end(), models_[q].warnings.begin(), models_[q].warnings.end());
      models_[q].warnings.clear();
    }
    CHECK(g_ledger->live == held) << g_ledger->live << " live payloads, expected " << held;
    CHECK(g_warnings->lines.size() == warnings.size())
        << g_warnings->lines.size() << " late-message warnings, expected " << warnings.size();
    for (size_t i = 0; i < warnings.size(); ++i) {
      CHECK(g_warnings->lines[i].find(warnings[i]) != std::string::npos)
          << "warning '" << g_warnings->lines[i] << "', expected '" << warnings[i] << "'";
    }
    g_warnings->lines.clear();
  }

  std::array<SimulatedSocketServer*, kQueues> servers_{};
  std::array<std::unique_ptr<MessageQueue>, kQueues> queues_;
  std::array<ModelQueue, kQueues> models_;
  // The message of an action set for the next wait, until it is posted.
  std::array<std::optional<Expected>, kQueues> armed_;
  std::array<std::unique_ptr<RecordingHandler>, kHandlers> handlers_;
};

// The wrap must reach the queue's own clock reads, or every delay in the
// model is wrong: a delayed message due at 10 is not due at 9, and is at 10.
void CheckClockIsSimulated() {
  Ledger ledger;
  g_ledger = &ledger;
  g_now_ms = 9;
  {
    MessageQueue queue(std::make_unique<SimulatedSocketServer>(), true);
    RecordingHandler handler;
    queue.PostAtTime(rtc::PostLocation(), 10, &handler, 1);
    Message message;
    CHECK(queue.TimeToNextMessage() == 1 && !queue.Get(&message, 0))
        << "the queue does not read the simulated clock; is rtc::MonotonicMillis wrapped?";
    g_now_ms = 10;
    CHECK(queue.Get(&message, 0) && message.message_id == 1);
  }
  g_ledger = nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  CheckClockIsSimulated();
  g_warnings = new WarningSink;
  rtc::LogLine::AddSink(g_warnings, rtc::LogSeverity::Warning);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  g_now_ms = kClockStarts[in.Byte() & 3];
  static Ledger ledger;  // its vectors keep their capacity from input to input
  ledger.destroyed.clear();
  ledger.has_data.clear();
  ledger.live = 0;
  g_ledger = &ledger;
  {
    Run run;
    for (int i = 0; i < kMaxOperations && !in.empty(); ++i)
      run.RunOperation(&in);
  }
  g_ledger = nullptr;
  g_warnings->lines.clear();
  return 0;
}
