// XComponent handles: id, surface size, native window and the callback table
// native code registered, plus injected query failures for tests.

#include <cstring>
#include <mutex>
#include <string>

#include "ace/xcomponent/native_interface_xcomponent.h"
#include "desktop/xcomponent_host.h"

namespace {

struct Injection {
  int remaining = 0;
  int32_t result = OH_NATIVEXCOMPONENT_RESULT_SUCCESS;

  // Consumes one injected failure, if any is pending.
  bool Take(int32_t* out) {
    if (remaining <= 0) return false;
    --remaining;
    *out = result;
    return true;
  }
};

}  // namespace

struct OH_NativeXComponent {
  std::mutex mutex;
  std::string id;
  uint64_t width = 0;
  uint64_t height = 0;
  void* window = nullptr;
  OH_NativeXComponent_Callback* callback = nullptr;
  Injection id_failure;
  Injection size_failure;
};

namespace ohos_desktop {
namespace {

using CallbackMember = void (*OH_NativeXComponent_Callback::*)(OH_NativeXComponent*, void*);

// Reads the table and window under the lock but calls out without it: the
// callbacks query the component.
void Dispatch(OH_NativeXComponent* component, CallbackMember member) {
  if (component == nullptr) return;
  OH_NativeXComponent_Callback* table;
  void* window;
  {
    std::lock_guard<std::mutex> lock(component->mutex);
    table = component->callback;
    window = component->window;
  }
  if (table == nullptr || table->*member == nullptr) return;
  (table->*member)(component, window);
}

}  // namespace

OH_NativeXComponent* CreateXComponent(const std::string& id, uint64_t width, uint64_t height,
                                      void* window) {
  auto* component = new OH_NativeXComponent;
  component->id = id;
  component->width = width;
  component->height = height;
  component->window = window;
  return component;
}

void DestroyXComponent(OH_NativeXComponent* component) { delete component; }

void SetXComponentSize(OH_NativeXComponent* component, uint64_t width, uint64_t height) {
  if (component == nullptr) return;
  std::lock_guard<std::mutex> lock(component->mutex);
  component->width = width;
  component->height = height;
}

void SetXComponentWindow(OH_NativeXComponent* component, void* window) {
  if (component == nullptr) return;
  std::lock_guard<std::mutex> lock(component->mutex);
  component->window = window;
}

void* XComponentWindow(OH_NativeXComponent* component) {
  if (component == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(component->mutex);
  return component->window;
}

OH_NativeXComponent_Callback* RegisteredCallback(OH_NativeXComponent* component) {
  if (component == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(component->mutex);
  return component->callback;
}

void InjectXComponentIdFailure(OH_NativeXComponent* component, int count, int32_t result) {
  if (component == nullptr) return;
  std::lock_guard<std::mutex> lock(component->mutex);
  component->id_failure = Injection{count, result};
}

void InjectXComponentSizeFailure(OH_NativeXComponent* component, int count, int32_t result) {
  if (component == nullptr) return;
  std::lock_guard<std::mutex> lock(component->mutex);
  component->size_failure = Injection{count, result};
}

void DispatchSurfaceCreated(OH_NativeXComponent* component) {
  Dispatch(component, &OH_NativeXComponent_Callback::OnSurfaceCreated);
}

void DispatchSurfaceChanged(OH_NativeXComponent* component) {
  Dispatch(component, &OH_NativeXComponent_Callback::OnSurfaceChanged);
}

void DispatchSurfaceDestroyed(OH_NativeXComponent* component) {
  Dispatch(component, &OH_NativeXComponent_Callback::OnSurfaceDestroyed);
}

void DispatchTouchEvent(OH_NativeXComponent* component) {
  Dispatch(component, &OH_NativeXComponent_Callback::DispatchTouchEvent);
}

}  // namespace ohos_desktop

extern "C" int32_t OH_NativeXComponent_GetXComponentId(OH_NativeXComponent* component, char* id,
                                                       uint64_t* size) {
  if (component == nullptr) return OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER;
  std::lock_guard<std::mutex> lock(component->mutex);
  int32_t injected;
  if (component->id_failure.Take(&injected)) return injected;
  if (id == nullptr || size == nullptr) return OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER;
  const std::string& own = component->id;
  if (*size < own.size() + 1) return OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER;
  std::memcpy(id, own.c_str(), own.size() + 1);
  *size = own.size();
  return OH_NATIVEXCOMPONENT_RESULT_SUCCESS;
}

extern "C" int32_t OH_NativeXComponent_GetXComponentSize(OH_NativeXComponent* component,
                                                         const void* window, uint64_t* width,
                                                         uint64_t* height) {
  if (component == nullptr) return OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER;
  std::lock_guard<std::mutex> lock(component->mutex);
  int32_t injected;
  if (component->size_failure.Take(&injected)) return injected;
  // A size for some other window would be a size of nothing this component has.
  if (window == nullptr || window != component->window || width == nullptr ||
      height == nullptr) {
    return OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER;
  }
  *width = component->width;
  *height = component->height;
  return OH_NATIVEXCOMPONENT_RESULT_SUCCESS;
}

extern "C" int32_t OH_NativeXComponent_RegisterCallback(OH_NativeXComponent* component,
                                                        OH_NativeXComponent_Callback* callback) {
  if (component == nullptr || callback == nullptr) {
    return OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER;
  }
  std::lock_guard<std::mutex> lock(component->mutex);
  component->callback = callback;
  return OH_NATIVEXCOMPONENT_RESULT_SUCCESS;
}
