// Threads: starting, stopping and restarting, names as the OS shows them,
// the current thread, and synchronous sends (to self, between two threads,
// from foreign threads, cancelled, to stopped threads).

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rtc_base/event.h"
#include "rtc_base/socketserver.h"
#include "rtc_base/thread.h"
#include "support/runtime_test_util.h"

namespace rtc {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;
using testing::CountingData;
using testing::FunctionHandler;

std::unique_ptr<Thread> NewThread() {
  return std::make_unique<Thread>(std::make_unique<PhysicalSocketServer>(), true);
}

// Runs `body` on `thread` and waits until it has run.
template <typename Body>
void RunOn(Thread* thread, Body body) {
  Event done(false, false);
  FunctionHandler handler([&](Message*) {
    body();
    done.Set();
  });
  thread->Post(PostLocation(), &handler);
  done.Wait(kForever);
}

TEST(ThreadTest, StartsOnceRunsPostsOnItselfAndRestartsAfterStop) {
  auto thread = NewThread();
  EXPECT_TRUE(thread->Start());
  EXPECT_FALSE(thread->Start());
  auto runs_on_itself = [&] {
    bool current = false;
    RunOn(thread.get(), [&] { current = thread->IsCurrent() && Thread::Current() == thread.get(); });
    return current && !thread->IsCurrent();
  };
  EXPECT_TRUE(runs_on_itself());
  thread->Stop();
  EXPECT_TRUE(thread->Start());
  EXPECT_TRUE(runs_on_itself());
}

TEST(ThreadTest, OsShowsTheFirst15BytesOfTheName) {
  int owner = 0;
  auto thread = NewThread();
  EXPECT_THAT(thread->name(), StartsWith("Thread 0x"));
  thread->SetName("CallbackLogThread", &owner);
  EXPECT_THAT(thread->name(), StartsWith("CallbackLogThread 0x"));
  EXPECT_EQ(thread->name().size(), 17u + 15u);  // the suffix is cut to 15
  ASSERT_TRUE(thread->Start());
  std::string comm;
  RunOn(thread.get(), [&] { std::getline(std::ifstream("/proc/thread-self/comm"), comm); });
  EXPECT_EQ(comm, "CallbackLogThre");
}

TEST(ThreadTest, StopRunsWhatWasQueuedBeforeIt) {
  auto thread = NewThread();
  ASSERT_TRUE(thread->Start());
  Event gate(false, false);
  std::atomic<int> ran{0};
  FunctionHandler blocker([&](Message*) { gate.Wait(kForever); });
  FunctionHandler counter([&](Message*) { ++ran; });
  thread->Post(PostLocation(), &blocker);
  for (int i = 0; i < 10; ++i)
    thread->Post(PostLocation(), &counter);
  thread->Quit();
  thread->Post(PostLocation(), &counter);  // after the stop request: dropped
  gate.Set();
  thread->Join();
  EXPECT_EQ(ran.load(), 10);
}

TEST(ThreadTest, CurrentExistsOnTheCreatorAndOnAdoptedThreadsOnly) {
  Thread* creator = Thread::Current();
  ASSERT_NE(creator, nullptr);
  EXPECT_EQ(Thread::Current(), creator);
  EXPECT_TRUE(creator->IsCurrent());
  std::thread other([] {
    EXPECT_EQ(Thread::Current(), nullptr);
    {
      AutoThread adopted;
      EXPECT_EQ(Thread::Current(), &adopted);
    }
    EXPECT_EQ(Thread::Current(), nullptr);
  });
  other.join();
}

// Threads below the sockets: an adopted thread waits on an event unless the
// top registered a factory, and then on what that factory makes.
TEST(ThreadTest, AdoptedThreadsGetTheRegisteredServerOrANullOne) {
  static SocketServer* made = nullptr;
  std::thread([] {
    AutoThread adopted;
    EXPECT_NE(dynamic_cast<NullSocketServer*>(adopted.socket_server()), nullptr);
  }).join();
  Thread::SetAdoptedSocketServerFactory([]() -> std::unique_ptr<SocketServer> {
    auto server = std::make_unique<NullSocketServer>();
    made = server.get();
    return server;
  });
  std::thread([] {
    AutoThread adopted;
    EXPECT_EQ(adopted.socket_server(), made);
  }).join();
  Thread::SetAdoptedSocketServerFactory(nullptr);
  EXPECT_NE(made, nullptr);
}

TEST(ThreadSendTest, SendToSelfRunsAtOnce) {
  auto thread = NewThread();
  ASSERT_TRUE(thread->Start());
  std::vector<std::string> order;
  FunctionHandler inner([&](Message*) { order.push_back("inner"); });
  RunOn(thread.get(), [&] {
    thread->Send(PostLocation(), &inner);
    order.push_back("after");
  });
  EXPECT_THAT(order, ElementsAre("inner", "after"));
}

TEST(ThreadSendTest, ResultComesBackThroughTheCallersPayload) {
  auto thread = NewThread();
  ASSERT_TRUE(thread->Start());
  std::atomic<int> destroyed{0};
  FunctionHandler doubler([&](Message* message) {
    auto* data = static_cast<CountingData*>(message->data);
    data->value = thread->IsCurrent() ? data->value * 2 : -1;
  });
  CountingData payload(&destroyed, 21);
  thread->Send(PostLocation(), &doubler, 0, &payload);
  EXPECT_EQ(payload.value, 42);
  EXPECT_EQ(destroyed.load(), 0);
}

TEST(ThreadSendTest, TwoThreadsSendingToEachOtherBothComplete) {
  auto a = NewThread();
  auto b = NewThread();
  ASSERT_TRUE(a->Start());
  ASSERT_TRUE(b->Start());
  std::mutex mutex;
  std::vector<std::string> order;
  auto note = [&](const char* step) {
    std::lock_guard<std::mutex> lock(mutex);
    order.push_back(step);
  };
  FunctionHandler on_a_again([&](Message*) { note(a->IsCurrent() ? "a again" : "wrong"); });
  FunctionHandler on_b([&](Message*) {
    note("b");
    a->Send(PostLocation(), &on_a_again);  // a is blocked sending to us
  });
  FunctionHandler on_a([&](Message*) {
    note("a");
    b->Send(PostLocation(), &on_b);
    note("a done");
  });
  a->Send(PostLocation(), &on_a);
  EXPECT_THAT(order, ElementsAre("a", "b", "a again", "a done"));
}

TEST(ThreadSendTest, ForeignThreadSendsThroughATemporaryThread) {
  Thread::Current();  // the test's own thread is the creator
  auto thread = NewThread();
  ASSERT_TRUE(thread->Start());
  std::atomic<bool> ran{false};
  FunctionHandler handler([&](Message*) { ran = thread->IsCurrent(); });
  std::thread foreign([&] {
    thread->Send(PostLocation(), &handler);
    EXPECT_EQ(Thread::Current(), nullptr);
  });
  foreign.join();
  EXPECT_TRUE(ran);
}

TEST(ThreadSendTest, ClearReleasesABlockedSenderWithoutRunningItsHandler) {
  auto thread = NewThread();
  ASSERT_TRUE(thread->Start());
  Event gate(false, false);
  Event blocked(false, false);
  FunctionHandler blocker([&](Message*) {
    blocked.Set();
    gate.Wait(kForever);
  });
  thread->Post(PostLocation(), &blocker);
  // The send must find the thread busy: one that arrived before the blocker
  // ran would be served first, and nothing would be left to clear.
  ASSERT_TRUE(blocked.Wait(kForever));
  std::atomic<bool> ran{false};
  FunctionHandler cancelled([&](Message*) { ran = true; });
  std::atomic<int> destroyed{0};
  CountingData payload(&destroyed, 7);
  std::thread sender([&] { thread->Send(PostLocation(), &cancelled, 5, &payload); });

  MessageList removed;
  while (removed.empty()) {  // until the send has arrived
    thread->Clear(&cancelled, 5, &removed);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  sender.join();
  ASSERT_EQ(removed.size(), 1u);
  EXPECT_EQ(removed.front().data, nullptr);  // the payload stays the sender's
  EXPECT_EQ(payload.value, 7);
  EXPECT_EQ(destroyed.load(), 0);
  gate.Set();
  thread->Stop();
  EXPECT_FALSE(ran);
}

TEST(ThreadSendTest, SendToAStoppedThreadReturnsWithoutRunning) {
  auto thread = NewThread();
  ASSERT_TRUE(thread->Start());
  thread->Stop();
  bool ran = false;
  FunctionHandler handler([&](Message*) { ran = true; });
  std::atomic<int> destroyed{0};
  CountingData payload(&destroyed);
  thread->Send(PostLocation(), &handler, 0, &payload);
  EXPECT_FALSE(ran);
  EXPECT_EQ(destroyed.load(), 0);
}

}  // namespace
}  // namespace rtc
