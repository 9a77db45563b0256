#ifndef RTC_BASE_LOGGING_H_
#define RTC_BASE_LOGGING_H_

// The runtime's logging core.
//
//   LOG(Info) << "connected to " << host << ":" << port;
//
// A statement builds a line only when some output accepts its severity: when
// none does, its operands are not evaluated at all. The finished line (prefix,
// message, newline) goes to stderr when its severity reaches the stderr
// threshold, then to every registered LogSink whose own threshold it meets,
// in registration order, under one lock.
//
// Prefix, in order, each part only when switched on by Configure():
//   "MM-DD HH:MM:SS.mmm "   local wall-clock time ("realtstamp"), or
//   "[sss:mmm] "            seconds:milliseconds since the first stamped line ("tstamp")
//   "[tid] "                kernel thread id ("thread")
//   "(file:line): "         base name of the source file, when a file is given
// Error context appends " : [0xXXXXXXXX] <strerror text>" to the message.

#include <stdint.h>

#include <atomic>
#include <memory>
#include <sstream>
#include <string>

// X11's headers define None as a macro; keep it out of the enumerations
// below so this header can be included after them.
#pragma push_macro("None")
#undef None

namespace rtc {

namespace logging_internal {
// The lowest severity any output accepts (a LogSeverity value). Read on
// every statement, so it lives here for IsLoggable to be inlined.
extern std::atomic<int> g_min_severity;
}  // namespace logging_internal

// Higher is more severe. Lines never carry their severity in the text.
enum class LogSeverity : int {
  Sensitive = 0,
  Verbose = 1,
  Info = 2,
  Warning = 3,
  Error = 4,
  None = 5,
};

// What the error code of a statement means. Any other non-zero value prints
// the code alone.
enum class LogErrorContext : int {
  None = 0,
  Errno = 1,  // a system errno value: its strerror() text is added
};

// Receives complete log lines. Sinks are borrowed by the core, never owned.
class LogSink {
 public:
  virtual ~LogSink();
  // Delivery with the line's severity; forwards to OnLogMessage(message) by
  // default. The core itself always calls OnLogMessage(message).
  virtual void OnLogMessageWithSeverity(const std::string& message,
                                        LogSeverity severity);
  // One complete line, including its trailing newline.
  virtual void OnLogMessage(const std::string& message) = 0;
};

// One log statement. Built by the LOG macros; the line is emitted when the
// object is destroyed at the end of the full statement.
class LogLine {
 public:
  // `file` may be null: then no location is printed.
  LogLine(const char* file, int line, LogSeverity severity,
          LogErrorContext error_context = LogErrorContext::None,
          int error_code = 0);
  ~LogLine();
  LogLine(const LogLine&) = delete;
  LogLine& operator=(const LogLine&) = delete;

  // Where the caller streams the message. For a line no output can take,
  // a stream that discards everything.
  std::ostream& stream();

  // True when some output accepts `severity`. One relaxed load and a compare:
  // this is the whole cost of a statement below every threshold.
  static bool IsLoggable(LogSeverity severity) {
    return logging_internal::g_min_severity.load(std::memory_order_relaxed) <=
           static_cast<int>(severity);
  }

  // Space-separated tokens, compared exactly, unknown ones ignored. A running
  // severity starts at "verbose" and is set by "sensitive", "verbose",
  // "info", "warning", "error" and "none"; "debug" sends lines of the running
  // severity and above to stderr; "tstamp" switches on elapsed-time stamps,
  // "realtstamp" wall-clock stamps, "thread" thread ids. Flags are only ever
  // switched on.
  static void Configure(const char* params);
  // The severity a Configure() token names ("sensitive" ... "none"); false
  // for any other token.
  static bool ParseSeverity(const std::string& token, LogSeverity* severity);

  // Registers `sink` (appended, not owned) for lines of `min_severity` and
  // above. The same sink may be added more than once.
  static void AddSink(LogSink* sink, LogSeverity min_severity);
  // Removes the first registration of `sink`; unknown sinks are ignored.
  static void RemoveSink(LogSink* sink);

  // The prefix a line written now at `file`:`line` would carry under the
  // current configuration (time stamp, thread id, location), for a sink
  // that forwards a line of its own among the lines it was given.
  static std::string Prefix(const char* file, int line);

 private:
  static void AppendPrefix(std::ostream& out, const char* file, int line);
  void AppendErrorContext(LogErrorContext error_context, int error_code);

  // The thread's reusable stream when free, else owned_ (a line built while
  // another is being built on the same thread, e.g. inside an operand).
  std::ostringstream* print_stream_ = nullptr;
  std::unique_ptr<std::ostringstream> owned_stream_;
  bool pooled_ = false;
  const LogSeverity severity_;
  std::string extra_;
  bool is_noop_ = false;
};

// Makes `cond ? (void)0 : Voidify() & stream << ...` a void expression so
// that LOG can be used as a plain statement, including inside if/else.
class LogMessageVoidify {
 public:
  void operator&(std::ostream&) {}
};

namespace logging_internal {
// Puts the core back in its initial state (no sinks, no flags, thresholds at
// None, elapsed-time origin unset). Flags are otherwise only ever switched
// on, so tests need this to isolate themselves.
void ResetForTesting();
// Moves the elapsed-time origin ("tstamp") to `start_ms` on the monotonic
// millisecond clock, so tests can see long uptimes.
void SetElapsedOriginForTesting(int64_t start_ms);
// The text of what strerror_r gave, whichever of its two forms the C library
// declares: GNU's returns the text (in `buffer` or a static string of its
// own); the XSI one (musl's; glibc's under strict POSIX) fills `buffer` and
// returns 0 or an error number, the buffer then holding an unknown code's
// text or a cut one. Overloads on the result, so that either compiles.
inline const char* StrerrorText(const char* text, const char* /*buffer*/) {
  return text;
}
const char* StrerrorText(int result, const char* buffer);
}  // namespace logging_internal

}  // namespace rtc

#pragma pop_macro("None")

// Statement forms. `sev` is a LogSeverity member name: LOG(Info). They avoid
// naming None (LogErrorContext() is None) so that they work after X11 headers.
#define RTC_LOG_IMPL(file, line, severity, context, code)               \
  !::rtc::LogLine::IsLoggable(severity)                                  \
      ? (void)0                                                          \
      : ::rtc::LogMessageVoidify() &                                     \
            ::rtc::LogLine(file, line, severity, context, code).stream()

#define LOG(sev)                                                         \
  RTC_LOG_IMPL(__FILE__, __LINE__, ::rtc::LogSeverity::sev,              \
               ::rtc::LogErrorContext(), 0)

// A line that carries an explicit location, for lines whose file and line
// are part of their contract with log tooling: LOG_AT("quon_render", 350, Info).
#define LOG_AT(file, line, sev)                                          \
  RTC_LOG_IMPL(file, line, ::rtc::LogSeverity::sev,                      \
               ::rtc::LogErrorContext(), 0)

// A severity held in a variable.
#define LOG_V(severity)                                                  \
  RTC_LOG_IMPL(__FILE__, __LINE__, severity, ::rtc::LogErrorContext(), 0)

// Lines with error context: LOG_E(Error, Errno, err) or LOG_ERRNO(Warning).
#define LOG_E(sev, ctx, code)                                            \
  RTC_LOG_IMPL(__FILE__, __LINE__, ::rtc::LogSeverity::sev,              \
               ::rtc::LogErrorContext::ctx, code)
#define LOG_ERRNO(sev) LOG_E(sev, Errno, errno)

#endif  // RTC_BASE_LOGGING_H_
