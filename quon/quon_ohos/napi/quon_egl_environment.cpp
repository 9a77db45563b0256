#include "quon_egl_environment.h"

#include <stdint.h>

#include <map>

#include "native_window/external_window.h"
#include "quon_egl_api.h"
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
// So each environment that initialised the display holds a reference, and
// only the last one out terminates it.
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

// Drops an environment's reference (if it holds one) and says whether the display
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

bool EglEnvironment::Create(void* window) {
  window_ = window;
  display_ = Api().eglGetDisplay(EGL_DEFAULT_DISPLAY);
  if (display_ == EGL_NO_DISPLAY) {
    TRACE_FAILURE(kGetDisplay);
    return false;
  }
  EGLint major = 0;
  EGLint minor = 0;
  if (!Api().eglInitialize(display_, &major, &minor)) {
    TRACE_FAILURE(kInitialize);
    return false;
  }
  if (!displayAcquired_) {
    AcquireDisplay(display_);
    displayAcquired_ = true;
  }
  EGLint count = 0;
  if (!Api().eglChooseConfig(display_, kConfigAttribs, &config_, 1, &count)) {
    TRACE_FAILURE(kChooseConfig);
    return false;
  }
  // A window the platform does not know is refused here: some EGL
  // implementations crash instead of failing when handed one.
  if (NativeWindowExists(window_)) {
    surface_ = Api().eglCreateWindowSurface(
        display_, config_, static_cast<EGLNativeWindowType>(reinterpret_cast<uintptr_t>(window_)),
        nullptr);
  }
  if (surface_ == EGL_NO_SURFACE) {
    TRACE_FAILURE(kCreateSurface);
    ReleaseCurrent();
    return false;
  }
  // A failed context shows up as a failure to make it current.
  context_ = Api().eglCreateContext(display_, config_, EGL_NO_CONTEXT, kContextAttribs);
  if (!Api().eglMakeCurrent(display_, surface_, surface_, context_)) {
    TRACE_FAILURE(kMakeCurrent);
    ReleaseCurrent();
    return false;
  }
  TRACE(Info, "CreateEnvironment") << "context:" << context_ << ",suface:" << surface_;
  PLATFORM(LOG_ERROR, kNativeTag, "EGLCore:: CreateEnvironment= %{public}d",
           TruncatedToInt(context_));
  return true;
}

// Our cores keep the shared display initialised while any of them holds it,
// but code outside the module may still terminate it. Every object made on
// it died then, and the driver may hand out their addresses again to the
// next core: destroying them at Destroy would destroy that core's objects.
// So they are forgotten, and only the display reference stays.
bool EglEnvironment::ForgetObjectsOfTerminatedDisplay(const char* operation) {
  // Only a display that is no longer initialised fails this query.
  if (display_ == EGL_NO_DISPLAY || Api().eglQueryString(display_, EGL_VENDOR) != nullptr)
    return false;
  TRACE(Error, operation) << "the display was terminated; surface " << surface_ << " and context "
                          << context_ << " are gone";
  surface_ = nullptr;
  context_ = nullptr;
  return true;
}

// Without a surface and a context there is nothing to draw to, whatever the
// driver would say to making "nothing" current.
bool EglEnvironment::MakeCurrent() {
  return surface_ != EGL_NO_SURFACE && context_ != EGL_NO_CONTEXT &&
         Api().eglMakeCurrent(display_, surface_, surface_, context_);
}

void EglEnvironment::ReleaseCurrent() {
  Api().eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

bool EglEnvironment::SwapBuffers() {
  return Api().eglSwapBuffers(display_, surface_) == EGL_TRUE;
}

// Each destruction is attempted on its own and each field cleared whatever
// the outcome, so a half-built environment is torn down as far as it exists.
void EglEnvironment::Destroy() {
  if (surface_ == nullptr || !Api().eglDestroySurface(display_, surface_)) {
    TRACE_FAILURE(kDestroySurface);
  }
  surface_ = nullptr;
  if (context_ == nullptr || !Api().eglDestroyContext(display_, context_)) {
    TRACE_FAILURE(kDestroyContext);
  }
  context_ = nullptr;
  ReleaseCurrent();
  const bool last_user = ReleaseDisplay(display_, displayAcquired_);
  displayAcquired_ = false;
  if (last_user && !Api().eglTerminate(display_)) {
    TRACE(Info, "Release");  // this failure opens with a bare line of its own
    TRACE_FAILURE(kTerminate);
  }
  display_ = nullptr;
  if (!Api().eglReleaseThread()) {
    TRACE_FAILURE(kReleaseThread);
  }
}
