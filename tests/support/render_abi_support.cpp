// The library side of the interface test: hands renderers out as untyped
// pointers, the way a separately built engine receives them.

#include <string>

#include "quon_render.h"
#include "quon_renderManager.h"

namespace abi_support {

void* NewRenderer(const char* id) {
  std::string key = id;
  rtc::IVideoRender* render = PluginRender::GetInstance(key);
  return render;
}

int RendererWidth(const char* id) {
  PluginRender* render = PluginRender::FindInstance(id);
  return render != nullptr ? render->width() : -1;
}

bool FirstLayoutStatistics(const char* id, void* out) {
  std::string key = id;
  // The overload taken by its type, as an engine of that layout binds it.
  bool (PluginManager::*first_layout)(std::string&, RenderStatistics*) =
      &PluginManager::GetRenderStatistics;
  return (PluginManager::GetInstance()->*first_layout)(key, static_cast<RenderStatistics*>(out));
}

void ReleaseRenderer(const char* id) {
  std::string key = id;
  PluginRender::Release(key);
}

}  // namespace abi_support
