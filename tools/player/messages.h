#ifndef TOOLS_PLAYER_MESSAGES_H_
#define TOOLS_PLAYER_MESSAGES_H_

// How the player talks to its user: lines on its outputs, the progress line
// a terminal shows rewritten in place, and counts in words.

#include <stdio.h>

#include <string>

namespace player {

// One line on `stream`. A progress line on the terminal is cleared first
// (the next progress puts it back), so that the two never share a line.
// Safe on any thread.
void Say(FILE* stream, const std::string& line);

// One line on standard error, behind the player's name.
void Fail(const std::string& message);

// Progress on a terminal: `text` replaces the progress line in place.
void ShowStatus(const std::string& text);
// Leaves the progress line, if one is shown, as it is and moves below it.
void EndStatus();

// The plural ending for `count` things: "s", or nothing for one.
inline const char* Plural(long long count) {
  return count == 1 ? "" : "s";
}

}  // namespace player

#endif  // TOOLS_PLAYER_MESSAGES_H_
