#ifndef TOOLS_PLAYER_CHECKS_H_
#define TOOLS_PLAYER_CHECKS_H_

// What the player checks before it plays, so that a play never ends in an
// error it could have named at the start.

#include <string>

#include "options.h"

namespace player {

// The input as a file: a directory, an empty file or a raw file that is not
// a whole number of frames is refused with one line. `pipe` says whether the
// input can be read only once (standard input or a FIFO), and the options
// that need it read again are refused then.
bool CheckInput(const Options& options, bool* pipe, std::string* error);

// Every file the play will write (captures, screenshot, log, figures) and
// the periodic captures' folder: refused when it names a directory or
// something other than a regular file (the player removes a capture's file
// before writing it), its folder is missing or not writable, or it is the
// file another output writes too.
bool CheckOutputs(const Options& options, std::string* error);

// Why `path` could not be written now, or an empty string when it can.
std::string WhyNotWritable(const std::string& path);

}  // namespace player

#endif  // TOOLS_PLAYER_CHECKS_H_
