// Socket servers: wake-ups on the epoll, fallback and poll paths, interrupted
// waits, registration changes from inside handlers, readiness of real
// sockets, and the null server.

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "rtc_base/physicalsocketserver.h"
#include "rtc_base/timeutils.h"
#include "support/runtime_test_util.h"

namespace rtc {
namespace {

using testing::LogCapture;

int FailingEpollCreate(int) {
  errno = EMFILE;
  return -1;
}

std::unique_ptr<PhysicalSocketServer> MakeServer(bool epoll) {
  return std::make_unique<PhysicalSocketServer>(epoll ? nullptr : &FailingEpollCreate);
}

template <typename Body>
int64_t MillisToRun(Body body) {
  const int64_t start = MonotonicMillis();
  body();
  return MonotonicMillis() - start;
}

struct Pipe {
  Pipe() { EXPECT_EQ(pipe(fds), 0); }
  ~Pipe() {
    close(fds[0]);
    close(fds[1]);
  }
  void Fill() { EXPECT_EQ(write(fds[1], "x", 1), 1); }
  int fds[2];
};

// A dispatcher over any descriptor that records what it is told.
class FdDispatcher : public Dispatcher {
 public:
  FdDispatcher(int fd, uint32_t wanted) : fd_(fd), wanted_(wanted) {}
  uint32_t WantedEvents() override { return wanted_; }
  void BeforeEvent(uint32_t) override {}
  void HandleEvent(uint32_t events, int error) override {
    if (calls++ == 0) {
      first_events = events;
      first_error = error;
    }
    if (on_event)
      on_event();
  }
  int Descriptor() override { return fd_; }
  bool IsPeerClosed() override {
    char byte;
    return recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
  }

  int calls = 0;
  uint32_t first_events = 0;
  int first_error = 0;
  std::function<void()> on_event;

 private:
  const int fd_;
  const uint32_t wanted_;
};

// --- Every wait path ---------------------------------------------------------

enum class Path { kEpoll, kSelect, kPoll };

const char* PathName(Path path) {
  return path == Path::kEpoll ? "Epoll" : path == Path::kSelect ? "Select" : "Poll";
}

class WaitPathTest : public ::testing::TestWithParam<Path> {
 protected:
  WaitPathTest() : server_(MakeServer(GetParam() != Path::kSelect)) {}
  bool Wait(int timeout_ms) { return server_->Wait(timeout_ms, GetParam() != Path::kPoll); }

  std::unique_ptr<PhysicalSocketServer> server_;
};

TEST_P(WaitPathTest, EarlyWakeUpsEndOneWaitOnly) {
  for (int i = 0; i < 3; ++i)
    server_->WakeUp();
  EXPECT_TRUE(Wait(kForever));
  EXPECT_GE(MillisToRun([&] { EXPECT_TRUE(Wait(40)); }), 40);
  EXPECT_TRUE(Wait(0));
}

TEST_P(WaitPathTest, WakeUpFromAnotherThreadEndsAForeverWait) {
  std::thread waker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    server_->WakeUp();
  });
  EXPECT_TRUE(Wait(kForever));
  waker.join();
}

std::atomic<int> g_interruptions{0};
void CountInterruption(int) {
  ++g_interruptions;
}

TEST_P(WaitPathTest, InterruptedWaitStillLastsItsTime) {
  struct sigaction action = {};
  action.sa_handler = &CountInterruption;  // no SA_RESTART: waits fail with EINTR
  ASSERT_EQ(sigaction(SIGUSR1, &action, nullptr), 0);
  LogCapture log;
  std::atomic<bool> done{false};
  const pthread_t waiter = pthread_self();
  std::thread interrupter([&] {
    while (!done) {
      pthread_kill(waiter, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  EXPECT_GE(MillisToRun([&] { EXPECT_TRUE(Wait(200)); }), 200);
  done = true;
  interrupter.join();
  EXPECT_GT(g_interruptions.load(), 0);
  EXPECT_TRUE(log.lines().empty());
}

INSTANTIATE_TEST_SUITE_P(AllPaths, WaitPathTest,
                         ::testing::Values(Path::kEpoll, Path::kSelect, Path::kPoll),
                         [](const ::testing::TestParamInfo<Path>& info) {
                           return std::string(PathName(info.param));
                         });

// --- Paths that serve I/O ------------------------------------------------------

class IoPathTest : public ::testing::TestWithParam<bool> {
 protected:
  IoPathTest() : server_(MakeServer(GetParam())) {}
  std::unique_ptr<PhysicalSocketServer> server_;
};

TEST_P(IoPathTest, RaisesBeforeADrainLeaveOneByte) {
  EventDispatcher event(server_.get());
  for (int i = 0; i < 3; ++i)
    event.Raise();
  int queued = -1;
  ASSERT_EQ(ioctl(event.Descriptor(), FIONREAD, &queued), 0);
  EXPECT_EQ(queued, 1);
  EXPECT_TRUE(server_->Wait(0, true));
  ASSERT_EQ(ioctl(event.Descriptor(), FIONREAD, &queued), 0);
  EXPECT_EQ(queued, 0);
}

TEST_P(IoPathTest, TimedWaitEndsWhileADescriptorStaysReady) {
  Pipe pipe;
  pipe.Fill();
  FdDispatcher unread(pipe.fds[0], DISPATCH_READ);  // never drains it
  server_->Add(&unread);
  EXPECT_TRUE(server_->Wait(30, true));
  EXPECT_GT(unread.calls, 0);
  server_->Remove(&unread);
}

TEST_P(IoPathTest, DispatcherRemovedByAnEarlierHandlerIsNotTold) {
  Pipe a, b;
  a.Fill();
  b.Fill();
  FdDispatcher* first = new FdDispatcher(a.fds[0], DISPATCH_READ);
  FdDispatcher* second = new FdDispatcher(b.fds[0], DISPATCH_READ);
  // Whichever runs first removes and frees the other.
  first->on_event = [&] {
    server_->Remove(second);
    delete second;
    second = nullptr;
  };
  second->on_event = [&] {
    server_->Remove(first);
    delete first;
    first = nullptr;
  };
  server_->Add(first);
  server_->Add(second);
  server_->WakeUp();  // ends the wait after one pass
  EXPECT_TRUE(server_->Wait(0, true));
  FdDispatcher* survivor = first != nullptr ? first : second;
  ASSERT_NE(first == nullptr, second == nullptr);
  EXPECT_EQ(survivor->calls, 1);
  server_->Remove(survivor);
  delete survivor;
}

TEST_P(IoPathTest, ReadinessOfRealSocketsIsClassified) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const int client = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  connect(client, reinterpret_cast<sockaddr*>(&address), length);
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  ASSERT_EQ(write(pair[1], "x", 1), 1);

  FdDispatcher accepting(listener, DISPATCH_ACCEPT);
  FdDispatcher connecting(client, DISPATCH_CONNECT);
  FdDispatcher reading(pair[0], DISPATCH_READ);
  for (FdDispatcher* d : {&accepting, &connecting, &reading})
    server_->Add(d);
  for (int i = 0; i < 100 && (!accepting.calls || !connecting.calls || !reading.calls); ++i)
    server_->Wait(10, true);
  EXPECT_EQ(accepting.first_events, DISPATCH_ACCEPT);
  EXPECT_EQ(connecting.first_events, DISPATCH_CONNECT);
  EXPECT_EQ(reading.first_events, DISPATCH_READ);

  // End of stream is a close, not a read.
  char byte;
  ASSERT_EQ(read(pair[0], &byte, 1), 1);
  close(pair[1]);
  reading.calls = 0;
  for (int i = 0; i < 100 && !reading.calls; ++i)
    server_->Wait(10, true);
  EXPECT_EQ(reading.first_events, DISPATCH_CLOSE);

  for (FdDispatcher* d : {&accepting, &connecting, &reading})
    server_->Remove(d);
  for (int fd : {listener, client, pair[0]})
    close(fd);
}

TEST_P(IoPathTest, RefusedConnectIsACloseWithItsError) {
  // A port that was just free: nothing listens there.
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
  close(probe);
  const int client = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  if (connect(client, reinterpret_cast<sockaddr*>(&address), length) == 0 ||
      errno != EINPROGRESS) {
    close(client);
    GTEST_SKIP() << "the connect did not stay pending";
  }
  FdDispatcher connecting(client, DISPATCH_CONNECT);
  server_->Add(&connecting);
  for (int i = 0; i < 100 && !connecting.calls; ++i)
    server_->Wait(10, true);
  EXPECT_EQ(connecting.first_events, DISPATCH_CLOSE);
  EXPECT_EQ(connecting.first_error, ECONNREFUSED);
  server_->Remove(&connecting);
  close(client);
}

INSTANTIATE_TEST_SUITE_P(EpollAndSelect, IoPathTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Epoll" : "Select");
                         });

// --- One path each -------------------------------------------------------------

TEST(PhysicalSocketServerTest, FailedEpollCreateIsLoggedAndSelectServes) {
  LogCapture log;
  auto server = MakeServer(false);
  EXPECT_FALSE(server->uses_epoll());
  EXPECT_EQ(log.Count("(physicalsocketserver:1190): epoll_create : [0x00000018] "), 1);
  std::thread waker([&] { server->WakeUp(); });
  EXPECT_TRUE(server->Wait(kForever, true));
  waker.join();
}

TEST(PhysicalSocketServerTest, RemovingAnUnknownDispatcherOnlyWarns) {
  LogCapture log;
  auto server = MakeServer(true);
  Pipe pipe;
  FdDispatcher stranger(pipe.fds[0], DISPATCH_READ);
  server->Remove(&stranger);
  EXPECT_EQ(log.Count("(physicalsocketserver:1286): PhysicalSocketServer asked to remove a "
                      "unknown dispatcher, potentially from a duplicate call to Add.\n"),
            1);
  EXPECT_EQ(log.lines().size(), 1u);
  server->WakeUp();
  EXPECT_TRUE(server->Wait(kForever, true));
}

TEST(PhysicalSocketServerTest, SelectDefersChangesMadeWhileDelivering) {
  LogCapture log;
  auto server = MakeServer(false);
  Pipe trigger_pipe, ready_pipe;
  trigger_pipe.Fill();
  ready_pipe.Fill();
  FdDispatcher trigger(trigger_pipe.fds[0], DISPATCH_READ);
  FdDispatcher added(ready_pipe.fds[0], DISPATCH_READ);
  FdDispatcher added_then_removed(ready_pipe.fds[0], DISPATCH_READ);
  FdDispatcher removed_then_added(ready_pipe.fds[0], DISPATCH_READ);
  FdDispatcher stranger(ready_pipe.fds[0], DISPATCH_READ);
  server->Add(&trigger);
  server->Add(&removed_then_added);
  trigger.on_event = [&] {
    char byte;
    ASSERT_EQ(read(trigger_pipe.fds[0], &byte, 1), 1);
    server->Add(&added);
    server->Add(&added_then_removed);
    server->Remove(&added_then_removed);
    server->Remove(&removed_then_added);
    server->Add(&removed_then_added);
    server->Remove(&stranger);
  };
  server->WakeUp();  // one pass
  EXPECT_TRUE(server->Wait(0, true));
  EXPECT_EQ(trigger.calls, 1);
  EXPECT_EQ(added.calls, 0);
  EXPECT_EQ(log.Count("(physicalsocketserver:1278): PhysicalSocketServer asked to remove"), 1);

  // The three share one ready descriptor; select tells only the first of
  // them in pointer order, so look at them one at a time.
  server->Remove(&removed_then_added);
  server->WakeUp();
  EXPECT_TRUE(server->Wait(0, true));
  EXPECT_EQ(added.calls, 1);
  EXPECT_EQ(added_then_removed.calls, 0);
  server->Remove(&added);
  server->Add(&removed_then_added);
  const int before = removed_then_added.calls;
  server->WakeUp();
  EXPECT_TRUE(server->Wait(0, true));
  EXPECT_EQ(removed_then_added.calls, before + 1);
  server->Remove(&removed_then_added);
  server->Remove(&trigger);
  // Every Remove above found its dispatcher registered.
  EXPECT_EQ(log.Count("(physicalsocketserver:1286)"), 0);
}

// Without epoll, descriptors past select's range are watched too, the
// server's own wake-up pipe among them: with every lower descriptor taken,
// a process that has that many files open still wakes.
TEST(PhysicalSocketServerTest, FallbackWatchesDescriptorsBeyondSelectsRange) {
  rlimit limit;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_cur <= 1500) {
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 1501);
    if (limit.rlim_cur <= 1500 || setrlimit(RLIMIT_NOFILE, &limit) != 0)
      GTEST_SKIP() << "cannot open descriptor 1500";
  }
  std::vector<int> taken;
  for (int fd = 0; fd < FD_SETSIZE - 1;) {
    fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    taken.push_back(fd);
  }
  LogCapture log;
  auto server = MakeServer(false);
  for (int fd : taken)
    close(fd);
  Pipe pipe;
  pipe.Fill();
  ASSERT_EQ(dup2(pipe.fds[0], 1500), 1500);
  FdDispatcher high(1500, DISPATCH_READ);
  server->Add(&high);
  EXPECT_TRUE(server->Wait(0, true));
  ASSERT_GE(high.calls, 1);
  server->Remove(&high);
  close(1500);

  std::thread waker([&] { server->WakeUp(); });
  EXPECT_TRUE(server->Wait(kForever, true));
  waker.join();
  EXPECT_EQ(log.lines().size(), 1u);  // the failed epoll_create only
}

TEST(PhysicalSocketServerTest, FullEpollPassGrowsTheResultArray) {
  auto server = MakeServer(true);
  EXPECT_EQ(server->epoll_capacity(), 0u);
  EXPECT_TRUE(server->Wait(0, true));
  EXPECT_EQ(server->epoll_capacity(), 128u);

  std::vector<std::unique_ptr<Pipe>> pipes;
  std::vector<std::unique_ptr<FdDispatcher>> dispatchers;
  for (int i = 0; i < 130; ++i) {
    pipes.push_back(std::make_unique<Pipe>());
    pipes.back()->Fill();
    dispatchers.push_back(std::make_unique<FdDispatcher>(pipes.back()->fds[0], DISPATCH_READ));
    server->Add(dispatchers.back().get());
  }
  server->WakeUp();
  EXPECT_TRUE(server->Wait(0, true));
  EXPECT_EQ(server->epoll_capacity(), 8192u);
  for (auto& dispatcher : dispatchers)
    server->Remove(dispatcher.get());
}

TEST(NullSocketServerTest, WaitsOutItsTimeUnlessWokenOnce) {
  NullSocketServer server;
  EXPECT_GE(MillisToRun([&] { EXPECT_TRUE(server.Wait(50, true)); }), 50);
  server.WakeUp();
  server.WakeUp();
  EXPECT_TRUE(server.Wait(kForever, true));
  EXPECT_GE(MillisToRun([&] { EXPECT_TRUE(server.Wait(30, false)); }), 30);
  EXPECT_EQ(server.OpenSocket(AF_INET, SOCK_STREAM), nullptr);
}

}  // namespace
}  // namespace rtc
