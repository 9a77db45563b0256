#ifndef TOOLS_PLAYER_WINDOW_SETTINGS_H_
#define TOOLS_PLAYER_WINDOW_SETTINGS_H_

// What one window asks of its renderers: the scale type, the turn and the
// mirror (changed by keys on the UI thread), the frames' colours, and the
// events listener. The engine thread gives them to each renderer the window
// gets, and tells the module only what changed.

#include <stdint.h>

#include <atomic>
#include <string>

#include "IRenderEventListener.h"
#include "engine/color_description.h"
#include "options.h"
#include "rtc_base/mutex.h"
#include "rtc_base/thread_annotations.h"

namespace player {

// The window's picture events, counted, and said in the progress output
// (the first frame only once, not again for each new surface).
struct WindowEvents : IRenderEventListener {
  void OnFirstFrame(const std::string& id, int width, int height) override;
  void OnFrameSizeChanged(const std::string& id, int width, int height) override;
  void OnSurfaceSizeChanged(const std::string& id, int width, int height) override;

  bool quiet = false;
  std::atomic<int64_t> first_frames{0};
  std::atomic<int64_t> frame_size_changes{0};
  std::atomic<int64_t> surface_size_changes{0};
};

class WindowSettings {
 public:
  // `input_rotation`: the turn the input asks for; the user's own
  // (--rotate, r) goes on top.
  WindowSettings(std::string id, const Options& options, int input_rotation);
  // The module keeps the events listener for the id: it is taken off
  // before it goes.
  ~WindowSettings();

  int scale() const { return scale_.load(); }
  void SetScale(int type) { scale_ = type; }
  void ToggleMirror() { mirror_ = !mirror_; }
  void RotateBy90() { rotation_ = (rotation_.load() + 90) % 360; }

  // Gives the window's renderer the settings it lacks: `renderer` counts
  // the renderers the window had (a fresh one starts at its defaults: fit,
  // full range BT.601), `color` is the frames'. Engine thread only.
  void ApplyTo(int renderer, const engine::ColorDescription& color) RTC_EXCLUDES(mutex_);

  const WindowEvents& events() const { return events_; }

 private:
  void TellColor(const engine::ColorDescription& color) RTC_REQUIRES(mutex_);

  const std::string id_;
  const int input_rotation_;
  std::atomic<int> scale_;
  std::atomic<int> rotation_;
  std::atomic<bool> mirror_;
  WindowEvents events_;

  // What the module was told. The renderer the settings were applied to,
  // its scale type and the colours it was told; the turn and mirror the
  // module keeps for the id (an id starts unturned and unmirrored), and
  // whether the events listener is installed.
  rtc::Mutex mutex_;
  int applied_to_ RTC_GUARDED_BY(mutex_) = 0;
  int applied_scale_ RTC_GUARDED_BY(mutex_) = 0;
  bool color_applied_ RTC_GUARDED_BY(mutex_) = false;
  engine::ColorDescription applied_color_ RTC_GUARDED_BY(mutex_);
  int applied_rotation_ RTC_GUARDED_BY(mutex_) = 0;
  bool applied_mirror_ RTC_GUARDED_BY(mutex_) = false;
  bool listening_ RTC_GUARDED_BY(mutex_) = false;
  bool said_2020_ RTC_GUARDED_BY(mutex_) = false;
};

}  // namespace player

#endif  // TOOLS_PLAYER_WINDOW_SETTINGS_H_
