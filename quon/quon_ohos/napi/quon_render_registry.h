#ifndef QUON_OHOS_NAPI_QUON_RENDER_REGISTRY_H_
#define QUON_OHOS_NAPI_QUON_RENDER_REGISTRY_H_

// The render registry (PluginRender::m_renderMap): one record per
// XComponent id, holding the id's renderer and the settings the id keeps
// across its renderers, all under one lock.
//
// A renderer is made, looked up, pinned, observed and forgotten under that
// lock, so nothing reaches a renderer once Release has taken it out. A
// change to an id's settings is made under the lock too and then applied
// to the renderer as one snapshot (PluginRender::ApplySettings); the change
// number that goes with it lets a renderer ignore a snapshot older than the
// one it has, so racing changes end with what the record holds.
//
// Locks: a renderer's drawing lock may be taken while the registry lock is
// held (a new renderer takes its settings), never the other way round.

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <memory>
#include <string>

#include "rtc_base/mutex.h"

class IRenderEventListener;
class PluginRender;
class RenderEventSlot;
namespace nativerender_detail {
struct RenderSettings;
}  // namespace nativerender_detail
namespace rtc {
class DestroyObserver;
}  // namespace rtc

class RenderRegistry {
 public:
  // PluginRender::Settings (quon_render.h).
  using Settings = nativerender_detail::RenderSettings;

  // `id`'s renderer, or null. With `create`, a non-empty id without one
  // gets a new renderer, which starts with the id's settings.
  PluginRender* Find(const std::string& id, bool create);
  // The same, counted as a call in progress before the lock drops: the
  // caller hands it to a PluginRender::Pin, which ends the count.
  PluginRender* FindPinned(const std::string& id, bool create);
  // `id`'s renderer with `observer` added to it under the lock, or null
  // (nothing added).
  PluginRender* FindAndObserve(const std::string& id, rtc::DestroyObserver* observer);
  // Takes `render` out of `id`'s record; nothing when the id has another
  // renderer. The record goes with it unless it keeps a setting for the
  // id's next renderer (Keeps).
  void Forget(const std::string& id, const PluginRender* render);
  // Changes the settings of `changer`'s id with `change`, then applies the
  // result to `changer` and to the id's registered renderer, when that is
  // another one (made for the id after `changer` was released).
  void ChangeSettings(PluginRender* changer, const std::function<void(Settings*)>& change);
  // Installs `listener` in the event slot of `changer`'s id (made when
  // missing) and returns the slot, for the wait on the listener replaced.
  std::shared_ptr<RenderEventSlot> InstallListener(PluginRender* changer,
                                                   IRenderEventListener* listener);
  // Takes `id`'s listener away; the slot it was in, or null.
  std::shared_ptr<RenderEventSlot> RemoveListener(const std::string& id);

  // The one registry (PluginRender::m_renderMap), never destroyed.
  static RenderRegistry& Instance();
  // Records held: ids with a renderer, and ids without one that keep a
  // setting.
  size_t RecordCount();

 private:
  // The records by id, each with its renderer and settings
  // (quon_render_registry.cpp).
  struct Records;

  RenderRegistry();
  ~RenderRegistry();

  PluginRender* FindLocked(const std::string& id, bool create) RTC_REQUIRES(mutex_);
  // Whether `settings` hold what the app asked the id to keep for its next
  // renderer: a colour description, turn, mirror, background colour or
  // frame-rate limit other than the default, or a listener. A record that keeps none goes with its
  // last renderer.
  static bool Keeps(const Settings& settings);

  rtc::Mutex mutex_;
  const std::unique_ptr<Records> records_ RTC_PT_GUARDED_BY(mutex_);
  // Counts every change, across ids: a record made again for an id goes on
  // from where the last one of any id stopped, so that no renderer ever
  // takes a new change for one it has already applied.
  uint64_t changes_ RTC_GUARDED_BY(mutex_) = 0;
};

#endif  // QUON_OHOS_NAPI_QUON_RENDER_REGISTRY_H_
