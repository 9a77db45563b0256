#ifndef ENGINE_ENGINE_HOLD_H_
#define ENGINE_ENGINE_HOLD_H_

// An engine's hold on one id's renderer, written the way an engine is meant
// to hold one (docs/integration.md, "When a renderer pointer is valid"):
// taken with FindRenderAndObserve on the engine's own thread, used under the
// engine's own lock, dropped in OnDestroy, which takes the same lock and so
// waits for a call in progress.
//
//   std::lock_guard<std::mutex> lock(hold.mutex());
//   if (rtc::IVideoRender* render = hold.HeldLocked(id))
//     render->RenderFrame(frame);
//
// The renderer's own calls (RenderFrame and the rest) and the manager's
// calls for the id may then run on the engine thread; nothing needs the UI
// thread. A program that uses it links the module (or its objects): this
// file reaches the manager's exported interface.

#include <mutex>
#include <string>

#include "video_render_interfaces.h"

namespace engine {

class EngineHold : public rtc::DestroyObserver {
 public:
  EngineHold() = default;
  // Leaves a renderer still held, so that it never tells a freed observer.
  // A destruction already under way tells its observers all the same: end
  // a hold once its renderer is gone, or while no surface of the id can go.
  ~EngineHold() override;
  EngineHold(const EngineHold&) = delete;
  EngineHold& operator=(const EngineHold&) = delete;

  // The lock every use of the held renderer is made under.
  std::mutex& mutex() { return mutex_; }

  // The renderer held; else the renderer of `id`, looked up and observed in
  // one step; null while `id` has none. Call with mutex() held.
  rtc::IVideoRender* HeldLocked(const std::string& id);
  // The renderer held, without a look-up. Call with mutex() held.
  rtc::IVideoRender* render() const { return render_; }
  // Renderers this hold was handed, and OnDestroy calls it received. Call
  // with mutex() held.
  int observed() const { return observed_; }
  int told() const { return told_; }

  // On the UI thread, as the renderer goes: waits for the call in progress.
  void OnDestroy(rtc::DestroyNotify* gone) override;

 private:
  std::mutex mutex_;
  rtc::IVideoRender* render_ = nullptr;
  int observed_ = 0;
  int told_ = 0;
};

}  // namespace engine

#endif  // ENGINE_ENGINE_HOLD_H_
