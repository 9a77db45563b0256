#include "rtc_base/logging.h"

#include <stdio.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <iomanip>
#include <streambuf>
#include <utility>
#include <vector>

#include "rtc_base/recursive_mutex.h"
#include "rtc_base/stringbuilder.h"
#include "rtc_base/timeutils.h"

namespace rtc {

namespace logging_internal {
std::atomic<int> g_min_severity{static_cast<int>(LogSeverity::None)};

const char* StrerrorText(int /*result*/, const char* buffer) {
  // The buffer holds the text on success, and also on the failures both
  // known libraries have (a cut text, an unknown code's); only a library
  // that left it empty has nothing to say.
  return buffer[0] != '\0' ? buffer : "Unknown error";
}
}  // namespace logging_internal

namespace {

using logging_internal::g_min_severity;

constexpr int kSeverityNone = static_cast<int>(LogSeverity::None);

// Thresholds and flags are read on every statement without a lock; atomics
// with relaxed ordering cost the same as plain loads and keep concurrent
// Configure()/AddSink() free of data races.
std::atomic<int> g_stderr_threshold{kSeverityNone};
std::atomic<bool> g_timestamps{false};
std::atomic<bool> g_realtime_timestamps{false};
std::atomic<bool> g_thread_ids{false};

struct SinkEntry {
  LogSink* sink;
  LogSeverity min_severity;
};

// The sink list and its lock. Built by a static initialiser when the
// library loads and deliberately never destroyed: threads that outlive
// static destruction (an engine thread, the log thread) may still log.
struct SinkRegistry {
  RecursiveMutex lock;
  std::vector<SinkEntry> sinks RTC_GUARDED_BY(lock);
};

SinkRegistry& Registry() {
  static SinkRegistry* const registry = new SinkRegistry;
  return *registry;
}

// Make sure the registry exists before any thread can race to create it.
[[maybe_unused]] const bool g_registry_ready = (Registry(), true);

// The elapsed-time origin, captured once by the first time-stamped line:
// whichever thread gets there first wins, the others read its value.
constexpr int64_t kStartUnset = INT64_MIN;
std::atomic<int64_t> g_start_ms{kStartUnset};

int64_t StartMillis(int64_t now_ms) {
  int64_t start = g_start_ms.load(std::memory_order_acquire);
  if (start == kStartUnset &&
      g_start_ms.compare_exchange_strong(start, now_ms, std::memory_order_acq_rel))
    return now_ms;
  return start;
}

// The number of registered sinks, kept beside the list (written under the
// registry lock) so that building a line need not take that lock to ask.
std::atomic<size_t> g_sink_count{0};

void RecomputeMinSeverityLocked(SinkRegistry& registry) RTC_REQUIRES(registry.lock) {
  g_sink_count.store(registry.sinks.size(), std::memory_order_release);
  int min = g_stderr_threshold.load(std::memory_order_relaxed);
  for (const SinkEntry& entry : registry.sinks)
    min = std::min(min, static_cast<int>(entry.min_severity));
  g_min_severity.store(min, std::memory_order_relaxed);
}

bool HasSinks() {
  return g_sink_count.load(std::memory_order_acquire) != 0;
}

// A stream buffer that accepts and drops everything.
class DiscardingBuf : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Where statements that no output takes stream their operands. One per
// thread: formatted output writes the stream's own state (its field width),
// so a single shared stream would be a data race between logging threads.
std::ostream& DiscardingStream() {
  thread_local DiscardingBuf buf;
  thread_local std::ostream stream(&buf);
  return stream;
}

// strerror()'s text without its shared static buffer.
const char* ErrorText(int code, char* buffer, size_t size) {
  buffer[0] = '\0';
  return logging_internal::StrerrorText(strerror_r(code, buffer, size), buffer);
}

// The text after the last '/' or '\\', whichever comes later.
const char* BaseName(const char* path) {
  const char* base = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '/' || *p == '\\')
      base = p + 1;
  }
  return base;
}

// localtime_r takes the time-zone lock on every call; lines come many to
// the second, so each thread keeps the broken-down time of its last second.
const tm& LocalTime(time_t seconds) {
  thread_local time_t cached_seconds = -1;
  thread_local tm cached;
  if (seconds != cached_seconds) {
    localtime_r(&seconds, &cached);
    cached_seconds = seconds;
  }
  return cached;
}

// Building a stream is much of the cost of a line, so each thread reuses
// one; a line begun while the thread's stream is busy gets its own.
struct ThreadStream {
  std::ostringstream stream;
  const std::ios_base::fmtflags flags = stream.flags();
  bool in_use = false;
};

ThreadStream& CurrentThreadStream() {
  thread_local ThreadStream thread_stream;
  return thread_stream;
}

// "MM-DD hh:mm:ss.mmm ". Formatting the date and time is most of a line's
// prefix, and it changes once a second: each thread keeps the text up to
// the seconds' dot and writes the milliseconds by hand.
void AppendWallClockStamp(std::ostream& out) {
  timeval tv;
  gettimeofday(&tv, nullptr);
  thread_local time_t cached_seconds = -1;
  thread_local char text[64];
  thread_local int length = 0;
  if (tv.tv_sec != cached_seconds) {
    const tm& local = LocalTime(tv.tv_sec);
    const int written = FormatBounded(text, sizeof(text) - 4, "%02d-%02d %02d:%02d:%02d.",
                                      local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                      local.tm_min, local.tm_sec);
    length = std::clamp(written, 0, static_cast<int>(sizeof(text)) - 5);
    cached_seconds = tv.tv_sec;
  }
  const int millis = static_cast<int>(tv.tv_usec / 1000);
  char* tail = text + length;
  tail[0] = static_cast<char>('0' + millis / 100);
  tail[1] = static_cast<char>('0' + millis / 10 % 10);
  tail[2] = static_cast<char>('0' + millis % 10);
  tail[3] = ' ';
  out.write(text, length + 4);
}

void AppendElapsedStamp(std::ostream& out, int64_t now_ms) {
  const int64_t elapsed = now_ms - StartMillis(now_ms);
  out << "[" << std::setfill('0') << std::setw(3) << elapsed / 1000 << ":"
      << std::setw(3) << elapsed % 1000 << std::setfill(' ') << "] ";
}

}  // namespace

LogSink::~LogSink() = default;

void LogSink::OnLogMessageWithSeverity(const std::string& message,
                                       LogSeverity /*severity*/) {
  OnLogMessage(message);
}

LogLine::LogLine(const char* file, int line, LogSeverity severity,
                 LogErrorContext error_context, int error_code)
    : severity_(severity) {
  // A line below the stderr threshold is still built whenever any sink is
  // registered; the sinks' own thresholds are applied at delivery.
  if (g_stderr_threshold.load(std::memory_order_relaxed) >
          static_cast<int>(severity) &&
      !HasSinks()) {
    is_noop_ = true;
    return;
  }
  ThreadStream& pooled = CurrentThreadStream();
  if (!pooled.in_use) {
    pooled.in_use = true;
    pooled.stream.str(std::string());
    pooled.stream.clear();
    pooled.stream.flags(pooled.flags);
    pooled.stream.fill(' ');
    pooled.stream.precision(6);
    pooled.stream.width(0);
    print_stream_ = &pooled.stream;
    pooled_ = true;
  } else {
    owned_stream_ = std::make_unique<std::ostringstream>();
    print_stream_ = owned_stream_.get();
  }
  AppendPrefix(*print_stream_, file, line);
  AppendErrorContext(error_context, error_code);
}

void LogLine::AppendPrefix(std::ostream& out, const char* file, int line) {
  if (g_timestamps.load(std::memory_order_relaxed)) {
    const int64_t now_ms = MonotonicMillis();
    StartMillis(now_ms);  // the first stamped line fixes the origin
    if (g_realtime_timestamps.load(std::memory_order_relaxed))
      AppendWallClockStamp(out);
    else
      AppendElapsedStamp(out, now_ms);
  }
  if (g_thread_ids.load(std::memory_order_relaxed))
    out << "[" << static_cast<long>(syscall(SYS_gettid)) << "] ";
  if (file != nullptr)
    out << "(" << BaseName(file) << ":" << line << "): ";
}

std::string LogLine::Prefix(const char* file, int line) {
  std::ostringstream prefix;
  AppendPrefix(prefix, file, line);
  return prefix.str();
}

void LogLine::AppendErrorContext(LogErrorContext error_context, int error_code) {
  if (error_context == LogErrorContext::None)
    return;
  char buffer[1024];
  BoundedStringBuilder text(buffer, sizeof(buffer));
  text.AppendFormatted("[0x%08X]", static_cast<unsigned>(error_code));
  if (error_context == LogErrorContext::Errno) {
    char reason[256];
    text << " " << ErrorText(error_code, reason, sizeof(reason));
  }
  extra_ = text.str();
}

LogLine::~LogLine() {
  if (is_noop_)
    return;
  if (!extra_.empty())
    *print_stream_ << " : " << extra_;
  *print_stream_ << '\n';
  const std::string text = print_stream_->str();
  // Free for the lines the sinks may log while delivering this one.
  if (pooled_)
    CurrentThreadStream().in_use = false;

  // The whole text, not up to a NUL streamed in the message: the newline
  // must reach stderr or the next line runs on into this one.
  if (static_cast<int>(severity_) >=
      g_stderr_threshold.load(std::memory_order_relaxed)) {
    fwrite(text.data(), 1, text.size(), stderr);
    fflush(stderr);
  }

  // The lock is recursive: a sink that logs from inside its delivery on the
  // same thread re-enters here instead of deadlocking.
  SinkRegistry& registry = Registry();
  ScopedLock lock(&registry.lock);
  for (size_t i = 0; i < registry.sinks.size(); ++i) {
    const SinkEntry entry = registry.sinks[i];  // a nested AddSink may grow the list
    if (severity_ >= entry.min_severity)
      entry.sink->OnLogMessage(text);
  }
}

std::ostream& LogLine::stream() {
  if (is_noop_)
    return DiscardingStream();
  return *print_stream_;
}

bool LogLine::ParseSeverity(const std::string& token, LogSeverity* severity) {
  static const std::pair<const char*, LogSeverity> kNames[] = {
      {"sensitive", LogSeverity::Sensitive}, {"verbose", LogSeverity::Verbose},
      {"info", LogSeverity::Info},           {"warning", LogSeverity::Warning},
      {"error", LogSeverity::Error},         {"none", LogSeverity::None},
  };
  for (const auto& name : kNames) {
    if (token == name.first) {
      *severity = name.second;
      return true;
    }
  }
  return false;
}

void LogLine::Configure(const char* params) {
  LogSeverity current = LogSeverity::Verbose;
  int stderr_threshold = g_stderr_threshold.load(std::memory_order_relaxed);
  std::istringstream tokens(params != nullptr ? params : "");
  std::string token;
  // Splitting at single spaces and skipping empty pieces.
  while (std::getline(tokens, token, ' ')) {
    if (token.empty() || ParseSeverity(token, &current))
      continue;
    if (token == "debug") {
      stderr_threshold = static_cast<int>(current);
    } else if (token == "tstamp") {
      g_timestamps.store(true, std::memory_order_relaxed);
    } else if (token == "realtstamp") {
      g_timestamps.store(true, std::memory_order_relaxed);
      g_realtime_timestamps.store(true, std::memory_order_relaxed);
    } else if (token == "thread") {
      g_thread_ids.store(true, std::memory_order_relaxed);
    }
  }
  SinkRegistry& registry = Registry();
  ScopedLock lock(&registry.lock);
  g_stderr_threshold.store(stderr_threshold, std::memory_order_relaxed);
  RecomputeMinSeverityLocked(registry);
}

void LogLine::AddSink(LogSink* sink, LogSeverity min_severity) {
  SinkRegistry& registry = Registry();
  ScopedLock lock(&registry.lock);
  registry.sinks.push_back({sink, min_severity});
  RecomputeMinSeverityLocked(registry);
}

void LogLine::RemoveSink(LogSink* sink) {
  SinkRegistry& registry = Registry();
  ScopedLock lock(&registry.lock);
  for (auto it = registry.sinks.begin(); it != registry.sinks.end(); ++it) {
    if (it->sink == sink) {
      registry.sinks.erase(it);
      break;
    }
  }
  RecomputeMinSeverityLocked(registry);
}

namespace logging_internal {

void ResetForTesting() {
  SinkRegistry& registry = Registry();
  ScopedLock lock(&registry.lock);
  registry.sinks.clear();
  g_stderr_threshold.store(kSeverityNone);
  g_timestamps.store(false);
  g_realtime_timestamps.store(false);
  g_thread_ids.store(false);
  g_start_ms.store(kStartUnset);
  RecomputeMinSeverityLocked(registry);
}

void SetElapsedOriginForTesting(int64_t start_ms) {
  g_start_ms.store(start_ms);
}

}  // namespace logging_internal

}  // namespace rtc
