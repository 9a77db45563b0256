#ifndef ENGINE_ENGINE_HOLD_H_
#define ENGINE_ENGINE_HOLD_H_

// An engine's hold on one id's renderer, written the way an engine is meant
// to hold one (docs/integration.md, "When a renderer pointer is valid"):
// taken with FindRenderAndObserve on the engine's own thread, used under the
// engine's own lock, dropped in OnDestroy, which takes the same lock and so
// waits for a call in progress.
//
//   rtc::MutexLock lock(&hold.mutex());
//   if (rtc::IVideoRender* render = hold.HeldLocked(id))
//     render->RenderFrame(frame);
//
// The lock is the runtime's annotated mutex (a header of its own, nothing
// linked), so that clang checks the rules below; an engine outside this
// project uses a lock of its own the same way.
//
// The renderer's own calls (RenderFrame and the rest) and the manager's
// calls for the id may then run on the engine thread; nothing needs the UI
// thread. A program that uses it links the module (or its objects): this
// file reaches the manager's exported interface.

#include <string>

#include "rtc_base/mutex.h"
#include "rtc_base/thread_annotations.h"
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
  rtc::Mutex& mutex() RTC_RETURN_CAPABILITY(mutex_) { return mutex_; }

  // The renderer held; else the renderer of `id`, looked up and observed in
  // one step; null while `id` has none.
  rtc::IVideoRender* HeldLocked(const std::string& id) RTC_REQUIRES(mutex_);
  // The renderer held, without a look-up.
  rtc::IVideoRender* render() const RTC_REQUIRES(mutex_) { return render_; }
  // Renderers this hold was handed, and OnDestroy calls it received.
  int observed() const RTC_REQUIRES(mutex_) { return observed_; }
  int told() const RTC_REQUIRES(mutex_) { return told_; }

  // On the UI thread, as the renderer goes: waits for the call in progress.
  void OnDestroy(rtc::DestroyNotify* gone) override RTC_EXCLUDES(mutex_);

 private:
  rtc::Mutex mutex_;
  rtc::IVideoRender* render_ RTC_GUARDED_BY(mutex_) = nullptr;
  int observed_ RTC_GUARDED_BY(mutex_) = 0;
  int told_ RTC_GUARDED_BY(mutex_) = 0;
};

}  // namespace engine

#endif  // ENGINE_ENGINE_HOLD_H_
