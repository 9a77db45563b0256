#include "options.h"

#include <stdlib.h>

#include <functional>
#include <map>

namespace player {

namespace {

bool ParseInt(const std::string& text, int64_t min, int64_t max, int64_t* value) {
  if (text.empty())
    return false;
  char* end = nullptr;
  const long long parsed = strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || parsed < min || parsed > max)
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

using Handler = std::function<bool(const std::string& value, Options* options)>;

// Options that take a value, with how to apply it. False: bad value.
const std::map<std::string, Handler>& ValueOptions() {
  static const std::map<std::string, Handler> handlers = {
      {"--size", [](const std::string& v, Options* o) { return ParseSize(v, &o->raw_width, &o->raw_height); }},
      {"--surface", [](const std::string& v, Options* o) {
         return ParseSize(v, &o->surface_width, &o->surface_height);
       }},
      {"--fps", [](const std::string& v, Options* o) {
         int64_t fps = 0;
         if (!ParseInt(v, 0, 1000, &fps)) return false;
         o->fps = static_cast<double>(fps);
         return true;
       }},
      {"--frames", [](const std::string& v, Options* o) { return ParseInt(v, 1, INT64_MAX, &o->frames); }},
      {"--scale", [](const std::string& v, Options* o) {
         static const std::map<std::string, int> kTypes = {{"stretch", 1}, {"fit", 2}, {"fill", 3}};
         auto it = kTypes.find(v);
         if (it == kTypes.end()) return false;
         o->scale = it->second;
         return true;
       }},
      {"--id", [](const std::string& v, Options* o) {
         o->id = v;
         return !v.empty() && v.size() <= 100;
       }},
      {"--windows", [](const std::string& v, Options* o) {
         int64_t n = 0;
         if (!ParseInt(v, 1, 16, &n)) return false;
         o->windows = static_cast<int>(n);
         return true;
       }},
      {"--capture", [](const std::string& v, Options* o) {
         const size_t colon = v.find(':');
         Capture capture;
         if (colon == std::string::npos || !ParseInt(v.substr(0, colon), 1, INT64_MAX, &capture.frame))
           return false;
         capture.path = v.substr(colon + 1);
         o->captures.push_back(capture);
         return !capture.path.empty();
       }},
      {"--quality", [](const std::string& v, Options* o) {
         int64_t q = 0;
         if (!ParseInt(v, 1, 100, &q)) return false;
         o->quality = static_cast<int>(q);
         return true;
       }},
      {"--screenshot", [](const std::string& v, Options* o) { o->screenshot = v; return !v.empty(); }},
      {"--log", [](const std::string& v, Options* o) { o->log = v; return !v.empty(); }},
      {"--module", [](const std::string& v, Options* o) { o->module = v; return !v.empty(); }},
      {"--duration", [](const std::string& v, Options* o) {
         return ParseInt(v, 1, 7 * 24 * 3600, &o->duration_s);
       }},
      {"--recreate-every", [](const std::string& v, Options* o) {
         int64_t ms = 0;
         if (!ParseInt(v, 1, 3600 * 1000, &ms)) return false;
         o->recreate_every_ms = static_cast<int>(ms);
         return true;
       }},
      {"--capture-every", [](const std::string& v, Options* o) {
         const size_t colon = v.find(':');
         if (colon == std::string::npos || !ParseInt(v.substr(0, colon), 1, INT64_MAX, &o->capture_every))
           return false;
         o->capture_dir = v.substr(colon + 1);
         return !o->capture_dir.empty();
       }},
      {"--cycle-scale", [](const std::string& v, Options* o) { return ParseInt(v, 1, INT64_MAX, &o->cycle_scale); }},
      {"--slow-listener", [](const std::string& v, Options* o) {
         int64_t ms = 0;
         if (!ParseInt(v, 1, 10000, &ms)) return false;
         o->slow_listener_ms = static_cast<int>(ms);
         return true;
       }},
  };
  return handlers;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      options->help = true;
    } else if (arg == "--loop") {
      options->loop = true;
    } else if (arg == "--quiet") {
      options->quiet = true;
    } else if (ValueOptions().count(arg) != 0) {
      if (i + 1 >= argc) {
        *error = "option " + arg + " needs a value (see --help)";
        return false;
      }
      const std::string value = argv[++i];
      if (!ValueOptions().at(arg)(value, options)) {
        *error = "bad value '" + value + "' for " + arg + " (see --help)";
        return false;
      }
    } else if (arg.compare(0, 1, "-") == 0) {
      *error = "unknown option " + arg + " (see --help)";
      return false;
    } else if (options->input.empty()) {
      options->input = arg;
    } else {
      *error = "more than one input given: " + options->input + " and " + arg;
      return false;
    }
  }
  const bool raw = !options->input.empty() &&
                   options->input.size() >= 4 &&
                   options->input.compare(options->input.size() - 4, 4, ".yuv") == 0;
  if (raw && options->raw_width == 0) {
    *error = "a raw .yuv input needs --size WxH";
    return false;
  }
  if (options->duration_s > 0)
    options->loop = true;
  return true;
}

const char* HelpText() {
  return R"(usage: nativerender-player [options] [INPUT]

Plays video through the nativerender module: the host shell loads the module
and gives it one window per XComponent; a media engine thread per window
pushes I420 frames through the module's renderer.

INPUT                  a .y4m file (4:2:0), a raw I420 .yuv file (with --size),
                       or nothing for the built-in animated test pattern
  --size WxH           frame size of a raw .yuv input (the pattern's size, default 640x360)
  --fps N              frames per second; default the file's rate (30 when it has
                       none); 0 plays as fast as possible
  --frames N           stop after N frames per window (default: the whole input;
                       the pattern: 150)
  --loop               start the input again when it ends
  --surface WxH        window size (default: the frame size)
  --scale stretch|fit|fill   how the frame is fitted into the window (default fit)
  --id NAME            XComponent id (default "player"; NAME-1..NAME-N with --windows)
  --windows N          N windows (1..16), each fed by its own engine thread
  --capture FRAME:PATH capture frame FRAME (1-based) of the first window to PATH;
                       ".bmp" gives a BMP file, anything else JPEG; repeatable
  --quality Q          JPEG quality of captures, 1..100 (default 90)
  --screenshot PATH    write the first window's pixels after the last frame (PNG)
  --log PATH           write the module's runtime log lines to PATH
  --module PATH        the module library (default: the one built with the player)

soak runs (scripts/stress):
  --duration SECONDS   play this long, looping the input (unless --frames ends it first)
  --recreate-every MS  destroy and recreate each window's surface every MS ms, the
                       windows in turn, as the UI does when a component leaves and
                       re-enters the screen
  --capture-every N:DIR  capture every Nth frame of every window, alternately to
                       DIR/ID.jpg and DIR/ID.bmp (each overwritten by the next
                       capture of its kind)
  --cycle-scale N      switch every window to the next scale type every N frames
  --slow-listener MS   the log listener takes MS ms per line (with or without --log)

  --quiet              no progress lines
  --help               this text

keys in a window: 1/2/3 stretch/fit/fill, c capture JPEG, b capture BMP,
                  k fill black, space pause, q quit

exit status: 0 played; 1 could not start (no display, no module); 2 bad
options or input; 3 played, but the input was truncated or a capture failed
(a periodic capture lost because its surface was being recreated at that
moment is counted and reported as skipped, not as failed)
)";
}

}  // namespace player
