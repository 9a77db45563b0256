#ifndef TOOLS_PLAYER_MESSAGES_H_
#define TOOLS_PLAYER_MESSAGES_H_

// How the player says what went wrong, and counts in words.

#include <stdio.h>

#include <string>

namespace player {

// One line on standard error, behind the player's name.
inline void Fail(const std::string& message) {
  fprintf(stderr, "nativerender-player: %s\n", message.c_str());
}

// The plural ending for `count` things: "s", or nothing for one.
inline const char* Plural(long long count) {
  return count == 1 ? "" : "s";
}

}  // namespace player

#endif  // TOOLS_PLAYER_MESSAGES_H_
