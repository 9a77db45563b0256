#ifndef TESTS_SUPPORT_EGL_DRIVER_PIN_H_
#define TESTS_SUPPORT_EGL_DRIVER_PIN_H_

#include <EGL/egl.h>

#include "desktop/host_shell.h"

// Loads the EGL driver and keeps it loaded for the test process, as the
// host shell does for an app (see ohos_desktop::PinLoadedGraphicsDrivers):
// tests that draw call this once.
inline void PinEglDriver() {
  static const bool pinned = [] {
    EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr))
      return false;
    ohos_desktop::PinLoadedGraphicsDrivers();
    return true;
  }();
  (void)pinned;
}

#endif  // TESTS_SUPPORT_EGL_DRIVER_PIN_H_
