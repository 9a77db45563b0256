#ifndef TESTS_SUPPORT_ENGINE_HOLD_H_
#define TESTS_SUPPORT_ENGINE_HOLD_H_

#include <mutex>
#include <string>

#include "quon_renderManager.h"
#include "video_render_interfaces.h"

// An engine's hold on one id's renderer, as an engine is meant to write it:
// taken with FindRenderAndObserve and used under the engine's own lock,
// dropped in OnDestroy.
class EngineHold : public rtc::DestroyObserver {
 public:
  void OnDestroy(rtc::DestroyNotify* gone) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (render == gone)
      render = nullptr;
    ++told;
  }

  // The renderer held, looked up when none is. Call with `mutex` held.
  rtc::IVideoRender* HeldLocked(std::string& id) {
    if (render == nullptr) {
      render = PluginManager::GetInstance()->FindRenderAndObserve(id, this);
      observed += render != nullptr;
    }
    return render;
  }

  std::mutex mutex;
  rtc::IVideoRender* render = nullptr;
  int observed = 0;  // renderers handed to this hold
  int told = 0;      // OnDestroy calls received
};

#endif  // TESTS_SUPPORT_ENGINE_HOLD_H_
