// Fuzzes the player's file readers: the input is a whole file, opened as a
// YUV4MPEG2 stream, as raw I420 at a few frame sizes taken from its first
// bytes, and (small inputs) as a container through FFmpeg's libraries. Every
// 8-bit 4:2:0 frame a reader returns must have planes of its size holding
// exactly the file's bytes for that frame (each byte is compared, so reads
// outside the planes show); converted and decoded frames must have planes
// that can be read whole; the sequence of results must be what the file
// holds, no more frames than it has; bad headers, sizes and files are
// refused with a reason.

#include <ctype.h>
#include <math.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <memory>
#include <string>

#include "engine/media_source.h"
#include "engine/picture_converter.h"
#include "engine/video_source.h"
#include "fuzz_check.h"

namespace {

// Names this target in invariant reports.
[[maybe_unused]] const bool kNamed = (fuzz_check::g_target = "video readers fuzzer", true);

using engine::I420Frame;
using engine::VideoSource;
using Status = VideoSource::Status;

// Larger frames behave the same (inputs are a few KiB, so every such frame
// is truncated) but cost a large zero-filled allocation per run: their
// headers are only parsed.
constexpr int64_t kMaxOpenedPixels = 1 << 16;
constexpr size_t kMaxLine = 4096;  // the readers' longest header or FRAME line
constexpr int kMaxDimension = 16384;
// Containers: larger inputs only take longer to probe; frames past this
// many, and pictures past this size, show nothing new.
constexpr size_t kMaxContainerBytes = size_t{64} * 1024;
constexpr int kMaxContainerFrames = 48;
constexpr int64_t kMaxContainerPixels = 1 << 18;

int g_file = -1;  // a memfd holding the current input
std::string g_path;

size_t FrameBytes(int w, int h) {
  return static_cast<size_t>(w) * h +
         2 * static_cast<size_t>(I420Frame::ChromaWidth(w)) * I420Frame::ChromaHeight(h);
}

struct Plane {
  const uint8_t* pixels;
  int stride, width, height;
};

// The frame's three planes as a w x h I420 frame lays them out; each is
// checked present with rows no shorter than its width.
std::array<Plane, 3> PlanesOf(const rtc::IVideoFrame& frame, int w, int h) {
  const int cw = I420Frame::ChromaWidth(w), ch = I420Frame::ChromaHeight(h);
  const std::array<Plane, 3> planes = {{{frame.YPlane(), frame.YStride(), w, h},
                                        {frame.UPlane(), frame.UStride(), cw, ch},
                                        {frame.VPlane(), frame.VStride(), cw, ch}}};
  for (const Plane& plane : planes)
    CHECK_OR_FAIL(plane.pixels != nullptr && plane.stride >= plane.width,
                  "plane missing or stride below its width");
  return planes;
}

// Compares the frame's visible planes with the I420 bytes at `data`, reading
// every byte of every row through the frame's strides.
void CheckFrame(const rtc::IVideoFrame& frame, int w, int h, const uint8_t* data) {
  CHECK_OR_FAIL(frame.Width() == w && frame.Height() == h, "frame size changed");
  const std::array<Plane, 3> planes = PlanesOf(frame, w, h);
  for (const Plane& plane : planes) {
    for (int row = 0; row < plane.height; ++row) {
      CHECK_OR_FAIL(
          memcmp(plane.pixels + static_cast<size_t>(row) * plane.stride, data, plane.width) == 0,
          "frame bytes differ from the file");
      data += plane.width;
    }
  }
}

// Reads every sample of the frame's planes through its strides: a plane
// shorter than its rows say shows under the sanitizer.
void CheckReadable(const rtc::IVideoFrame& frame) {
  const int w = frame.Width(), h = frame.Height();
  CHECK_OR_FAIL(w > 0 && h > 0 && w <= kMaxDimension && h <= kMaxDimension, "frame of a bad size");
  const std::array<Plane, 3> planes = PlanesOf(frame, w, h);
  unsigned sum = 0;
  for (const Plane& plane : planes) {
    for (int row = 0; row < plane.height; ++row)
      for (int x = 0; x < plane.width; ++x)
        sum += plane.pixels[static_cast<size_t>(row) * plane.stride + x];
  }
  volatile unsigned keep = sum;
  (void)keep;
}

void WriteInput(const uint8_t* data, size_t size) {
  if (ftruncate(g_file, 0) != 0 ||
      (size > 0 && pwrite(g_file, data, size, 0) != static_cast<ssize_t>(size)))
    fuzz_check::Fail("cannot write the input file");
}

// --- Raw I420 ---------------------------------------------------------------

// Frames follow back to back; a partial last frame is dropped as truncated.
// After a rewind the first frame comes again.
void CheckRaw(const uint8_t* data, size_t size, int w, int h) {
  std::string error;
  std::unique_ptr<VideoSource> source = engine::OpenRawYuv(g_path, w, h, &error);
  CHECK_OR_FAIL(source != nullptr,
                "raw " + std::to_string(w) + "x" + std::to_string(h) + " refused: " + error);
  const size_t frame_bytes = FrameBytes(w, h);
  const size_t whole = size / frame_bytes;
  size_t frames = 0;
  Status status;
  while ((status = source->Next()) == Status::kFrame) {
    CHECK_OR_FAIL(frames < whole, "raw reader returned more frames than the file holds");
    CheckFrame(*source->frame(), w, h, data + frames * frame_bytes);
    ++frames;
  }
  CHECK_OR_FAIL(frames == whole, "raw reader stopped early");
  CHECK_OR_FAIL(status == (size % frame_bytes == 0 ? Status::kEnd : Status::kTruncated),
                "raw reader ended with the wrong status");
  CHECK_OR_FAIL(source->Rewind(), "raw rewind failed");
  if (whole > 0) {
    CHECK_OR_FAIL(source->Next() == Status::kFrame, "raw: no first frame after a rewind");
    CheckFrame(*source->frame(), w, h, data);
  }
}

void CheckRawRefusals(const uint8_t* data, size_t size) {
  const int bad[][2] = {{0, 1}, {1, 0}, {-1, 8}, {kMaxDimension + 1, 1}, {2, INT32_MIN}};
  const int pick = size > 0 ? data[0] % 5 : 0;
  std::string error;
  CHECK_OR_FAIL(engine::OpenRawYuv(g_path, bad[pick][0], bad[pick][1], &error) == nullptr,
                "raw reader accepted a bad size");
  CHECK_OR_FAIL(!error.empty(), "raw refusal without a reason");
}

// --- YUV4MPEG2 --------------------------------------------------------------

// One line at `*pos` as the readers take it: up to '\n' (consumed), at most
// kMaxLine bytes. False at the end of the data or for a longer line; `line`
// holds what was read.
bool TakeLine(const uint8_t* data, size_t size, size_t* pos, std::string* line) {
  line->clear();
  while (*pos < size) {
    const char c = static_cast<char>(data[(*pos)++]);
    if (c == '\n')
      return true;
    if (line->size() >= kMaxLine)
      return false;
    line->push_back(c);
  }
  return false;
}

// The value of the last "<tag><digits>" token of a header line, without any
// wrap-around: what a W or H tag really asks for.
bool LastTagValue(const std::string& line, char tag, int64_t* value) {
  bool found = false;
  size_t start = 0;
  while (start < line.size()) {
    while (start < line.size() && isspace(static_cast<unsigned char>(line[start])))
      ++start;
    size_t end = start;
    while (end < line.size() && !isspace(static_cast<unsigned char>(line[end])))
      ++end;
    if (end > start && line[start] == tag) {
      found = true;
      int64_t v = 0;
      size_t i = start + 1;
      const bool negative = i < end && line[i] == '-';
      if (negative || (i < end && line[i] == '+'))
        ++i;
      for (; i < end && isdigit(static_cast<unsigned char>(line[i])); ++i)
        v = v > INT32_MAX ? v : v * 10 + (line[i] - '0');  // saturates past int
      *value = negative ? -v : v;
    }
    start = end;
  }
  return found;
}

// Bytes of one w x h frame of y4m chroma layout `chroma`, worked out from
// the tag itself ("<subsampling>[p<depth>]", "444alpha", "mono[<depth>]"):
// samples above 8 bits take two bytes. 0 for a layout the reader does not
// play.
size_t Y4mFrameBytes(const std::string& chroma, int w, int h) {
  if (chroma == "420" || chroma == "420jpeg" || chroma == "420paldv" || chroma == "420mpeg2")
    return FrameBytes(w, h);
  if (!engine::Y4mLayoutConvertible(chroma))
    return 0;
  const bool mono = chroma.compare(0, 4, "mono") == 0;
  const size_t depth_at = mono ? 4 : chroma.find('p');
  const int depth = depth_at < chroma.size() ? atoi(chroma.c_str() + depth_at + (mono ? 0 : 1)) : 8;
  const std::string subsampling = mono ? "mono" : chroma.substr(0, chroma.find('p'));
  const size_t luma = static_cast<size_t>(w) * h;
  size_t samples = 0;
  if (subsampling == "mono")
    samples = luma;
  else if (subsampling == "411")
    samples = luma + 2 * static_cast<size_t>((w + 3) / 4) * h;
  else if (subsampling == "420")
    samples = FrameBytes(w, h);
  else if (subsampling == "422")
    samples = luma + 2 * static_cast<size_t>(I420Frame::ChromaWidth(w)) * h;
  else if (subsampling == "444")
    samples = 3 * luma;
  else if (subsampling == "444alpha")
    samples = 4 * luma;
  else
    fuzz_check::Fail("the reader plays chroma layout " + chroma + ", unknown here");
  return samples * (depth > 8 ? 2 : 1);
}

void CheckHeaderVerdict(const std::string& line, bool accepted, const engine::Y4mHeader& header,
                        const std::string& error) {
  if (!accepted) {
    CHECK_OR_FAIL(!error.empty(), "header refused without a reason");
    return;
  }
  CHECK_OR_FAIL(line.find("YUV4MPEG2") != std::string::npos, "header accepted without YUV4MPEG2");
  CHECK_OR_FAIL(header.width > 0 && header.height > 0 && header.width <= kMaxDimension &&
                    header.height <= kMaxDimension,
                "header accepted with a bad size");
  CHECK_OR_FAIL(Y4mFrameBytes(header.chroma, 1, 1) != 0,
                "header accepted with chroma " + header.chroma);
  CHECK_OR_FAIL(header.fps >= 0 && header.fps == header.fps, "header accepted with a bad rate");
  int64_t w = 0, h = 0;
  CHECK_OR_FAIL(LastTagValue(line, 'W', &w) && w == header.width,
                "width " + std::to_string(header.width) + " is not what '" + line + "' says");
  CHECK_OR_FAIL(LastTagValue(line, 'H', &h) && h == header.height,
                "height " + std::to_string(header.height) + " is not what '" + line + "' says");
}

// Walks the frames as the file lays them out and compares each result of
// the reader with it: byte for byte where the file holds 8-bit 4:2:0
// (`exact`), otherwise (converted) only the frame's size and planes.
void CheckY4mFrames(const uint8_t* data, size_t size, size_t pos, VideoSource* source, int w, int h,
                    size_t frame_bytes, bool exact) {
  auto check_frame = [&](const uint8_t* bytes) {
    if (exact) {
      CheckFrame(*source->frame(), w, h, bytes);
    } else {
      CHECK_OR_FAIL(source->width() == w && source->height() == h, "frame size changed");
      CheckReadable(*source->frame());
    }
  };
  const size_t first = pos;
  for (int64_t frames = 0;; ++frames) {
    const Status status = source->Next();
    std::string line;
    const size_t line_start = pos;
    if (!TakeLine(data, size, &pos, &line)) {
      // Past the limit, with more to come: a FRAME line too long to take.
      if (pos - line_start > kMaxLine) {
        CHECK_OR_FAIL(status == Status::kError && !source->error().empty(),
                      "y4m: an overlong FRAME line was not refused with a reason");
        break;
      }
      const Status want = line_start == size ? Status::kEnd : Status::kTruncated;
      CHECK_OR_FAIL(status == want, "y4m: wrong status at the end of the data");
      break;
    }
    if (line.compare(0, 5, "FRAME") != 0) {
      CHECK_OR_FAIL(status == Status::kError && !source->error().empty(),
                    "y4m: a frame without FRAME was not refused with a reason");
      break;
    }
    if (size - pos < frame_bytes) {
      CHECK_OR_FAIL(status == Status::kTruncated, "y4m: a partial frame was not truncated");
      break;
    }
    CHECK_OR_FAIL(status == Status::kFrame, "y4m: a whole frame was not returned");
    check_frame(data + pos);
    pos += frame_bytes;
    CHECK_OR_FAIL(source->frames_read() == frames + 1, "y4m: frames_read is off");
  }
  // A rewind starts again at the first frame.
  CHECK_OR_FAIL(source->Rewind(), "y4m rewind failed");
  size_t again = first;
  std::string line;
  if (TakeLine(data, size, &again, &line) && line.compare(0, 5, "FRAME") == 0 &&
      size - again >= frame_bytes) {
    CHECK_OR_FAIL(source->Next() == Status::kFrame, "y4m: no first frame after a rewind");
    check_frame(data + again);
  }
}

void CheckY4m(const uint8_t* data, size_t size) {
  size_t pos = 0;
  std::string line;
  const bool have_line = TakeLine(data, size, &pos, &line);
  engine::Y4mHeader header;
  std::string parse_error;
  const bool parsed = have_line && engine::ParseY4mHeader(line, &header, &parse_error);
  if (have_line)
    CheckHeaderVerdict(line, parsed, header, parse_error);
  if (parsed && static_cast<int64_t>(header.width) * header.height > kMaxOpenedPixels)
    return;

  std::string error;
  std::unique_ptr<VideoSource> source = engine::OpenY4m(g_path, &error);
  // A file too short for its first frame ("FRAME\n" and the planes) is refused.
  const size_t frame_bytes = parsed ? Y4mFrameBytes(header.chroma, header.width, header.height) : 0;
  const bool holds_a_frame = parsed && size - pos >= 6 + frame_bytes;
  CHECK_OR_FAIL((source != nullptr) == holds_a_frame,
                "OpenY4m disagrees with the header and the file's length");
  if (!source) {
    CHECK_OR_FAIL(error.compare(0, g_path.size() + 2, g_path + ": ") == 0,
                  "y4m refusal without the path and a reason: '" + error + "'");
    return;
  }
  CHECK_OR_FAIL(source->width() == header.width && source->height() == header.height &&
                    source->fps() == header.fps,
                "y4m source does not match its header");
  const bool exact = !engine::Y4mLayoutConvertible(header.chroma);  // 8-bit 4:2:0
  CHECK_OR_FAIL(exact == source->notes().empty(),
                "y4m: a conversion without its note, or the reverse");
  CheckY4mFrames(data, size, pos, source.get(), header.width, header.height, frame_bytes, exact);
}

// --- Containers -------------------------------------------------------------

// Whatever the libraries make of the input: a refusal is one line that names
// the input; a source gives frames whose planes can be read whole, with
// sane times, colours and rotation, ends with a reason if not cleanly, and
// seeks without harm. A clone of the last frame outlives the source.
void CheckContainer(size_t size) {
  if (size > kMaxContainerBytes)
    return;
  engine::MediaOptions options;
  options.decoder_threads = 1;  // no thread start-up per input
  options.max_pixels = kMaxContainerPixels;
  std::string error;
  std::unique_ptr<VideoSource> source = engine::OpenMedia(g_path, &error, options);
  if (!source) {
    CHECK_OR_FAIL(error.find(g_path) != std::string::npos && error.find('\n') == std::string::npos,
                  "container refusal that does not name the input in one line: '" + error + "'");
    return;
  }
  auto check_source = [&source] {
    CheckReadable(*source->frame());
    CHECK_OR_FAIL(static_cast<int64_t>(source->width()) * source->height() <= kMaxContainerPixels,
                  "a picture past the pixel limit");
    CHECK_OR_FAIL(isfinite(source->timestamp()), "a frame without a finite time");
    const int rotation = source->rotation();
    CHECK_OR_FAIL(rotation == 0 || rotation == 90 || rotation == 180 || rotation == 270,
                  "rotation " + std::to_string(rotation));
    CHECK_OR_FAIL(source->frame()->color() == source->color(),
                  "the frame's colours are not the source's");
  };
  check_source();
  for (int frames = 0; frames < kMaxContainerFrames; ++frames) {
    const Status status = source->Next();
    if (status != Status::kFrame) {
      CHECK_OR_FAIL(status == Status::kEnd || !source->error().empty(),
                    "container ended badly without a reason");
      break;
    }
    check_source();
  }
  std::unique_ptr<rtc::IVideoFrame> clone(source->frame()->Clone());
  if (source->seekable() && source->Seek(0.04) && source->Next() == Status::kFrame)
    check_source();
  source.reset();
  if (clone)
    CheckReadable(*clone);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  g_file = memfd_create("video-readers-fuzzer", MFD_CLOEXEC);
  if (g_file < 0) {
    perror("video readers fuzzer: memfd_create");
    abort();
  }
  // The readers take a path; this one opens the memfd afresh each time.
  g_path = "/proc/self/fd/" + std::to_string(g_file);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteInput(data, size);
  CheckY4m(data, size);
  // Raw frame sizes up to 64x64 from the first two bytes, and transposed:
  // odd widths and odd heights alike.
  const int a = 1 + (size > 0 ? data[0] : 0) % 64, b = 1 + (size > 1 ? data[1] : 0) % 64;
  CheckRaw(data, size, a, b);
  if (a != b)
    CheckRaw(data, size, b, a);
  CheckRawRefusals(data, size);
  CheckContainer(size);
  return 0;
}
