#include "quon_render_registry.h"

#include <unordered_map>

#include "quon_render.h"
#include "quon_render_events.h"

struct RenderRegistry::Records {
  struct Record {
    PluginRender* render = nullptr;  // null between two renderers of the id
    Settings settings;
    // The registry's change number of the last change to `settings`; 0 for
    // settings never changed.
    uint64_t version = 0;
  };
  using Map = std::unordered_map<std::string, Record>;

  // Drops `it`'s record when it has no renderer and keeps nothing.
  void DropIfUnused(Map::iterator it) {
    if (it->second.render == nullptr && !Keeps(it->second.settings))
      byId.erase(it);
  }

  Map byId;
};

RenderRegistry::RenderRegistry() : records_(new Records) {}

RenderRegistry::~RenderRegistry() = default;

// Never destroyed: an engine thread may still look a renderer up while the
// process exits, and renderers left at exit stay reachable.
RenderRegistry& RenderRegistry::Instance() {
  static RenderRegistry* const registry = new RenderRegistry;
  return *registry;
}

RenderRegistry& PluginRender::m_renderMap = RenderRegistry::Instance();

// --- The registry ------------------------------------------------------------------

PluginRender* RenderRegistry::FindLocked(const std::string& id, bool create) {
  auto it = records_->byId.find(id);
  if (it != records_->byId.end() && it->second.render != nullptr)
    return it->second.render;
  if (!create || id.empty())
    return nullptr;
  Records::Record& record = it != records_->byId.end() ? it->second : records_->byId[id];
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

bool RenderRegistry::Keeps(const Settings& settings) {
  const Settings defaults;
  return settings.colorRange != defaults.colorRange ||
         settings.colorMatrix != defaults.colorMatrix || settings.rotation != defaults.rotation ||
         settings.mirror != defaults.mirror ||
         settings.backgroundColor != defaults.backgroundColor ||
         settings.maxFrameRate != defaults.maxFrameRate ||
         (settings.events && settings.events->Listening());
}

void RenderRegistry::Forget(const std::string& id, const PluginRender* render) {
  rtc::MutexLock lock(&mutex_);
  auto it = records_->byId.find(id);
  if (it == records_->byId.end() || it->second.render != render)
    return;
  it->second.render = nullptr;
  records_->DropIfUnused(it);
}

size_t RenderRegistry::RecordCount() {
  rtc::MutexLock lock(&mutex_);
  return records_->byId.size();
}

void RenderRegistry::ChangeSettings(PluginRender* changer,
                                    const std::function<void(Settings*)>& change) {
  Settings settings;
  uint64_t version = 0;
  PluginRender* registered = nullptr;
  {
    rtc::MutexLock lock(&mutex_);
    auto it = records_->byId.try_emplace(changer->id()).first;
    Records::Record& record = it->second;
    change(&record.settings);
    version = record.version = ++changes_;
    settings = record.settings;
    if (record.render != nullptr && record.render != changer) {
      registered = record.render;
      ++registered->m_inFlight;  // pinned as FindPinned pins
    }
    // A change by a renderer already released, back to the defaults.
    records_->DropIfUnused(it);
  }
  // Applied outside the registry lock: a renderer's drawing lock may be
  // held for a whole frame, and no look-up waits for that.
  const PluginRender::Pin pinned(registered);
  changer->ApplySettings(settings, version);
  if (pinned)
    pinned->ApplySettings(settings, version);
}

std::shared_ptr<RenderEventSlot> RenderRegistry::InstallListener(PluginRender* changer,
                                                                 IRenderEventListener* listener) {
  std::shared_ptr<RenderEventSlot> slot;
  // Installed under the registry lock, so that whether a record keeps a
  // listener is decided in the order the calls were made.
  ChangeSettings(changer, [&slot, listener](Settings* settings) {
    if (!settings->events)
      settings->events = std::make_shared<RenderEventSlot>();
    settings->events->Install(listener);
    slot = settings->events;
  });
  return slot;
}

std::shared_ptr<RenderEventSlot> RenderRegistry::RemoveListener(const std::string& id) {
  rtc::MutexLock lock(&mutex_);
  auto it = records_->byId.find(id);
  if (it == records_->byId.end() || !it->second.settings.events)
    return nullptr;
  std::shared_ptr<RenderEventSlot> slot = it->second.settings.events;
  slot->Install(nullptr);
  records_->DropIfUnused(it);
  return slot;
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
