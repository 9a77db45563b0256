// POSIX signals handled on a socket server's waiting thread: real SIGUSR1
// and SIGUSR2 raised with kill, the relay's bookkeeping, dispositions, and
// a storm of signals while a thread's queue keeps working.

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <memory>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "rtc_base/physicalsocketserver.h"
#include "rtc_base/thread.h"
#include "support/runtime_test_util.h"

namespace rtc {
namespace {

using testing::FunctionHandler;
using testing::LogCapture;

// Handlers run on the waiting thread, so they may lock and allocate.
std::mutex g_mutex;
std::vector<int> g_calls;
std::vector<pthread_t> g_threads;
PhysicalSocketServer* g_server = nullptr;

void Record(int signum) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_calls.push_back(signum);
  g_threads.push_back(pthread_self());
}

std::vector<int> Calls() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_calls;
}

// Each case starts with no calls recorded, also when one binary runs them all.
void ForgetCalls() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_calls.clear();
  g_threads.clear();
}

void (*Disposition(int signum))(int) {
  struct sigaction current = {};
  sigaction(signum, nullptr, &current);
  return current.sa_handler;
}

class SignalDispatchTest : public ::testing::Test {
 protected:
  SignalDispatchTest() {
    ForgetCalls();
    g_server = &server_;
  }
  ~SignalDispatchTest() override {
    // Ignored rather than default: a signal still on its way must not end
    // the process.
    server_.SetSignalHandler(SIGUSR1, SIG_IGN);
    server_.SetSignalHandler(SIGUSR2, SIG_IGN);
    g_server = nullptr;
  }

  PhysicalSocketServer server_;
};

TEST_F(SignalDispatchTest, SignalsBeforeTheWaitRunOnceEachLowestFirst) {
  ASSERT_TRUE(server_.SetSignalHandler(SIGUSR1, &Record));
  ASSERT_TRUE(server_.SetSignalHandler(SIGUSR2, &Record));
  EXPECT_EQ(Disposition(SIGUSR1), &RelaySignal);
  kill(getpid(), SIGUSR2);
  kill(getpid(), SIGUSR1);
  kill(getpid(), SIGUSR2);
  EXPECT_TRUE(Calls().empty());  // never in signal context
  EXPECT_TRUE(server_.Wait(50, true));
  EXPECT_EQ(Calls(), (std::vector<int>{SIGUSR1, SIGUSR2}));
  EXPECT_TRUE(pthread_equal(g_threads[0], pthread_self()));
}

TEST_F(SignalDispatchTest, DispositionsAndTheDispatchersLife) {
  const size_t registered = server_.dispatcher_count();
  ASSERT_TRUE(server_.SetSignalHandler(SIGUSR2, SIG_IGN));  // never handled before
  EXPECT_EQ(Disposition(SIGUSR2), SIG_IGN);
  EXPECT_EQ(server_.signal_dispatcher(), nullptr);

  ASSERT_TRUE(server_.SetSignalHandler(SIGUSR1, &Record));
  EXPECT_EQ(server_.dispatcher_count(), registered + 1);
  ASSERT_TRUE(server_.SetSignalHandler(SIGUSR1, SIG_DFL));
  EXPECT_EQ(Disposition(SIGUSR1), SIG_DFL);
  EXPECT_EQ(server_.signal_dispatcher(), nullptr);
  EXPECT_EQ(server_.dispatcher_count(), registered);
}

TEST_F(SignalDispatchTest, OutOfRangeNumbersAreNeverDelivered) {
  LogCapture log;
  EXPECT_FALSE(server_.SetSignalHandler(128, &Record));
  EXPECT_EQ(log.Count("(physicalsocketserver:1788): Couldn't set sigaction : [0x"), 1);
  EXPECT_NE(server_.signal_dispatcher(), nullptr);  // the handler stays recorded
  for (int signum : {128, 200, -1, INT_MAX})
    RelaySignal(signum);
  // In range but without a handler: noticed, logged, not called.
  RelaySignal(SIGUSR1);
  EXPECT_TRUE(server_.Wait(30, true));
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(log.Count("(physicalsocketserver:1073): Received signal with no handler: " +
                      std::to_string(SIGUSR1) + "\n"),
            1);
}

TEST_F(SignalDispatchTest, AFullRelayPipeNeverBlocksTheSignallingSide) {
  ASSERT_TRUE(server_.SetSignalHandler(SIGUSR1, &Record));
  for (int i = 0; i < 100000; ++i)  // far more bytes than a pipe holds
    RelaySignal(SIGUSR1);
  // The write into the full pipe fails; the interrupted code must not see
  // its errno change.
  errno = EDOM;
  RelaySignal(SIGUSR1);
  EXPECT_EQ(errno, EDOM);
  EXPECT_TRUE(server_.Wait(100, true));
  EXPECT_EQ(Calls(), std::vector<int>{SIGUSR1});
  kill(getpid(), SIGUSR1);  // the drained pipe carries the next one
  EXPECT_TRUE(server_.Wait(30, true));
  EXPECT_EQ(Calls(), (std::vector<int>{SIGUSR1, SIGUSR1}));
}

void SwitchToSecondSignal(int signum) {
  Record(signum);
  g_server->SetSignalHandler(SIGUSR1, SIG_IGN);  // the last handler goes
  g_server->SetSignalHandler(SIGUSR2, &Record);  // and a new dispatcher comes
}

TEST_F(SignalDispatchTest, HandlerMayReplaceTheDispatcherWhileItDelivers) {
  ASSERT_TRUE(server_.SetSignalHandler(SIGUSR1, &SwitchToSecondSignal));
  ASSERT_TRUE(InstallSigaction(SIGUSR2, &RelaySignal));  // caught, not yet handled
  PosixSignalDispatcher* first = server_.signal_dispatcher();
  kill(getpid(), SIGUSR1);
  kill(getpid(), SIGUSR2);  // its handler comes only with the first one's
  EXPECT_TRUE(server_.Wait(50, true));
  EXPECT_EQ(Calls(), (std::vector<int>{SIGUSR1, SIGUSR2}));
  EXPECT_NE(server_.signal_dispatcher(), nullptr);
  EXPECT_NE(server_.signal_dispatcher(), first);
}

TEST(SignalStormTest, HandlersRunOnTheWaitingThreadAndPostsStillArrive) {
  ForgetCalls();
  Thread loop(std::make_unique<PhysicalSocketServer>(), true);
  auto* server = static_cast<PhysicalSocketServer*>(loop.socket_server());
  ASSERT_TRUE(loop.Start());
  pthread_t loop_thread = 0;
  FunctionHandler install([&](Message*) {
    loop_thread = pthread_self();
    EXPECT_TRUE(server->SetSignalHandler(SIGUSR1, &Record));
    EXPECT_TRUE(server->SetSignalHandler(SIGUSR2, &Record));
  });
  loop.Send(POST_LOCATION_HERE, &install);

  constexpr int kKills = 3000;
  constexpr int kPosts = 300;
  std::atomic<int> handled{0};
  Event all_handled(false, false);
  FunctionHandler count([&](Message*) {
    if (++handled == kPosts)
      all_handled.Set();
  });
  for (int i = 0; i < kKills; ++i) {
    kill(getpid(), i % 2 == 0 ? SIGUSR1 : SIGUSR2);
    if (i % (kKills / kPosts) == 0)
      loop.Post(POST_LOCATION_HERE, &count);
  }
  EXPECT_TRUE(all_handled.Wait(10000)) << handled.load() << " of " << kPosts;

  // Whatever the storm left in the pipe is handled by the next pass.
  kill(getpid(), SIGUSR1);
  FunctionHandler settle([](Message*) {});
  for (int i = 0; i < 100 && Calls().empty(); ++i) {
    loop.Send(POST_LOCATION_HERE, &settle);
    usleep(1000);
  }
  FunctionHandler restore([&](Message*) {
    server->SetSignalHandler(SIGUSR1, SIG_IGN);
    server->SetSignalHandler(SIGUSR2, SIG_IGN);
  });
  loop.Send(POST_LOCATION_HERE, &restore);
  loop.Stop();

  const std::vector<int> calls = Calls();
  EXPECT_GE(calls.size(), 1u);
  EXPECT_LE(calls.size(), static_cast<size_t>(kKills + 1));
  std::lock_guard<std::mutex> lock(g_mutex);
  for (pthread_t thread : g_threads)
    ASSERT_TRUE(pthread_equal(thread, loop_thread));
}

}  // namespace
}  // namespace rtc
