// Signals and slots: call order, disconnection from either side and during
// emission, copies of receivers, the multi-threaded policy, and emission
// without allocation.

#include <stdlib.h>

#include <atomic>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rtc_base/sigslot.h"

// The replacements below pair malloc with free; gcc cannot tell.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

// Counts every operator new of the process, to prove emission allocates
// nothing.
std::atomic<long> g_allocations{0};

}  // namespace

void* operator new(size_t size) {
  ++g_allocations;
  if (void* memory = malloc(size == 0 ? 1 : size))
    return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept {
  free(memory);
}
void operator delete(void* memory, size_t) noexcept {
  free(memory);
}

namespace sigslot {
namespace {

using ::testing::ElementsAre;

using Signal = notifier<single_threaded, int>;

// Records each call as "<name>:<value>" into a shared log.
class Receiver : public has_slots<> {
 public:
  Receiver(std::string name, std::vector<std::string>* log) : name_(std::move(name)), log_(log) {}
  void OnValue(int value) {
    log_->push_back(name_ + ":" + std::to_string(value));
    if (on_call)
      on_call(this);
  }
  std::function<void(Receiver*)> on_call;

 private:
  std::string name_;
  std::vector<std::string>* log_;
};

TEST(SigslotTest, SlotsAreCalledInConnectionOrder) {
  std::vector<std::string> log;
  Receiver a("a", &log), b("b", &log), c("c", &log);
  Signal signal;
  signal.connect(&b, &Receiver::OnValue);
  signal.connect(&a, &Receiver::OnValue);
  signal.connect(&c, &Receiver::OnValue);
  signal.emit(1);
  signal(2);
  EXPECT_THAT(log, ElementsAre("b:1", "a:1", "c:1", "b:2", "a:2", "c:2"));
}

TEST(SigslotTest, SlotMayDisconnectItselfOrOthersDuringEmission) {
  std::vector<std::string> log;
  Receiver a("a", &log), b("b", &log), c("c", &log), d("d", &log);
  Signal signal;
  for (Receiver* r : {&a, &b, &c, &d})
    signal.connect(r, &Receiver::OnValue);
  a.on_call = [&](Receiver* self) { self->disconnect_all(); };
  b.on_call = [&](Receiver*) { signal.disconnect(&c); };  // c is next
  signal.emit(1);
  signal.emit(2);
  EXPECT_THAT(log, ElementsAre("a:1", "b:1", "d:1", "b:2", "d:2"));
  EXPECT_EQ(a.sender_count(), 0u);
  EXPECT_EQ(c.sender_count(), 0u);
}

TEST(SigslotTest, ReceiverDestroyedInsideItsOwnSlotIsSkippedSafely) {
  std::vector<std::string> log;
  auto doomed = std::make_unique<Receiver>("x", &log);
  Receiver after("y", &log);
  Signal signal;
  signal.connect(doomed.get(), &Receiver::OnValue);
  signal.connect(doomed.get(), &Receiver::OnValue);  // its second link is next
  signal.connect(&after, &Receiver::OnValue);
  doomed->on_call = [&](Receiver*) { doomed.reset(); };
  signal.emit(1);
  EXPECT_THAT(log, ElementsAre("x:1", "y:1"));
  EXPECT_EQ(signal.connection_count(), 1u);
}

TEST(SigslotTest, ConnectionMadeDuringEmissionIsCalledByIt) {
  std::vector<std::string> log;
  Receiver last("last", &log), late("late", &log);
  Signal signal;
  signal.connect(&last, &Receiver::OnValue);
  last.on_call = [&](Receiver* self) {
    self->on_call = nullptr;
    signal.connect(&late, &Receiver::OnValue);
  };
  signal.emit(1);
  EXPECT_THAT(log, ElementsAre("last:1", "late:1"));
}

TEST(SigslotTest, NestedEmissionDoesNotCutTheOuterOneShort) {
  std::vector<std::string> log;
  Receiver a("a", &log), b("b", &log);
  Signal signal;
  signal.connect(&a, &Receiver::OnValue);
  signal.connect(&b, &Receiver::OnValue);
  a.on_call = [&](Receiver* self) {
    self->on_call = nullptr;
    signal.emit(2);
  };
  signal.emit(1);
  EXPECT_THAT(log, ElementsAre("a:1", "a:2", "b:2", "b:1"));
}

TEST(SigslotTest, DoubleConnectionCallsTwiceAndIsRememberedOnce) {
  std::vector<std::string> log;
  Signal signal;
  {
    Receiver a("a", &log);
    signal.connect(&a, &Receiver::OnValue);
    signal.connect(&a, &Receiver::OnValue);
    EXPECT_EQ(a.sender_count(), 1u);
    signal.emit(7);
    EXPECT_THAT(log, ElementsAre("a:7", "a:7"));
  }
  EXPECT_EQ(signal.connection_count(), 0u);
}

TEST(SigslotTest, EitherSideMayBeDestroyedFirst) {
  std::vector<std::string> log;
  Receiver stays("stays", &log);
  auto first = std::make_unique<Signal>();
  Signal second;
  {
    Receiver goes("goes", &log);
    for (Signal* s : {first.get(), &second}) {
      s->connect(&goes, &Receiver::OnValue);
      s->connect(&stays, &Receiver::OnValue);
    }
  }
  second.emit(1);
  EXPECT_EQ(stays.sender_count(), 2u);
  first.reset();
  EXPECT_EQ(stays.sender_count(), 1u);
  EXPECT_THAT(log, ElementsAre("stays:1"));
}

TEST(SigslotTest, CopiedReceiverGetsTheSameSignals) {
  std::vector<std::string> log;
  Receiver original("r", &log);
  Signal signal;
  signal.connect(&original, &Receiver::OnValue);
  {
    Receiver copy(original);
    EXPECT_EQ(copy.sender_count(), 1u);
    signal.emit(1);
    EXPECT_EQ(log.size(), 2u);
  }
  signal.emit(2);
  EXPECT_EQ(log.size(), 3u);
  EXPECT_EQ(signal.connection_count(), 1u);
}

struct Tally : has_slots<multi_threaded> {
  // Before our members go: another thread may be emitting to us.
  ~Tally() override { disconnect_all(); }
  void OnValue(int) { ++calls; }
  void OnValueLeave(int) {
    ++calls;
    disconnect_all();  // would deadlock on a non-recursive signal lock
  }
  std::atomic<int> calls{0};
};

TEST(SigslotTest, MultiThreadedSignalAcceptsConnectionsWhileEmitting) {
  notifier<multi_threaded, int> signal;
  Tally steady, leaving;
  signal.connect(&steady, &Tally::OnValue);
  signal.connect(&leaving, &Tally::OnValueLeave);
  std::atomic<bool> done{false};
  std::thread emitter([&] {
    while (!done)
      signal.emit(0);
  });
  int visitors = 0;
  while (steady.calls < 200 || visitors < 200) {
    Tally visitor;  // one receiver per thread at a time
    signal.connect(&visitor, &Tally::OnValue);
    ++visitors;
  }
  done = true;
  emitter.join();
  EXPECT_EQ(leaving.calls.load(), 1);
  EXPECT_EQ(signal.connection_count(), 1u);
}

struct Sink : has_slots<> {
  void OnEvent(const std::string& text, int number) { total += text.size() + number; }
  size_t total = 0;
};

TEST(SigslotTest, EmissionAllocatesNothing) {
  notifier<single_threaded, const std::string&, int> signal;
  Sink a, b, c;
  for (Sink* s : {&a, &b, &c})
    signal.connect(s, &Sink::OnEvent);
  const std::string text = "a text longer than any small-string buffer";
  const long before = g_allocations.load();
  for (int i = 0; i < 100; ++i)
    signal.emit(text, 1);
  EXPECT_EQ(g_allocations.load(), before);
  EXPECT_EQ(a.total, 100 * (text.size() + 1));
}

}  // namespace
}  // namespace sigslot
