// nativerender-selfcheck: shows, in a few seconds, that the pieces a player
// stands on work on this machine: the runtime's logging, the platform log,
// a real X11 window whose pixels read back, and the module loading with
// dlopen. Exit status 0 when every check passes.
//
//   nativerender-selfcheck [--module PATH] [--hold SECONDS]

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <X11/Xlib.h>

#include <string>

#include "desktop/hilog_records.h"
#include "desktop/x11_surface.h"
#include "hilog/log.h"
#include "rtc_base/logging.h"

namespace {

int g_failures = 0;

void Report(const char* check, bool ok, const std::string& detail) {
  printf("%-8s %-28s %s\n", ok ? "ok" : "FAILED", check, detail.c_str());
  if (!ok)
    ++g_failures;
}

class StdoutSink : public rtc::LogSink {
 public:
  void OnLogMessage(const std::string& message) override {
    printf("  runtime log: %s", message.c_str());
    ++lines;
  }
  int lines = 0;
};

void CheckRuntimeLogging() {
  StdoutSink sink;
  rtc::LogLine::Configure("verbose realtstamp");
  rtc::LogLine::AddSink(&sink, rtc::LogSeverity::Verbose);
  LOG(Info) << "selfcheck: runtime logging reaches its sinks";
  LOG(Sensitive) << "below every threshold: never printed";
  rtc::LogLine::RemoveSink(&sink);
  Report("runtime logging", sink.lines == 1, std::to_string(sink.lines) + " line delivered");
}

void CheckPlatformLog() {
  ohos_desktop::ClearHilogRecords();
  OH_LOG_Print(LOG_APP, LOG_ERROR, 0x101, "[NATIVE]", "selfcheck %{public}s %{public}d",
               "platform log", 1);
  const auto records = ohos_desktop::HilogRecords();
  const bool ok = records.size() == 1 && records[0].text == "selfcheck platform log 1";
  Report("platform log", ok, ok ? "tag [NATIVE], domain 0x101" : "record missing");
}

// Fills the window with four vertical bars and reads them back.
void CheckWindow(int hold_seconds) {
  auto surface = ohos_desktop::X11Surface::Create(320, 180, "nativerender selfcheck");
  if (!surface) {
    Report("X11 window", false, "no display (is DISPLAY set?)");
    return;
  }
  const unsigned long colours[] = {0xff0000, 0x00ff00, 0x0000ff, 0xffffff};
  Display* display = surface->display();
  GC gc = XCreateGC(display, surface->WindowId(), 0, nullptr);
  for (int bar = 0; bar < 4; ++bar) {
    XSetForeground(display, gc, colours[bar]);
    XFillRectangle(display, surface->WindowId(), gc, bar * 80, 0, 80, 180);
  }
  XFreeGC(display, gc);
  const auto pixels = surface->ReadPixels();
  bool ok = pixels.size() == 320u * 180u;
  for (int bar = 0; ok && bar < 4; ++bar)
    ok = (pixels[90 * 320 + bar * 80 + 40] & 0xffffff) == colours[bar];
  Report("X11 window", ok, "320x180, four bars read back " + std::string(ok ? "exactly" : "wrong"));
  if (hold_seconds > 0)
    sleep(static_cast<unsigned>(hold_seconds));
}

void CheckModule(const char* path) {
  void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    Report("module dlopen", false, dlerror());
    return;
  }
  Report("module dlopen", true, path);
  dlclose(module);
}

}  // namespace

int main(int argc, char** argv) {
  const char* module_path = "libnativerender.so";
  int hold_seconds = 0;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--module") == 0 && i + 1 < argc) {
      module_path = argv[++i];
    } else if (strcmp(argv[i], "--hold") == 0 && i + 1 < argc) {
      hold_seconds = atoi(argv[++i]);
    } else {
      fprintf(stderr, "usage: %s [--module PATH] [--hold SECONDS]\n", argv[0]);
      return 2;
    }
  }
  setvbuf(stdout, nullptr, _IOLBF, 0);
  CheckRuntimeLogging();
  CheckPlatformLog();
  CheckWindow(hold_seconds);
  CheckModule(module_path);
  printf("%s\n", g_failures == 0 ? "selfcheck passed" : "selfcheck FAILED");
  return g_failures == 0 ? 0 : 1;
}
