#include "engine/media_library_log.h"

#include <stdarg.h>
#include <stdio.h>

#include <atomic>
#include <mutex>

#include "engine/media_source.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace engine {

namespace {

std::atomic<bool> g_host_keeps_log{false};

// The last error line the libraries logged on this thread: an open's
// refusal is detailed by what the demuxer said (an mp4 whose index is
// missing says so only there).
thread_local std::string t_last_library_error;

void KeepLibraryLog(void* /*context*/, int level, const char* format, va_list args) {
  if (level > AV_LOG_ERROR)
    return;
  char line[512];
  vsnprintf(line, sizeof line, format, args);
  std::string text = line;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  if (!text.empty())
    t_last_library_error = text;
}

}  // namespace

void LeaveLibraryLogAlone() {
  g_host_keeps_log = true;
}

void TakeLibraryLog() {
  if (g_host_keeps_log)
    return;
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_callback(KeepLibraryLog); });
}

void ForgetLastLibraryError() {
  t_last_library_error.clear();
}

const std::string& LastLibraryError() {
  return t_last_library_error;
}

std::string LibraryErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE];
  av_strerror(code, text, sizeof text);
  return text;
}

}  // namespace engine
