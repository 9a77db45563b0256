// The async invoker: closures run on their target thread, and destruction
// discards queued closures, waits for running ones, refuses new ones and
// never hangs on a post that was dropped. Also the counted event it uses.

#include <atomic>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "rtc_base/asyncinvoker.h"
#include "rtc_base/event.h"
#include "rtc_base/refcount.h"
#include "rtc_base/thread.h"
#include "support/runtime_test_util.h"

namespace rtc {
namespace {

using testing::FunctionHandler;
using testing::LogCapture;

std::unique_ptr<Thread> StartedThread() {
  auto thread = std::make_unique<Thread>(std::make_unique<PhysicalSocketServer>(), true);
  EXPECT_TRUE(thread->Start());
  return thread;
}

struct Drainer {
  void Drain() {
    on_thread = thread->IsCurrent();
    done.Set();
  }
  Thread* thread;
  bool on_thread = false;
  Event done{false, false};
};

TEST(AsyncInvokerTest, RunsFunctorsAndMemberFunctionsOnTheTarget) {
  auto thread = StartedThread();
  AsyncInvoker invoker;
  Drainer drainer{thread.get()};
  invoker.Invoke<void>(PostLocation("OnLogMessage", "x:1"), thread.get(),
                       MethodFunctor<Drainer, void (Drainer::*)(), void>(&Drainer::Drain, &drainer));
  drainer.done.Wait(kForever);
  EXPECT_TRUE(drainer.on_thread);

  Event done(false, false);
  invoker.Invoke<int>(PostLocation(), thread.get(), [&] {
    done.Set();
    return 5;  // dropped
  });
  done.Wait(kForever);

  // Any callable, move-only ones too, without naming a return type.
  auto owned = std::make_unique<int>(7);
  std::atomic<int> seen{0};
  invoker.Invoke(PostLocation(), thread.get(), [&, owned = std::move(owned)] {
    seen = thread->IsCurrent() ? *owned : -1;
    done.Set();
  });
  done.Wait(kForever);
  EXPECT_EQ(seen.load(), 7);
}

TEST(AsyncInvokerTest, DestructionDiscardsClosuresQueuedOnABlockedThread) {
  auto thread = StartedThread();
  Event gate(false, false);
  FunctionHandler blocker([&](Message*) { gate.Wait(kForever); });
  thread->Post(PostLocation(), &blocker);
  std::atomic<int> ran{0};
  auto token = std::make_shared<int>(0);  // every closure holds a copy
  {
    AsyncInvoker invoker;
    for (int i = 0; i < 5; ++i)
      invoker.Invoke<void>(PostLocation(), thread.get(), [&ran, token] { ++ran; });
  }
  EXPECT_EQ(token.use_count(), 1);
  gate.Set();
  thread->Stop();
  EXPECT_EQ(ran.load(), 0);
}

// Tells when an invoker's destruction has reached its sweep of the queues.
class SweepWatchingQueue : public MessageQueue {
 public:
  explicit SweepWatchingQueue(MessageHandler** watched)
      : MessageQueue(std::make_unique<NullSocketServer>(), false), watched_(watched) {
    Initialize();
  }
  void Clear(MessageHandler* handler, uint32_t id, MessageList* removed) override {
    MessageQueue::Clear(handler, id, removed);
    if (handler != nullptr && handler == *watched_)
      swept.Set();
  }
  Event swept{false, false};

 private:
  MessageHandler** const watched_;
};

TEST(AsyncInvokerTest, DestructionWaitsForARunningClosureAndRefusesNewOnes) {
  LogCapture log;
  auto thread = StartedThread();
  auto* invoker = new AsyncInvoker;
  MessageHandler* watched = invoker;
  SweepWatchingQueue queue(&watched);
  Event started(false, false);
  std::atomic<bool> finished{false};
  std::atomic<bool> refused_ran{false};
  invoker->Invoke<void>(PostLocation(), thread.get(), [&] {
    started.Set();
    queue.swept.Wait(kForever);  // the destructor is under way
    invoker->Invoke<void>(PostLocation(), thread.get(), [&] { refused_ran = true; });
    finished = true;
  });
  started.Wait(kForever);
  // On a thread without a Thread of its own.
  std::thread destroyer([&] {
    delete invoker;
    EXPECT_TRUE(finished);
  });
  destroyer.join();
  thread->Stop();
  EXPECT_FALSE(refused_ran);
  EXPECT_EQ(log.Count("Tried to invoke while destroying the invoker.\n"), 1);
}

TEST(AsyncInvokerTest, ClosurePostedToAStoppedThreadIsStillDestroyed) {
  Thread thread(std::make_unique<PhysicalSocketServer>(), true);
  thread.Quit();
  auto token = std::make_shared<int>(0);
  {
    AsyncInvoker invoker;
    invoker.Invoke<void>(PostLocation(), &thread, [token] {});
  }  // would wait for ever if the dropped closure were leaked
  EXPECT_EQ(token.use_count(), 1);
}

TEST(AsyncInvokerTest, DestructionAmidManyFinishingClosuresEnds) {
  auto thread = StartedThread();
  auto token = std::make_shared<int>(0);
  std::atomic<int> ran{0};
  {
    AsyncInvoker invoker;
    for (int i = 0; i < 200; ++i)
      invoker.Invoke<void>(PostLocation(), thread.get(), [&ran, token] { ++ran; });
  }
  EXPECT_EQ(token.use_count(), 1);
  EXPECT_LE(ran.load(), 200);
}

TEST(RefCountedObjectTest, LastReleaseDestroys) {
  auto* event = new RefCountedObject<Event>(false, false);
  event->AddRef();
  EXPECT_TRUE(event->HasOneRef());
  {
    RefPtr<RefCountedObject<Event>> second(event);
    EXPECT_FALSE(event->HasOneRef());
  }
  EXPECT_TRUE(event->HasOneRef());
  event->AddRef();
  EXPECT_TRUE(event->Release());
  EXPECT_FALSE(event->Release());  // destroyed here; ASan would see a leak otherwise
}

}  // namespace
}  // namespace rtc
