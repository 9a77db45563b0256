#include "key_map.h"

#include "desktop/host_shell.h"
#include "quon_renderManager.h"
#include "window_engine.h"

namespace player {

namespace {

// Seek keys: left and right, down and up.
constexpr double kShortSeekS = 5;
constexpr double kLongSeekS = 60;

}  // namespace

WindowEngine* EngineOf(const std::string& id,
                       const std::vector<std::unique_ptr<WindowEngine>>& engines) {
  for (auto& engine : engines)
    if (engine->id() == id)
      return engine.get();
  return nullptr;
}

void ApplyKey(int key, const std::string& id,
              const std::vector<std::unique_ptr<WindowEngine>>& engines) {
  WindowEngine* engine = EngineOf(id, engines);
  std::string render_id = id;
  using ohos_desktop::HostShell;
  // clang-format off
  switch (key) {
    case '1': case '2': case '3':
      if (engine)
        engine->SetScale(key - '0');  // kept across surface recreations
      else
        PluginManager::GetInstance()->SetScaleType(render_id, key - '0');
      break;
    case 'm':
      if (engine)
        engine->ToggleMirror();
      break;
    case 'r':
      if (engine)
        engine->RotateBy90();
      break;
    case 'c': if (engine) engine->RequestCapture("jpg"); break;
    case 'b': if (engine) engine->RequestCapture("bmp"); break;
    case 'k': if (engine) engine->RequestFillBlack(); break;
    case ' ': case 'p': if (engine) engine->TogglePause(); break;
    case 'q': case '\x1b': for (auto& e : engines) e->Stop(); break;
    case '.': if (engine) engine->Step(); break;
    case HostShell::kKeyLeft: if (engine) engine->SeekBy(-kShortSeekS); break;
    case HostShell::kKeyRight: if (engine) engine->SeekBy(kShortSeekS); break;
    case HostShell::kKeyDown: if (engine) engine->SeekBy(-kLongSeekS); break;
    case HostShell::kKeyUp: if (engine) engine->SeekBy(kLongSeekS); break;
    default: break;
  }
  // clang-format on
}

}  // namespace player
