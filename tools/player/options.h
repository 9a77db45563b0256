#ifndef TOOLS_PLAYER_OPTIONS_H_
#define TOOLS_PLAYER_OPTIONS_H_

#include <stdint.h>

#include <string>
#include <vector>

namespace player {

struct Capture {
  int64_t frame = 0;  // 1-based frame number
  std::string path;   // ".bmp" in any case: BMP; anything else: JPEG
};

struct Options {
  std::string input;  // empty: the built-in pattern
  int raw_width = 0, raw_height = 0;
  double fps = -1;     // -1: the input's rate (30 when it has none); 0: as fast as possible
  int64_t frames = -1; // -1: the whole input (the pattern: 150 frames)
  bool loop = false;
  int surface_width = 0, surface_height = 0;  // 0: the frame size
  int scale = 2;                              // 1 stretch, 2 fit, 3 fill
  std::string id = "player";
  int windows = 1;
  std::vector<Capture> captures;
  int quality = 90;
  std::string screenshot;
  std::string log;
  std::string module;
  bool quiet = false;
  bool help = false;
};

// Parses the command line. False, with one line in `error`, on bad usage.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);
const char* HelpText();

}  // namespace player

#endif  // TOOLS_PLAYER_OPTIONS_H_
