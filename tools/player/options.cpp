#include "options.h"

#include <ctype.h>
#include <math.h>
#include <stdlib.h>

#include <functional>
#include <initializer_list>
#include <map>
#include <utility>

namespace player {

namespace {

bool ParseInt(const std::string& text, int64_t min, int64_t max, int64_t* value) {
  if (text.empty() || isspace(static_cast<unsigned char>(text[0])))
    return false;
  char* end = nullptr;
  const long long parsed = strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || parsed < min || parsed > max)
    return false;
  *value = parsed;
  return true;
}

// A plain decimal number (no hex, no exponent, no inf or nan).
bool ParseDecimal(const std::string& text, double min, double max, double* value) {
  if (text.empty())
    return false;
  for (char c : text)
    if (!isdigit(static_cast<unsigned char>(c)) && c != '.')
      return false;
  char* end = nullptr;
  const double parsed = strtod(text.c_str(), &end);
  if (*end != '\0' || !(parsed >= min && parsed <= max))
    return false;
  *value = parsed;
  return true;
}

bool ParseSize(const std::string& text, int* width, int* height) {
  const size_t x = text.find('x');
  int64_t w = 0, h = 0;
  if (x == std::string::npos || !ParseInt(text.substr(0, x), 1, 16384, &w) ||
      !ParseInt(text.substr(x + 1), 1, 16384, &h))
    return false;
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return true;
}

// N or N/D (30000/1001), 0..1000.
bool ParseFps(const std::string& text, double* fps) {
  const size_t slash = text.find('/');
  double numerator = 0, denominator = 1;
  if (slash == std::string::npos)
    return ParseDecimal(text, 0, 1000, fps);
  if (!ParseDecimal(text.substr(0, slash), 0, 1e9, &numerator) ||
      !ParseDecimal(text.substr(slash + 1), 1e-9, 1e9, &denominator))
    return false;
  *fps = numerator / denominator;
  return *fps <= 1000;
}

// Seconds, or [H:]M:S with a fractional second (1:30, 0:01:30.5).
bool ParseTime(const std::string& text, double* seconds) {
  double total = 0;
  size_t begin = 0;
  for (int field = 0;; ++field) {
    const size_t colon = text.find(':', begin);
    const bool last = colon == std::string::npos;
    double value = 0;
    if (field > 2 ||
        !ParseDecimal(text.substr(begin, last ? std::string::npos : colon - begin), 0,
                      last ? 1e7 : 1e5, &value) ||
        (field > 0 && value >= 60))
      return false;
    total = total * 60 + value;
    if (last)
      break;
    begin = colon + 1;
  }
  *seconds = total;
  return true;
}

std::string Lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Extension(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return std::string();
  return Lower(path.substr(dot + 1));
}

// How to apply an option's value, and what it accepts, for the message
// that refuses a bad one.
struct ValueOption {
  std::function<bool(const std::string& value, Options* options)> apply;
  const char* accepts;
};

// An option whose value is a whole number from `min` to `max`, kept in an
// int field of the options.
ValueOption IntOption(int64_t min, int64_t max, int Options::*field, const char* accepts) {
  return {[=](const std::string& v, Options* o) {
            int64_t n = 0;
            if (!ParseInt(v, min, max, &n))
              return false;
            o->*field = static_cast<int>(n);
            return true;
          },
          accepts};
}

// One of a few words, each standing for a value of `field`; `given`, when
// set, records that the option was given.
template <typename T>
ValueOption WordOption(std::initializer_list<std::pair<const char*, T>> words, T Options::*field,
                       const char* accepts, bool Options::*given = nullptr) {
  const std::vector<std::pair<std::string, T>> table(words.begin(), words.end());
  return {[=](const std::string& v, Options* o) {
            for (const auto& [word, value] : table) {
              if (v != word)
                continue;
              o->*field = value;
              if (given != nullptr)
                o->*given = true;
              return true;
            }
            return false;
          },
          accepts};
}

const std::map<std::string, ValueOption>& ValueOptions() {
  static const std::map<std::string, ValueOption> options = {
      {"--size",
       {[](const std::string& v, Options* o) {
          return ParseSize(v, &o->raw_width, &o->raw_height);
        },
        "WxH, each 1..16384"}},
      {"--surface",
       {[](const std::string& v, Options* o) {
          return ParseSize(v, &o->surface_width, &o->surface_height);
        },
        "WxH, each 1..16384"}},
      {"--format",
       WordOption<InputFormat>({{"y4m", InputFormat::kY4m}, {"i420", InputFormat::kI420}},
                               &Options::format, "y4m or i420")},
      {"--fps",
       {[](const std::string& v, Options* o) { return ParseFps(v, &o->fps); },
        "0..1000, a number or a ratio such as 30000/1001"}},
      {"--frames",
       {[](const std::string& v, Options* o) { return ParseInt(v, 1, INT64_MAX, &o->frames); },
        "a whole number from 1"}},
      {"--scale", WordOption<int>({{"stretch", 1}, {"fit", 2}, {"fill", 3}}, &Options::scale,
                                  "stretch, fit or fill", &Options::scale_given)},
      {"--range",
       WordOption<int>({{"full", 0}, {"limited", 1}}, &Options::color_range, "full or limited")},
      {"--matrix", WordOption<int>({{"601", 601}, {"709", 709}, {"2020", 2020}},
                                   &Options::color_matrix, "601, 709 or 2020")},
      {"--rotate", WordOption<int>({{"0", 0}, {"90", 90}, {"180", 180}, {"270", 270}},
                                   &Options::rotation, "0, 90, 180 or 270")},
      {"--start",
       {[](const std::string& v, Options* o) { return ParseTime(v, &o->start_s); },
        "seconds, or [H:]M:S such as 1:30"}},
      {"--id",
       {[](const std::string& v, Options* o) {
          o->id = v;
          return !v.empty() && v.size() <= 100;
        },
        "1..100 characters"}},
      {"--windows", IntOption(1, 16, &Options::windows, "1..16")},
      {"--capture",
       {[](const std::string& v, Options* o) {
          const size_t colon = v.find(':');
          Capture capture;
          if (colon == std::string::npos ||
              !ParseInt(v.substr(0, colon), 1, INT64_MAX, &capture.frame))
            return false;
          capture.path = v.substr(colon + 1);
          const std::string extension = Extension(capture.path);
          o->captures.push_back(capture);
          return extension == "jpg" || extension == "jpeg" || extension == "bmp";
        },
        "FRAME:PATH, FRAME from 1, PATH ending in .jpg, .jpeg or .bmp"}},
      {"--quality", IntOption(1, 100, &Options::quality, "1..100")},
      {"--screenshot",
       {[](const std::string& v, Options* o) {
          o->screenshot = v;
          return Extension(v) == "png";
        },
        "a path ending in .png"}},
      {"--log",
       {[](const std::string& v, Options* o) {
          o->log = v;
          o->log_append = false;
          return !v.empty();
        },
        "a file path"}},
      {"--log-append",
       {[](const std::string& v, Options* o) {
          o->log = v;
          o->log_append = true;
          return !v.empty();
        },
        "a file path"}},
      {"--stats",
       {[](const std::string& v, Options* o) {
          o->stats = v;
          return !v.empty();
        },
        "a file path"}},
      {"--module",
       {[](const std::string& v, Options* o) {
          o->module = v;
          return !v.empty();
        },
        "a file path"}},
      {"--duration",
       {[](const std::string& v, Options* o) {
          return ParseDecimal(v, 0.001, 7 * 24 * 3600, &o->duration_s);
        },
        "seconds, 0.001..604800"}},
      {"--recreate-every",
       IntOption(1, 3600 * 1000, &Options::recreate_every_ms, "milliseconds, 1..3600000")},
      {"--capture-every",
       {[](const std::string& v, Options* o) {
          const size_t colon = v.find(':');
          if (colon == std::string::npos ||
              !ParseInt(v.substr(0, colon), 1, INT64_MAX, &o->capture_every))
            return false;
          o->capture_dir = v.substr(colon + 1);
          return !o->capture_dir.empty();
        },
        "N:DIR, N from 1"}},
      {"--cycle-scale",
       {[](const std::string& v, Options* o) { return ParseInt(v, 1, INT64_MAX, &o->cycle_scale); },
        "a whole number from 1"}},
      {"--slow-listener",
       IntOption(1, 10000, &Options::slow_listener_ms, "milliseconds, 1..10000")},
  };
  return options;
}

bool* FlagOption(const std::string& name, Options* options) {
  if (name == "--help" || name == "-h") return &options->help;
  if (name == "--version") return &options->version;
  if (name == "--loop") return &options->loop;
  if (name == "--mirror")
    return &options->mirror;
  if (name == "--quiet") return &options->quiet;
  if (name == "--verbose") return &options->verbose;
  return nullptr;
}

bool SetInput(const std::string& arg, Options* options, std::string* error) {
  // An empty input is the pattern inside the player; given on the command
  // line it is a mistake (an unset shell variable), not a request for one.
  if (arg.empty()) {
    *error = "an empty INPUT names no file (leave it out for the built-in pattern)";
    return false;
  }
  if (!options->input.empty()) {
    *error = "more than one input given: " + options->input + " and " + arg;
    return false;
  }
  options->input = arg;
  return true;
}

}  // namespace

bool Options::RawInput() const {
  if (format != InputFormat::kAuto)
    return format == InputFormat::kI420;
  return Extension(input) == "yuv";
}

bool Options::HasY4mName() const {
  return Extension(input) == "y4m";
}

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options_ended || arg == "-" || arg.compare(0, 1, "-") != 0) {
      if (!SetInput(arg, options, error))
        return false;
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    // --name=value as well as --name value.
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    if (bool* flag = FlagOption(name, options)) {
      if (equals != std::string::npos) {
        *error = "option " + name + " takes no value (see --help)";
        return false;
      }
      *flag = true;
      continue;
    }
    auto option = ValueOptions().find(name);
    if (option == ValueOptions().end()) {
      *error = "unknown option " + name + " (see --help)";
      return false;
    }
    std::string value;
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      *error = "option " + name + " needs a value (see --help)";
      return false;
    }
    if (!option->second.apply(value, options)) {
      *error = "bad value '" + value + "' for " + name + " (" + option->second.accepts + ")";
      return false;
    }
  }
  if (options->help || options->version)
    return true;
  if (options->RawInput() && options->raw_width == 0) {
    *error = options->format == InputFormat::kI420 ? "a raw I420 input (--format i420) needs --size WxH"
                                                   : "a raw .yuv input needs --size WxH";
    return false;
  }
  if (options->input.empty() && options->format != InputFormat::kAuto) {
    *error = "--format applies to an input file; the built-in pattern has none";
    return false;
  }
  return true;
}

const char* HelpText() {
  return R"(usage: nativerender-player [options] [INPUT]

Plays video through the nativerender module: the host shell loads the module
and gives it one window per XComponent; a media engine thread per window
pushes I420 frames through the module's renderer.

INPUT                  a video file: mp4, mkv, webm, mov, avi, ... with any video
                       codec the installed FFmpeg libraries decode (H.264, HEVC,
                       VP8/9, AV1, MPEG-4, ...; the first video stream plays,
                       audio is left out), a .y4m file (any chroma layout and
                       depth; other than 8-bit 4:2:0 converted, with a note), a
                       raw I420 .yuv file (with --size), - for standard input
                       (y4m, a container, or raw with --format i420; a FIFO
                       and /dev/stdin alike), or nothing for the built-in test
                       pattern. A file too short for its first frame, or a
                       container of pictures above 8192x8192 in all, is
                       refused. A pipe is read once: --loop and --windows
                       above 1 are refused with one, and a --duration longer than
                       its one pass ends when the pipe does (status 3)
  --format y4m|i420    read INPUT as YUV4MPEG2 or as raw I420 whatever its name
                       (default: raw for a .yuv name, YUV4MPEG2 for a .y4m name
                       or a file that starts as one, anything else a container)
  --size WxH           frame size of a raw input (the pattern's size, default 640x360)
  --fps N              frames per second, 0..1000, a number or a ratio (30000/1001);
                       default: a container's frames at their own times (variable
                       rates too), else the file's rate (30 when it has none or
                       F0:0); 0 plays as fast as possible, and so does a file's
                       rate above 1000; frames are never more than 60 s apart
                       (both said with a warning)
  --frames N           stop after N frames per window (default: the whole input;
                       the pattern: 150)
  --start TIME         begin at TIME (seconds, or [H:]M:S such as 1:30): the frame
                       shown at that time, decoded from the key frame before it;
                       for inputs that can seek (containers in regular files);
                       a TIME past the end is refused
  --loop               start the input again when it ends (a cut last frame is
                       reported, status 3, and the whole frames loop on)
  --surface WxH        window size (default: the frame size, widened or narrowed
                       by non-square pixels, and shrunk to fit the screen)
  --scale stretch|fit|fill   how the frame is fitted into the window (default
                       fit; non-square pixels are scaled to square ones first)
  --range full|limited colour range of the frames (default: the input's tag, a
                       container's or a y4m file's XCOLORRANGE, else limited, as
                       decoders give)
  --matrix 601|709|2020  colour matrix of the frames (default: a container's tag,
                       else BT.709 from 1280 wide or 720 high, BT.601 below; a
                       module without BT.2020 draws it as BT.709, said once)
  --rotate 0|90|180|270  turn the picture clockwise by so many degrees, on top of
                       any turn the input asks for (a container's display matrix);
                       a quarter turn gives the default window the turned shape
  --mirror             show the picture flipped left for right (after the turn),
                       as a self-view is shown
  --id NAME            XComponent id, 1..100 characters (default "player";
                       NAME-1..NAME-N with --windows)
  --windows N          N windows (1..16), each fed by its own engine thread; they
                       are placed side by side, in rows that fit the screen
  --capture FRAME:PATH capture frame FRAME (1-based) of the first window to PATH:
                       .jpg or .jpeg gives JPEG, .bmp gives BMP; repeatable
  --quality Q          JPEG quality of captures, 1..100 (default 90)
  --screenshot PATH    write the first open window's pixels after the last frame
                       (PATH ends in .png)
  --log PATH           write the module's runtime log lines to PATH as they are
                       delivered (flushed at least once a second); PATH is emptied first
  --log-append PATH    the same, added to the end of PATH
  --stats PATH         write the run's figures to PATH as "name: value" lines (the
                       input's name, codec and size, the time from the start to
                       the first frame drawn, frame-time jitter among them)
  --module PATH        the module library (default: the one built with the player)

  Every output path is checked before the play starts: one that cannot be
  written, or that another output also names, is refused (status 2).

soak runs (scripts/stress):
  --duration SECONDS   play this long (fractions allowed), looping the input
                       (unless --frames ends it first)
  --recreate-every MS  destroy and recreate each window's surface every MS ms, the
                       windows in turn, as the UI does when a component leaves and
                       re-enters the screen
  --capture-every N:DIR  capture every Nth frame of every window, alternately to
                       DIR/ID.jpg and DIR/ID.bmp (each overwritten by the next
                       capture of its kind)
  --cycle-scale N      switch every window to the next scale type every N frames
  --slow-listener MS   the log listener takes MS ms per line (with or without --log)

  --quiet              no progress (on a terminal one line rewritten in place:
                       position / length, fps, dropped; else a line a second)
  --verbose            also show the module's platform log lines on stderr (hidden
                       by default: the module writes many, most at error level,
                       by design); this overrides OHOS_DESKTOP_HILOG_QUIET=1, the
                       environment switch with which the scripts hide them from
                       every other program
  --version            the player's version
  --help               this text
  --opt=value is the same as --opt value; -- ends the options

keys in a window: space or p pause and resume (where it stopped; while
                  paused, c and b capture the frame on show, and a resize or
                  expose draws it again), . next frame (pausing first), left and
                  right seek 5 s, down and up 60 s (inputs that can seek; paused,
                  the new frame shows at once), 1/2/3 stretch/fit/fill, m mirror
                  on and off, r turn a further 90 degrees clockwise, c capture
                  JPEG, b capture BMP (to capture-ID-FRAME.jpg or .bmp in the
                  current directory, as the engine's frame is, never turned or
                  mirrored; each written file is printed), k fill black, q or
                  Esc quit
the window's title is the input's file name (the pattern's: its id)
closing a window ends its engine; closing the last one ends the play; q, a
close and a stop signal take effect at once, whatever the frame interval

the progress lines say once when each window's first frame is on show, and
each time the frames or the window change size

the summary gives the time played and each window's own rate (frames drawn
per second from its first frame to its last, pauses left out; the mean of
the windows' rates with several); --stats adds the module's own figures of
the windows' renderers (frames received, drawn and dropped; draw times)

exit status: 0 played; 1 could not start (no display, no module); 2 bad
options, input or output path (a file of no known format, a container with
no video stream or whose index is missing, --start on an input that cannot
seek or past its end); 3 played, but the input was truncated (a partial last frame, a
container whose data stops early), damaged (the decoder skipped what it
could not decode, said once at the end), a capture failed or could not be taken (its frame never came, or another
capture had it), or nothing was played (a periodic capture lost because its
surface was being recreated at that moment is counted and reported as
skipped, not as failed); 130, 143 or 129 stopped by SIGINT, SIGTERM or
SIGHUP (after the summary, screenshot and log, as a close; a second one of
the same signal ends the player at once)
)";
}

}  // namespace player
