// Built, never run: what an engine sees when it includes the module's
// public face (see tests/CMakeLists.txt).

#include "quon_renderManager.h"

#if defined(__egl_h_) || defined(__gles2_gl2_h_) || defined(__gles2_gl3_h_)
#error "the module's public headers must not reach EGL or GLES headers"
#endif

// Everything an engine calls is declared.
[[maybe_unused]] static PluginRender* (PluginManager::*const kObserve)(
    std::string&, rtc::DestroyObserver*) = &PluginManager::FindRenderAndObserve;
