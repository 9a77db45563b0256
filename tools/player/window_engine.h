#ifndef TOOLS_PLAYER_WINDOW_ENGINE_H_
#define TOOLS_PLAYER_WINDOW_ENGINE_H_

// The media engine of one window: on its own thread it reads frames from a
// source, paces them, and pushes them through the window's renderer, which
// it finds through PluginManager and holds until the renderer tells it,
// through OnDestroy, that it is going away.

#include <stdint.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/video_source.h"
#include "options.h"
#include "video_render_interfaces.h"

namespace player {

struct CaptureResult {
  std::string path;
  int64_t frame = 0;
  long long bytes = -1;  // -1: no file was written
};

class WindowEngine : public rtc::DestroyObserver {
 public:
  WindowEngine(std::string id, std::unique_ptr<engine::VideoSource> source, const Options& options,
               bool takes_captures);
  ~WindowEngine() override;

  void Start();
  void Join();

  // Requests from the UI thread (keys) and from the player.
  void RequestCapture(const std::string& extension);
  void RequestFillBlack() { fill_black_ = true; }
  void TogglePause() { paused_ = !paused_; }
  void Stop() { stop_ = true; }

  const std::string& id() const { return id_; }
  int64_t frames_rendered() const { return frames_rendered_.load(); }
  int64_t frames_dropped() const { return frames_dropped_.load(); }
  bool finished() const { return finished_.load(); }
  bool truncated() const { return truncated_; }
  std::vector<CaptureResult> captures();

  void OnDestroy(rtc::DestroyNotify* notify) override;

 private:
  void Run();
  bool NextFrame();
  bool Pace(int64_t index, int64_t start_ns);
  bool CaptureDue(int64_t frame_number);
  void Present(int64_t frame_number);
  void ArmCapture(const std::string& path, int64_t frame_number);
  rtc::IVideoRender* Renderer();

  const std::string id_;
  std::unique_ptr<engine::VideoSource> source_;
  const Options options_;
  const bool takes_captures_;
  double fps_ = 30;

  std::mutex render_mutex_;  // guards render_ against OnDestroy
  rtc::IVideoRender* render_ = nullptr;

  std::mutex captures_mutex_;
  std::vector<CaptureResult> captures_;
  std::vector<std::string> requested_captures_;
  std::string pending_capture_;  // armed for the frame being presented

  std::atomic<bool> stop_{false};
  std::atomic<bool> paused_{false};
  std::atomic<bool> fill_black_{false};
  std::atomic<bool> finished_{false};
  std::atomic<int64_t> frames_rendered_{0};
  std::atomic<int64_t> frames_dropped_{0};
  bool truncated_ = false;
  std::thread thread_;
};

}  // namespace player

#endif  // TOOLS_PLAYER_WINDOW_ENGINE_H_
