#include "input.h"

#include <math.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "engine/media_source.h"
#include "engine/pipe_input.h"
#include "engine/square_pixels.h"
#include "messages.h"

namespace player {

namespace {

constexpr int kPatternWidth = 640;
constexpr int kPatternHeight = 360;
constexpr double kDefaultFps = 30;
// The fastest rate the player paces (--fps's own limit); faster ones play as
// fast as possible rather than drop nearly every frame as late.
constexpr double kMaxPacedFps = 1000;
// The longest wait for a frame: a file's rate may ask for years.
constexpr double kMaxFrameIntervalS = 60;
constexpr int kMaxWindowSide = 16384;

// Tried as the one format a build without FFmpeg's libraries reads, the
// refusal says what it is not.
std::unique_ptr<engine::VideoSource> AddNoOtherFormat(std::unique_ptr<engine::VideoSource> source,
                                                      std::string* error) {
  if (!source && !engine::MediaSupported() &&
      error->find("not a YUV4MPEG2 file") != std::string::npos)
    *error += "; this build reads no other format (it was built without FFmpeg's libraries)";
  return source;
}

double PacedFps(const engine::VideoSource& source, const Options& options) {
  const double fps = options.fps >= 0 ? options.fps : source.fps() > 0 ? source.fps() : kDefaultFps;
  if (fps > kMaxPacedFps) {
    Fail("warning: " + std::to_string(lround(fps)) + " fps is faster than the player paces (" +
         std::to_string(lround(kMaxPacedFps)) + "): played as fast as possible");
    return 0;
  }
  if (fps > 0 && fps < 1 / kMaxFrameIntervalS) {
    char interval[32];
    snprintf(interval, sizeof(interval), "%.0f", 1 / fps);
    Fail(std::string("warning: frames ") + interval + " s apart are shown " +
         std::to_string(lround(kMaxFrameIntervalS)) + " s apart");
    return 1 / kMaxFrameIntervalS;
  }
  return fps;
}

std::string Seconds(double seconds) {
  char text[32];
  snprintf(text, sizeof text, "%.2f s", seconds);
  return text;
}

constexpr char kY4mMagic[] = "YUV4MPEG2";
constexpr size_t kY4mMagicLength = sizeof(kY4mMagic) - 1;

// Whether a file of no y4m name is one all the same: it starts as one.
bool LooksLikeY4m(const std::string& path) {
  char start[kY4mMagicLength] = {};
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr)
    return false;
  const size_t got = fread(start, 1, sizeof(start), file);
  fclose(file);
  return got == sizeof(start) && memcmp(start, kY4mMagic, sizeof(start)) == 0;
}

// Standard input, a FIFO or a device: read once, as it comes. Opening it
// again would lose what was read (or wait for a writer that has gone).
bool ReadOnce(const std::string& path) {
  struct stat info;
  return path == "-" || (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode));
}

// Opened once; its first bytes tell a y4m stream from a container, and
// the reader chosen reads them again.
std::unique_ptr<engine::VideoSource> OpenReadOnce(const std::string& path, std::string* error) {
  std::unique_ptr<engine::PipeInput> input = engine::PipeInput::Open(path, error);
  if (!input)
    return nullptr;
  const std::string& start = input->Peek(kY4mMagicLength);
  if (start.empty()) {
    *error = input->name() + " is empty";
    return nullptr;
  }
  if (start == kY4mMagic || !engine::MediaSupported())
    return AddNoOtherFormat(engine::OpenY4m(std::move(input), error), error);
  return engine::OpenMedia(std::move(input), error);
}

std::unique_ptr<engine::VideoSource> OpenFile(const Options& options, std::string* error) {
  const std::string& input = options.input;
  if (input.empty()) {
    const int w = options.raw_width > 0 ? options.raw_width : kPatternWidth;
    const int h = options.raw_height > 0 ? options.raw_height : kPatternHeight;
    return engine::OpenPattern(w, h, kDefaultFps);
  }
  if (options.RawInput())
    return engine::OpenRawYuv(input, options.raw_width, options.raw_height, error);
  if (options.format == InputFormat::kY4m || options.HasY4mName())
    return engine::OpenY4m(input, error);
  if (ReadOnce(input))
    return OpenReadOnce(input, error);
  if (LooksLikeY4m(input))
    return engine::OpenY4m(input, error);
  if (engine::MediaSupported())
    return engine::OpenMedia(input, error);
  return AddNoOtherFormat(engine::OpenY4m(input, error), error);
}

}  // namespace

std::string InputName(const Options& options) {
  if (options.input.empty())
    return "test pattern";
  if (options.input == "-")
    return "standard input";
  const size_t slash = options.input.rfind('/');
  return slash == std::string::npos ? options.input : options.input.substr(slash + 1);
}

std::unique_ptr<engine::VideoSource> OpenSource(const Options& options, std::string* error) {
  std::unique_ptr<engine::VideoSource> source = OpenFile(options, error);
  if (!source)
    return nullptr;
  // Overrides, rather than colours set on the frame: a container hands out
  // a new frame each time, which the source describes.
  std::optional<engine::ColorRange> range;
  std::optional<engine::ColorMatrix> matrix;
  if (options.color_range >= 0)
    range = static_cast<engine::ColorRange>(options.color_range);
  if (options.color_matrix >= 0)
    matrix = static_cast<engine::ColorMatrix>(options.color_matrix);
  source->OverrideColor(range, matrix);
  if (options.start_s > 0) {
    const std::string name = options.input.empty()  ? "the test pattern"
                             : options.input == "-" ? "standard input"
                                                    : options.input;
    if (!source->seekable()) {
      *error = "--start: " + name + " cannot seek (containers in regular files can)";
      return nullptr;
    }
    if (!source->Seek(options.start_s)) {
      *error = "--start: " + source->error();
      return nullptr;
    }
    if (source->past_end()) {
      *error = "--start: " + Seconds(options.start_s) + " is past the end of " + name;
      if (source->duration() > 0)
        *error += " (" + Seconds(source->duration()) + " long)";
      return nullptr;
    }
  }
  return engine::WithSquarePixels(std::move(source));
}

void DescribeInput(const engine::VideoSource& source, Options* options) {
  const char interlacing = source.interlacing();
  if (interlacing == 't' || interlacing == 'b' || interlacing == 'm')
    Fail("warning: " + (options->input == "-" ? std::string("standard input") : options->input) +
         " is interlaced (I" + interlacing + "): its frames are played as progressive");
  options->by_timestamps = source.has_timestamps() && options->fps < 0;
  options->fps = PacedFps(source, *options);
}

int DisplayRotation(int input_rotation, int user_rotation) {
  return ((input_rotation + user_rotation) % 360 + 360) % 360;
}

void WindowSize(const engine::VideoSource& source, const Options& options, int screen_width,
                int screen_height, int* width, int* height) {
  if (options.surface_width > 0) {
    *width = options.surface_width;
    *height = options.surface_height;
    return;
  }
  double w = source.width() * source.pixel_aspect();
  double h = source.height();
  if (DisplayRotation(source.rotation(), options.rotation) % 180 != 0)
    std::swap(w, h);
  const double shrink = std::min({1.0, screen_width / w, screen_height / h});
  *width = std::clamp(static_cast<int>(lround(w * shrink)), 1, kMaxWindowSide);
  *height = std::clamp(static_cast<int>(lround(h * shrink)), 1, kMaxWindowSide);
}

}  // namespace player
