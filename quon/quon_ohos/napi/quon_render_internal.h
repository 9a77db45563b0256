#ifndef QUON_OHOS_NAPI_QUON_RENDER_INTERNAL_H_
#define QUON_OHOS_NAPI_QUON_RENDER_INTERNAL_H_

// The module's own view of its public headers, which include this file
// when the module itself is built (NATIVERENDER_BUILDING_MODULE; never
// installed). There the locks inside the objects an engine also sees are the
// runtime's annotated mutex, so clang's lock analysis checks every member
// they guard; an engine sees a std::mutex in the same place, with the same
// layout, and no annotation at all.

#include <stdint.h>

#include <mutex>
#include <string>

#include "ace/xcomponent/native_interface_xcomponent.h"
#include "rtc_base/mutex.h"
#include "rtc_base/thread_annotations.h"

namespace nativerender_detail {
using Mutex = rtc::Mutex;
}  // namespace nativerender_detail

static_assert(sizeof(rtc::Mutex) == sizeof(std::mutex) &&
                  alignof(rtc::Mutex) == alignof(std::mutex),
              "the module's lock must keep the layout an engine sees: std::mutex's");

#define NATIVERENDER_GUARDED_BY(lock) RTC_GUARDED_BY(lock)
#define NATIVERENDER_REQUIRES(...) RTC_REQUIRES(__VA_ARGS__)
#define NATIVERENDER_EXCLUDES(...) RTC_EXCLUDES(__VA_ARGS__)

// Asks the platform for `component`'s id through a zero-filled buffer of
// OH_XCOMPONENT_ID_LEN_MAX + 1 bytes. False when the platform refuses; the
// platform's result goes to `result` when given.
bool QueryXComponentId(OH_NativeXComponent* component, std::string* id, int32_t* result = nullptr);

#endif  // QUON_OHOS_NAPI_QUON_RENDER_INTERNAL_H_
