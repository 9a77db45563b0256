#ifndef TESTS_SUPPORT_EGL_DRIVER_PIN_H_
#define TESTS_SUPPORT_EGL_DRIVER_PIN_H_

#include <EGL/egl.h>
#include <dlfcn.h>
#include <link.h>
#include <string.h>

// Mesa unloads its DRI driver when the last display is terminated, and the
// driver keeps a few allocations for the life of the process. Once the
// driver is unloaded, LeakSanitizer can no longer name the module that made
// them and they cannot be told apart from ours. Tests that draw call this
// once: it loads the driver and marks it never to be unloaded, so its
// allocations stay attributable (tests/sanitizers/lsan.supp).
inline void PinEglDriver() {
  static const bool pinned = [] {
    EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr))
      return false;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) {
          if (info->dlpi_name != nullptr && strstr(info->dlpi_name, "_dri.so") != nullptr)
            dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
          return 0;
        },
        nullptr);
    return true;
  }();
  (void)pinned;
}

#endif  // TESTS_SUPPORT_EGL_DRIVER_PIN_H_
