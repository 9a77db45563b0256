#ifndef QUON_OHOS_NAPI_QUON_EGLCORE_TRACE_H_
#define QUON_OHOS_NAPI_QUON_EGLCORE_TRACE_H_

// The drawing core's runtime lines, written alike by each of its parts:
// the core's address, the operation, then the text. Every class that
// writes them says which core it belongs to with a member TracedCore():
// the core itself, or the core a part of it was made for.

#include "rtc_base/logging.h"

#define TRACE(severity, operation) LOG(severity) << TracedCore() << ": " << operation << ": "

// The steps of the core that can fail, each reported by the same two lines
// wherever it fails: a runtime line as TRACE writes it and a platform line,
// both with fixed texts that log tooling in the field looks for (the table
// in quon_eglcore_trace.cpp).
enum class CoreFailure {
  // EglContextInit: the environment, then the default program.
  kWindowNull,
  kBadArguments,
  kGetDisplay,
  kInitialize,
  kChooseConfig,
  kCreateSurface,
  kMakeCurrent,
  kCreateProgram,
  // The default program (LoadShader, CreateProgram).
  kCreateShader,
  kVertexShader,
  kFragmentShader,
  kCompileVertexShader,
  kCompileFragmentShader,
  kCreateProgramObject,
  kLinkProgram,
  // Drawing.
  kDrawMakeCurrent,
  kFillBlackMakeCurrent,
  // Release.
  kDestroySurface,
  kDestroyContext,
  kTerminate,
  kReleaseThread,
};

// Writes `failure`'s two lines for the core at `core`, the runtime line at
// `file` and `line` (the failing step's own place in the source).
void TraceFailure(const void* core, CoreFailure failure, const char* file, int line);

#define TRACE_FAILURE(failure) TraceFailure(TracedCore(), CoreFailure::failure, __FILE__, __LINE__)

#endif  // QUON_OHOS_NAPI_QUON_EGLCORE_TRACE_H_
