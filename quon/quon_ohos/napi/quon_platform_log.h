#ifndef QUON_OHOS_NAPI_QUON_PLATFORM_LOG_H_
#define QUON_OHOS_NAPI_QUON_PLATFORM_LOG_H_

// The module's lines in the platform log: its domain, the tags it writes
// under and one statement form, so that every file writes them alike.

#include <stdint.h>

#include "hilog/log.h"

namespace platform_log {

constexpr unsigned int kLogDomain = 0x101;

constexpr const char* kNativeTag = "[NATIVE]";
constexpr const char* kCallbackTag = "Callback";
constexpr const char* kInitTag = "[Initrender]";
constexpr const char* kManagerTag = "PluginManager";
constexpr const char* kWindowTag = "GetNativeWindow";
constexpr const char* kEglTag = "EGLCore";

// Handles appear in platform lines as "%d": the pointer truncated to an int,
// which on a 64-bit device keeps only its low 32 bits.
inline int TruncatedToInt(const void* handle) {
  return static_cast<int>(reinterpret_cast<intptr_t>(handle));
}

}  // namespace platform_log

// PLATFORM(LOG_ERROR, platform_log::kNativeTag, "format %{public}d", value):
// one line of the app's log type in the module's domain. Most of the
// module's lines are at LOG_ERROR whatever they say, as field tooling
// expects them.
#define PLATFORM(level, tag, ...) \
  OH_LOG_Print(LOG_APP, level, platform_log::kLogDomain, tag, __VA_ARGS__)

#endif  // QUON_OHOS_NAPI_QUON_PLATFORM_LOG_H_
