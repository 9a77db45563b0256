// nativerender-player: plays video through the real module end to end.
// The host shell loads the module and gives it windows; one media engine
// thread per window pushes frames through the module's renderer.

#include <stdio.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

// Appends the module's runtime log lines to a file.
class FileLogListener : public ILogRenderListener {
 public:
  explicit FileLogListener(const std::string& path) : file_(path, std::ios::app) {}
  bool ok() const { return file_.good(); }
  void OnRenderLog(std::string line) override {
    std::lock_guard<std::mutex> lock(mutex_);
    file_ << line;
    ++lines_;
  }
  long long lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  void Flush() {
    std::lock_guard<std::mutex> lock(mutex_);
    file_.flush();
  }

 private:
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
    if (options_.log.empty())
      return true;
    listener_ = std::make_unique<FileLogListener>(options_.log);
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
      engines_.push_back(
          std::make_unique<WindowEngine>(id, std::move(sources[i]), options_, /*takes_captures=*/i == 0));
    }
    shell_->SetKeyHandler([this](const std::string& id, char key) { OnKey(id, key); });
    return true;
  }

  void OnKey(const std::string& id, char key) {
    WindowEngine* engine = Engine(id);
    std::string render_id = id;
    switch (key) {
      case '1': case '2': case '3':
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

  // Starts the engines and reports progress once a second until all end.
  void Play() {
    start_ns_ = rtc::MonotonicNanos();
    for (auto& engine : engines_)
      engine->Start();
    int64_t last_frames = 0;
    int64_t last_ns = start_ns_;
    for (;;) {
      const bool all_finished = WaitForEngines(std::chrono::seconds(1));
      if (!options_.quiet) {
        const int64_t now = rtc::MonotonicNanos();
        const int64_t frames = TotalRendered();
        fprintf(stderr, "frames %lld  fps %.1f  dropped %lld\n", static_cast<long long>(frames),
                (frames - last_frames) * 1e9 / std::max<int64_t>(now - last_ns, 1),
                static_cast<long long>(TotalDropped()));
        last_frames = frames;
        last_ns = now;
      }
      if (all_finished)
        break;
    }
    end_ns_ = rtc::MonotonicNanos();
    for (auto& engine : engines_)
      engine->Join();
  }

  // True as soon as every engine has finished; false after `period`.
  bool WaitForEngines(std::chrono::milliseconds period) {
    const auto deadline = std::chrono::steady_clock::now() + period;
    while (!AllFinished()) {
      if (std::chrono::steady_clock::now() >= deadline)
        return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
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
    for (auto& engine : engines_) {
      ok = !engine->truncated() && ok;
      for (const CaptureResult& capture : engine->captures()) {
        if (capture.bytes >= 0) {
          printf("capture %s (frame %lld, %lld bytes)\n", capture.path.c_str(),
                 static_cast<long long>(capture.frame), capture.bytes);
        } else {
          fprintf(stderr, "nativerender-player: capture of frame %lld to %s failed\n",
                  static_cast<long long>(capture.frame), capture.path.c_str());
          ok = false;
        }
      }
    }
    return ok;
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
    printf("log %s (%lld lines delivered)\n", options_.log.c_str(), listener_->lines());
  }

  const Options options_;
  std::unique_ptr<ohos_desktop::HostShell> shell_;
  std::vector<std::unique_ptr<WindowEngine>> engines_;
  std::unique_ptr<FileLogListener> listener_;
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
