#include "engine/video_source.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <ctype.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <new>
#include <sstream>
#include <vector>

#include "engine/picture_converter.h"

namespace engine {

namespace {

constexpr int kMaxDimension = 16384;
constexpr size_t kMaxHeaderLength = 4096;
constexpr size_t kShortestFrameLine = 6;  // "FRAME\n"

bool ValidSize(int width, int height) {
  return width > 0 && height > 0 && width <= kMaxDimension && height <= kMaxDimension;
}

// Reads exactly `size` bytes into each plane row by row (the frame's own
// strides may be wider than the rows). Returns how many bytes were read.
size_t ReadPlanes(FILE* file, I420Frame* frame) {
  const int w = frame->Width(), h = frame->Height();
  const int cw = I420Frame::ChromaWidth(w), ch = I420Frame::ChromaHeight(h);
  struct Plane {
    uint8_t* data;
    int stride, width, height;
  } planes[] = {{frame->MutableYPlane(), frame->EffectiveStrideY(), w, h},
                {frame->MutableUPlane(), frame->EffectiveStrideU(), cw, ch},
                {frame->MutableVPlane(), frame->EffectiveStrideV(), cw, ch}};
  size_t total = 0;
  for (const Plane& plane : planes) {
    for (int row = 0; row < plane.height; ++row) {
      const size_t got =
          fread(plane.data + static_cast<size_t>(row) * plane.stride, 1, plane.width, file);
      total += got;
      if (got != static_cast<size_t>(plane.width))
        return total;
    }
  }
  return total;
}

size_t FrameBytes(int w, int h) {
  return static_cast<size_t>(w) * h +
         2 * static_cast<size_t>(I420Frame::ChromaWidth(w)) * I420Frame::ChromaHeight(h);
}

struct FileCloser {
  void operator()(FILE* file) const {
    if (file != nullptr)
      fclose(file);
  }
};
using ScopedFile = std::unique_ptr<FILE, FileCloser>;

// How messages name the input.
std::string InputName(const std::string& path) {
  return path == "-" ? "standard input" : path;
}

// "-" is standard input, through a descriptor of its own so that closing
// the source leaves the process's stdin alone.
ScopedFile OpenFile(const std::string& path, std::string* error) {
  ScopedFile file;
  if (path == "-") {
    const int fd = dup(STDIN_FILENO);
    file.reset(fd >= 0 ? fdopen(fd, "rb") : nullptr);
    if (!file && fd >= 0)
      close(fd);
  } else {
    file.reset(fopen(path.c_str(), "rb"));
  }
  if (!file)
    *error = "cannot open " + InputName(path) + ": " + strerror(errno);
  return file;
}

enum class LineResult { kLine, kEnd, kTooLong };

// Reads one line (up to '\n', which is consumed and not stored) of at most
// kMaxHeaderLength bytes. kEnd when the file ends first, with what was read
// in `line`.
LineResult ReadLine(FILE* file, std::string* line) {
  line->clear();
  for (int c; (c = fgetc(file)) != EOF;) {
    if (c == '\n')
      return LineResult::kLine;
    if (line->size() >= kMaxHeaderLength)
      return LineResult::kTooLong;
    line->push_back(static_cast<char>(c));
  }
  return LineResult::kEnd;
}

class Y4mSource : public VideoSource {
 public:
  // `converter`: for a layout other than 8-bit 4:2:0, which is read into
  // the frame as it is.
  Y4mSource(ScopedFile file, const Y4mHeader& header, long data_start,
            std::unique_ptr<PictureConverter> converter)
      : file_(std::move(file)), data_start_(data_start), converter_(std::move(converter)) {
    info_.fps = header.fps;
    info_.pixel_aspect = static_cast<double>(header.aspect_num) / header.aspect_den;
    info_.interlacing = header.interlacing;
    info_.full_range = header.full_range;
    if (converter_) {
      info_.notes.push_back(converter_->note());
      packed_.reset(new (std::nothrow)
                        uint8_t[converter_->PackedBytes() + PictureConverter::kPackedPadding]());
      if (packed_)
        frame_ = CreateConversionTarget(header.width, header.height);
    } else {
      frame_ = I420Frame::Create(header.width, header.height);
    }
    if (frame_)
      ApplyColor();
  }

  Status Next() override {
    std::string line;
    switch (ReadLine(file_.get(), &line)) {
      case LineResult::kLine:
        break;
      case LineResult::kEnd:
        return line.empty() && feof(file_.get()) ? Status::kEnd : Status::kTruncated;
      case LineResult::kTooLong:
        state_.error = "the FRAME line of frame " + std::to_string(state_.frames_read + 1) +
                       " is longer than " + std::to_string(kMaxHeaderLength) + " bytes";
        return Status::kError;
    }
    if (line.compare(0, 5, "FRAME") != 0) {
      state_.error =
          "frame " + std::to_string(state_.frames_read + 1) + " does not start with FRAME";
      return Status::kError;
    }
    if (converter_) {
      const size_t bytes = converter_->PackedBytes();
      if (fread(packed_.get(), 1, bytes, file_.get()) != bytes)
        return Status::kTruncated;
      if (!converter_->ConvertPacked(packed_.get(), frame_.get())) {
        state_.error =
            "frame " + std::to_string(state_.frames_read + 1) + " could not be converted";
        return Status::kError;
      }
    } else if (ReadPlanes(file_.get(), frame_.get()) != FrameBytes(width(), height())) {
      return Status::kTruncated;
    }
    ++state_.frames_read;
    return Status::kFrame;
  }

  bool Rewind() override {
    return data_start_ >= 0 && fseek(file_.get(), data_start_, SEEK_SET) == 0;
  }

 private:
  ScopedFile file_;
  long data_start_;
  std::unique_ptr<PictureConverter> converter_;
  std::unique_ptr<uint8_t[]> packed_;  // one frame as the file stores it
};

class RawSource : public VideoSource {
 public:
  RawSource(ScopedFile file, int width, int height) : file_(std::move(file)) {
    frame_ = I420Frame::Create(width, height);
    if (frame_)
      ApplyColor();
  }

  Status Next() override {
    const size_t got = ReadPlanes(file_.get(), frame_.get());
    if (got == 0 && feof(file_.get()))
      return Status::kEnd;
    if (got != FrameBytes(width(), height()))
      return Status::kTruncated;
    ++state_.frames_read;
    return Status::kFrame;
  }

  bool Rewind() override {
    clearerr(file_.get());
    return fseek(file_.get(), 0, SEEK_SET) == 0;
  }

 private:
  ScopedFile file_;
};

class PatternSource : public VideoSource {
 public:
  PatternSource(int width, int height, double fps)
      : bars_(width, height, FrameGenerator::Pattern::kColourBars),
        marker_(width, height, FrameGenerator::Pattern::kMovingMarker) {
    frame_ = I420Frame::Create(width, height);
    info_.fps = fps;
    info_.codec = "pattern";
    if (frame_)
      ApplyColor();
  }

  Status Next() override {
    const PlaneSet planes{frame_->MutableYPlane(), frame_->EffectiveStrideY(),
                          frame_->MutableUPlane(), frame_->EffectiveStrideU(),
                          frame_->MutableVPlane(), frame_->EffectiveStrideV()};
    bars_.Draw(state_.frames_read, planes);
    DrawMarker(planes, marker_.Marker(state_.frames_read));
    ++state_.frames_read;
    return Status::kFrame;  // never ends
  }

  bool Rewind() override {
    state_.frames_read = 0;
    return true;
  }

 private:
  // A white square over the bars, so motion shows on the colour bars.
  void DrawMarker(const PlaneSet& planes, const MarkerRect& marker) {
    const int right = std::min(marker.x + marker.size, width());
    const int bottom = std::min(marker.y + marker.size, height());
    for (int y = marker.y; y < bottom; ++y)
      memset(planes.y + static_cast<size_t>(y) * planes.stride_y + marker.x, 235, right - marker.x);
    // Neutral chroma under the square (chroma rows and columns are halved).
    for (int y = marker.y / 2; y < (bottom + 1) / 2; ++y) {
      memset(planes.u + static_cast<size_t>(y) * planes.stride_u + marker.x / 2, 128,
             (right + 1) / 2 - marker.x / 2);
      memset(planes.v + static_cast<size_t>(y) * planes.stride_v + marker.x / 2, 128,
             (right + 1) / 2 - marker.x / 2);
    }
  }

  // The pattern's colours are BT.601 samples at any size.
  ColorDescription NativeColor() const override {
    return {ColorRange::kLimited, ColorMatrix::kBt601};
  }

  FrameGenerator bars_;
  FrameGenerator marker_;
};

// A whole number with an optional sign and nothing else. Values past int
// saturate (W4294967298 must not wrap to 2), so they are refused as too
// large rather than as malformed.
bool ParseWhole(const std::string& value, long long* number) {
  size_t i = value.empty() || (value[0] != '-' && value[0] != '+') ? 0 : 1;
  if (i == value.size())
    return false;
  for (; i < value.size(); ++i)
    if (!isdigit(static_cast<unsigned char>(value[i])))
      return false;
  const long long parsed = strtoll(value.c_str(), nullptr, 10);
  *number = std::min<long long>(std::max<long long>(parsed, INT_MIN), INT_MAX);
  return true;
}

// "N:D", two whole numbers.
bool ParseRatio(const std::string& value, long long* numerator, long long* denominator) {
  const size_t colon = value.find(':');
  return colon != std::string::npos && ParseWhole(value.substr(0, colon), numerator) &&
         ParseWhole(value.substr(colon + 1), denominator);
}

// 0:0 is "unknown": the rate stays 0, for the player to choose.
bool ParseRate(const std::string& value, double* fps) {
  long long numerator = 0, denominator = 0;
  if (!ParseRatio(value, &numerator, &denominator))
    return false;
  if (numerator == 0 && denominator == 0) {
    *fps = 0;
    return true;
  }
  if (numerator <= 0 || denominator <= 0)
    return false;
  *fps = static_cast<double>(numerator) / static_cast<double>(denominator);
  return true;
}

bool Supported420(const std::string& chroma) {
  return chroma == "420" || chroma == "420jpeg" || chroma == "420paldv" || chroma == "420mpeg2";
}

// Whether a build converts any layout at all decides what the refusal of an
// unknown one says.
std::string Y4mLayoutRefusal(const std::string& chroma) {
  if (!Y4mLayoutConvertible("422"))
    return "unsupported chroma layout C" + chroma +
           ": only 8-bit 4:2:0 (C420, C420jpeg, C420paldv, C420mpeg2) is played";
  return "unsupported chroma layout C" + chroma +
         ": played are C420 (C420jpeg, C420paldv, C420mpeg2), C411, C422, C444, C444alpha and "
         "Cmono, and 4:2:0, 4:2:2, 4:4:4 and mono of 9 to 16 bits (C420p10, C444p16, Cmono12, "
         "...)";
}

// A source without a frame (the allocation failed: a large size on a
// machine short of memory) would crash its first caller; refuse it instead.
std::unique_ptr<VideoSource> RefuseWithoutFrame(std::unique_ptr<VideoSource> source, int width,
                                                int height, std::string* error) {
  if (source->frame() != nullptr)
    return source;
  if (error != nullptr)
    *error = "cannot allocate a " + std::to_string(width) + "x" + std::to_string(height) +
             " frame";
  return nullptr;
}

}  // namespace

ColorDescription VideoSource::color() const {
  ColorDescription color = NativeColor();
  if (range_override_)
    color.range = *range_override_;
  if (matrix_override_)
    color.matrix = *matrix_override_;
  return color;
}

void VideoSource::OverrideColor(std::optional<ColorRange> range,
                                std::optional<ColorMatrix> matrix) {
  range_override_ = range;
  matrix_override_ = matrix;
  ApplyColor();
}

ColorDescription VideoSource::NativeColor() const {
  return {info_.full_range ? ColorRange::kFull : ColorRange::kLimited,
          GuessColorMatrix(width(), height())};
}

bool VideoSource::Seek(double /*seconds*/) {
  state_.error = "this input cannot seek";
  return false;
}

bool ParseY4mHeader(const std::string& line, Y4mHeader* header, std::string* error) {
  std::istringstream tokens(line);
  std::string token;
  if (!(tokens >> token) || token != "YUV4MPEG2") {
    *error = "not a YUV4MPEG2 file (the header must start with YUV4MPEG2)";
    return false;
  }
  while (tokens >> token) {
    const std::string value = token.substr(1);
    long long number = 0, den = 0;
    switch (token[0]) {
      case 'W':
      case 'H':
        if (!ParseWhole(value, &number)) {
          *error = std::string("bad ") + (token[0] == 'W' ? "width" : "height") + " '" + value +
                   "' in the YUV4MPEG2 header";
          return false;
        }
        (token[0] == 'W' ? header->width : header->height) = static_cast<int>(number);
        break;
      case 'C': header->chroma = value; break;
      case 'F':
        if (!ParseRate(value, &header->fps)) {
          *error = "bad frame rate '" + value + "' in the YUV4MPEG2 header";
          return false;
        }
        break;
      case 'I':
        if (value.size() != 1 || std::string("ptbm?").find(value[0]) == std::string::npos) {
          *error = "bad interlacing 'I" + value + "' in the YUV4MPEG2 header (Ip, It, Ib, Im or I?)";
          return false;
        }
        header->interlacing = value[0];
        break;
      case 'A':
        // 0:0 is "unknown", which is played as square pixels.
        if (!ParseRatio(value, &number, &den) || number < 0 || den < 0 ||
            (number == 0) != (den == 0)) {
          *error = "bad pixel aspect 'A" + value + "' in the YUV4MPEG2 header";
          return false;
        }
        if (number > 0) {
          header->aspect_num = static_cast<int>(number);
          header->aspect_den = static_cast<int>(den);
        }
        break;
      case 'X':
        if (value == "COLORRANGE=FULL")
          header->full_range = true;
        else if (value == "COLORRANGE=LIMITED")
          header->full_range = false;
        break;  // other comments: not needed to play
      default: break;  // anything newer: not needed to play
    }
  }
  if (!ValidSize(header->width, header->height)) {
    *error = "bad frame size " + std::to_string(header->width) + "x" +
             std::to_string(header->height) + " in the YUV4MPEG2 header";
    return false;
  }
  if (!Supported420(header->chroma) && !Y4mLayoutConvertible(header->chroma)) {
    *error = Y4mLayoutRefusal(header->chroma);
    return false;
  }
  return true;
}

namespace {

// The y4m reader on an open stream; `name` names the input in messages.
std::unique_ptr<VideoSource> OpenY4mStream(ScopedFile file, const std::string& name,
                                           std::string* error) {
  std::string line;
  if (ReadLine(file.get(), &line) != LineResult::kLine) {
    *error = name + ": missing or overlong YUV4MPEG2 header";
    return nullptr;
  }
  Y4mHeader header;
  if (!ParseY4mHeader(line, &header, error)) {
    *error = name + ": " + *error;
    return nullptr;
  }
  // -1 on a pipe: it cannot be read again.
  const long data_start = ftell(file.get());
  std::unique_ptr<PictureConverter> converter;
  if (!Supported420(header.chroma)) {
    converter = ConverterForY4m(header.chroma, header.width, header.height,
                                header.full_range ? ColorRange::kFull : ColorRange::kLimited);
    if (!converter || converter->PackedBytes() == 0) {
      *error = name + ": cannot convert chroma layout C" + header.chroma + " at " +
               std::to_string(header.width) + "x" + std::to_string(header.height);
      return nullptr;
    }
  }
  // A file too short for one frame would play nothing, and its header alone
  // may ask for a frame of hundreds of megabytes per reader: refuse it
  // before anything is allocated. A pipe is judged as it is read.
  struct stat info;
  const unsigned long long first_frame =
      kShortestFrameLine +
      (converter ? converter->PackedBytes() : FrameBytes(header.width, header.height));
  if (fstat(fileno(file.get()), &info) == 0 && S_ISREG(info.st_mode) && data_start >= 0 &&
      static_cast<unsigned long long>(info.st_size) < data_start + first_frame) {
    *error = name + ": " + std::to_string(info.st_size) +
             " bytes, too short for its header and one " + std::to_string(header.width) + "x" +
             std::to_string(header.height) + " frame (" + std::to_string(data_start + first_frame) +
             " bytes)";
    return nullptr;
  }
  return RefuseWithoutFrame(
      std::make_unique<Y4mSource>(std::move(file), header, data_start, std::move(converter)),
      header.width, header.height, error);
}

}  // namespace

std::unique_ptr<VideoSource> OpenY4m(const std::string& path, std::string* error) {
  ScopedFile file = OpenFile(path, error);
  if (!file)
    return nullptr;
  return OpenY4mStream(std::move(file), InputName(path), error);
}

std::unique_ptr<VideoSource> OpenY4m(std::unique_ptr<PipeInput> input, std::string* error) {
  const std::string name = input->name();
  ScopedFile file(PipeInput::ToFile(std::move(input)));
  if (!file) {
    *error = "cannot read " + name + ": " + strerror(errno);
    return nullptr;
  }
  return OpenY4mStream(std::move(file), name, error);
}

std::unique_ptr<VideoSource> OpenRawYuv(const std::string& path, int width, int height,
                                        std::string* error) {
  if (!ValidSize(width, height)) {
    *error = "bad frame size " + std::to_string(width) + "x" + std::to_string(height);
    return nullptr;
  }
  ScopedFile file = OpenFile(path, error);
  if (!file)
    return nullptr;
  return RefuseWithoutFrame(std::make_unique<RawSource>(std::move(file), width, height), width,
                            height, error);
}

std::unique_ptr<VideoSource> OpenPattern(int width, int height, double fps) {
  if (!ValidSize(width, height))
    return nullptr;
  return RefuseWithoutFrame(std::make_unique<PatternSource>(width, height, fps), width, height,
                            nullptr);
}

}  // namespace engine
