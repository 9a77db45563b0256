#include "quon_eglcore_trace.h"

#include "quon_platform_log.h"

namespace {

using namespace platform_log;  // the domain and tags
using rtc::LogSeverity;

struct FailureLines {
  CoreFailure failure;  // the row's own step, checked against its place below
  LogSeverity severity;
  const char* operation;
  const char* trace;  // after "operation: "
  const char* tag;    // of the platform line, always at LOG_ERROR
  const char* platform;
};

// In the order of CoreFailure. The texts are reproduced letter for letter,
// typos included: log tooling in the field greps them.
// clang-format off
constexpr FailureLines kFailureLines[] = {
    {CoreFailure::kWindowNull, LogSeverity::Error, "EglContextInit", "window=nullptr",
     kNativeTag, "GLCore::EglContextInit window=nullptr"},
    {CoreFailure::kBadArguments, LogSeverity::Error, "EglContextInit", " param error",
     kNativeTag, "EGLCore::EglContextInit: param error"},
    {CoreFailure::kGetDisplay, LogSeverity::Error, "ContextInit", "eglDisplay error",
     kNativeTag, "EGLCore:: eglGetDisplay: unable to get EGL display"},
    {CoreFailure::kInitialize, LogSeverity::Error, "ContextInit", "eglInitialize failed",
     kNativeTag, "EGLCore:: eglInitialize: unable to get initialize EGL display"},
    {CoreFailure::kChooseConfig, LogSeverity::Error, "ContextInit", "eglChooseConfig failed",
     kNativeTag, "EGLCore::eglChooseConfig: unable to choose configs"},
    {CoreFailure::kCreateSurface, LogSeverity::Error, "CreateEnvironment", "surface is null",
     kNativeTag, "EGLCore:: eglCreateWindowSurface: unable to create surface"},
    {CoreFailure::kMakeCurrent, LogSeverity::Error, "CreateEnvironment", "eglMakeCurrent failed",
     kNativeTag, "EGLCore::eglMakeCurrent failed"},
    {CoreFailure::kCreateProgram, LogSeverity::Error, "CreateEnvironment", "CreateProgram failed",
     kNativeTag, "EGLCore::CreateProgram: unable to create program"},
    {CoreFailure::kCreateShader, LogSeverity::Error, "LoadShader", "glCreateShader unable to load shader",
     kNativeTag, "EGLCore:: glCreateShader unable to load shader"},
    {CoreFailure::kVertexShader, LogSeverity::Error, "CreateProgram", "vertex_shader error",
     kNativeTag, "EGLCore1:: createProgram vertex error"},
    {CoreFailure::kFragmentShader, LogSeverity::Error, "CreateProgram", "fragment_shader error",
     kNativeTag, "EGLCore1:: createProgram fragment error"},
    {CoreFailure::kCompileVertexShader, LogSeverity::Error, "CreateProgram", "vertex_shader1 error",
     kNativeTag, "EGLCore1:: createProgram vertex_shader error"},
    {CoreFailure::kCompileFragmentShader, LogSeverity::Error, "CreateProgram", "fragment_shader1 error",
     kNativeTag, "EGLCore1:: createProgram fragment_shader error"},
    {CoreFailure::kCreateProgramObject, LogSeverity::Error, "CreateProgram", "createProgram program error",
     kNativeTag, "EGLCore1:: createProgram program error"},
    {CoreFailure::kLinkProgram, LogSeverity::Error, "CreateProgram", "linkedStatus==error!!!",
     kNativeTag, "EGLCore1:: createProgram linkedStatus==error=linkedStatus[0]"},
    {CoreFailure::kDrawMakeCurrent, LogSeverity::Error, "onRenderData", "makecureent failed",
     kNativeTag, "EGLCore shard contxt makecureent failed!!!"},
    {CoreFailure::kFillBlackMakeCurrent, LogSeverity::Error, "FillBlack", "makecureent failed",
     kNativeTag, "EGLCore shard1 contxt makecureent failed!!!"},
    // Release's failures trace at Info, and their platform lines carry the tag "EGLCore".
    {CoreFailure::kDestroySurface, LogSeverity::Info, "Release", "",
     kEglTag, "Release eglDestroySurface failed"},
    {CoreFailure::kDestroyContext, LogSeverity::Info, "Release", " Release eglDestroyContext failed",
     kEglTag, "Release eglDestroyContext failed"},
    {CoreFailure::kTerminate, LogSeverity::Info, "Release", " Release eglTerminate failed",
     kEglTag, "Release eglTerminate failed"},
    {CoreFailure::kReleaseThread, LogSeverity::Info, "Release", " eglReleaseThread failed",
     kEglTag, "eglReleaseThread failed"},
};
// clang-format on

constexpr bool RowsInOrder() {
  for (size_t i = 0; i < sizeof(kFailureLines) / sizeof(kFailureLines[0]); ++i) {
    if (static_cast<size_t>(kFailureLines[i].failure) != i)
      return false;
  }
  return true;
}
static_assert(RowsInOrder(), "kFailureLines has one row per CoreFailure, in its order");
static_assert(sizeof(kFailureLines) / sizeof(kFailureLines[0]) ==
                  static_cast<size_t>(CoreFailure::kReleaseThread) + 1,
              "every CoreFailure has its row");

}  // namespace

void TraceFailure(const void* core, CoreFailure failure, const char* file, int line) {
  const FailureLines& lines = kFailureLines[static_cast<size_t>(failure)];
  RTC_LOG_IMPL(file, line, lines.severity, ::rtc::LogErrorContext(), 0)
      << core << ": " << lines.operation << ": " << lines.trace;
  PLATFORM(LOG_ERROR, lines.tag, "%{public}s", lines.platform);
}
