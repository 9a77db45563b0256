// nativerender-player: plays video through the real module end to end.
// The host shell loads the module and gives it windows; one media engine
// thread per window pushes frames through the module's renderer.

#include <malloc.h>
#include <stdio.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "desktop/hilog_records.h"
#include "desktop/host_shell.h"
#include "engine/video_source.h"
#include "options.h"
#include "png_writer.h"
#include "quon_renderManager.h"
#include "rtc_base/timeutils.h"
#include "window_engine.h"

namespace player {
namespace {

enum ExitStatus { kPlayed = 0, kCannotStart = 1, kBadInput = 2, kPlayedWithProblems = 3 };

constexpr int kPatternWidth = 640;
constexpr int kPatternHeight = 360;
constexpr double kDefaultFps = 30;

std::unique_ptr<engine::VideoSource> OpenSource(const Options& options, std::string* error) {
  const std::string& input = options.input;
  if (input.empty()) {
    const int w = options.raw_width > 0 ? options.raw_width : kPatternWidth;
    const int h = options.raw_height > 0 ? options.raw_height : kPatternHeight;
    return engine::OpenPattern(w, h, kDefaultFps);
  }
  if (input.size() >= 4 && input.compare(input.size() - 4, 4, ".yuv") == 0)
    return engine::OpenRawYuv(input, options.raw_width, options.raw_height, error);
  return engine::OpenY4m(input, error);
}

// Receives the module's runtime log lines: appends them to a file when it
// has one and counts them. With a delay it is the slow listener of soak
// runs, the kind of host that must never hold up the threads that log.
class LogListener : public ILogRenderListener {
 public:
  LogListener(const std::string& path, int delay_ms) : delay_ms_(delay_ms) {
    if (!path.empty())
      file_.open(path, std::ios::app);
  }
  bool ok() const { return !file_.is_open() || file_.good(); }
  void OnRenderLog(std::string line) override {
    if (delay_ms_ > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms_));
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_.is_open())
      file_ << line;
    ++lines_;
  }
  long long lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  void Flush() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_.is_open())
      file_.flush();
  }

 private:
  const int delay_ms_;
  std::mutex mutex_;
  std::ofstream file_;
  long long lines_ = 0;
};

std::string WindowId(const Options& options, int index) {
  return options.windows == 1 ? options.id : options.id + "-" + std::to_string(index + 1);
}

class Player {
 public:
  explicit Player(const Options& options) : options_(options) {}

  // The module's log thread outlives the player: it must not be left
  // holding a listener that is about to be freed. Setting none waits for a
  // call in progress.
  ~Player() {
    if (listener_)
      PluginManager::GetInstance()->InitLogFile(options_.log, nullptr);
  }

  int Run() {
    std::string error;
    std::vector<std::unique_ptr<engine::VideoSource>> sources;
    for (int i = 0; i < options_.windows; ++i) {
      sources.push_back(OpenSource(options_, &error));
      if (!sources.back()) {
        fprintf(stderr, "nativerender-player: %s\n", error.c_str());
        return kBadInput;
      }
    }
    if (!OpenLog())
      return kBadInput;
    shell_ = ohos_desktop::HostShell::Load(options_.module, "nativerender", &error);
    if (!shell_) {
      fprintf(stderr, "nativerender-player: %s\n", error.c_str());
      return kCannotStart;
    }
    if (!OpenWindows(sources, &error)) {
      fprintf(stderr, "nativerender-player: %s\n", error.c_str());
      return kCannotStart;
    }
    Play();
    const bool screenshot_ok = TakeScreenshot();
    const int status = Summarise() && screenshot_ok ? kPlayed : kPlayedWithProblems;
    engines_.clear();
    shell_->Shutdown();
    ReportLog();
    return status;
  }

 private:
  bool OpenLog() {
    if (options_.log.empty() && options_.slow_listener_ms == 0)
      return true;
    listener_ = std::make_unique<LogListener>(options_.log, options_.slow_listener_ms);
    if (!listener_->ok()) {
      fprintf(stderr, "nativerender-player: cannot write the log file %s\n", options_.log.c_str());
      return false;
    }
    PluginManager::GetInstance()->InitLogFile(options_.log, listener_.get());
    return true;
  }

  bool OpenWindows(std::vector<std::unique_ptr<engine::VideoSource>>& sources, std::string* error) {
    for (int i = 0; i < options_.windows; ++i) {
      const std::string id = WindowId(options_, i);
      const int w = options_.surface_width > 0 ? options_.surface_width : sources[i]->width();
      const int h = options_.surface_height > 0 ? options_.surface_height : sources[i]->height();
      if (!shell_->AddXComponent(id, w, h, error))
        return false;
      std::string key = id;
      PluginManager::GetInstance()->SetScaleType(key, options_.scale);
      engines_.push_back(std::make_unique<WindowEngine>(
          id, std::move(sources[i]), options_, /*takes_captures=*/i == 0,
          [this](const std::function<void()>& task) { shell_->RunOnUiThread(task); }));
    }
    shell_->SetKeyHandler([this](const std::string& id, char key) { OnKey(id, key); });
    return true;
  }

  void OnKey(const std::string& id, char key) {
    WindowEngine* engine = Engine(id);
    std::string render_id = id;
    switch (key) {
      case '1': case '2': case '3':
        if (engine)
          engine->SetScale(key - '0');  // kept across surface recreations
        else
          PluginManager::GetInstance()->SetScaleType(render_id, key - '0');
        break;
      case 'c': if (engine) engine->RequestCapture("jpg"); break;
      case 'b': if (engine) engine->RequestCapture("bmp"); break;
      case 'k': if (engine) engine->RequestFillBlack(); break;
      case ' ': if (engine) engine->TogglePause(); break;
      case 'q': for (auto& e : engines_) e->Stop(); break;
      default: break;
    }
  }

  WindowEngine* Engine(const std::string& id) {
    for (auto& engine : engines_)
      if (engine->id() == id)
        return engine.get();
    return nullptr;
  }

  // Starts the engines and runs the play: progress once a second, the
  // surface recreations and the end of a timed play, until all engines end.
  void Play() {
    start_ns_ = rtc::MonotonicNanos();
    for (auto& engine : engines_)
      engine->Start();
    const int64_t kSecond = 1000000000;
    const int64_t recreate_step =
        options_.recreate_every_ms > 0
            ? int64_t{options_.recreate_every_ms} * 1000000 / options_.windows
            : 0;
    int64_t next_recreate = start_ns_ + recreate_step;
    int64_t next_progress = start_ns_ + kSecond;
    size_t next_window = 0;
    bool stopping = false;
    Progress progress{0, start_ns_};
    while (!AllFinished()) {
      const int64_t now = rtc::MonotonicNanos();
      if (!stopping && options_.duration_s > 0 && now - start_ns_ >= options_.duration_s * kSecond) {
        for (auto& engine : engines_)
          engine->Stop();
        stopping = true;
      }
      if (!stopping && recreate_step > 0 && now >= next_recreate) {
        RecreateSurface(*engines_[next_window]);
        next_window = (next_window + 1) % engines_.size();
        // A slow UI thread lowers the rate rather than bunching recreations.
        next_recreate = std::max(next_recreate + recreate_step, rtc::MonotonicNanos());
      }
      if (now >= next_progress) {
        ReportProgress(&progress);
        // The player never reads the platform log's in-process records
        // (kept for tests; a device keeps that log outside the app), so a
        // long play does not carry tens of thousands of them.
        ohos_desktop::ClearHilogRecords();
        // Hands the pages freed by surfaces torn down and captures written
        // back to the system, so that resident memory shows what a long
        // play holds rather than where the heap once reached.
        malloc_trim(0);
        next_progress += kSecond;
      }
      int64_t wait_ns = 10000000;
      if (recreate_step > 0 && !stopping)
        wait_ns = std::min(wait_ns, next_recreate - rtc::MonotonicNanos());
      std::this_thread::sleep_for(std::chrono::nanoseconds(std::max<int64_t>(wait_ns, 0)));
    }
    end_ns_ = rtc::MonotonicNanos();
    ReportProgress(&progress);
    for (auto& engine : engines_)
      engine->Join();
  }

  void RecreateSurface(WindowEngine& engine) {
    const std::string id = engine.id();
    engine.RecreateSurface([this, &id] { shell_->RecreateSurface(id); });
  }

  struct Progress {
    int64_t frames;
    int64_t ns;
  };
  void ReportProgress(Progress* last) {
    const int64_t now = rtc::MonotonicNanos();
    const int64_t frames = TotalRendered();
    if (!options_.quiet) {
      fprintf(stderr, "frames %lld  fps %.1f  dropped %lld\n", static_cast<long long>(frames),
              (frames - last->frames) * 1e9 / std::max<int64_t>(now - last->ns, 1),
              static_cast<long long>(TotalDropped()));
    }
    *last = {frames, now};
  }

  bool AllFinished() {
    for (auto& engine : engines_)
      if (!engine->finished())
        return false;
    return true;
  }
  int64_t TotalRendered() {
    int64_t total = 0;
    for (auto& engine : engines_) total += engine->frames_rendered();
    return total;
  }
  int64_t TotalDropped() {
    int64_t total = 0;
    for (auto& engine : engines_) total += engine->frames_dropped();
    return total;
  }

  bool TakeScreenshot() {
    if (options_.screenshot.empty())
      return true;
    // The last frame reaches the window through the GL stack's own
    // connection to the display: read until two reads agree.
    int w = 0, h = 0;
    std::vector<uint32_t> pixels = shell_->ReadPixels(engines_.front()->id(), &w, &h);
    for (int attempt = 0; attempt < 20; ++attempt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      std::vector<uint32_t> again = shell_->ReadPixels(engines_.front()->id(), &w, &h);
      const bool stable = again == pixels;
      pixels.swap(again);
      if (stable)
        break;
    }
    std::string error;
    if (!WritePng(options_.screenshot, pixels, w, h, &error)) {
      fprintf(stderr, "nativerender-player: screenshot failed: %s\n", error.c_str());
      return false;
    }
    printf("screenshot %s (%dx%d)\n", options_.screenshot.c_str(), w, h);
    return true;
  }

  // Prints the summary; false when a capture failed or an input was cut.
  bool Summarise() {
    bool ok = true;
    const double seconds = (end_ns_ - start_ns_) / 1e9;
    const int64_t frames = TotalRendered();
    printf("played %lld frames in %.2f s (%.1f fps", static_cast<long long>(frames), seconds,
           seconds > 0 ? frames / seconds : 0.0);
    printf(", %d window%s, %lld dropped)\n", options_.windows, options_.windows == 1 ? "" : "s",
           static_cast<long long>(TotalDropped()));
    PeriodicCaptures periodic;
    int64_t recreated = 0, scale_changes = 0;
    for (auto& engine : engines_) {
      ok = !engine->truncated() && ok;
      for (const CaptureResult& capture : engine->captures())
        ok = ReportCapture(capture) && ok;
      const PeriodicCaptures counts = engine->periodic_captures();
      periodic.written += counts.written;
      periodic.failed += counts.failed;
      periodic.skipped += counts.skipped;
      recreated += engine->surfaces_recreated();
      scale_changes += engine->scale_changes();
    }
    if (options_.recreate_every_ms > 0)
      printf("surfaces recreated %lld\n", static_cast<long long>(recreated));
    if (options_.cycle_scale > 0)
      printf("scale changes %lld\n", static_cast<long long>(scale_changes));
    if (options_.capture_every > 0) {
      printf("periodic captures written %lld, failed %lld, skipped %lld"
             " (skipped: the surface was being recreated)\n",
             static_cast<long long>(periodic.written), static_cast<long long>(periodic.failed),
             static_cast<long long>(periodic.skipped));
      ok = periodic.failed == 0 && ok;
    }
    return ok;
  }

  // One requested capture; false when it failed.
  static bool ReportCapture(const CaptureResult& capture) {
    if (capture.bytes >= 0) {
      printf("capture %s (frame %lld, %lld bytes)\n", capture.path.c_str(),
             static_cast<long long>(capture.frame), capture.bytes);
    } else if (capture.skipped) {
      printf("capture of frame %lld to %s skipped: the surface was being recreated\n",
             static_cast<long long>(capture.frame), capture.path.c_str());
    } else {
      fprintf(stderr, "nativerender-player: capture of frame %lld to %s failed\n",
              static_cast<long long>(capture.frame), capture.path.c_str());
      return false;
    }
    return true;
  }

  // The teardown's own lines arrive on the module's log thread shortly
  // after the surfaces are gone: wait until the count stops moving.
  void ReportLog() {
    if (!listener_)
      return;
    long long lines = -1;
    for (int attempt = 0; attempt < 50 && lines != listener_->lines(); ++attempt) {
      lines = listener_->lines();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    listener_->Flush();
    if (options_.log.empty())
      printf("log lines delivered %lld\n", listener_->lines());
    else
      printf("log %s (%lld lines delivered)\n", options_.log.c_str(), listener_->lines());
  }

  const Options options_;
  std::unique_ptr<ohos_desktop::HostShell> shell_;
  std::vector<std::unique_ptr<WindowEngine>> engines_;
  std::unique_ptr<LogListener> listener_;
  int64_t start_ns_ = 0;
  int64_t end_ns_ = 0;
};

}  // namespace
}  // namespace player

int main(int argc, char** argv) {
  player::Options options;
  options.module = NATIVERENDER_DEFAULT_MODULE;
  std::string error;
  if (!player::ParseOptions(argc, argv, &options, &error)) {
    fprintf(stderr, "nativerender-player: %s\n", error.c_str());
    return player::kBadInput;
  }
  if (options.help) {
    fputs(player::HelpText(), stdout);
    return 0;
  }
  setvbuf(stdout, nullptr, _IOLBF, 0);
  return player::Player(options).Run();
}
