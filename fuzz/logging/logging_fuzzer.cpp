// Fuzzes the logging core: configuration text, sink registration and the
// building and delivery of lines from arbitrary locations, severities,
// error contexts and messages.
//
// The input is a script of records, one per line ('\n'):
//   C<params>                      LogLine::Configure(params)
//   A<sink><severity>              AddSink(sink % 3, severity % 6), digits
//   R<sink>                        RemoveSink(sink % 3)
//   L<sev>,<ctx>,<code>,<line>,<flags>,<file>,<message>
//                                  one statement; numbers in decimal, flags:
//                                    1  no file (null)
//                                    2  a LogLine built directly, without
//                                       the IsLoggable guard of the macros
//                                    4  an operand that logs a line itself
//                                    8  the first sink to receive the line
//                                       logs a line from its delivery
//                                  flags >> 4 is the severity of the inner
//                                  line of 4 and 8.
// Anything else is skipped. A small model of the thresholds and sinks says
// which lines must reach which sink and stderr; every line that arrives must
// carry the prefix the flags select, the location, the message, the error
// context and the final newline, and nothing else may arrive.

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "rtc_base/logging.h"

namespace {

using rtc::LogErrorContext;
using rtc::LogLine;
using rtc::LogSeverity;

constexpr int kSinks = 3;
constexpr int kSeverityNone = static_cast<int>(LogSeverity::None);
constexpr size_t kMaxRecords = 64;
constexpr char kInnerFile[] = "fuzz/inner.cc";
constexpr int kInnerLine = 7;

// While a record runs, `stderr` is a memory stream, so that what the core
// writes there can be checked. glibc lets the variable be set; libFuzzer
// and the sanitizers keep writing to the real stream (they copied the
// pointer at start-up or write the descriptor), so their reports stay
// visible, and swapping costs no system call.
FILE* g_real_stderr = nullptr;

// Names this target in invariant reports, which go to the real stderr.
[[maybe_unused]] const bool kNamed = (fuzz_check::g_target = "logging fuzzer",
                                      fuzz_check::g_before_report =
                                          [] {
                                            if (g_real_stderr != nullptr)
                                              stderr = g_real_stderr;
                                          },
                                      true);
FILE* g_capture = nullptr;
char* g_captured = nullptr;  // the memory stream's buffer and size
size_t g_captured_size = 0;
size_t g_captured_taken = 0;

// --- What the core is expected to do ----------------------------------------

struct Model {
  int stderr_threshold = kSeverityNone;
  bool timestamps = false;
  bool realtime = false;
  bool thread_ids = false;
  std::vector<std::pair<int, int>> registrations;  // sink index, threshold

  int MinSeverity() const {
    int min = stderr_threshold;
    for (const auto& reg : registrations)
      min = std::min(min, reg.second);
    return min;
  }
};

// Expected line bodies (everything after the prefix) per output.
struct Expected {
  std::vector<std::string> stderr_lines;
  std::vector<std::string> sink_lines[kSinks];
};

void ConfigureModel(const std::string& params, Model* model) {
  static const char* const kNames[] = {"sensitive", "verbose", "info", "warning", "error", "none"};
  int running = static_cast<int>(LogSeverity::Verbose);
  size_t start = 0;
  while (start <= params.size()) {
    size_t end = params.find(' ', start);
    if (end == std::string::npos)
      end = params.size();
    const std::string token = params.substr(start, end - start);
    start = end + 1;
    bool severity = false;
    for (int s = 0; s <= kSeverityNone; ++s) {
      if (token == kNames[s]) {
        running = s;
        severity = true;
      }
    }
    if (severity)
      continue;
    if (token == "debug")
      model->stderr_threshold = running;
    else if (token == "tstamp")
      model->timestamps = true;
    else if (token == "realtstamp")
      model->timestamps = model->realtime = true;
    else if (token == "thread")
      model->thread_ids = true;
  }
}

// --- Sinks ------------------------------------------------------------------

void EmitEcho(int severity);

// The echo request of the statement being run: the first sink to receive a
// line logs one line of its own from inside the delivery.
bool g_echo_pending = false;
int g_echo_severity = 0;
int g_delivery_depth = 0;

class FuzzSink : public rtc::LogSink {
 public:
  void OnLogMessage(const std::string& message) override {
    lines_.push_back(message);
    if (g_echo_pending && g_delivery_depth == 0) {
      g_echo_pending = false;
      ++g_delivery_depth;
      EmitEcho(g_echo_severity);
      --g_delivery_depth;
    }
  }
  std::vector<std::string>& lines() { return lines_; }

 private:
  std::vector<std::string> lines_;
};

FuzzSink g_sinks[kSinks];

void EmitEcho(int severity) {
  const LogSeverity sev = static_cast<LogSeverity>(severity);
  if (LogLine::IsLoggable(sev))
    LogLine(kInnerFile, kInnerLine, sev).stream() << "echo";
}

std::string InnerBody(const char* text) {
  return std::string("(inner.cc:") + std::to_string(kInnerLine) + "): " + text + "\n";
}

bool ModelLoggable(const Model& model, int severity) {
  return model.MinSeverity() <= severity;
}

// What one line is expected to do; `echo` is the statement's pending echo,
// consumed by the first sink delivery.
void ModelDeliver(const Model& model, int severity, const std::string& body, bool* echo,
                  int echo_severity, Expected* expected) {
  // A line that no output takes is never built.
  if (model.stderr_threshold > severity && model.registrations.empty())
    return;
  if (severity >= model.stderr_threshold)
    expected->stderr_lines.push_back(body);
  for (const auto& reg : model.registrations) {
    if (severity < reg.second)
      continue;
    expected->sink_lines[reg.first].push_back(body);
    if (*echo) {
      *echo = false;
      if (ModelLoggable(model, echo_severity))
        ModelDeliver(model, echo_severity, InnerBody("echo"), echo, 0, expected);
    }
  }
}

// --- Statements -------------------------------------------------------------

struct Statement {
  int severity = 0;
  int context = 0;
  int code = 0;
  int line = 0;
  unsigned flags = 0;
  std::string file;
  std::string message;

  bool null_file() const { return flags & 1; }
  bool direct() const { return flags & 2; }
  bool nested_operand() const { return flags & 4; }
  bool echo() const { return flags & 8; }
  int inner_severity() const { return static_cast<int>((flags >> 4) % 6); }
};

std::string BaseName(const std::string& path) {
  const size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string ExpectedBody(const Statement& s) {
  std::string body;
  if (!s.null_file())
    body += "(" + BaseName(s.file.c_str()) + ":" + std::to_string(s.line) + "): ";
  body += s.message;
  if (s.context != static_cast<int>(LogErrorContext::None)) {
    char code[32];
    snprintf(code, sizeof(code), "[0x%08X]", static_cast<unsigned>(s.code));
    body += std::string(" : ") + code;
    if (s.context == static_cast<int>(LogErrorContext::Errno)) {
      char reason[256];
      body += std::string(" ") + strerror_r(s.code, reason, sizeof(reason));
    }
  }
  return body + "\n";
}

// An operand that logs a line of its own while the statement's line is
// being built (the thread's stream is then busy).
const char* InnerOperand(int severity) {
  const LogSeverity sev = static_cast<LogSeverity>(severity);
  if (LogLine::IsLoggable(sev))
    LogLine(kInnerFile, kInnerLine, sev).stream() << "operand";
  return "";
}

void RunStatement(const Statement& s) {
  const LogSeverity sev = static_cast<LogSeverity>(s.severity);
  const LogErrorContext ctx = static_cast<LogErrorContext>(s.context);
  const char* file = s.null_file() ? nullptr : s.file.c_str();
  if (!s.direct() && !LogLine::IsLoggable(sev))
    return;  // what the macros do: nothing at all
  LogLine line(file, s.line, sev, ctx, s.code);
  line.stream() << s.message;
  if (s.nested_operand())
    line.stream() << InnerOperand(s.inner_severity());
}

void ModelStatement(const Model& model, const Statement& s, Expected* expected) {
  if (!s.direct() && !ModelLoggable(model, s.severity))
    return;
  bool echo = s.echo();
  if (s.nested_operand() && ModelLoggable(model, s.inner_severity()))
    ModelDeliver(model, s.inner_severity(), InnerBody("operand"), &echo, s.inner_severity(),
                 expected);
  ModelDeliver(model, s.severity, ExpectedBody(s), &echo, s.inner_severity(), expected);
}

// --- Checking what arrived --------------------------------------------------

bool Digits(const std::string& text, size_t* pos, size_t min, size_t max) {
  size_t n = 0;
  while (*pos < text.size() && n < max && text[*pos] >= '0' && text[*pos] <= '9') {
    ++*pos;
    ++n;
  }
  return n >= min;
}

bool Literal(const std::string& text, size_t* pos, const char* literal) {
  const size_t n = strlen(literal);
  if (text.compare(*pos, n, literal) != 0)
    return false;
  *pos += n;
  return true;
}

// Skips the prefix the model's flags select at `pos`; false when it is not
// there in exactly that form.
bool MatchPrefix(const Model& model, const std::string& text, size_t* pos) {
  if (model.timestamps && model.realtime) {
    // MM-DD HH:MM:SS.mmm
    if (!(Digits(text, pos, 2, 2) && Literal(text, pos, "-") && Digits(text, pos, 2, 2) &&
          Literal(text, pos, " ") && Digits(text, pos, 2, 2) && Literal(text, pos, ":") &&
          Digits(text, pos, 2, 2) && Literal(text, pos, ":") && Digits(text, pos, 2, 2) &&
          Literal(text, pos, ".") && Digits(text, pos, 3, 3) && Literal(text, pos, " ")))
      return false;
  } else if (model.timestamps) {
    // [sss:mmm]
    if (!(Literal(text, pos, "[") && Digits(text, pos, 3, 20) && Literal(text, pos, ":") &&
          Digits(text, pos, 3, 3) && Literal(text, pos, "] ")))
      return false;
  }
  if (model.thread_ids &&
      !(Literal(text, pos, "[") && Digits(text, pos, 1, 20) && Literal(text, pos, "] ")))
    return false;
  return true;
}

void CheckLines(const Model& model, const std::vector<std::string>& got,
                const std::vector<std::string>& want, const char* output) {
  CHECK_OR_FAIL(got.size() == want.size(), std::string(output) + ": " + std::to_string(got.size()) +
                                               " lines arrived, " + std::to_string(want.size()) +
                                               " expected");
  for (size_t i = 0; i < got.size(); ++i) {
    size_t pos = 0;
    CHECK_OR_FAIL(MatchPrefix(model, got[i], &pos),
                  std::string(output) + ": bad prefix in line " + std::to_string(i));
    CHECK_OR_FAIL(got[i].compare(pos, std::string::npos, want[i]) == 0,
                  std::string(output) + ": line " + std::to_string(i) + " is '" + got[i] +
                      "', expected to end with '" + want[i] + "'");
  }
}

// Stderr is one byte stream: the expected lines back to back.
void CheckStderr(const Model& model, const std::string& got, const std::vector<std::string>& want) {
  size_t pos = 0;
  for (size_t i = 0; i < want.size(); ++i) {
    CHECK_OR_FAIL(MatchPrefix(model, got, &pos), "stderr: bad prefix in line " + std::to_string(i));
    CHECK_OR_FAIL(got.compare(pos, want[i].size(), want[i]) == 0,
                  "stderr: line " + std::to_string(i) + " does not end with '" + want[i] +
                      "'; stderr held '" + got + "'");
    pos += want[i].size();
  }
  CHECK_OR_FAIL(pos == got.size(), "stderr: unexpected output '" + got.substr(pos) + "'");
}

void CheckThresholds(const Model& model) {
  // Whatever the configuration, the threshold stays a severity.
  CHECK_OR_FAIL(LogLine::IsLoggable(LogSeverity::None), "threshold above None");
  CHECK_OR_FAIL(!LogLine::IsLoggable(static_cast<LogSeverity>(-1)), "threshold below Sensitive");
  for (int s = 0; s <= kSeverityNone; ++s) {
    CHECK_OR_FAIL(LogLine::IsLoggable(static_cast<LogSeverity>(s)) == ModelLoggable(model, s),
                  "IsLoggable(" + std::to_string(s) + ") disagrees with the configuration");
  }
}

// What the core wrote to stderr since the last call.
std::string TakeCapturedStderr() {
  fflush(g_capture);  // brings g_captured and g_captured_size up to date
  std::string text(g_captured + g_captured_taken, g_captured_size - g_captured_taken);
  g_captured_taken = g_captured_size;
  return text;
}

// --- Input parsing ----------------------------------------------------------

// Decimal with an optional sign; wraps like two's complement arithmetic.
int ParseInt(const std::string& field) {
  size_t i = 0;
  const bool negative = !field.empty() && field[0] == '-';
  if (negative)
    ++i;
  uint32_t value = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i)
    value = value * 10u + static_cast<uint32_t>(field[i] - '0');
  if (negative)
    value = 0u - value;
  return static_cast<int>(value);
}

bool ParseStatement(const std::string& record, Statement* s) {
  std::vector<std::string> fields;
  size_t start = 1;
  for (int i = 0; i < 6; ++i) {
    const size_t comma = record.find(',', start);
    if (comma == std::string::npos)
      return false;
    fields.push_back(record.substr(start, comma - start));
    start = comma + 1;
  }
  s->severity = ParseInt(fields[0]);
  s->context = ParseInt(fields[1]);
  s->code = ParseInt(fields[2]);
  s->line = ParseInt(fields[3]);
  s->flags = static_cast<unsigned>(ParseInt(fields[4]));
  s->file = fields[5];
  s->message = record.substr(start);
  return true;
}

void RunRecord(const std::string& record, Model* model) {
  Expected expected;
  const char op = record[0];
  Statement statement;
  if (op == 'L' && !ParseStatement(record, &statement))
    return;

  stderr = g_capture;
  if (op == 'C') {
    const std::string params = record.substr(1);
    LogLine::Configure(params.c_str());
    ConfigureModel(params.c_str(), model);  // the core sees up to a NUL
  } else if (op == 'A' && record.size() >= 3) {
    const int sink = static_cast<unsigned char>(record[1]) % kSinks;
    const int severity = static_cast<unsigned char>(record[2]) % 6;
    LogLine::AddSink(&g_sinks[sink], static_cast<LogSeverity>(severity));
    model->registrations.push_back({sink, severity});
  } else if (op == 'R' && record.size() >= 2) {
    const int sink = static_cast<unsigned char>(record[1]) % kSinks;
    LogLine::RemoveSink(&g_sinks[sink]);
    auto& regs = model->registrations;
    auto it = std::find_if(regs.begin(), regs.end(),
                           [sink](const std::pair<int, int>& r) { return r.first == sink; });
    if (it != regs.end())
      regs.erase(it);
  } else if (op == 'L') {
    g_echo_pending = statement.echo();
    g_echo_severity = statement.inner_severity();
    RunStatement(statement);
    g_echo_pending = false;
    ModelStatement(*model, statement, &expected);
  }
  stderr = g_real_stderr;

  CheckStderr(*model, TakeCapturedStderr(), expected.stderr_lines);
  for (int i = 0; i < kSinks; ++i) {
    static const char* const kNames[kSinks] = {"sink 0", "sink 1", "sink 2"};
    CheckLines(*model, g_sinks[i].lines(), expected.sink_lines[i], kNames[i]);
    g_sinks[i].lines().clear();
  }
  CheckThresholds(*model);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  g_real_stderr = stderr;
  g_capture = open_memstream(&g_captured, &g_captured_size);
  if (g_capture == nullptr)
    fuzz_check::Fail("cannot open the stderr capture");
  g_captured_taken = 0;
  rtc::logging_internal::ResetForTesting();
  Model model;
  const std::string input(reinterpret_cast<const char*>(data), size);
  size_t start = 0, records = 0;
  while (start < input.size() && records++ < kMaxRecords) {
    size_t end = input.find('\n', start);
    if (end == std::string::npos)
      end = input.size();
    if (end > start)
      RunRecord(input.substr(start, end - start), &model);
    start = end + 1;
  }
  rtc::logging_internal::ResetForTesting();
  fclose(g_capture);
  free(g_captured);
  g_capture = nullptr;
  g_captured = nullptr;
  return 0;
}
