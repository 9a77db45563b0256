// The callback log sink: every runtime line reaches the host's listener on
// "CallbackLogThread", in order, exactly once, with a bounded queue.

#include <dirent.h>
#include <stdio.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "desktop/hilog_records.h"
#include "quon_renderManager.h"
#include "quon_render_logfile.h"
#include "rtc_base/logging.h"
#include "support/thread_stack.h"

namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;

// Records what it receives; can be slow, and can log from inside a call.
class Listener : public ILogRenderListener {
 public:
  void OnRenderLog(std::string line) override {
    calls_entered++;
    if (gate != nullptr)
      std::lock_guard<std::mutex> wait_for_gate(*gate);
    stack_used.store(std::max(stack_used.load(), test_support::ThreadStackUsed()));
    if (delay_ms > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    if (log_inside && line.find("outer ") != std::string::npos)
      LOG(Info) << "from inside " << line.size();
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(std::move(line));
    cv_.notify_all();
  }
  // Waits (a generous while at most) until `count` lines containing `tag`
  // arrived. Lines of other origins (a slow-dispatch warning from the
  // runtime, say) may arrive in between and do not count.
  bool WaitFor(size_t count, const std::string& tag = "") {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(30), [&] {
      return static_cast<size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const auto& line) {
               return line.find(tag) != std::string::npos;
             })) >= count;
    });
  }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

  int delay_ms = 0;
  bool log_inside = false;
  std::mutex* gate = nullptr;  // held by the test: calls wait for it
  std::atomic<int> calls_entered{0};
  // The delivering thread's stack use, as far as the C library tells it.
  std::atomic<size_t> stack_used{0};

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> lines_;
};

// The lines carrying `tag`, in the order received.
std::vector<std::string> Tagged(const std::vector<std::string>& lines, const std::string& tag) {
  std::vector<std::string> tagged;
  for (const std::string& line : lines)
    if (line.find(tag) != std::string::npos)
      tagged.push_back(line);
  return tagged;
}

class LogSinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rtc::logging_internal::ResetForTesting();
    ohos_desktop::SetHilogStderrEnabled(false);
    sink_ = std::make_unique<CallbLogSink>();
    sink_->Init();
  }
  void TearDown() override { sink_.reset(); }

  // Declared before the sink, so they outlive it: the log thread may be
  // inside a listener call until the sink is gone.
  Listener listener, first, second;
  std::unique_ptr<CallbLogSink> sink_;
};

TEST_F(LogSinkTest, LinesCarryTheWallClockPrefixAndANewline) {
  sink_->SetListener("unused.log", &listener);
  LOG(Info) << "hello sink";
  ASSERT_TRUE(listener.WaitFor(1));
  const auto lines = Tagged(listener.lines(), "hello sink");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(lines[0], MatchesRegex("[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} "
                                     "\\(logsink_test\\.cpp:[0-9]+\\): hello sink\n"));
}

TEST_F(LogSinkTest, ManyThreadsEachLineOnceInOrder) {
  sink_->SetListener("", &listener);
  constexpr int kThreads = 4, kLines = 1000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i)
        LOG(Info) << "seq t" << t << " n" << i << ";";
    });
  for (auto& thread : threads)
    thread.join();
  ASSERT_TRUE(listener.WaitFor(kThreads * kLines, "seq t"));
  const auto lines = Tagged(listener.lines(), "seq t");
  EXPECT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  for (int t = 0; t < kThreads; ++t) {
    const auto own = Tagged(lines, "seq t" + std::to_string(t) + " ");
    ASSERT_EQ(own.size(), static_cast<size_t>(kLines));
    for (int i = 0; i < kLines; ++i)
      ASSERT_THAT(own[i], HasSubstr(" n" + std::to_string(i) + ";")) << "thread " << t;
  }
}

TEST_F(LogSinkTest, WithoutListenerTheNewest5120LinesWaitAndArriveInOrderAfterTheDropCount) {
  for (int i = 0; i < 6000; ++i)
    LOG(Info) << "queued " << i << ";";
  EXPECT_EQ(sink_->QueuedLines(), CallbLogSink::kMaxQueuedLines);
  EXPECT_EQ(sink_->UndeliveredLines(), CallbLogSink::kMaxQueuedLines);
  sink_->SetListener("", &listener);  // delivery starts without another line
  ASSERT_TRUE(listener.WaitFor(5120, "queued "));
  // Counted down as each listener call returns.
  for (int i = 0; i < 500 && sink_->UndeliveredLines() != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(sink_->UndeliveredLines(), 0u);
  EXPECT_THAT(listener.lines().front(),  // said once, first, prefixed as any line
              MatchesRegex("[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} "
                           "\\(quon_render_logfile\\.cpp:[0-9]+\\): 880 lines dropped\n"));
  const auto lines = Tagged(listener.lines(), "queued ");
  ASSERT_EQ(lines.size(), 5120u);
  EXPECT_THAT(lines.front(), HasSubstr("queued 880;"));
  EXPECT_THAT(lines.back(), HasSubstr("queued 5999;"));
}

// Lines the log thread has taken out and not yet delivered still count
// against the bound: while the listener is stuck on the first line, the
// newest 5120 are kept, and the others the thread took go as dropped.
TEST_F(LogSinkTest, LinesTakenForDeliveryCountAgainstTheBound) {
  for (int i = 0; i < 100; ++i)
    LOG(Info) << "taken " << i << ";";
  std::mutex gate;
  gate.lock();
  listener.gate = &gate;
  sink_->SetListener("", &listener);
  while (listener.calls_entered.load() == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  for (int i = 0; i < 6000; ++i)
    LOG(Info) << "later " << i << ";";
  EXPECT_EQ(sink_->UndeliveredLines(), CallbLogSink::kMaxQueuedLines);
  gate.unlock();
  ASSERT_TRUE(listener.WaitFor(5120, "later "));
  // The runtime's own lines (a slow thread's start, say) may come between.
  std::vector<std::string> lines, others;
  for (const std::string& line : listener.lines()) {
    const bool ours = line.find("taken ") != std::string::npos ||
                      line.find("later ") != std::string::npos ||
                      line.find(" lines dropped\n") != std::string::npos;
    (ours ? lines : others).push_back(line);
  }
  ASSERT_EQ(lines.size(), 5122u) << testing::PrintToString(others);
  EXPECT_THAT(lines[0], HasSubstr("taken 0;"));
  EXPECT_THAT(lines[1], HasSubstr("): 979 lines dropped\n"));
  EXPECT_THAT(lines[2], HasSubstr("later 880;"));
  EXPECT_THAT(lines.back(), HasSubstr("later 5999;"));
}

// Processor time the whole process has used, in milliseconds.
int64_t ProcessCpuMs() {
  timespec used{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
  return static_cast<int64_t>(used.tv_sec) * 1000 + used.tv_nsec / 1000000;
}

// With no listener, queued lines stay queued, and the log thread sleeps
// until a listener comes instead of watching the queue for one: each drain
// posted meanwhile ends at once (a thread that watched would spin until the
// scheduler took it off the processor, milliseconds each time).
TEST_F(LogSinkTest, NullListenerReceivesNothingKeepsLinesAndLetsTheThreadSleep) {
  LOG(Info) << "kept";
  const int64_t before = ProcessCpuMs();
  for (int i = 0; i < 20; ++i) {
    sink_->SetListener("", nullptr);  // posts a drain, which finds nobody to deliver to
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(sink_->QueuedLines(), 1u);
  EXPECT_LT(ProcessCpuMs() - before, 30) << "milliseconds of processor time";
}

TEST_F(LogSinkTest, ReplacementListenerGetsEverythingAfterIt) {
  sink_->SetListener("", &first);
  for (int i = 0; i < 50; ++i)
    LOG(Info) << "phase " << i << ";";
  sink_->SetListener("", &second);  // the first is never called after this
  const size_t first_count = first.lines().size();
  for (int i = 50; i < 100; ++i)
    LOG(Info) << "phase " << i << ";";
  ASSERT_TRUE(second.WaitFor(50, "phase "));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(first.lines().size(), first_count);
  auto all = Tagged(first.lines(), "phase ");
  const auto later = Tagged(second.lines(), "phase ");
  all.insert(all.end(), later.begin(), later.end());
  ASSERT_EQ(all.size(), 100u);
  for (int i = 0; i < 100; ++i)
    EXPECT_THAT(all[i], HasSubstr("phase " + std::to_string(i) + ";"));
}

// The listener logs while other threads log: its lines are queued and
// delivered like any other, and nothing deadlocks.
TEST_F(LogSinkTest, ListenerThatLogsWhileOthersLogCompletes) {
  listener.log_inside = true;
  sink_->SetListener("", &listener);
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 300; ++i)
        LOG(Info) << "outer " << i;
    });
  for (auto& thread : threads)
    thread.join();
  ASSERT_TRUE(listener.WaitFor(900, "outer "));
  ASSERT_TRUE(listener.WaitFor(900, "from inside"));
  const auto lines = listener.lines();
  EXPECT_EQ(Tagged(lines, "outer ").size(), 900u);
  EXPECT_EQ(Tagged(lines, "from inside").size(), 900u);
}

// A slow listener under four flat-out loggers: memory stays bounded and
// the loggers finish (they never wait for the listener).
TEST_F(LogSinkTest, SlowListenerKeepsTheQueueBounded) {
  listener.delay_ms = 10;
  sink_->SetListener("", &listener);
  std::atomic<size_t> most_queued{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 3000; ++i) {
        LOG(Info) << "flood " << i;
        const size_t queued = sink_->QueuedLines();
        size_t seen = most_queued.load();
        while (queued > seen && !most_queued.compare_exchange_weak(seen, queued)) {
        }
      }
    });
  for (auto& thread : threads)
    thread.join();
  EXPECT_LE(most_queued.load(), CallbLogSink::kMaxQueuedLines);
  EXPECT_TRUE(listener.WaitFor(1));  // delivery goes on at the listener's pace
}

TEST_F(LogSinkTest, DestroyedWhileLinesFlow) {
  listener.delay_ms = 1;
  sink_->SetListener("", &listener);
  std::atomic<bool> stop{false};
  std::thread logger([&] {
    while (!stop)
      LOG(Info) << "flowing";
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  sink_.reset();  // removes itself, stops and joins its thread
  stop = true;
  logger.join();
  const size_t received = listener.lines().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(listener.lines().size(), received);  // nothing after destruction
}

// --- The process's sink through PluginManager ---------------------------------------------

std::vector<std::string> ThreadNames() {
  std::vector<std::string> names;
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr)
    return names;
  while (dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.')
      continue;
    std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
    std::string name;
    std::getline(comm, name);
    names.push_back(name);
  }
  closedir(tasks);
  return names;
}

TEST(ProcessLogSinkTest, InitLogFileBeforeAnyManagerStartsTheThread) {
  rtc::logging_internal::ResetForTesting();
  ohos_desktop::SetHilogStderrEnabled(false);
  EXPECT_EQ(CallbLogSink::Instance(), nullptr);
  EXPECT_FALSE(rtc::LogLine::IsLoggable(rtc::LogSeverity::Error));  // logging is off
  Listener listener;
  CallbLogSink::setRenderLogFile("first.log", &listener);
  ASSERT_NE(CallbLogSink::Instance(), nullptr);
  EXPECT_TRUE(rtc::LogLine::IsLoggable(rtc::LogSeverity::Verbose));
  // The thread names itself once it runs.
  for (int attempt = 0; attempt < 200; ++attempt) {
    const auto names = ThreadNames();
    if (std::find(names.begin(), names.end(), "CallbackLogThre") != names.end())
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_THAT(ThreadNames(), ::testing::Contains("CallbackLogThre"));
  LOG(Info) << "after";
  LOG_E(Warning, Errno, ENOENT) << "with the system's text";
  ASSERT_TRUE(listener.WaitFor(2));
  // It starts with the C library's default stack, and stays well inside it.
  RecordProperty("stack_bytes", static_cast<int>(listener.stack_used.load()));
  EXPECT_LT(listener.stack_used.load(), test_support::kThreadStackBudget);
  CallbLogSink::setRenderLogFile("first.log", nullptr);
}

// A build without the module (no EGL) has the sink and not its manager.
#if !defined(NATIVERENDER_TEST_WITHOUT_MODULE)
TEST(ProcessLogSinkTest, ManagerSinkDeliversLinesLoggedBeforeAndAfterInitLogFile) {
  rtc::logging_internal::ResetForTesting();
  ohos_desktop::SetHilogStderrEnabled(false);
  PluginManager* manager = PluginManager::GetInstance();  // creates the sink
  // After other cases in the same process the sink already existed, and the
  // reset above took it off the logging core: register it again.
  if (!rtc::LogLine::IsLoggable(rtc::LogSeverity::Verbose))
    CallbLogSink::Instance()->Init();
  LOG(Info) << "before listener";
  Listener listener;
  manager->InitLogFile("/data/render.log", &listener);
  LOG(Info) << "after listener";
  ASSERT_TRUE(listener.WaitFor(2));
  const auto lines = listener.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_THAT(Tagged(lines, "before listener"), ::testing::SizeIs(1));
  EXPECT_THAT(Tagged(lines, "after listener"), ::testing::SizeIs(1));
  bool found = false;
  for (const auto& record : ohos_desktop::HilogRecords())
    found = found || (record.tag == "PluginManager" && record.text == "InitLogFile /data/render.log");
  EXPECT_TRUE(found);
  manager->InitLogFile("", nullptr);
}
#endif

}  // namespace
