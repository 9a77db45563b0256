#include "quon_renderManager.h"

#include <stddef.h>
#include <string.h>

#include <algorithm>
#include <mutex>

#include "quon_platform_log.h"
#include "quon_render_logfile.h"
#include "rtc_base/logging.h"
#include "rtc_base/socketserver_factory.h"

namespace {

using namespace platform_log;  // the domain, tags and TruncatedToInt

constexpr const char* kFile = "quon_renderManager";
constexpr const char* kXComponentProperty = "__NATIVE_XCOMPONENT_OBJ__";

// Guards m_nativeXComponentMap and the creation of the instance: the engine
// reaches the manager from its own threads. Not annotated: the map is a
// static member of the public header, which cannot name this lock.
std::mutex& ManagerMutex() {
  static std::mutex* const mutex = new std::mutex;
  return *mutex;
}

// The first layout of RenderStatistics ends where the fields added later
// begin: what an engine built against it has room for.
constexpr size_t kFirstStatisticsLayout = offsetof(RenderStatistics, framesDroppedByRate);
static_assert(kFirstStatisticsLayout == 72, "the first layout's fields stay where they were");

// `id`'s renderer, pinned, or an empty pin after one line saying so.
PluginRender::Pin PinnedOrRefused(std::string& id, const char* operation) {
  PluginRender::Pin render = PluginRender::PinInstance(id, /*create=*/false);
  if (!render)
    LOG(Warning) << operation << ": "
                 << "refused, no renderer for id=" << id;
  return render;
}

// An empty id names no renderer: the call is refused with one line.
bool RefusedEmptyId(const std::string& id, const char* operation) {
  if (!id.empty())
    return false;
  LOG(Warning) << operation << ": " << "refused, the id is empty";
  return true;
}

}  // namespace

PluginManager* PluginManager::m_instance = nullptr;
std::unordered_map<std::string, OH_NativeXComponent*> PluginManager::m_nativeXComponentMap;

PluginManager::PluginManager() {
  CallbLogSink::CreateInstance();
}

PluginManager::~PluginManager() = default;

PluginManager* PluginManager::GetInstance() {
  std::lock_guard<std::mutex> lock(ManagerMutex());
  if (m_instance == nullptr)
    m_instance = new PluginManager;
  return m_instance;
}

// --- Module entry --------------------------------------------------------------------

namespace {

napi_value ModuleInit(napi_env env, napi_value exports) {
  PLATFORM(LOG_ERROR, kInitTag, "--------begin-------");
  if (env == nullptr || exports == nullptr) {
    PLATFORM(LOG_ERROR, kInitTag, "env or exports is null");
    return exports;
  }
  const bool bound = PluginManager::GetInstance()->Export(env, exports);
  PLATFORM(LOG_ERROR, kInitTag, "---------end--------%{public}d", bound ? 1 : 0);
  return exports;
}

napi_module g_module = {
    1,              // nm_version
    0,              // nm_flags
    nullptr,        // nm_filename
    ModuleInit,     // nm_register_func
    "nativerender", // nm_modname
    nullptr,        // nm_priv
    {nullptr, nullptr, nullptr, nullptr},
};

// Registration with the platform's module loader happens when the library
// is loaded; nothing else runs until the platform calls ModuleInit. The
// module is the top of its runtime: the threads its runtime adopts (an
// engine thread's Send, the first Thread::Current()) wait on a physical
// server, as they always have.
__attribute__((constructor)) void RegisterModule() {
  rtc::InstallPhysicalSocketServers();
  napi_module_register(&g_module);
}

}  // namespace

bool PluginManager::Export(napi_env env, napi_value exports) {
  if (env == nullptr || exports == nullptr) {
    PLATFORM(LOG_ERROR, kManagerTag, "Export: env or exports is null");
    return false;
  }
  LOG_AT(kFile, 35, Info) << "Export" << ": " << ".";
  napi_value exportInstance = nullptr;
  if (napi_get_named_property(env, exports, kXComponentProperty, &exportInstance) != napi_ok) {
    // One retry: the platform may not have attached the component yet.
    const napi_status status =
        napi_get_named_property(env, exports, kXComponentProperty, &exportInstance);
    if (status != napi_ok) {
      PLATFORM(LOG_ERROR, kManagerTag, "Export: napi_get_named_property fail %{public}d", status);
      return false;
    }
  }
  napi_valuetype type = napi_undefined;
  const napi_status typeStatus = napi_typeof(env, exportInstance, &type);
  if (typeStatus != napi_ok) {
    PLATFORM(LOG_ERROR, kManagerTag, "napi_typeof failed  %{public}d", typeStatus);
    return false;
  }
  PLATFORM(LOG_ERROR, kManagerTag, "napi_typeof is  %{public}d", type);
  OH_NativeXComponent* component = nullptr;
  const napi_status unwrapStatus =
      napi_unwrap(env, exportInstance, reinterpret_cast<void**>(&component));
  if (unwrapStatus != napi_ok) {
    PLATFORM(LOG_ERROR, kManagerTag, "Export: napi_unwrap fail %{public}d=%{public}d", unwrapStatus,
             TruncatedToInt(component));
    return false;
  }
  std::string id;
  int32_t idResult = 0;
  if (!QueryXComponentId(component, &id, &idResult)) {
    PLATFORM(LOG_ERROR, kManagerTag, " OH_NativeXComponent_GetXComponentId fail %{public}d", idResult);
    return false;
  }
  LOG_AT(kFile, 67, Info) << "Export" << ": " << ".idstr:" << id
                          << ",nativeXComponent:" << static_cast<const void*>(component);
  PLATFORM(LOG_ERROR, kManagerTag, "Export %{public}s", id.c_str());
  if (id.empty()) {
    // No renderer can exist for an empty id, so there is nothing to bind.
    PLATFORM(LOG_ERROR, kManagerTag, "Export: empty XComponent id");
    return false;
  }
  GetInstance()->SetNativeXComponent(id, component);
  PluginRender* render = PluginRender::GetInstance(id);
  render->SetNativeXComponent(component);
  PLATFORM(LOG_ERROR, kManagerTag, "Export end");
  return true;
}

// --- Registry ----------------------------------------------------------------------------

void PluginManager::SetNativeXComponent(std::string& id, OH_NativeXComponent* nativeXComponent) {
  if (nativeXComponent == nullptr || RefusedEmptyId(id, "SetNativeXComponent"))
    return;
  LOG_AT(kFile, 86, Info) << "SetNativeXComponent" << ": " << ".id:" << id
                          << ",nativeXComponent:" << static_cast<const void*>(nativeXComponent);
  std::lock_guard<std::mutex> lock(ManagerMutex());
  m_nativeXComponentMap[id] = nativeXComponent;
}

PluginRender* PluginManager::GetRender(std::string& id) {
  if (RefusedEmptyId(id, "GetRender"))
    return nullptr;
  return PluginRender::GetInstance(id);
}

PluginRender* PluginManager::FindRender(std::string& id) {
  if (RefusedEmptyId(id, "FindRender"))
    return nullptr;
  return PluginRender::FindInstance(id);
}

PluginRender* PluginManager::FindRenderAndObserve(std::string& id,
                                                  rtc::DestroyObserver* observer) {
  if (RefusedEmptyId(id, "FindRenderAndObserve"))
    return nullptr;
  if (observer == nullptr) {
    LOG(Warning) << "FindRenderAndObserve" << ": " << "refused, the observer is null. id=" << id;
    return nullptr;
  }
  PluginRender* render = PluginRender::FindInstanceAndObserve(id, observer);
  LOG(Info) << "FindRenderAndObserve" << ": " << ".id=" << id
            << ",observer=" << static_cast<const void*>(observer)
            << ",instance=" << static_cast<const void*>(render);
  return render;
}

// The renderer is pinned from the look-up to the end of the call: a surface
// destroyed meanwhile on the UI thread waits for it instead of freeing the
// renderer under it.
bool PluginManager::SetScaleType(std::string& id, int type) {
  PluginRender::Pin render = PluginRender::PinInstance(id, /*create=*/false);
  LOG_AT(kFile, 102, Info) << "SetScaleType" << ": " << ".id=" << id << ",type=" << type
                           << ",instance=" << static_cast<const void*>(render.get());
  if (type < 1 || type > 3 || !render)
    return false;
  return render->SetScaleType(type);
}

bool PluginManager::SetColorDescription(std::string& id, int range, int matrix) {
  PluginRender::Pin render = PluginRender::PinInstance(id, /*create=*/false);
  LOG(Info) << "SetColorDescription" << ": " << ".id=" << id << ",range=" << range
            << ",matrix=" << matrix << ",instance=" << static_cast<const void*>(render.get());
  if (!render) {
    LOG(Warning) << "SetColorDescription" << ": " << "refused, no renderer for id=" << id;
    return false;
  }
  return render->SetColorDescription(range, matrix);
}

bool PluginManager::SetMirror(std::string& id, bool mirror) {
  PluginRender::Pin render = PluginRender::PinInstance(id, /*create=*/false);
  LOG(Info) << "SetMirror"
            << ": "
            << ".id=" << id << ",mirror=" << mirror
            << ",instance=" << static_cast<const void*>(render.get());
  if (!render) {
    LOG(Warning) << "SetMirror"
                 << ": "
                 << "refused, no renderer for id=" << id;
    return false;
  }
  return render->SetMirror(mirror);
}

bool PluginManager::SetRotation(std::string& id, int degrees) {
  PluginRender::Pin render = PluginRender::PinInstance(id, /*create=*/false);
  LOG(Info) << "SetRotation"
            << ": "
            << ".id=" << id << ",degrees=" << degrees
            << ",instance=" << static_cast<const void*>(render.get());
  if (!render) {
    LOG(Warning) << "SetRotation"
                 << ": "
                 << "refused, no renderer for id=" << id;
    return false;
  }
  return render->SetRotation(degrees);
}

bool PluginManager::PushFrame(std::string& id, const FrameDescription* frame) {
  if (frame == nullptr) {
    LOG(Warning) << "PushFrame"
                 << ": "
                 << "refused, the frame is null, id=" << id;
    return false;
  }
  PluginRender::Pin render = PinnedOrRefused(id, "PushFrame");
  return render && render->PushFrame(*frame);
}

bool PluginManager::TakeSnapshot(std::string& id, ISnapshotListener* listener, int32_t kind) {
  if (listener == nullptr) {
    LOG(Warning) << "TakeSnapshot"
                 << ": "
                 << "refused, the listener is null, id=" << id;
    return false;
  }
  PluginRender::Pin render = PinnedOrRefused(id, "TakeSnapshot");
  return render && render->TakeSnapshot(listener, kind);
}

bool PluginManager::TakeSnapshotToFile(std::string& id, const std::string& path,
                                       ISnapshotListener* listener) {
  PluginRender::Pin render = PinnedOrRefused(id, "TakeSnapshotToFile");
  return render && render->TakeSnapshotToFile(path, listener);
}

bool PluginManager::SetBackgroundColor(std::string& id, uint32_t argb) {
  PluginRender::Pin render = PinnedOrRefused(id, "SetBackgroundColor");
  return render && render->SetBackgroundColor(argb);
}

bool PluginManager::ClearSurface(std::string& id) {
  PluginRender::Pin render = PinnedOrRefused(id, "ClearSurface");
  return render && render->ClearSurface();
}

bool PluginManager::SetMaxFrameRate(std::string& id, int fps) {
  PluginRender::Pin render = PinnedOrRefused(id, "SetMaxFrameRate");
  return render && render->SetMaxFrameRate(fps);
}

bool PluginManager::SetRenderEventListener(std::string& id, IRenderEventListener* listener) {
  PluginRender::Pin render = PluginRender::PinInstance(id, /*create=*/false);
  LOG(Info) << "SetRenderEventListener"
            << ": "
            << ".id=" << id << ",listener=" << static_cast<const void*>(listener)
            << ",instance=" << static_cast<const void*>(render.get());
  if (render)
    return render->SetRenderEventListener(listener);
  if (listener == nullptr) {
    // Between two surfaces a listener about to be deleted must still go:
    // the id's next renderer would call it.
    PluginRender::RemoveRenderEventListener(id);
    return true;
  }
  LOG(Warning) << "SetRenderEventListener"
               << ": "
               << "refused, no renderer for id=" << id;
  return false;
}

// An engine built before the later fields has room for the first layout's
// alone: writing the whole struct would write past its end.
bool PluginManager::GetRenderStatistics(std::string& id, RenderStatistics* out) {
  return GetRenderStatistics(id, out, kFirstStatisticsLayout);
}

bool PluginManager::GetRenderStatistics(std::string& id, RenderStatistics* out, size_t size) {
  PluginRender::Pin render = PluginRender::PinInstance(id, /*create=*/false);
  if (!render || out == nullptr || size < kFirstStatisticsLayout) {
    LOG(Warning) << "GetRenderStatistics"
                 << ": "
                 << "refused, "
                 << (out == nullptr                  ? "out is null"
                     : size < kFirstStatisticsLayout ? "size too small"
                                                     : "no renderer")
                 << " for id=" << id << ",size=" << size;
    return false;
  }
  const RenderStatistics figures = render->Statistics();
  // A caller's struct of a later layout keeps its own values past ours.
  memcpy(out, &figures, std::min(size, sizeof(figures)));
  return true;
}

bool PluginManager::LastCaptureResult(std::string& id, std::string* path, int* error) {
  PluginRender::Pin render = PluginRender::PinInstance(id, /*create=*/false);
  if (!render || path == nullptr || error == nullptr)
    return false;
  return render->LastCaptureResult(path, error);
}

void* PluginManager::GetNativeWindow(std::string& id) {
  PLATFORM(LOG_ERROR, kWindowTag, "GetNativeWindow id %{public}s", id.c_str());
  PluginRender::Pin render = PluginRender::PinInstance(id, /*create=*/true);
  if (!render)
    return nullptr;
  void* window = render->window();
  PLATFORM(LOG_ERROR, kNativeTag, "PluginRender::SetNativeWindow %{public}d", TruncatedToInt(window));
  return window;
}

void PluginManager::InitLogFile(const std::string& path, ILogRenderListener* listener) {
  PLATFORM(LOG_ERROR, kManagerTag, "InitLogFile %{public}s", path.c_str());
  CallbLogSink::setRenderLogFile(path, listener);
  m_logListener = listener;
}

size_t PluginManager::PendingLogLines() {
  CallbLogSink* sink = CallbLogSink::Instance();
  return sink != nullptr ? sink->UndeliveredLines() : 0;
}
