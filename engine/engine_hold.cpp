#include "engine/engine_hold.h"

#include "quon_renderManager.h"

namespace engine {

EngineHold::~EngineHold() {
  rtc::MutexLock lock(&mutex_);
  if (render_ != nullptr)
    render_->RemoveObserver(this);
}

rtc::IVideoRender* EngineHold::HeldLocked(const std::string& id) {
  if (render_ == nullptr) {
    std::string key = id;  // the manager takes ids by non-const reference
    render_ = PluginManager::GetInstance()->FindRenderAndObserve(key, this);
    observed_ += render_ != nullptr;
  }
  return render_;
}

void EngineHold::OnDestroy(rtc::DestroyNotify* gone) {
  rtc::MutexLock lock(&mutex_);
  if (render_ == gone)
    render_ = nullptr;
  ++told_;
}

}  // namespace engine
