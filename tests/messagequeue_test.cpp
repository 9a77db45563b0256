// Message queues: delivery order of immediate and delayed messages, waiting,
// latency and slow-dispatch logs, dispose messages, Peek, Clear, the stop
// flag, teardown, and the registry's purge of a dying handler's messages.

#include <climits>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rtc_base/event.h"
#include "rtc_base/messagequeue.h"
#include "rtc_base/ringbuffer.h"
#include "support/runtime_test_util.h"

namespace rtc {
namespace {

using ::testing::ElementsAre;
using testing::CountingData;
using testing::FunctionHandler;
using testing::LogCapture;

class MessageQueueTest : public ::testing::Test {
 protected:
  MessageQueueTest() : queue_(std::make_unique<NullSocketServer>(), true) {}

  void Post(uint32_t id, MessageHandler* handler = nullptr) {
    queue_.Post(PostLocation(), handler ? handler : &handler_, id, Data());
  }
  CountingData* Data() { return new CountingData(&destroyed_); }

  // Identifiers of every message due now, in delivery order.
  std::vector<uint32_t> TakeDue() {
    std::vector<uint32_t> ids;
    Message message;
    while (queue_.Get(&message, 0)) {
      ids.push_back(message.message_id);
      delete message.data;
    }
    return ids;
  }

  MessageQueue queue_;
  FunctionHandler handler_{[](Message*) {}};
  std::atomic<int> destroyed_{0};
};

TEST_F(MessageQueueTest, DueDelayedMessagesFollowQueuedOnesByTriggerThenPostOrder) {
  const int64_t now = MonotonicMillis();
  queue_.PostAtTime(PostLocation(), now - 10, &handler_, 1);
  queue_.PostAtTime(PostLocation(), now - 10, &handler_, 2);
  queue_.PostAtTime(PostLocation(), now - 20, &handler_, 3);
  queue_.PostAfter(PostLocation(), 0, &handler_, 4);
  Post(5);
  EXPECT_THAT(TakeDue(), ElementsAre(5, 3, 1, 2, 4));
}

TEST_F(MessageQueueTest, GetWaitsForTheNextDelayedMessageOnly) {
  const int64_t posted = MonotonicMillis();
  queue_.PostAfter(PostLocation(), 60, &handler_, 1);
  queue_.PostAfter(PostLocation(), 60000, &handler_, 2);
  Message message;
  EXPECT_FALSE(queue_.Get(&message, 0));
  EXPECT_GT(queue_.TimeToNextMessage(), 0);
  ASSERT_TRUE(queue_.Get(&message, kForever));
  EXPECT_EQ(message.message_id, 1u);
  EXPECT_GE(MonotonicMillis() - posted, 60);
  EXPECT_FALSE(queue_.Get(&message, 20));

  queue_.PostAtTime32(PostLocation(), MonotonicMillis32() + 30000, &handler_, 3);
  EXPECT_GT(queue_.TimeToNextMessage(), 20000);
  Post(4);
  EXPECT_EQ(queue_.TimeToNextMessage(), 0);
}

// Far off in either direction, the answer saturates instead of wrapping
// modulo 2^32: ahead at INT_MAX, behind at 0, as Get() sees it.
TEST_F(MessageQueueTest, MessageWeeksAheadOrBehindIsReportedAsGetSeesIt) {
  constexpr int64_t kDayMs = 24LL * 60 * 60 * 1000;
  // 30 days wraps to a negative 32-bit delay, 60 days to about 10 days.
  for (const int64_t days : {30, 60}) {
    queue_.PostAtTime(PostLocation(), MonotonicMillis() + days * kDayMs, &handler_, 1);
    EXPECT_EQ(queue_.TimeToNextMessage(), INT_MAX) << days << " days ahead";
    queue_.Clear(nullptr);
    queue_.PostAtTime(PostLocation(), MonotonicMillis() - days * kDayMs, &handler_, 1);
    EXPECT_EQ(queue_.TimeToNextMessage(), 0) << days << " days behind";
    Message message;
    EXPECT_TRUE(queue_.Get(&message, 0)) << days << " days behind";
  }
  queue_.PostAtTime(PostLocation(), MonotonicMillis() + 20 * kDayMs, &handler_, 2);
  EXPECT_GT(queue_.TimeToNextMessage(), 20 * kDayMs - 60000);
  EXPECT_LE(queue_.TimeToNextMessage(), 20 * kDayMs);
}

TEST_F(MessageQueueTest, LateTimeSensitiveMessageIsLoggedWithItsDelay) {
  LogCapture log;
  queue_.Post(PostLocation(), &handler_, 7, nullptr, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(kMaxLatencyMs + 20));
  queue_.Post(PostLocation(), &handler_, 8, nullptr, true);
  EXPECT_THAT(TakeDue(), ElementsAre(7, 8));
  ASSERT_EQ(log.lines().size(), 1u);
  const std::string line = log.lines()[0];
  const std::string expected = "Get: id: 7  delay: ";
  const size_t at = line.find(expected);
  ASSERT_NE(at, std::string::npos) << line;
  EXPECT_GE(std::stoi(line.substr(at + expected.size())), kMaxLatencyMs + 20);
  EXPECT_EQ(line.substr(line.size() - 3), "ms\n");
}

TEST_F(MessageQueueTest, SlowDispatchIsLoggedWithWhereItWasPosted) {
  LogCapture log;
  FunctionHandler slow([](Message*) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kSlowDispatchMs + 5));
  });
  queue_.Post(POST_LOCATION_HERE, &slow, 1);
  Message message;
  ASSERT_TRUE(queue_.Get(&message, 0));
  queue_.Dispatch(&message);
  EXPECT_EQ(log.Count("ms to dispatch. Posted from: TestBody@"), 1);
  EXPECT_EQ(log.Count("messagequeue_test.cpp:"), 1);
}

TEST_F(MessageQueueTest, DisposeMessagesAreDestroyedNeverReturned) {
  queue_.Post(PostLocation(), nullptr, kDisposeMessageId, Data());
  Post(5);
  queue_.Post(PostLocation(), nullptr, kDisposeMessageId, Data());
  EXPECT_THAT(TakeDue(), ElementsAre(5));
  EXPECT_EQ(destroyed_.load(), 3);
}

TEST_F(MessageQueueTest, PeekedMessageComesBackUnlessCleared) {
  Post(1);
  Post(2);
  Message message;
  ASSERT_TRUE(queue_.Peek(&message));
  ASSERT_TRUE(queue_.Peek(&message));
  EXPECT_EQ(message.message_id, 1u);
  EXPECT_THAT(TakeDue(), ElementsAre(1, 2));

  Post(3);
  ASSERT_TRUE(queue_.Peek(&message));
  queue_.Clear(&handler_);
  EXPECT_EQ(destroyed_.load(), 3);
  EXPECT_FALSE(queue_.Get(&message, 0));
}

TEST_F(MessageQueueTest, ClearMatchesHandlerAndIdAndHandsOverPayloads) {
  FunctionHandler other([](Message*) {});
  Post(1);
  queue_.PostAfter(PostLocation(), 60000, &handler_, 2, Data());
  Post(3);
  Post(4, &other);
  Post(9, &other);
  Message message;
  ASSERT_TRUE(queue_.Peek(&message));

  MessageList removed;
  queue_.Clear(&handler_, kAnyMessageId, &removed);
  std::vector<uint32_t> ids;
  for (Message& m : removed) {
    ids.push_back(m.message_id);
    delete m.data;
  }
  EXPECT_THAT(ids, ElementsAre(1, 3, 2));
  EXPECT_EQ(destroyed_.load(), 3);

  queue_.Clear(nullptr, 9);
  EXPECT_EQ(destroyed_.load(), 4);
  EXPECT_THAT(TakeDue(), ElementsAre(4));
}

TEST_F(MessageQueueTest, QuitDrainsWhatIsDueAndDropsNewPosts) {
  Post(1);
  queue_.PostAtTime(PostLocation(), MonotonicMillis() - 1, &handler_, 2);
  queue_.PostAfter(PostLocation(), 60000, &handler_, 3);
  queue_.Quit();
  Post(4);
  queue_.PostAfter(PostLocation(), 1, &handler_, 5, Data());
  // Dropped posts still free what they were given.
  EXPECT_EQ(destroyed_.load(), 2);
  std::vector<uint32_t> ids;
  Message message;
  while (queue_.Get(&message, kForever)) {  // does not wait for message 3
    ids.push_back(message.message_id);
    delete message.data;
  }
  EXPECT_THAT(ids, ElementsAre(1, 2));

  queue_.ClearQuit();
  Post(6);
  EXPECT_THAT(TakeDue(), ElementsAre(6));
}

class DestroyedWatcher : public sigslot::has_slots<> {
 public:
  void OnDestroyed() { ++calls; }
  int calls = 0;
};

TEST(MessageQueueLifeTest, TeardownSignalsOnceAndDestroysPendingPayloads) {
  std::atomic<int> destroyed{0};
  FunctionHandler handler([](Message*) {});
  DestroyedWatcher watcher;
  {
    MessageQueue queue(std::make_unique<NullSocketServer>(), true);
    queue.SignalDestroyed.connect(&watcher, &DestroyedWatcher::OnDestroyed);
    queue.Post(PostLocation(), &handler, 1, new CountingData(&destroyed));
    queue.PostAfter(PostLocation(), 60000, &handler, 2, new CountingData(&destroyed));
  }
  EXPECT_EQ(watcher.calls, 1);
  EXPECT_EQ(watcher.sender_count(), 0u);
  EXPECT_EQ(destroyed.load(), 2);
}

TEST(MessageQueueLifeTest, DyingHandlerPurgesItsMessagesFromQueuesOfOtherThreads) {
  MessageQueue remote(std::make_unique<PhysicalSocketServer>(), true);
  MessageQueue local(std::make_unique<NullSocketServer>(), true);
  std::thread owner([&] {
    Message message;
    while (remote.Get(&message, kForever)) {
      remote.Dispatch(&message);
      delete message.data;
    }
  });
  std::atomic<int> delivered{0};
  std::atomic<int> destroyed{0};
  Event later_done(false, false);
  FunctionHandler later([&](Message*) {
    ++delivered;
    later_done.Set();
  });
  {
    FunctionHandler doomed([&](Message*) { ++delivered; });
    remote.PostAfter(PostLocation(), 300, &doomed, 1, new CountingData(&destroyed));
    local.Post(PostLocation(), &later, 4);
    local.Post(PostLocation(), &doomed, 2, new CountingData(&destroyed));
    // Takes both into the owner's batch and hands out the first: the other
    // is still queued.
    Message message;
    ASSERT_TRUE(local.Get(&message, 0));
  }
  EXPECT_EQ(destroyed.load(), 2);
  EXPECT_EQ(local.TimeToNextMessage(), kForever);
  remote.PostAfter(PostLocation(), 400, &later, 3);
  later_done.Wait(kForever);
  remote.Quit();
  owner.join();
  EXPECT_EQ(delivered.load(), 1);  // nothing reached the dead handler
}

// Counts wake-ups and tells when a wait begins; waits as NullSocketServer.
class WatchedServer : public NullSocketServer {
 public:
  bool Wait(int timeout_ms, bool process_io) override {
    waiting.Set();
    return NullSocketServer::Wait(timeout_ms, process_io);
  }
  void WakeUp() override {
    ++wakeups;
    NullSocketServer::WakeUp();
  }
  Event waiting{false, false};
  std::atomic<int> wakeups{0};
};

// A post wakes the owner only when it sleeps, and then only the first one
// does; a delayed post only when it is due before the owner would wake.
TEST(MessageQueueLifeTest, PostsWakeASleepingOwnerOnceAndAnAwakeOneNever) {
  auto owned = std::make_unique<WatchedServer>();
  WatchedServer* server = owned.get();
  MessageQueue queue(std::move(owned), true);
  FunctionHandler handler([](Message*) {});
  queue.Post(PostLocation(), &handler, 1);
  queue.Post(PostLocation(), &handler, 2);
  Message message;
  ASSERT_TRUE(queue.Get(&message, 0));
  queue.Post(PostLocation(), &handler, 3);
  EXPECT_EQ(server->wakeups.load(), 0);

  for (const bool delayed : {false, true}) {
    SCOPED_TRACE(delayed ? "delayed" : "immediate");
    while (queue.Get(&message, 0)) {
    }
    server->waiting.Reset();
    queue.PostAfter(PostLocation(), 60000, &handler, 4);
    std::thread owner([&] {
      Message taken;
      EXPECT_TRUE(queue.Get(&taken, kForever));
      EXPECT_EQ(taken.message_id, 5u);
    });
    server->waiting.Wait(kForever);
    server->wakeups = 0;
    if (delayed) {
      queue.PostAfter(PostLocation(), 120000, &handler, 6);  // later: let it sleep
      queue.PostAfter(PostLocation(), 0, &handler, 5);
      queue.PostAfter(PostLocation(), 0, &handler, 7);
    } else {
      for (const uint32_t id : {5u, 6u, 7u})
        queue.Post(PostLocation(), &handler, id);
    }
    owner.join();
    EXPECT_EQ(server->wakeups.load(), 1);
    queue.Clear(nullptr);
  }
}

TEST(MessageQueueLifeTest, RegistrySurvivesQueuesAndHandlersOnManyThreads) {
  std::atomic<int> destroyed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 300; ++i) {
        MessageQueue queue(std::make_unique<NullSocketServer>(), true);
        FunctionHandler handler([](Message*) {});
        queue.Post(PostLocation(), &handler, 1, new CountingData(&destroyed));
      }  // the handler's sweep frees its message before the queue goes
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(destroyed.load(), 4 * 300);
}

TEST(RingBufferTest, KeepsOrderAcrossWrapGrowthAndRemoval) {
  RingBuffer<int> ring;
  int next_in = 0;
  int next_out = 0;
  // Interleaved so that the contents wrap round the array as it grows.
  for (int round = 0; round < 200; ++round) {
    for (int i = 0; i < 7; ++i)
      ring.push_back(next_in++);
    for (int i = 0; i < 5; ++i, ring.pop_front())
      ASSERT_EQ(ring.front(), next_out++);
  }
  ring.RemoveIf([](int value) { return value % 3 == 0; });
  for (; next_out < next_in; ++next_out) {
    if (next_out % 3 == 0)
      continue;
    ASSERT_EQ(ring.front(), next_out);
    ring.pop_front();
  }
  EXPECT_TRUE(ring.empty());
  ring.push_back(42);
  EXPECT_EQ(ring.front(), 42);
}

TEST(PostLocationTest, FormatsFunctionAtFileAndLineCutTo255) {
  EXPECT_EQ(PostLocation().ToString(), "Unknown@Unknown");
  EXPECT_EQ(PostLocation("Run", "a.cpp:12").ToString(), "Run@a.cpp:12");
  const std::string long_file(300, 'f');
  EXPECT_EQ(PostLocation("Run", long_file.c_str()).ToString().size(), 255u);
}

}  // namespace
}  // namespace rtc
