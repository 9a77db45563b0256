#ifndef ENGINE_VIDEO_SOURCE_H_
#define ENGINE_VIDEO_SOURCE_H_

// Where the player's frames come from: a YUV4MPEG2 file, a raw I420 file,
// a built-in animated pattern, or a container file decoded through FFmpeg's
// libraries (engine/media_source.h). Sources read one frame at a time into a
// frame they own, or reference a decoder's, and hand it out until the next
// read.

#include <stdint.h>
#include <stdio.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/color_description.h"
#include "engine/frame_generator.h"
#include "engine/i420_frame.h"
#include "engine/pipe_input.h"
#include "engine/video_frame.h"

namespace engine {

// What a stream says of itself (VideoSource's accessors of the same names
// describe each field).
struct StreamInfo {
  double fps = 0;
  double pixel_aspect = 1;
  char interlacing = 'p';
  bool full_range = false;
  std::vector<std::string> notes;
  bool has_timestamps = false;
  double duration = 0;
  std::string codec = "rawvideo";
  int rotation = 0;
};

// Where the reading of a stream stands.
struct ReadState {
  int64_t frames_read = 0;
  std::string error;
  double timestamp = 0;
  double frame_duration = 0;
  bool past_end = false;
  int64_t decode_errors = 0;
  std::string first_decode_error;
};

class VideoSource {
 public:
  enum class Status {
    kFrame,      // a frame was read
    kEnd,        // the input ended cleanly after its last whole frame
    kTruncated,  // the input ended inside a frame; the partial frame is dropped (a
                 // container: its data ended before its stream did, error() says how)
    kError,      // the input could not be read (see error())
  };

  virtual ~VideoSource() = default;
  // Reads the next frame into frame(). After kEnd or kTruncated, Rewind()
  // starts again from the first frame.
  virtual Status Next() = 0;
  virtual bool Rewind() = 0;
  // The frame last read, valid until the next Next(), Rewind() or Seek(); a
  // frame of the input's size before the first read. Never null. It carries
  // color(); the renderer may keep clones of it for as long as it likes.
  virtual VideoFrame* frame() const { return frame_.get(); }
  int width() const { return frame()->Width(); }
  int height() const { return frame()->Height(); }
  // Frames per second the input asks for (0 when it does not say).
  double fps() const { return info_.fps; }
  int64_t frames_read() const { return state_.frames_read; }
  const std::string& error() const { return state_.error; }
  // The shape of one pixel, width over height (1: square), and how the
  // frames were scanned: 'p' progressive, 't' or 'b' interlaced top or
  // bottom field first, 'm' mixed, '?' not said.
  double pixel_aspect() const { return info_.pixel_aspect; }
  char interlacing() const { return info_.interlacing; }
  // Whether the samples use the full range 0..255 (a y4m file's
  // XCOLORRANGE=FULL, a container's range tag); otherwise they are limited
  // range, Y 16..235.
  bool full_range() const { return info_.full_range; }

  // How the frames encode colour: what the input says, otherwise the common
  // guess (limited range; BT.709 at HD sizes, BT.601 below); for the
  // pattern, BT.601 limited range as it is drawn. Overrides replace either
  // part. frame() carries it; the renderer is to be told the same
  // (PluginManager::SetColorDescription). A container's may change between
  // frames.
  ColorDescription color() const;
  void OverrideColor(std::optional<ColorRange> range, std::optional<ColorMatrix> matrix);

  // Lines for the user on how the input is played (a conversion, streams
  // left out), in the order they arose: at open, or when a stream changes.
  const std::vector<std::string>& notes() const { return info_.notes; }

  // Timing. A container's frames carry presentation times: timestamp() is
  // the frame's, in seconds from the start of the stream, and frames are to
  // be shown at those times (they need not be evenly spaced); fps() is then
  // the average rate. The other sources have none (has_timestamps() false,
  // timestamp() 0): their frames are spaced by fps().
  bool has_timestamps() const { return info_.has_timestamps; }
  double timestamp() const { return state_.timestamp; }
  // How long the frame read lasts, in seconds, when the input says (a
  // container's frame may); 0 otherwise.
  double frame_duration() const { return state_.frame_duration; }
  // Length of the input in seconds; 0 when it does not say.
  double duration() const { return info_.duration; }
  // How the frames are coded, as FFmpeg names codecs: a container's video
  // codec ("h264", "vp9", ...), "rawvideo" for y4m and raw files, "pattern"
  // for the built-in pattern.
  const std::string& codec() const { return info_.codec; }
  // Quarter turns, clockwise, by which the frames are to be turned for
  // display: 0, 90, 180 or 270 (a phone's portrait video says 90).
  int rotation() const { return info_.rotation; }

  // Whether Seek() can work (a container in a regular file).
  virtual bool seekable() const { return false; }
  // Moves to the first frame shown at or after `seconds` (clamped at 0): the
  // next Next() returns it, and frame() already shows it; past the last
  // frame, Next() returns kEnd. False, with the reason in error(), when the
  // input cannot seek or the seek failed.
  virtual bool Seek(double seconds);
  // Whether the last Seek() went past the last frame.
  bool past_end() const { return state_.past_end; }

  // Damage a container's decoder skipped and played on after (a packet it
  // refused, a frame it could only conceal): how often, and the first
  // message. The play goes on; a caller reports it at the end.
  int64_t decode_errors() const { return state_.decode_errors; }
  const std::string& first_decode_error() const { return state_.first_decode_error; }

  // The same, whole.
  const StreamInfo& info() const { return info_; }
  const ReadState& state() const { return state_; }

 protected:
  // The colour the source describes before overrides.
  virtual ColorDescription NativeColor() const;
  // Gives frame() the colour the source now describes.
  void ApplyColor() { frame()->set_color(color()); }

  std::unique_ptr<I420Frame> frame_;
  // Set by each source as it opens and reads.
  StreamInfo info_;
  ReadState state_;

 private:
  std::optional<ColorRange> range_override_;
  std::optional<ColorMatrix> matrix_override_;
};

// Both file readers take "-" for standard input, which they can read once
// (Rewind fails on a pipe).
//
// YUV4MPEG2. 8-bit 4:2:0 chroma (C420, C420jpeg, C420paldv, C420mpeg2, or
// no C tag) is read as it is; with FFmpeg's libraries in the build the
// other layouts (C411, C422, C444, C444alpha, Cmono, and 9 to 16 bits:
// C420p10, C422p12, Cmono16, ...) are converted to 8-bit 4:2:0, with a note.
// Null, with the reason in `error`, for a missing or unreadable file, a bad
// header, a chroma layout it cannot play, a regular file too short for its
// first frame or a frame that cannot be allocated. A FRAME line longer than
// the header's limit (4096 bytes) is a kError.
std::unique_ptr<VideoSource> OpenY4m(const std::string& path, std::string* error);
// The same on an input already opened, which may have been peeked at.
std::unique_ptr<VideoSource> OpenY4m(std::unique_ptr<PipeInput> input, std::string* error);
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
