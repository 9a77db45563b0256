// The library side of the interface test: hands renderers out as untyped
// pointers, the way a separately built engine receives them.

#include <string>

#include "quon_render.h"

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

void ReleaseRenderer(const char* id) {
  std::string key = id;
  PluginRender::Release(key);
}

}  // namespace abi_support
