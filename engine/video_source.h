#ifndef ENGINE_VIDEO_SOURCE_H_
#define ENGINE_VIDEO_SOURCE_H_

// Where the player's frames come from: a YUV4MPEG2 file, a raw I420 file,
// or a built-in animated pattern. Sources read one frame at a time into a
// frame they own and hand out for the duration of one render call.

#include <stdint.h>
#include <stdio.h>

#include <memory>
#include <string>

#include "engine/frame_generator.h"
#include "engine/i420_frame.h"

namespace engine {

class VideoSource {
 public:
  enum class Status {
    kFrame,      // a frame was read
    kEnd,        // the input ended cleanly after its last whole frame
    kTruncated,  // the input ended inside a frame; the partial frame is dropped
    kError,      // the input could not be read (see error())
  };

  virtual ~VideoSource() = default;
  // Reads the next frame into frame(). After kEnd or kTruncated, Rewind()
  // starts again from the first frame.
  virtual Status Next() = 0;
  virtual bool Rewind() = 0;
  I420Frame* frame() const { return frame_.get(); }
  int width() const { return frame_->Width(); }
  int height() const { return frame_->Height(); }
  // Frames per second the input asks for (0 when it does not say).
  double fps() const { return fps_; }
  int64_t frames_read() const { return frames_read_; }
  const std::string& error() const { return error_; }
  // The shape of one pixel, width over height (1: square), and how the
  // frames were scanned: 'p' progressive, 't' or 'b' interlaced top or
  // bottom field first, 'm' mixed, '?' not said.
  double pixel_aspect() const { return pixel_aspect_; }
  char interlacing() const { return interlacing_; }
  // Whether the samples use the full range 0..255 (a y4m file's
  // XCOLORRANGE=FULL); otherwise they are limited range, Y 16..235.
  bool full_range() const { return full_range_; }
  // Clockwise degrees (0, 90, 180 or 270) the input asks its pictures to be
  // turned by for display, as a container's display matrix does; 0 for
  // y4m, raw I420 and the pattern, which say nothing of it.
  int rotation() const { return rotation_; }

 protected:
  std::unique_ptr<I420Frame> frame_;
  double fps_ = 0;
  double pixel_aspect_ = 1;
  char interlacing_ = 'p';
  bool full_range_ = false;
  int rotation_ = 0;
  int64_t frames_read_ = 0;
  std::string error_;
};

// Both file readers take "-" for standard input, which they can read once
// (Rewind fails on a pipe).
//
// YUV4MPEG2 with 8-bit 4:2:0 chroma (C420, C420jpeg, C420paldv, C420mpeg2,
// or no C tag). Null, with the reason in `error`, for a missing or
// unreadable file, a bad header, another chroma layout, a regular file too
// short for its first frame or a frame that cannot be allocated. A FRAME
// line longer than the header's limit (4096 bytes) is a kError.
std::unique_ptr<VideoSource> OpenY4m(const std::string& path, std::string* error);
// Raw I420 frames of width x height, back to back. Null, with the reason,
// for a bad size, a file that cannot be opened or a frame that cannot be
// allocated.
std::unique_ptr<VideoSource> OpenRawYuv(const std::string& path, int width, int height,
                                        std::string* error);
// The built-in animated test pattern: colour bars with a moving marker.
// Null for a bad size or a frame that cannot be allocated.
std::unique_ptr<VideoSource> OpenPattern(int width, int height, double fps);

// Parses a YUV4MPEG2 stream header line (without its newline) into the size,
// frame rate, chroma tag, interlacing and pixel aspect. False, with the
// reason, when it is not one or a field this reader uses is malformed.
struct Y4mHeader {
  int width = 0;
  int height = 0;
  double fps = 0;  // 0 when not given or 0:0 (unknown)
  std::string chroma = "420jpeg";
  char interlacing = 'p';
  int aspect_num = 1, aspect_den = 1;  // 0:0 (unknown) is kept as 1:1
  bool full_range = false;             // XCOLORRANGE=FULL; limited otherwise
};
bool ParseY4mHeader(const std::string& line, Y4mHeader* header, std::string* error);

}  // namespace engine

#endif  // ENGINE_VIDEO_SOURCE_H_
