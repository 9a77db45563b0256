// The drawing core's EGL environment on the native window: display,
// configuration, surface and context made, made current, released and torn
// down. The programs are built in quon_eglcore_programs.cpp and the frames
// drawn in quon_eglcore.cpp.

#include <stdint.h>

#include <map>

#include "native_window/external_window.h"
#include "quon_egl_api.h"
#include "quon_eglcore.h"
#include "quon_eglcore_trace.h"
#include "rtc_base/mutex.h"
#include "quon_platform_log.h"

namespace {

using namespace platform_log;  // the domain, tags and TruncatedToInt

// One attribute and its value a line.
// clang-format off
const EGLint kConfigAttribs[] = {
    EGL_SURFACE_TYPE, EGL_WINDOW_BIT,
    EGL_RED_SIZE, 8,
    EGL_GREEN_SIZE, 8,
    EGL_BLUE_SIZE, 8,
    EGL_ALPHA_SIZE, 8,
    EGL_RENDERABLE_TYPE, EGL_OPENGL_ES2_BIT,
    EGL_NONE,
};
// clang-format on
const EGLint kContextAttribs[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};

bool NativeWindowExists(void* window) {
  int32_t height = 0;
  int32_t width = 0;
  return OH_NativeWindow_NativeWindowHandleOpt(static_cast<OHNativeWindow*>(window),
                                               GET_BUFFER_GEOMETRY, &height, &width) == 0;
}

// Every core gets the same display from eglGetDisplay(EGL_DEFAULT_DISPLAY),
// and eglTerminate would pull it from under every other core still drawing.
// So each core that initialised the display holds a reference, and only the
// last one out terminates it.
struct DisplayReferences {
  rtc::Mutex mutex;
  std::map<EGLDisplay, int> counts RTC_GUARDED_BY(mutex);
};

DisplayReferences& Displays() {
  static auto* displays = new DisplayReferences;
  return *displays;
}

void AcquireDisplay(EGLDisplay display) {
  DisplayReferences& displays = Displays();
  rtc::MutexLock lock(&displays.mutex);
  ++displays.counts[display];
}

// Drops this core's reference (if it holds one) and says whether the display
// is now unused, so that it may be terminated.
bool ReleaseDisplay(EGLDisplay display, bool held) {
  DisplayReferences& displays = Displays();
  rtc::MutexLock lock(&displays.mutex);
  auto& references = displays.counts;
  auto it = references.find(display);
  if (it == references.end())
    return true;
  if (held && --it->second == 0) {
    references.erase(it);
    return true;
  }
  return false;
}

}  // namespace

// --- Environment -------------------------------------------------------------

bool EGLCore::EglContextInit(void* window, int32_t w, int32_t h) {
  if (window == nullptr) {
    TRACE_FAILURE(kWindowNull);
  } else if (w >= 1 && h >= 1) {
    nativeWindow = window;
    width = w;
    height = h;
    drawnAspectRatio = static_cast<float>(w) / static_cast<float>(h);
    frameWidth = frameHeight = 0;  // a new surface's size: the matrix is made again
    TRACE(Info, "EglContextInit") << "w,h=" << width << "," << height << "," << drawnAspectRatio;
    PLATFORM(LOG_ERROR, kNativeTag, "EGLCore::EglContextInit 1 %{public}d,%{public}d,", width,
             height);
    return CreateEnvironment();
  }
  TRACE_FAILURE(kBadArguments);
  return false;
}

bool EGLCore::CreateEnvironment() {
  display = Api().eglGetDisplay(EGL_DEFAULT_DISPLAY);
  if (display == EGL_NO_DISPLAY) {
    TRACE_FAILURE(kGetDisplay);
    return false;
  }
  EGLint major = 0;
  EGLint minor = 0;
  if (!Api().eglInitialize(display, &major, &minor)) {
    TRACE_FAILURE(kInitialize);
    return false;
  }
  if (!displayAcquired) {
    AcquireDisplay(display);
    displayAcquired = true;
  }
  EGLint count = 0;
  if (!Api().eglChooseConfig(display, kConfigAttribs, &config, 1, &count)) {
    TRACE_FAILURE(kChooseConfig);
    return false;
  }
  // A window the platform does not know is refused here: some EGL
  // implementations crash instead of failing when handed one.
  if (NativeWindowExists(nativeWindow)) {
    surface = Api().eglCreateWindowSurface(
        display, config,
        static_cast<EGLNativeWindowType>(reinterpret_cast<uintptr_t>(nativeWindow)), nullptr);
  }
  if (surface == EGL_NO_SURFACE) {
    TRACE_FAILURE(kCreateSurface);
    return FailEnvironment();
  }
  // A failed context shows up as a failure to make it current.
  context = Api().eglCreateContext(display, config, EGL_NO_CONTEXT, kContextAttribs);
  if (!Api().eglMakeCurrent(display, surface, surface, context)) {
    TRACE_FAILURE(kMakeCurrent);
    return FailEnvironment();
  }
  TRACE(Info, "CreateEnvironment") << "context:" << context << ",suface:" << surface;
  PLATFORM(LOG_ERROR, kNativeTag, "EGLCore:: CreateEnvironment= %{public}d",
           TruncatedToInt(context));
  program = CreateProgram();
  if (program == 0) {
    TRACE_FAILURE(kCreateProgram);
    return FailEnvironment();
  }
  LookUpLocations();
  SetConstantState();
  ReleaseCurrent();
  return true;
}

// Leaves every handle made so far for Release() to destroy.
bool EGLCore::FailEnvironment() {
  program = 0;
  ReleaseCurrent();
  return false;
}

// Our cores keep the shared display initialised while any of them holds it,
// but code outside the module may still terminate it. Every object made on
// it died then, and the driver may hand out their addresses again to the
// next core: destroying them at Release would destroy that core's objects.
// So they are forgotten, and only the display reference stays for Release.
void EGLCore::ForgetObjectsOfTerminatedDisplay(const char* operation) {
  // Only a display that is no longer initialised fails this query.
  if (display == EGL_NO_DISPLAY || Api().eglQueryString(display, EGL_VENDOR) != nullptr)
    return;
  TRACE(Error, operation) << "the display was terminated; surface " << surface << " and context "
                          << context << " are gone";
  surface = nullptr;
  context = nullptr;
  program = 0;
  _ytid = _utid = _vtid = 0;
  colour = ColourProgram();
  biplanar = BiplanarProgram();
  activeProgram = 0;
}

// Without a surface and a context there is nothing to draw to, whatever the
// driver would say to making "nothing" current.
bool EGLCore::MakeCurrent() {
  return surface != EGL_NO_SURFACE && context != EGL_NO_CONTEXT &&
         Api().eglMakeCurrent(display, surface, surface, context);
}

void EGLCore::ReleaseCurrent() {
  Api().eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

void EGLCore::Release() {
  TRACE(Info, "Release") << "begine.";
  ReleaseObj();
  DeleteTexture();
  if (display == nullptr) {
    PLATFORM(LOG_ERROR, kNativeTag, "no again");
    TRACE(Info, "Release") << "no again.";
    return;
  }
  PLATFORM(LOG_ERROR, kNativeTag, "egl Release begin");
  DestroyEglObjects();
  PLATFORM(LOG_ERROR, kNativeTag, "egl Release end");
  TRACE(Info, "Release") << "end.";
}

// The program goes without making the context current: on the calling
// thread, exactly as the owner's teardown has always done.
void EGLCore::ReleaseObj() {
  ReleaseColourProgram();
  if (program == 0)
    return;
  TRACE(Info, "ReleaseObj") << "delete program.";
  PLATFORM(LOG_INFO, kNativeTag, "delete program.");
  Api().glDeleteProgram(program);
  program = 0;
  m_positionHandle = matrixHandle = coordHandle = 0;
  yhandle = uhandle = vhandle = 0;
}

// Each destruction is attempted on its own and each field cleared whatever
// the outcome, so a half-built environment is torn down as far as it exists.
void EGLCore::DestroyEglObjects() {
  if (surface == nullptr || !Api().eglDestroySurface(display, surface)) {
    TRACE_FAILURE(kDestroySurface);
  }
  surface = nullptr;
  if (context == nullptr || !Api().eglDestroyContext(display, context)) {
    TRACE_FAILURE(kDestroyContext);
  }
  context = nullptr;
  ReleaseCurrent();
  const bool last_user = ReleaseDisplay(display, displayAcquired);
  displayAcquired = false;
  if (last_user && !Api().eglTerminate(display)) {
    TRACE(Info, "Release");  // this failure opens with a bare line of its own
    TRACE_FAILURE(kTerminate);
  }
  display = nullptr;
  if (!Api().eglReleaseThread()) {
    TRACE_FAILURE(kReleaseThread);
  }
}
