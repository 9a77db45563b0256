// The logging core: line format, thresholds and sinks, configuration,
// the cost-free disabled statement, bounded formatting and fatal checks.

#include <errno.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <wchar.h>

#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rtc_base/checks.h"
#include "rtc_base/logging.h"
#include "rtc_base/stringbuilder.h"
#include "rtc_base/timeutils.h"
#include "support/emulation.h"
#include "support/recording_sink.h"

#if defined(__GLIBC__)
// glibc's XSI strerror_r, which its header names strerror_r under strict POSIX.
extern "C" int __xpg_strerror_r(int code, char* buffer, size_t size);
#endif

namespace rtc {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using test_support::RecordingSink;

class LoggingTest : public ::testing::Test {
 protected:
  void SetUp() override { logging_internal::ResetForTesting(); }
  void TearDown() override { logging_internal::ResetForTesting(); }

  // Runs `body` and returns what it wrote to stderr.
  template <typename Body>
  static std::string Stderr(Body body) {
    ::testing::internal::CaptureStderr();
    body();
    return ::testing::internal::GetCapturedStderr();
  }
};

// --- Line format -----------------------------------------------------------

TEST_F(LoggingTest, InitialStateLogsNothingAnywhere) {
  for (int s = 0; s <= static_cast<int>(LogSeverity::Error); ++s)
    EXPECT_FALSE(LogLine::IsLoggable(static_cast<LogSeverity>(s))) << s;
  EXPECT_EQ(Stderr([] { LOG(Error) << "dropped"; }), "");
}

TEST_F(LoggingTest, WallClockStampPrefixesSinkLinesOnly) {
  LogLine::Configure("verbose realtstamp");
  RecordingSink sink;
  LogLine::AddSink(&sink, LogSeverity::Verbose);
  const std::string err = Stderr([] { LOG_AT("src/module.cpp", 42, Info) << "hello " << 7; });
  EXPECT_EQ(err, "");
  ASSERT_EQ(sink.lines().size(), 1u);
  EXPECT_THAT(sink.lines()[0],
              MatchesRegex("[0-1][0-9]-[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9]\\.[0-9]{3} "
                           "\\(module\\.cpp:42\\): hello 7\n"));
  LogLine::RemoveSink(&sink);
}

TEST_F(LoggingTest, ElapsedStampCountsFromFirstStampedLine) {
  LogLine::Configure("tstamp");
  RecordingSink sink;
  LogLine::AddSink(&sink, LogSeverity::Verbose);
  LOG_AT(nullptr, 0, Info) << "first";
  // Pretend the process has been up for 1000 s and 12 ms.
  logging_internal::SetElapsedOriginForTesting(MonotonicMillis() - 1000012);
  LOG_AT(nullptr, 0, Info) << "later";
  const std::vector<std::string> lines = sink.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_THAT(lines[0], MatchesRegex("\\[000:0[0-9][0-9]\\] first\n"));
  // Seconds grow past three digits; milliseconds stay zero-filled.
  EXPECT_THAT(lines[1], MatchesRegex("\\[1000:0[1-9][0-9]\\] later\n"));
  LogLine::RemoveSink(&sink);
}

TEST_F(LoggingTest, ThreadIdIsTheKernelThreadId) {
  LogLine::Configure("thread");
  RecordingSink sink;
  LogLine::AddSink(&sink, LogSeverity::Verbose);
  long worker_tid = 0;
  std::thread worker([&] {
    worker_tid = static_cast<long>(syscall(SYS_gettid));
    LOG_AT(nullptr, 0, Info) << "from worker";
  });
  worker.join();
  ASSERT_EQ(sink.lines().size(), 1u);
  EXPECT_EQ(sink.lines()[0], "[" + std::to_string(worker_tid) + "] from worker\n");
  LogLine::RemoveSink(&sink);
}

TEST_F(LoggingTest, LocationUsesBaseNameAfterLastSlashOfEitherKind) {
  RecordingSink sink;
  LogLine::AddSink(&sink, LogSeverity::Verbose);
  LOG_AT("a/b\\c/d.cpp", 1, Info) << "x";
  LOG_AT("a\\b/e.cpp", 2, Info) << "x";
  LOG_AT("plain", 3, Info) << "x";
  LOG_AT("dir/", 4, Info) << "x";
  LOG_AT(nullptr, 5, Info) << "x";
  LOG(Info) << "x";
  const int here = __LINE__ - 1;
  EXPECT_THAT(sink.lines(),
              ElementsAre("(d.cpp:1): x\n", "(e.cpp:2): x\n", "(plain:3): x\n", "(:4): x\n",
                          "x\n", "(logging_test.cpp:" + std::to_string(here) + "): x\n"));
  LogLine::RemoveSink(&sink);
}

TEST_F(LoggingTest, ErrorContextAppendsCodeAndSystemText) {
  RecordingSink sink;
  LogLine::AddSink(&sink, LogSeverity::Verbose);
  LOG_E(Warning, Errno, ENOENT) << "open failed";
  LogLine(nullptr, 0, LogSeverity::Info, static_cast<LogErrorContext>(7), 255).stream()
      << "custom";
  LogLine(nullptr, 0, LogSeverity::Info, LogErrorContext::Errno, -1).stream() << "negative";
  const std::vector<std::string> lines = sink.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_THAT(lines[0], HasSubstr("open failed : [0x00000002] " + std::string(strerror(ENOENT)) + "\n"));
  EXPECT_EQ(lines[1], "custom : [0x000000FF]\n");
  EXPECT_THAT(lines[2], HasSubstr("negative : [0xFFFFFFFF] " + std::string(strerror(-1)) + "\n"));
  LogLine::RemoveSink(&sink);
}

#if defined(__GLIBC__)
int XsiStrerror(int code, char* buffer, size_t size) {
  return __xpg_strerror_r(code, buffer, size);
}
#else
int XsiStrerror(int code, char* buffer, size_t size) {
  return strerror_r(code, buffer, size);
}
#endif

// The log line's text is the C library's own from either form of
// strerror_r: a known code, an unknown one (glibc's XSI form fails with
// EINVAL, its text in the buffer), and a text cut to a small buffer (ERANGE).
TEST_F(LoggingTest, StrerrorTextIsTheLibrarysOwnFromEitherForm) {
  for (int code : {ENOENT, EAGAIN, 12345}) {
    SCOPED_TRACE(code);
    const std::string expected = strerror(code);
    char buffer[256] = "";
    EXPECT_EQ(logging_internal::StrerrorText(XsiStrerror(code, buffer, sizeof(buffer)), buffer),
              expected);
    char small[8] = "";
    EXPECT_EQ(logging_internal::StrerrorText(XsiStrerror(code, small, sizeof(small)), small),
              expected.substr(0, sizeof(small) - 1));
    char native[256] = "";
    EXPECT_EQ(logging_internal::StrerrorText(strerror_r(code, native, sizeof(native)), native),
              expected);
  }
}

TEST_F(LoggingTest, LongMessagesArriveWhole) {
  RecordingSink sink;
  LogLine::AddSink(&sink, LogSeverity::Verbose);
  const std::string big(100000, 'z');
  LOG_AT(nullptr, 0, Info) << big;
  ASSERT_EQ(sink.lines().size(), 1u);
  EXPECT_EQ(sink.lines()[0], big + "\n");
  LogLine::RemoveSink(&sink);
}

TEST_F(LoggingTest, MessageWithNulReachesStderrWhole) {
  LogLine::Configure("info debug");
  RecordingSink sink;
  LogLine::AddSink(&sink, LogSeverity::Verbose);
  const std::string message("before\0after", 12);
  const std::string err = Stderr([&] { LOG_AT(nullptr, 0, Info) << message; });
  EXPECT_EQ(err, message + "\n");
  EXPECT_THAT(sink.lines(), ElementsAre(message + "\n"));
  LogLine::RemoveSink(&sink);
}

// --- Thresholds and sinks --------------------------------------------------

TEST_F(LoggingTest, EachSinkGetsLinesAtOrAboveItsThreshold) {
  RecordingSink info_sink, warning_sink;
  LogLine::AddSink(&info_sink, LogSeverity::Info);
  LogLine::AddSink(&warning_sink, LogSeverity::Warning);
  EXPECT_FALSE(LogLine::IsLoggable(LogSeverity::Verbose));
  EXPECT_TRUE(LogLine::IsLoggable(LogSeverity::Info));
  LOG_AT(nullptr, 0, Verbose) << "v";
  LOG_AT(nullptr, 0, Info) << "i";
  LOG_AT(nullptr, 0, Warning) << "w";
  LOG_AT(nullptr, 0, Error) << "e";
  EXPECT_THAT(info_sink.lines(), ElementsAre("i\n", "w\n", "e\n"));
  EXPECT_THAT(warning_sink.lines(), ElementsAre("w\n", "e\n"));

  LogLine::RemoveSink(&info_sink);
  EXPECT_FALSE(LogLine::IsLoggable(LogSeverity::Info));
  LOG_AT(nullptr, 0, Info) << "gone";
  EXPECT_EQ(info_sink.lines().size(), 3u);
  LogLine::RemoveSink(&warning_sink);
  EXPECT_FALSE(LogLine::IsLoggable(LogSeverity::Error));
}

TEST_F(LoggingTest, RemovingAnUnknownSinkChangesNothing) {
  RecordingSink registered, stranger;
  LogLine::AddSink(&registered, LogSeverity::Warning);
  LogLine::RemoveSink(&stranger);
  EXPECT_TRUE(LogLine::IsLoggable(LogSeverity::Warning));
  EXPECT_FALSE(LogLine::IsLoggable(LogSeverity::Info));
  LOG_AT(nullptr, 0, Error) << "still here";
  EXPECT_THAT(registered.lines(), ElementsAre("still here\n"));
  LogLine::RemoveSink(&registered);
}

TEST_F(LoggingTest, RemoveSinkTakesOnlyTheFirstRegistration) {
  RecordingSink sink;
  LogLine::AddSink(&sink, LogSeverity::Error);
  LogLine::AddSink(&sink, LogSeverity::Info);
  LogLine::RemoveSink(&sink);  // the Error registration goes
  EXPECT_TRUE(LogLine::IsLoggable(LogSeverity::Info));
  LOG_AT(nullptr, 0, Info) << "once";
  EXPECT_THAT(sink.lines(), ElementsAre("once\n"));
  LogLine::RemoveSink(&sink);
}

// A sink that logs from inside its own delivery re-enters instead of
// deadlocking; the nested line is delivered before the outer call returns.
class ReentrantSink : public LogSink {
 public:
  void OnLogMessage(const std::string& message) override {
    lines.push_back(message);
    if (message == "outer\n")
      LOG_AT(nullptr, 0, Info) << "inner";
    lines.push_back("<done " + message.substr(0, message.size() - 1) + ">");
  }
  std::vector<std::string> lines;
};

TEST_F(LoggingTest, SinkMayLogFromItsOwnDelivery) {
  ReentrantSink reentrant;
  RecordingSink observer;
  LogLine::AddSink(&reentrant, LogSeverity::Verbose);
  LogLine::AddSink(&observer, LogSeverity::Verbose);
  LOG_AT(nullptr, 0, Info) << "outer";
  EXPECT_THAT(reentrant.lines, ElementsAre("outer\n", "inner\n", "<done inner>", "<done outer>"));
  EXPECT_THAT(observer.lines(), ElementsAre("inner\n", "outer\n"));
  LogLine::RemoveSink(&observer);
  LogLine::RemoveSink(&reentrant);
}

TEST_F(LoggingTest, AllSinksSeeOneOrderAcrossThreads) {
  RecordingSink first, second;
  LogLine::AddSink(&first, LogSeverity::Verbose);
  LogLine::AddSink(&second, LogSeverity::Verbose);
  constexpr int kThreads = 4, kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i)
        LOG_AT(nullptr, 0, Info) << "t" << t << " #" << i;
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  const std::vector<std::string> lines = first.lines();
  EXPECT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  EXPECT_EQ(lines, second.lines());
  // Each thread's own lines keep their order.
  for (int t = 0; t < kThreads; ++t) {
    int next = 0;
    const std::string prefix = "t" + std::to_string(t) + " #";
    for (const std::string& line : lines) {
      if (line.compare(0, prefix.size(), prefix) == 0) {
        EXPECT_EQ(line, prefix + std::to_string(next++) + "\n");
      }
    }
    EXPECT_EQ(next, kLines);
  }
  LogLine::RemoveSink(&second);
  LogLine::RemoveSink(&first);
}

// --- Disabled statements ---------------------------------------------------

int g_evaluations = 0;
int Evaluate() { return ++g_evaluations; }

TEST_F(LoggingTest, DisabledStatementDoesNotEvaluateItsOperands) {
  g_evaluations = 0;
  LOG(Error) << Evaluate();
  EXPECT_EQ(g_evaluations, 0);

  RecordingSink sink;
  LogLine::AddSink(&sink, LogSeverity::Info);
  LOG(Verbose) << Evaluate();
  EXPECT_EQ(g_evaluations, 0);
  LOG(Info) << Evaluate();
  EXPECT_EQ(g_evaluations, 1);
  LogLine::RemoveSink(&sink);
}

TEST_F(LoggingTest, LogIsASingleStatementInsideIfElse) {
  RecordingSink sink;
  LogLine::AddSink(&sink, LogSeverity::Verbose);
  bool flag = false;
  if (flag)
    LOG_AT(nullptr, 0, Info) << "then";
  else
    LOG_AT(nullptr, 0, Info) << "else";
  EXPECT_THAT(sink.lines(), ElementsAre("else\n"));
  LogLine::RemoveSink(&sink);
}

TEST_F(LoggingTest, LineThatNoOutputTakesIsDiscarded) {
  // Built directly, bypassing IsLoggable: no sinks and below stderr.
  const std::string err = Stderr([] {
    LogLine line(__FILE__, __LINE__, LogSeverity::Error);
    line.stream() << "nobody hears " << 42;
  });
  EXPECT_EQ(err, "");
}

// --- Configuration ---------------------------------------------------------

TEST_F(LoggingTest, DebugAloneSendsEverythingFromVerboseToStderr) {
  LogLine::Configure("debug");
  EXPECT_TRUE(LogLine::IsLoggable(LogSeverity::Verbose));
  EXPECT_FALSE(LogLine::IsLoggable(LogSeverity::Sensitive));
  EXPECT_EQ(Stderr([] { LOG_AT(nullptr, 0, Verbose) << "v"; }), "v\n");
}

TEST_F(LoggingTest, DebugTakesTheSeverityInForceAtItsPosition) {
  LogLine::Configure("error debug");
  EXPECT_FALSE(LogLine::IsLoggable(LogSeverity::Warning));
  EXPECT_EQ(Stderr([] {
              LOG_AT(nullptr, 0, Warning) << "w";
              LOG_AT(nullptr, 0, Error) << "e";
            }),
            "e\n");
}

TEST_F(LoggingTest, SeverityAfterDebugDoesNotChangeIt) {
  LogLine::Configure("debug error");
  EXPECT_EQ(Stderr([] { LOG_AT(nullptr, 0, Verbose) << "v"; }), "v\n");
}

TEST_F(LoggingTest, UnknownAndMisspelledTokensAreIgnored) {
  LogLine::Configure("  Debug   INFO bogus  tstampx ");
  EXPECT_FALSE(LogLine::IsLoggable(LogSeverity::Error));
  LogLine::Configure(nullptr);
  LogLine::Configure("");
  EXPECT_FALSE(LogLine::IsLoggable(LogSeverity::Error));
}

TEST_F(LoggingTest, FlagsCombineInPrefixOrder) {
  LogLine::Configure("thread  realtstamp info debug");
  const std::string err = Stderr([] { LOG_AT("x/y.cpp", 9, Info) << "m"; });
  EXPECT_THAT(err, MatchesRegex("[0-9]{2}-[0-9]{2} [0-9:.]{12} \\[[0-9]+\\] \\(y\\.cpp:9\\): m\n"));
}

TEST_F(LoggingTest, ConfigureKeepsSinkThresholdsInMinSeverity) {
  RecordingSink sink;
  LogLine::AddSink(&sink, LogSeverity::Verbose);
  LogLine::Configure("error debug");
  EXPECT_TRUE(LogLine::IsLoggable(LogSeverity::Verbose));
  LogLine::RemoveSink(&sink);
  EXPECT_FALSE(LogLine::IsLoggable(LogSeverity::Warning));
  EXPECT_TRUE(LogLine::IsLoggable(LogSeverity::Error));
}

// --- Bounded formatting ----------------------------------------------------

TEST(BoundedFormatTest, FormatBoundedAlwaysTerminates) {
  char buffer[4];
  memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(FormatBounded(buffer, sizeof(buffer), "%s", "hello"), 5);
  EXPECT_STREQ(buffer, "hel");
  EXPECT_EQ(FormatBounded(buffer, sizeof(buffer), "%d", 12), 2);
  EXPECT_STREQ(buffer, "12");
}

TEST(BoundedFormatTest, BuilderTruncatesWithoutOverrun) {
  char storage[10];
  memset(storage, '#', sizeof(storage));
  char* buffer = storage + 1;  // guard bytes on both sides
  BoundedStringBuilder builder(buffer, 8);
  builder << "abc" << nullptr << "defghij";
  EXPECT_STREQ(builder.str(), "abcdefg");
  EXPECT_EQ(builder.size(), 7u);
  builder << "more";
  builder.AppendFormatted("%d", 99);
  EXPECT_STREQ(builder.str(), "abcdefg");
  EXPECT_EQ(storage[0], '#');
  EXPECT_EQ(storage[9], '#');
}

TEST(BoundedFormatTest, AppendFormattedCapsLengthAtSpaceLeft) {
  char buffer[8];
  BoundedStringBuilder builder(buffer, sizeof(buffer));
  builder << "ab";
  builder.AppendFormatted("[0x%08X]", 0xABCDu);
  EXPECT_STREQ(buffer, "ab[0x00");
  EXPECT_EQ(builder.size(), 7u);
}

TEST(BoundedFormatTest, FormattingErrorKeepsTextAndLength) {
  char buffer[16];
  BoundedStringBuilder builder(buffer, sizeof(buffer));
  builder << "keep";
  // A wide character the C locale cannot convert makes vsnprintf fail.
  const wchar_t unconvertible[] = {0x20AC, 0};
  builder.AppendFormatted("%ls", unconvertible);
  EXPECT_STREQ(buffer, "keep");
  EXPECT_EQ(builder.size(), 4u);
}

// --- Fatal checks ----------------------------------------------------------

class StderrEchoSink : public LogSink {
 public:
  void OnLogMessage(const std::string& message) override {
    fprintf(stderr, "SINK<%s>", message.c_str());
  }
};

TEST(CheckDeathTest, FailedCheckWritesFramedReportAndAborts) {
  test_support::UseFreshProcessDeathTests();
  const int value = 1;
  EXPECT_DEATH(
      {
        errno = 11;
        CHECK(value == 2) << "detail " << 5;
      },
      "^\n\n#\n# Fatal error in [^\n]*logging_test\\.cpp, line [0-9]+\n"
      "# last system error: 11\n# Check failed: value == 2\n# detail 5\n#\n" +
          test_support::DeathOutputEnd());
}

TEST(CheckDeathTest, SinksReceiveTheReportBeforeAbort) {
  test_support::UseFreshProcessDeathTests();
  EXPECT_DEATH(
      {
        static StderrEchoSink sink;
        LogLine::AddSink(&sink, LogSeverity::Info);
        CHECK(false);
      },
      "SINK<\\(checks\\.cpp:[0-9]+\\): 0x[0-9a-f]+: ~FatalMessage:  FatalMessage:\n\n#\n"
      "# Fatal error in [^\n]*\n# last system error: [0-9]+\n# Check failed: false\n# \n#\n\n>");
}

TEST(CheckTest, PassingCheckHasNoEffect) {
  int evaluations = 0;
  CHECK(++evaluations == 1) << "never streamed";
  EXPECT_EQ(evaluations, 1);
}

}  // namespace
}  // namespace rtc
