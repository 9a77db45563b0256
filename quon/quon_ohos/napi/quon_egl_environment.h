#ifndef QUON_OHOS_NAPI_QUON_EGL_ENVIRONMENT_H_
#define QUON_OHOS_NAPI_QUON_EGL_ENVIRONMENT_H_

#include <EGL/egl.h>

// A drawing core's EGL environment on one native window: the display, a
// configuration, the window surface and an OpenGL ES 2 context. The context
// is current only between MakeCurrent and ReleaseCurrent, so the
// environment may be built on one thread, used on another and destroyed on
// the first.
//
// The display is the one every core shares; each environment that
// initialised it holds a reference, and only the last one out terminates
// it. Not thread-safe: the core serialises calls. Its lines carry the
// address of the core it was made for.
class EglEnvironment {
 public:
  explicit EglEnvironment(const void* core) : core_(core) {}
  EglEnvironment(const EglEnvironment&) = delete;
  EglEnvironment& operator=(const EglEnvironment&) = delete;

  // Display, configuration, surface and context on `window`, the context
  // left current. False when a step failed, said with its lines: the
  // handles made so far stay for Destroy, and no context is current.
  bool Create(void* window);
  // Makes the context current on the surface. False without a surface and
  // a context, or when the driver refuses.
  bool MakeCurrent();
  void ReleaseCurrent();
  // Presents the surface; whether the driver did.
  bool SwapBuffers();
  // After a failed MakeCurrent: whether the display was terminated under
  // the core. Its objects died with it, and the driver may hand their
  // addresses to the next core's, so surface and context are forgotten
  // (said with a line for `operation`) and only the display reference stays
  // for Destroy.
  bool ForgetObjectsOfTerminatedDisplay(const char* operation);
  // Destroys surface and context, each attempted on its own and each
  // failure said, terminates the display when no other core holds it, and
  // releases the thread's EGL state. Call only while display() is set.
  void Destroy();

  void* window() const { return window_; }
  EGLDisplay display() const { return display_; }  // null: none
  EGLSurface surface() const { return surface_; }
  EGLContext context() const { return context_; }

 private:
  const void* TracedCore() const { return core_; }

  const void* const core_;
  void* window_ = nullptr;  // borrowed from the XComponent
  EGLDisplay display_ = nullptr;
  EGLConfig config_ = nullptr;
  EGLSurface surface_ = nullptr;
  EGLContext context_ = nullptr;
  // Whether this environment holds a reference on display_.
  bool displayAcquired_ = false;
};

#endif  // QUON_OHOS_NAPI_QUON_EGL_ENVIRONMENT_H_
