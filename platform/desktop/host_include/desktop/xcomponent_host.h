// Host side of the XComponent interface: creates component handles and
// drives the surface callbacks that native code registered on them, the way
// the UI runtime does.
//
// All functions are thread-safe for a live component; destroying a component
// while another thread uses it is the caller's error. The Dispatch functions
// call out without holding any lock, so callbacks may query the component.
#ifndef OHOS_DESKTOP_XCOMPONENT_HOST_H
#define OHOS_DESKTOP_XCOMPONENT_HOST_H

#include <cstdint>
#include <memory>
#include <string>

#include "ace/xcomponent/native_interface_xcomponent.h"

namespace ohos_desktop {

// Any id is accepted, including ones longer than the interface's limit, so
// that callers' handling of the id query's failure can be exercised.
OH_NativeXComponent* CreateXComponent(const std::string& id, uint64_t width,
                                      uint64_t height, void* window);
void DestroyXComponent(OH_NativeXComponent* component);

struct XComponentDeleter {
  void operator()(OH_NativeXComponent* component) const { DestroyXComponent(component); }
};
using ScopedXComponent = std::unique_ptr<OH_NativeXComponent, XComponentDeleter>;

void SetXComponentSize(OH_NativeXComponent* component, uint64_t width, uint64_t height);
void SetXComponentWindow(OH_NativeXComponent* component, void* window);
void* XComponentWindow(OH_NativeXComponent* component);

// The table last registered on the component, or null.
OH_NativeXComponent_Callback* RegisteredCallback(OH_NativeXComponent* component);

// The next count id (or size) queries on the component return result without
// doing anything else; a count of zero or less cancels.
void InjectXComponentIdFailure(OH_NativeXComponent* component, int count, int32_t result);
void InjectXComponentSizeFailure(OH_NativeXComponent* component, int count, int32_t result);

// Invoke the registered callback with the component's current window. Do
// nothing when no table is registered or the table's entry is null.
void DispatchSurfaceCreated(OH_NativeXComponent* component);
void DispatchSurfaceChanged(OH_NativeXComponent* component);
void DispatchSurfaceDestroyed(OH_NativeXComponent* component);
void DispatchTouchEvent(OH_NativeXComponent* component);

}  // namespace ohos_desktop

#endif  // OHOS_DESKTOP_XCOMPONENT_HOST_H
