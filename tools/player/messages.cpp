#include "messages.h"

#include "rtc_base/mutex.h"
#include "rtc_base/thread_annotations.h"

namespace player {

namespace {

rtc::Mutex g_output;
bool g_status_shown RTC_GUARDED_BY(g_output) = false;

// "\r" back to the line's start, then "erase to its end": a shorter line
// leaves nothing of the longer one before it.
constexpr char kClearLine[] = "\r\x1b[K";

}  // namespace

void Say(FILE* stream, const std::string& line) {
  rtc::MutexLock lock(&g_output);
  if (g_status_shown) {
    fputs(kClearLine, stderr);
    g_status_shown = false;
  }
  fprintf(stream, "%s\n", line.c_str());
  fflush(stream);
}

void Fail(const std::string& message) {
  Say(stderr, "nativerender-player: " + message);
}

void ShowStatus(const std::string& text) {
  rtc::MutexLock lock(&g_output);
  fprintf(stderr, "%s%s", kClearLine, text.c_str());
  fflush(stderr);
  g_status_shown = true;
}

void EndStatus() {
  rtc::MutexLock lock(&g_output);
  if (g_status_shown)
    fputc('\n', stderr);
  g_status_shown = false;
}

}  // namespace player
