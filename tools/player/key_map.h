#ifndef TOOLS_PLAYER_KEY_MAP_H_
#define TOOLS_PLAYER_KEY_MAP_H_

// What the keys pressed in a window do to its play (the help text lists
// them): scale type, mirror and turn, captures, black, pause, step, seeks,
// and quitting every window.

#include <memory>
#include <string>
#include <vector>

namespace player {

class WindowEngine;

// Key `key` (a character, or one of the host shell's arrow keys) pressed in
// the window `id`. Runs on the UI thread.
void ApplyKey(int key, const std::string& id,
              const std::vector<std::unique_ptr<WindowEngine>>& engines);

// The engine of the window `id`, or null.
WindowEngine* EngineOf(const std::string& id,
                       const std::vector<std::unique_ptr<WindowEngine>>& engines);

}  // namespace player

#endif  // TOOLS_PLAYER_KEY_MAP_H_
