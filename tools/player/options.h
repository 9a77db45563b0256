#ifndef TOOLS_PLAYER_OPTIONS_H_
#define TOOLS_PLAYER_OPTIONS_H_

#include <stdint.h>

#include <string>
#include <vector>

namespace player {

struct Capture {
  int64_t frame = 0;  // 1-based frame number
  std::string path;   // .jpg or .jpeg: JPEG; .bmp: BMP (any case)
};

enum class InputFormat { kAuto, kY4m, kI420 };

struct Options {
  std::string input;  // empty: the built-in pattern; "-": standard input
  InputFormat format = InputFormat::kAuto;  // kAuto: .yuv is raw I420, anything else y4m
  int raw_width = 0, raw_height = 0;
  double fps = -1;     // -1: the input's rate (30 when it has none); 0: as fast as possible
  // Settled by the input (DescribeInput): frames are shown at their own
  // times (a container's, unless --fps says otherwise), not evenly spaced.
  bool by_timestamps = false;
  int64_t frames = -1; // -1: the whole input (the pattern: 150 frames)
  double start_s = 0;  // > 0: the play begins at this time of the input
  bool loop = false;   // as given; a timed play loops too (Loops())
  int surface_width = 0, surface_height = 0;  // 0: the frame size
  int scale = 2;                              // 1 stretch, 2 fit, 3 fill
  bool scale_given = false;
  int color_range = -1;   // -1: the input's (its tag, else limited); 0 full, 1 limited
  int color_matrix = -1;  // -1: the input's (its tag, else by size); 601, 709 or 2020
  int rotation = 0;       // clockwise degrees, on top of the input's own
  bool mirror = false;
  std::string id = "player";
  int windows = 1;
  std::vector<Capture> captures;
  int quality = 90;
  std::string screenshot;
  std::string log;
  bool log_append = false;
  std::string stats;
  std::string module;
  // Soak runs: play for a time, disturb the module while it plays.
  double duration_s = 0;        // > 0: play this long, looping the input
  int recreate_every_ms = 0;    // > 0: each window's surface destroyed and recreated this often
  int64_t capture_every = 0;    // > 0: every N frames per window, alternately JPEG and BMP...
  std::string capture_dir;      // ...into DIR/<id>.jpg and DIR/<id>.bmp
  int64_t cycle_scale = 0;      // > 0: the next scale type every N frames
  int slow_listener_ms = 0;     // > 0: the log listener takes this long per line
  bool quiet = false;
  bool verbose = false;
  bool help = false;
  bool version = false;

  bool Loops() const { return loop || duration_s > 0; }
  // Whether the input is read as raw I420 frames.
  bool RawInput() const;
  // Whether the input's name says YUV4MPEG2 (.y4m).
  bool HasY4mName() const;
};

// Parses the command line. False, with one line in `error`, on bad usage.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);
const char* HelpText();

}  // namespace player

#endif  // TOOLS_PLAYER_OPTIONS_H_
