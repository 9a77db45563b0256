#ifndef ENGINE_MEDIA_SOURCE_H_
#define ENGINE_MEDIA_SOURCE_H_

// Container files (mp4, mkv, webm, mov, avi, ...) read through FFmpeg's
// libavformat and decoded by libavcodec, with every video codec the
// installed libraries decode. A build without those libraries refuses them
// (OpenMedia says so).
//
// The first video stream plays; audio and other streams are skipped (a
// note says so). The decoder runs on its own threads (engine/
// media_decoder.h). Frames come out as the decoder made them: 8-bit 4:2:0
// ones (I420, NV12, NV21) with the decoder's planes and strides, not copied
// (engine/decoded_frame.h); any other layout converted to 8-bit I420, a
// note naming the conversion (engine/frame_presenter.h). Each frame carries
// its presentation time, the stream's colours and rotation apply, and a
// file seeks (VideoSource::Seek).
//
// The libraries' own log lines are kept off the standard error once a
// media file has been opened (they would interleave with the caller's
// output); the opening thread's last error line details a refusal. Their
// log is one setting for the whole process: a host that routes it itself
// calls LeaveLibraryLogAlone first.

#include <stdint.h>

#include <memory>
#include <string>

#include "engine/pipe_input.h"
#include "engine/video_source.h"

namespace engine {

struct MediaOptions {
  // Threads the decoder may use; 0 lets it choose (about one per core).
  int decoder_threads = 0;
  // A stream whose pictures have more pixels (or a side above 16384) is
  // refused before anything is decoded, and so is a picture that grows past
  // it later: a few bytes may declare a picture of gigabytes. 8192x8192
  // holds 8K video and is as much as a renderer's texture takes in memory.
  int64_t max_pixels = int64_t{8192} * 8192;
};

// Whether this build reads containers.
bool MediaSupported();

// The engine never sets the libraries' log callback from now on; a refusal
// is then detailed by the libraries' error code alone.
void LeaveLibraryLogAlone();

// Opens `path` ("-": standard input, which cannot seek) and decodes its
// first frame, so that the source knows its size, colours and notes at
// once. Null, with one line naming the input and the reason in `error`, for
// a file that cannot be opened, one of no known format, a container that
// cannot be read (an mp4 whose index is missing: truncated), one with no
// video stream or no decoder for it, one whose pictures are larger than
// MediaOptions allows, or a stream of which no frame decodes;
// and in a build without FFmpeg's libraries.
//
// Reading on: a packet the decoder refuses mid-stream is counted
// (decode_errors()) and the play goes on; the end is kEnd, or kTruncated,
// with the reason in error(), when the data stops before the stream does (a
// read error, a cut packet, frames ending well before the stream's stated
// duration). Rewind() seeks to the start.
std::unique_ptr<VideoSource> OpenMedia(const std::string& path, std::string* error,
                                       const MediaOptions& options = {});
// The same on an input read once (a pipe, a FIFO, a device), which may have
// been peeked at: it plays from its first byte and cannot seek.
std::unique_ptr<VideoSource> OpenMedia(std::unique_ptr<PipeInput> input, std::string* error,
                                       const MediaOptions& options = {});

}  // namespace engine

#endif  // ENGINE_MEDIA_SOURCE_H_
