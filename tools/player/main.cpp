// nativerender-player: plays video through the real module end to end.
// The host shell loads the module and gives it windows; one media engine
// thread per window pushes frames through the module's renderer.

#include <malloc.h>
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "checks.h"
#include "desktop/host_shell.h"
#include "engine/clock.h"
#include "engine/video_source.h"
#include "figures.h"
#include "input.h"
#include "key_map.h"
#include "log_listener.h"
#include "messages.h"
#include "options.h"
#include "png_writer.h"
#include "progress_reporter.h"
#include "quon_renderManager.h"
#include "rtc_base/mutex.h"
#include "rtc_base/thread_annotations.h"
#include "wakeup.h"
#include "window_engine.h"

namespace player {
namespace {

enum ExitStatus { kPlayed = 0, kCannotStart = 1, kBadInput = 2, kPlayedWithProblems = 3 };

constexpr int64_t kSecond = 1000000000;
// How often a terminal's progress line is rewritten.
constexpr int64_t kStatusInterval = kSecond / 4;

// The first SIGINT, SIGTERM or SIGHUP ends the play the way closing every
// window does; SA_RESETHAND gives the signal its default action back, so a
// second one of the same kind ends the process at once. SIGPIPE is
// ignored: when the reader of the standard output goes away (`| head -1`),
// printing fails quietly and the play still ends with its log, figures and
// screenshot written.
// An atomic rather than a volatile flag: the handler may run on any of the
// process's threads while the main thread reads it.
// The handler also wakes the play's main loop (a pipe's write: no lock).
std::atomic<int> g_stop_signal{0};
std::atomic<const Wakeup*> g_wakeup{nullptr};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler must not take a lock");
static_assert(std::atomic<const Wakeup*>::is_always_lock_free,
              "the signal handler must not take a lock");

void OnStopSignal(int signal) {
  g_stop_signal = signal;
  if (const Wakeup* wakeup = g_wakeup.load())
    wakeup->Notify();
}

void InstallStopSignals() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  // A shell starts background jobs with SIGINT ignored; they stay deaf to it.
  struct sigaction previous = {};
  if (sigaction(SIGINT, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
    sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

// The picture a window shows, for the screenshot: the module's snapshot
// (turned, mirrored, fitted, with its bars) of the frame on show, read back
// from the surface when the player draws that frame again once the play
// has ended. Asked for once; the answer comes on the thread that draws.
class ShownPicture : public ISnapshotListener {
 public:
  // Asks for the next frame `id` draws; false when it has no renderer.
  bool Ask(std::string id) {
    {
      rtc::MutexLock lock(&mutex_);
      answered_ = false;
      error_ = 0;
      rgba_.clear();
    }
    return PluginManager::GetInstance()->TakeSnapshot(id, this);
  }

  // The picture as 0x00RRGGBB pixels; false, with the reason, when no
  // picture came (an errno value, or 0 when no answer came at all).
  bool Pixels(std::vector<uint32_t>* pixels, int* width, int* height, int* error) {
    rtc::MutexLock lock(&mutex_);
    *error = answered_ ? error_ : 0;
    if (!answered_ || error_ != 0)
      return false;
    pixels->resize(rgba_.size() / 4);
    for (size_t i = 0; i < pixels->size(); ++i)
      (*pixels)[i] =
          static_cast<uint32_t>(rgba_[i * 4]) << 16 | rgba_[i * 4 + 1] << 8 | rgba_[i * 4 + 2];
    *width = width_;
    *height = height_;
    return true;
  }

  void OnSnapshot(const std::string&, const SnapshotImage& image) override {
    rtc::MutexLock lock(&mutex_);
    answered_ = true;
    error_ = image.error;
    if (image.error != 0)
      return;
    rgba_.resize(static_cast<size_t>(image.width) * image.height * 4);
    for (int32_t row = 0; row < image.height; ++row)
      std::copy_n(image.pixels + static_cast<size_t>(row) * image.stride, image.width * 4,
                  rgba_.data() + static_cast<size_t>(row) * image.width * 4);
    width_ = image.width;
    height_ = image.height;
  }

 private:
  rtc::Mutex mutex_;
  bool answered_ RTC_GUARDED_BY(mutex_) = false;
  int error_ RTC_GUARDED_BY(mutex_) = 0;
  std::vector<uint8_t> rgba_ RTC_GUARDED_BY(mutex_);  // RGBA, rows top first
  int width_ RTC_GUARDED_BY(mutex_) = 0;
  int height_ RTC_GUARDED_BY(mutex_) = 0;
};

std::string WindowId(const Options& options, int index) {
  return options.windows == 1 ? options.id : options.id + "-" + std::to_string(index + 1);
}

class Player {
 public:
  Player(const Options& options, int64_t started_ns) : options_(options), started_ns_(started_ns) {
    g_wakeup = &wakeup_;
  }

  // The module's log thread outlives the player: it must not be left
  // holding a listener that is about to be freed. Setting none waits for a
  // call in progress.
  ~Player() {
    g_wakeup = nullptr;
    if (listener_)
      PluginManager::GetInstance()->InitLogFile(options_.log, nullptr);
  }

  int Run() {
    std::string error;
    bool pipe = false;
    if (!CheckInput(options_, &pipe, &error) || !CheckOutputs(options_, &error)) {
      Fail(error);
      return kBadInput;
    }
    std::vector<std::unique_ptr<engine::VideoSource>> sources;
    for (int i = 0; i < options_.windows; ++i) {
      sources.push_back(OpenSource(options_, &error));
      if (!sources.back()) {
        Fail(error);
        return kBadInput;
      }
    }
    // Only now: a FIFO waits in its opening for a writer, and a stop
    // signal must end that wait the ordinary way (the handler's restart
    // would resume it).
    InstallStopSignals();
    DescribeInput(*sources.front(), &options_);
    figures_.SetInput(InputName(options_), *sources.front());
    if (!OpenLog())
      return kBadInput;
    const char* display = getenv("DISPLAY");
    if (display == nullptr || display[0] == '\0') {
      Fail(
          "no X display: DISPLAY is not set"
          " (scripts/demo runs the player under Xvfb when there is none)");
      return kCannotStart;
    }
    // The shell owns the display: it places the windows and reports those
    // another program destroyed as closed.
    shell_ = ohos_desktop::HostShell::Load(options_.module, "nativerender", &error);
    if (!shell_) {
      Fail(error);
      return kCannotStart;
    }
    if (!OpenWindows(sources, &error)) {
      Fail(error);
      return kCannotStart;
    }
    Play();
    figures_.GatherRendererFigures(engines_);  // before the screenshot draws again
    const bool screenshot_ok = TakeScreenshot();
    bool ok = figures_.Summarise(engines_, options_, end_ns_ - start_ns_, started_ns_,
                                 g_stop_signal != 0) &&
              screenshot_ok;
    // No key or close may reach an engine that is going away. The surfaces
    // go first: each engine's hold hears its renderer's end while the engine
    // is still there, rather than leaving a renderer that may be telling
    // its observers at that moment (a window closed just then).
    shell_->SetKeyHandler(nullptr);
    shell_->SetCloseHandler(nullptr);
    shell_->SetRedrawHandler(nullptr);
    shell_->Shutdown();
    engines_.clear();
    ok = ReportLog() && ok;
    int status = ok ? kPlayed : kPlayedWithProblems;
    if (g_stop_signal != 0) {
      Fail(std::string("stopped by ") + SignalName(g_stop_signal));
      status = 128 + g_stop_signal.load();
    }
    if (!options_.stats.empty() && !figures_.WriteStats(options_.stats, status))
      status = status == kPlayed ? kPlayedWithProblems : status;
    return status;
  }

 private:
  bool OpenLog() {
    if (options_.log.empty() && options_.slow_listener_ms == 0)
      return true;
    listener_ = std::make_unique<LogListener>(options_.log, options_.log_append,
                                              options_.slow_listener_ms);
    if (!options_.log.empty() && !listener_->opened()) {
      Fail("cannot write the log file " + options_.log);
      listener_.reset();
      return false;
    }
    PluginManager::GetInstance()->InitLogFile(options_.log, listener_.get());
    return true;
  }

  // One window, and one engine, for each source. The engine gives the
  // window's renderer its scale type before its first frame.
  bool OpenWindows(std::vector<std::unique_ptr<engine::VideoSource>>& sources, std::string* error) {
    for (int i = 0; i < options_.windows; ++i) {
      const std::string id = WindowId(options_, i);
      int w = 0, h = 0;
      WindowSize(*sources[i], options_, shell_->screen_width(), shell_->screen_height(), &w, &h);
      if (!shell_->AddXComponent(id, w, h, error))
        return false;
      // The title names what plays (the pattern keeps the id: it has no name).
      if (!options_.input.empty())
        shell_->SetTitle(id, options_.windows == 1 ? InputName(options_)
                                                   : InputName(options_) + " (" + id + ")");
      engines_.push_back(std::make_unique<WindowEngine>(id, std::move(sources[i]), options_,
                                                        /*takes_captures=*/i == 0));
    }
    shell_->SetKeyHandler([this](const std::string& id, int key) { ApplyKey(key, id, engines_); });
    shell_->SetCloseHandler([this](const std::string& id) {
      if (WindowEngine* engine = EngineOf(id, engines_))
        engine->Close();
    });
    shell_->SetRedrawHandler([this](const std::string& id) {
      if (WindowEngine* engine = EngineOf(id, engines_))
        engine->RequestRedraw();
    });
    return true;
  }

  // Starts the engines and runs the play: progress (once a second, or on
  // a terminal one line rewritten in place), the surface recreations, a
  // stop signal and the end of a timed play, until all engines end.
  // (Windows closed or destroyed reach their engines through the shell's
  // close handler.) Between these it sleeps until the next is due, or an
  // engine ended, or a stop signal came.
  void Play() {
    start_ns_ = engine::MonotonicNanos();
    for (auto& engine : engines_)
      engine->Start([this] { wakeup_.Notify(); });
    const int64_t recreate_step =
        options_.recreate_every_ms > 0
            ? int64_t{options_.recreate_every_ms} * 1000000 / options_.windows
            : 0;
    const int64_t duration_ns = static_cast<int64_t>(options_.duration_s * kSecond);
    int64_t next_recreate = start_ns_ + recreate_step;
    int64_t next_progress = start_ns_ + kSecond;
    const bool status_line = !options_.quiet && isatty(STDERR_FILENO);
    int64_t next_status = start_ns_;
    ProgressReporter progress(engines_, options_.quiet, start_ns_);
    size_t next_window = 0;
    bool stopping = false;
    while (!AllFinished()) {
      const int64_t now = engine::MonotonicNanos();
      if (!stopping && (g_stop_signal != 0 || (duration_ns > 0 && now - start_ns_ >= duration_ns))) {
        for (auto& engine : engines_)
          engine->Stop();
        stopping = true;
      }
      if (!stopping && recreate_step > 0 && now >= next_recreate) {
        if (!engines_[next_window]->closed())
          RecreateSurface(*engines_[next_window]);
        next_window = (next_window + 1) % engines_.size();
        // A slow UI thread lowers the rate rather than bunching recreations.
        next_recreate = std::max(next_recreate + recreate_step, engine::MonotonicNanos());
      }
      if (status_line && now >= next_status) {
        progress.ShowLine();
        next_status += kStatusInterval;
      }
      if (now >= next_progress) {
        if (!status_line)
          progress.ReportLine();
        if (listener_)
          listener_->Flush();
        // The player never reads the platform log's in-process records
        // (kept for tests; a device keeps that log outside the app), so a
        // long play does not carry tens of thousands of them.
        ohos_desktop::ForgetPlatformLogRecords();
        // Hands the pages freed by surfaces torn down and captures written
        // back to the system, so that resident memory shows what a long
        // play holds rather than where the heap once reached.
        malloc_trim(0);
        next_progress += kSecond;
      }
      int64_t wake_at = next_progress;
      if (status_line)
        wake_at = std::min(wake_at, next_status);
      if (!stopping && recreate_step > 0)
        wake_at = std::min(wake_at, next_recreate);
      if (!stopping && duration_ns > 0)
        wake_at = std::min(wake_at, start_ns_ + duration_ns);
      if (!AllFinished())
        wakeup_.WaitUntil(wake_at);
    }
    end_ns_ = engine::MonotonicNanos();
    for (auto& engine : engines_)
      engine->Join();
    if (status_line) {
      progress.ShowLine();
      EndStatus();
    }
  }

  void RecreateSurface(WindowEngine& engine) {
    const std::string id = engine.id();
    engine.RecreateSurface([this, &id] { shell_->RecreateSurface(id); });
  }

  bool AllFinished() {
    for (auto& engine : engines_)
      if (!engine->finished())
        return false;
    return true;
  }
  bool TakeScreenshot() {
    if (options_.screenshot.empty())
      return true;
    WindowEngine* window = nullptr;
    for (auto& engine : engines_) {
      if (!engine->closed()) {
        window = engine.get();
        break;
      }
    }
    if (window == nullptr) {
      printf("screenshot %s skipped: every window was closed\n", options_.screenshot.c_str());
      return true;
    }
    // The frame on show drawn once more, the module reading the surface
    // back after the draw: exactly what the window shows.
    int w = 0, h = 0, snapshot_error = 0;
    std::vector<uint32_t> pixels;
    if (shown_.Ask(window->id()))
      window->DrawHeldFrameAgain();
    shown_.Pixels(&pixels, &w, &h, &snapshot_error);
    std::string error;
    if (snapshot_error != 0) {
      error = "the window " + window->id() +
              "'s picture could not be read: " + strerror(snapshot_error);
    } else if (pixels.empty()) {
      error = "the window " + window->id() + " showed no frame";
    } else if (!WritePng(options_.screenshot, pixels, w, h, &error)) {
      error = "cannot write " + options_.screenshot + ": " + error;
    }
    if (!error.empty()) {
      Fail("screenshot failed: " + error);
      return false;
    }
    printf("screenshot %s (%dx%d)\n", options_.screenshot.c_str(), w, h);
    return true;
  }

  // The teardown's own lines, and any still queued behind a slow listener,
  // are delivered on the module's log thread: wait for the module to have
  // handed over every line (2 s at most), then take the listener off, so
  // that what the file holds is what is counted. False when the log file
  // could not be written.
  bool ReportLog() {
    if (!listener_)
      return true;
    PluginManager* manager = PluginManager::GetInstance();
    const int64_t deadline = engine::MonotonicNanos() + 2 * kSecond;
    while (manager->PendingLogLines() > 0 && engine::MonotonicNanos() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    manager->InitLogFile(options_.log, nullptr);  // waits for a call in progress
    const long long queued = static_cast<long long>(manager->PendingLogLines());
    const bool written = listener_->Flush();
    figures_.SetLogLines(listener_->lines(), listener_->dropped(), queued);
    figures_.PrintLog(options_.log);
    if (!written) {
      Fail("writing the log file " + options_.log + " failed");
      return false;
    }
    if (!listener_->StillAt(options_.log)) {
      Fail("the log file " + options_.log + " was removed during the play: its lines are lost");
      return false;
    }
    return true;
  }

  Options options_;
  const int64_t started_ns_;  // when the player started
  // The screenshot's picture. It outlives the shell, whose surfaces' ends
  // tell it of a request still waiting.
  ShownPicture shown_;
  // Outlives the engines, which wake the main loop as they end.
  Wakeup wakeup_;
  std::unique_ptr<ohos_desktop::HostShell> shell_;
  std::vector<std::unique_ptr<WindowEngine>> engines_;
  std::unique_ptr<LogListener> listener_;
  Figures figures_;
  int64_t start_ns_ = 0;
  int64_t end_ns_ = 0;
};

}  // namespace
}  // namespace player

int main(int argc, char** argv) {
  const int64_t started_ns = engine::MonotonicNanos();
  player::Options options;
  options.module = NATIVERENDER_DEFAULT_MODULE;
  std::string error;
  if (!player::ParseOptions(argc, argv, &options, &error)) {
    player::Fail(error);
    return player::kBadInput;
  }
  if (options.help) {
    fputs(player::HelpText(), stdout);
    return 0;
  }
  if (options.version) {
    printf("nativerender-player %s\n", NATIVERENDER_PLAYER_VERSION);
    return 0;
  }
  setvbuf(stdout, nullptr, _IOLBF, 0);
  signal(SIGPIPE, SIG_IGN);
  // The module writes many platform log lines, most at error level by its
  // own design; on the player's stderr they read as failures.
  ohos_desktop::SetPlatformLogEcho(options.verbose);
  return player::Player(options, started_ns).Run();
}
