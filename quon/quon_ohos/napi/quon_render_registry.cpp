#include "quon_render_registry.h"

// Never destroyed: an engine thread may still look a renderer up while the
// process exits, and renderers left at exit stay reachable.
RenderRegistry& PluginRender::m_renderMap = *new RenderRegistry;

// --- The registry ------------------------------------------------------------------

PluginRender* RenderRegistry::FindLocked(const std::string& id, bool create) {
  auto it = records_.find(id);
  if (it != records_.end() && it->second.render != nullptr)
    return it->second.render;
  if (!create || id.empty())
    return nullptr;
  Record& record = it != records_.end() ? it->second : records_[id];
  std::string key = id;
  record.render = new PluginRender(key);
  // Nobody else can reach the new renderer yet, so its drawing lock is
  // free: it draws its first frame with the id's settings.
  if (record.version != 0)
    record.render->ApplySettings(record.settings, record.version);
  return record.render;
}

PluginRender* RenderRegistry::Find(const std::string& id, bool create) {
  rtc::MutexLock lock(&mutex_);
  return FindLocked(id, create);
}

PluginRender* RenderRegistry::FindPinned(const std::string& id, bool create) {
  rtc::MutexLock lock(&mutex_);
  PluginRender* render = FindLocked(id, create);
  if (render != nullptr)
    ++render->m_inFlight;
  return render;
}

PluginRender* RenderRegistry::FindAndObserve(const std::string& id,
                                             rtc::DestroyObserver* observer) {
  rtc::MutexLock lock(&mutex_);
  PluginRender* render = FindLocked(id, /*create=*/false);
  // Under the registry lock: Release takes the renderer out of the registry
  // before it tells anyone, so this observer is on the list it tells.
  if (render != nullptr)
    render->AddObserver(observer);
  return render;
}

void RenderRegistry::Forget(const std::string& id, const PluginRender* render) {
  rtc::MutexLock lock(&mutex_);
  auto it = records_.find(id);
  if (it == records_.end() || it->second.render != render)
    return;
  if (it->second.version == 0)
    records_.erase(it);
  else
    it->second.render = nullptr;
}

void RenderRegistry::ChangeSettings(PluginRender* changer,
                                    const std::function<void(Settings*)>& change) {
  Settings settings;
  uint64_t version = 0;
  PluginRender* registered = nullptr;
  {
    rtc::MutexLock lock(&mutex_);
    Record& record = records_[changer->id()];
    change(&record.settings);
    version = ++record.version;
    settings = record.settings;
    if (record.render != nullptr && record.render != changer) {
      registered = record.render;
      ++registered->m_inFlight;  // pinned as FindPinned pins
    }
  }
  // Applied outside the registry lock: a renderer's drawing lock may be
  // held for a whole frame, and no look-up waits for that.
  const PluginRender::Pin pinned(registered);
  changer->ApplySettings(settings, version);
  if (pinned)
    pinned->ApplySettings(settings, version);
}

std::shared_ptr<RenderEventSlot> RenderRegistry::EventSlot(const std::string& id) {
  rtc::MutexLock lock(&mutex_);
  auto it = records_.find(id);
  return it != records_.end() ? it->second.settings.events : nullptr;
}

// --- PluginRender's look-ups -------------------------------------------------------

PluginRender* PluginRender::GetInstance(std::string& id) {
  return m_renderMap.Find(id, /*create=*/true);
}

PluginRender* PluginRender::FindInstance(const std::string& id) {
  return m_renderMap.Find(id, /*create=*/false);
}

PluginRender::Pin PluginRender::PinInstance(std::string& id, bool create) {
  PluginRender* render = m_renderMap.FindPinned(id, create);
  return render != nullptr ? Pin(render) : Pin();
}

PluginRender* PluginRender::FindInstanceAndObserve(const std::string& id,
                                                   rtc::DestroyObserver* observer) {
  return m_renderMap.FindAndObserve(id, observer);
}
