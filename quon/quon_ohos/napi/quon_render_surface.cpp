// A renderer's surface: the four XComponent callbacks, shared by every
// renderer, and what each does to the renderer of its id.

#include "quon_render.h"

#include <string.h>

#include "quon_eglcore.h"
#include "quon_platform_log.h"
#include "quon_render_events.h"
#include "rtc_base/logging.h"

namespace {

using namespace platform_log;  // the domain, tags and TruncatedToInt

constexpr const char* kFile = "quon_render";

}  // namespace

bool QueryXComponentId(OH_NativeXComponent* component, std::string* id, int32_t* result) {
  char buffer[OH_XCOMPONENT_ID_LEN_MAX + 1];
  memset(buffer, 0, sizeof(buffer));
  uint64_t size = sizeof(buffer);
  const int32_t status = OH_NativeXComponent_GetXComponentId(component, buffer, &size);
  if (result != nullptr)
    *result = status;
  if (status != 0)
    return false;
  id->assign(buffer, strnlen(buffer, sizeof(buffer)));
  return true;
}

OH_NativeXComponent_Callback PluginRender::m_callback = {
    OnSurfaceCreatedCB, OnSurfaceChangedCB, OnSurfaceDestroyedCB, DispatchTouchEventCB};

// --- Surface ------------------------------------------------------------------------

void PluginRender::SetNativeXComponent(OH_NativeXComponent* component) {
  PLATFORM(LOG_ERROR, kNativeTag, "PluginRender::SetNativeXComponent %{public}d",
           TruncatedToInt(component));
  m_component = component;
  OH_NativeXComponent_RegisterCallback(component, &m_callback);
}

void PluginRender::OnSurfaceCreated(OH_NativeXComponent* component, void* window) {
  LOG_AT(kFile, 454, Info) << static_cast<const void*>(this) << ": "
                           << "OnSurfaceCreated"
                           << ": "
                           << ".component:" << static_cast<const void*>(component)
                           << ",window:" << window << ",width:height=" << m_width.load() << ","
                           << m_height.load();
  PLATFORM(LOG_ERROR, kNativeTag, ">>>>>>>>>>>>PluginRender::OnSurfaceCreated");
  uint64_t width = 0;
  uint64_t height = 0;
  const int32_t size_result =
      OH_NativeXComponent_GetXComponentSize(component, window, &width, &height);
  if (size_result == 0) {
    m_width = static_cast<int32_t>(width);
    m_height = static_cast<int32_t>(height);
  }
  PLATFORM(LOG_ERROR, kNativeTag, ">>>>>>>>>>>>PluginRender::OnSurfaceCreated111111111111111111");
  PLATFORM(LOG_ERROR, kNativeTag, "PluginRender::SetNativeWindow %{public}d",
           TruncatedToInt(window));
  void* const previous = m_window.exchange(window);
  rtc::MutexLock draw(&m_drawMutex);
  // Created again without being destroyed: a change of surface. The old
  // EGL surface goes first (a window takes one surface at a time, and the
  // new one would fail on it), then drawing goes on with the new one.
  if (previous != nullptr && m_eglCore != nullptr) {
    LOG(Warning) << static_cast<const void*>(this) << ": "
                 << "OnSurfaceCreated"
                 << ": "
                 << "created again without being destroyed; releasing window " << previous
                 << " first";
    m_eglCore->Release();
  }
  if (size_result == 0) {
    m_surfaceWidth = static_cast<int32_t>(width);
    m_surfaceHeight = static_cast<int32_t>(height);
  }
  if (size_result == 0 && m_eglCore != nullptr)
    m_eglCore->EglContextInit(window, m_width.load(), m_height.load());
}

// A resize or a rotation: the size is read as at creation, and the core
// draws at it from the next frame on.
void PluginRender::OnSurfaceChanged(OH_NativeXComponent* component, void* window) {
  PLATFORM(LOG_ERROR, kNativeTag, ">>>>>>>>>>>>PluginRender::OnSurfaceChanged");
  uint64_t width = 0;
  uint64_t height = 0;
  if (component == nullptr ||
      OH_NativeXComponent_GetXComponentSize(component, window, &width, &height) != 0)
    return;
  m_width = static_cast<int32_t>(width);
  m_height = static_cast<int32_t>(height);
  LOG(Info) << static_cast<const void*>(this) << ": "
            << "OnSurfaceChanged"
            << ": "
            << ".width:height=" << m_width.load() << "," << m_height.load();
  const int32_t w = static_cast<int32_t>(width), h = static_cast<int32_t>(height);
  std::shared_ptr<RenderEventSlot> events;
  {
    rtc::MutexLock draw(&m_drawMutex);
    if (m_eglCore == nullptr || window != m_window.load())
      return;
    // A surface created before it was laid out (at 0x0) got no environment:
    // it gets one now that it has a size, and draws from the next frame on.
    if (!m_eglCore->HasEnvironment() && m_width.load() >= 1 && m_height.load() >= 1)
      m_eglCore->EglContextInit(window, m_width.load(), m_height.load());
    else
      m_eglCore->SetSurfaceSize(m_width.load(), m_height.load());
    if (w < 1 || h < 1 || (w == m_surfaceWidth && h == m_surfaceHeight))
      return;  // refused, or no change
    m_surfaceWidth = w;
    m_surfaceHeight = h;
    events = m_settings.events;
  }
  // Outside the drawing lock: the listener may call back into the module.
  if (events)
    events->Tell(RenderEventSlot::Event::kSurfaceSizeChanged, m_id, w, h);
}

void PluginRender::OnSurfaceDestroyed(OH_NativeXComponent* component, void* window) {
  LOG_AT(kFile, 474, Info) << "OnSurfaceDestroyed"
                           << ": "
                           << ".component:" << static_cast<const void*>(component)
                           << ",window:" << window;
  PLATFORM(LOG_ERROR, kNativeTag, ">>>>>>>>>>>>PluginRender::OnSurfaceDestroyed");
  if (component == nullptr || window == nullptr) {
    PLATFORM(LOG_ERROR, kCallbackTag, "OnSurfaceDestroyedCB: component or window is null");
    return;
  }
  std::string id;
  if (!QueryXComponentId(component, &id)) {
    PLATFORM(LOG_ERROR, kCallbackTag, "OnSurfaceDestroyedCB: Unable to get XComponent id");
    return;
  }
  LOG_AT(kFile, 489, Info) << static_cast<const void*>(this) << ": "
                           << "OnSurfaceDestroyed"
                           << ": "
                           << ".idStr:" << id;
  Release(id);  // deletes this renderer
}

// --- Callbacks ------------------------------------------------------------------------

namespace {

// The opening every callback shares: its log lines, the id query and the
// renderer look-up (which creates a renderer for an id that has none).
// Null when the id cannot be had; `id_line` 0 means no id line.
PluginRender* OpenCallback(OH_NativeXComponent* component, const char* name, int first_line,
                           int id_line) {
  LOG_AT(kFile, first_line, Info) << name << ": "
                                  << ".";
  PLATFORM(LOG_ERROR, kNativeTag, "%{public}s", name);
  std::string id;
  if (!QueryXComponentId(component, &id))
    return nullptr;
  if (id_line != 0)
    LOG_AT(kFile, id_line, Info) << name << ": "
                                 << ".id=" << id;
  return PluginRender::GetInstance(id);
}

}  // namespace

void PluginRender::OnSurfaceCreatedCB(OH_NativeXComponent* component, void* window) {
  if (PluginRender* render = OpenCallback(component, "OnSurfaceCreatedCB", 258, 267))
    render->OnSurfaceCreated(component, window);
}

void PluginRender::OnSurfaceChangedCB(OH_NativeXComponent* component, void* window) {
  if (PluginRender* render = OpenCallback(component, "OnSurfaceChangedCB", 275, 0))
    render->OnSurfaceChanged(component, window);
}

void PluginRender::OnSurfaceDestroyedCB(OH_NativeXComponent* component, void* window) {
  if (PluginRender* render = OpenCallback(component, "OnSurfaceDestroyedCB", 292, 301))
    render->OnSurfaceDestroyed(component, window);
}

void PluginRender::DispatchTouchEventCB(OH_NativeXComponent* component, void*) {
  OpenCallback(component, "DispatchTouchEventCB", 309, 318);
}
