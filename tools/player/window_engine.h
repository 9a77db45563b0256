#ifndef TOOLS_PLAYER_WINDOW_ENGINE_H_
#define TOOLS_PLAYER_WINDOW_ENGINE_H_

// The media engine of one window: on its own thread it reads frames from a
// source, paces them, and pushes them through the window's renderer, which
// it finds through PluginManager and holds until the renderer tells it,
// through OnDestroy, that it is going away.
//
// Renderers are created and destroyed on the UI thread, and a pointer that
// FindRender returns elsewhere may be freed before it is used. So the look-up
// and the observer registration run on the UI thread (through `run_on_ui`),
// and from then on OnDestroy, which waits for the call in progress, is what
// ends the engine's use of it.

#include <stdint.h>

#include <atomic>
#include <functional>
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
  bool skipped = false;  // no file because the surface was being recreated
};

// Counts of the periodic captures (--capture-every).
struct PeriodicCaptures {
  int64_t written = 0;
  int64_t failed = 0;
  int64_t skipped = 0;  // lost because the surface was being recreated
};

class WindowEngine : public rtc::DestroyObserver {
 public:
  using UiRunner = std::function<void(const std::function<void()>&)>;

  // `run_on_ui` runs a task on the UI thread and waits for it; empty: the
  // caller promises that no surface goes away while the engine runs.
  WindowEngine(std::string id, std::unique_ptr<engine::VideoSource> source, const Options& options,
               bool takes_captures, UiRunner run_on_ui);
  ~WindowEngine() override;

  void Start();
  void Join();

  // Requests from the UI thread (keys) and from the player.
  void RequestCapture(const std::string& extension);
  void RequestFillBlack() { fill_black_ = true; }
  void TogglePause() { paused_ = !paused_; }
  void Stop() { stop_ = true; }
  // Sets the scale type now and on every renderer the window gets later.
  void SetScale(int type);
  // Runs `recreate`, which destroys the window's surface and creates it
  // again, and counts it. A capture that loses its surface to it is counted
  // as skipped, not as failed.
  void RecreateSurface(const std::function<void()>& recreate);

  const std::string& id() const { return id_; }
  int64_t frames_rendered() const { return frames_rendered_.load(); }
  int64_t frames_dropped() const { return frames_dropped_.load(); }
  int64_t surfaces_recreated() const { return surface_epoch_.load() / 2; }
  int64_t scale_changes() const { return scale_changes_.load(); }
  bool finished() const { return finished_.load(); }
  bool truncated() const { return truncated_; }
  std::vector<CaptureResult> captures();
  PeriodicCaptures periodic_captures();

  void OnDestroy(rtc::DestroyNotify* notify) override;

 private:
  void Run();
  bool NextFrame();
  bool Pace(int64_t index, int64_t start_ns);
  bool CaptureDue(int64_t frame_number);
  std::string CapturePath(int64_t frame_number, bool* periodic);
  void Present(int64_t frame_number);
  void Attach();
  void RecordCapture(const std::string& path, int64_t frame_number, bool periodic,
                     int64_t epoch_before);
  bool LostToRecreation(int64_t epoch_before) const;
  void ApplyScale();

  const std::string id_;
  std::unique_ptr<engine::VideoSource> source_;
  const Options options_;
  const bool takes_captures_;
  const UiRunner run_on_ui_;
  double fps_ = 30;

  std::mutex render_mutex_;  // guards render_ against OnDestroy
  rtc::IVideoRender* render_ = nullptr;

  std::mutex captures_mutex_;
  std::vector<CaptureResult> captures_;
  std::vector<std::string> requested_captures_;
  PeriodicCaptures periodic_;
  // Engine thread only: the kind of the next periodic capture. It moves on
  // only once a capture of this kind was written or failed, so that one
  // lost to a recreation is tried again and the kinds still alternate.
  bool periodic_bmp_next_ = false;

  std::atomic<bool> stop_{false};
  std::atomic<bool> paused_{false};
  std::atomic<bool> fill_black_{false};
  std::atomic<bool> finished_{false};
  std::atomic<int> scale_;
  std::atomic<int64_t> scale_changes_{0};
  std::atomic<int64_t> surface_epoch_{0};  // odd while a recreation is under way
  std::atomic<int64_t> frames_rendered_{0};
  std::atomic<int64_t> frames_dropped_{0};
  bool truncated_ = false;
  std::thread thread_;
};

}  // namespace player

#endif  // TOOLS_PLAYER_WINDOW_ENGINE_H_
