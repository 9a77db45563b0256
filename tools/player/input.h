#ifndef TOOLS_PLAYER_INPUT_H_
#define TOOLS_PLAYER_INPUT_H_

// What the player makes of its input before it plays: a source for each
// window, what the input's own tags change, the rate the engines pace by,
// and the size of the window that shows it.

#include <memory>
#include <string>

#include "engine/video_source.h"
#include "options.h"

namespace player {

// The input named by the options, or the built-in pattern (640x360 unless
// --size says otherwise), with --range and --matrix applied, at --start.
// A y4m file (by its name or its first bytes), raw I420 with --size, and
// anything else a container read through FFmpeg's libraries (a y4m in a
// build without them). Null, with one line in `error`, when it cannot be
// read or cannot start where --start says. Non-square pixels come out
// scaled to square ones, so the picture keeps its shape at every size.
std::unique_ptr<engine::VideoSource> OpenSource(const Options& options, std::string* error);

// How messages and the window's title name the input: its file name,
// "standard input", or "test pattern".
std::string InputName(const Options& options);

// Settles the options the input decides. Interlaced frames are shown as
// they are, with a warning. A
// container's frames are shown at their own times unless --fps is given.
// The rate is --fps, else the input's, else 30; one too fast or too slow to
// pace is said once and played at what can be.
void DescribeInput(const engine::VideoSource& source, Options* options);

// The turn the picture is shown with, clockwise degrees: the input's own
// (a stream's display matrix) and the user's (--rotate, the r key) on top.
// The one place where the two meet.
int DisplayRotation(int input_rotation, int user_rotation);

// The frame's size, or its display size with non-square pixels, turned as
// the picture is shown (a quarter turn exchanges the sides), shrunk
// (keeping its shape) to fit the screen; --surface as given.
void WindowSize(const engine::VideoSource& source, const Options& options, int screen_width,
                int screen_height, int* width, int* height);

}  // namespace player

#endif  // TOOLS_PLAYER_INPUT_H_
