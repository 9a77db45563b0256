// Platform log: formats a line, copies it to stderr and keeps it in a
// bounded in-memory list that tests read.

#include <atomic>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "desktop/hilog_records.h"
#include "hilog/log.h"

namespace ohos_desktop {
namespace {

struct Records {
  std::mutex mutex;
  std::deque<HilogRecord> list;
};

// Never destroyed: threads that outlive static destruction may still log.
Records& GetRecords() {
  static Records* records = new Records;
  return *records;
}

// -1 until the first line reads the environment, then 0 or 1.
std::atomic<int> g_stderr_enabled{-1};

bool StderrEnabled() {
  int enabled = g_stderr_enabled.load(std::memory_order_relaxed);
  if (enabled >= 0) return enabled != 0;
  const char* quiet = std::getenv("OHOS_DESKTOP_HILOG_QUIET");
  int from_env = (quiet != nullptr && std::strcmp(quiet, "1") == 0) ? 0 : 1;
  // An explicit switch that raced ahead of us wins.
  g_stderr_enabled.compare_exchange_strong(enabled, from_env);
  return g_stderr_enabled.load(std::memory_order_relaxed) != 0;
}

// "%{public}d" -> "%d". Only a brace group of letters right after '%' is a
// privacy flag; anything else is left for vsnprintf.
std::string StripPrivacyFlags(const char* fmt) {
  std::string out;
  for (const char* p = fmt; *p != '\0'; ++p) {
    out += *p;
    if (*p != '%') continue;
    if (p[1] == '%') {
      out += *++p;
      continue;
    }
    if (p[1] != '{') continue;
    const char* q = p + 2;
    while (std::isalpha(static_cast<unsigned char>(*q))) ++q;
    if (*q == '}') p = q;
  }
  return out;
}

// Returns false on a formatting error.
bool FormatText(const char* fmt, va_list args, std::string* text) {
  va_list measure;
  va_copy(measure, args);
  int length = std::vsnprintf(nullptr, 0, fmt, measure);
  va_end(measure);
  if (length < 0) return false;
  text->resize(static_cast<size_t>(length) + 1);
  int written = std::vsnprintf(&(*text)[0], text->size(), fmt, args);
  if (written != length) return false;
  text->resize(static_cast<size_t>(length));
  return true;
}

char LevelLetter(LogLevel level) {
  switch (level) {
    case LOG_DEBUG: return 'D';
    case LOG_INFO: return 'I';
    case LOG_WARN: return 'W';
    case LOG_ERROR: return 'E';
    case LOG_FATAL: return 'F';
  }
  return '?';
}

// "MM-DD HH:MM:SS.mmm", local time.
std::string Timestamp() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%02d-%02d %02d:%02d:%02d.%03ld", local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                now.tv_nsec / 1000000);
  return buffer;
}

// One fwrite per line, so that lines from several threads do not interleave.
void WriteLine(LogLevel level, unsigned int domain, const std::string& tag,
               const std::string& text) {
  char prefix[64];
  std::snprintf(prefix, sizeof(prefix), " %c %04X/", LevelLetter(level), domain);
  std::string line = Timestamp() + prefix + tag + ": " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

void Record(HilogRecord record) {
  Records& records = GetRecords();
  std::lock_guard<std::mutex> lock(records.mutex);
  if (records.list.size() >= kMaxHilogRecords) records.list.pop_front();
  records.list.push_back(std::move(record));
}

}  // namespace

std::vector<HilogRecord> HilogRecords() {
  Records& records = GetRecords();
  std::lock_guard<std::mutex> lock(records.mutex);
  return std::vector<HilogRecord>(records.list.begin(), records.list.end());
}

void ClearHilogRecords() {
  Records& records = GetRecords();
  std::lock_guard<std::mutex> lock(records.mutex);
  records.list.clear();
}

void SetHilogStderrEnabled(bool enabled) { g_stderr_enabled.store(enabled ? 1 : 0); }

bool HilogStderrEnabled() { return StderrEnabled(); }

}  // namespace ohos_desktop

extern "C" int OH_LOG_Print(LogType type, LogLevel level, unsigned int domain, const char* tag,
                            const char* fmt, ...) {
  using namespace ohos_desktop;
  if (fmt == nullptr) return -1;
  std::string format = StripPrivacyFlags(fmt);
  std::string text;
  va_list args;
  va_start(args, fmt);
  bool ok = FormatText(format.c_str(), args, &text);
  va_end(args);
  if (!ok) return -1;
  std::string tag_text = tag != nullptr ? tag : "";
  if (StderrEnabled()) WriteLine(level, domain, tag_text, text);
  int length = static_cast<int>(text.size());
  Record(HilogRecord{type, level, domain, std::move(tag_text), std::move(text)});
  return length;
}
