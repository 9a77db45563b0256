#ifndef ENGINE_MEDIA_DEMUXER_H_
#define ENGINE_MEDIA_DEMUXER_H_

// The reading half of the container source: opens a file or a pipe, finds
// its format by content, chooses the first video stream (the others are not
// even read), and hands out that stream's packets; it seeks for the source.

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/pipe_input.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace engine {

class MediaDemuxer {
 public:
  // `name`: the input as the user named it; `max_pixels`: the largest
  // picture a look into the streams may decode.
  MediaDemuxer(std::string name, int64_t max_pixels);
  ~MediaDemuxer();
  MediaDemuxer(const MediaDemuxer&) = delete;
  MediaDemuxer& operator=(const MediaDemuxer&) = delete;

  // Opens the file at `path`, or `pipe` (read once), and chooses the video
  // stream; lines on the streams left out go to `notes`. False with one
  // line naming the input and the reason in `error`.
  bool Open(const std::string& path, std::unique_ptr<PipeInput> pipe,
            std::vector<std::string>* notes, std::string* error);

  AVFormatContext* format() const { return format_; }
  AVStream* stream() const { return stream_; }
  bool seekable() const {
    return !pipe_ && io_ != nullptr && (io_->seekable & AVIO_SEEKABLE_NORMAL) != 0;
  }

  // The next packet of the stream into packet(); false at the end of the
  // data. A read error (or a long run of bad data) ends it early: then
  // `stopped` says so, the play having reached `time_s`.
  bool Read(double time_s, std::string* stopped);
  AVPacket* packet() const { return packet_; }

  // To the key frame at or before `*ticks`, or to the first byte (asked, or
  // when that fails: `*ticks` is then `origin`). The libraries' result.
  int Reposition(int64_t* ticks, bool first_byte, int64_t origin);

 private:
  bool OpenInput(const std::string& path, std::string* error);
  bool ChooseStream(std::vector<std::string>* notes, std::string* error);

  const std::string name_;
  const int64_t max_pixels_;
  std::unique_ptr<PipeInput> pipe_;  // what is read, when it is not a file
  AVIOContext* io_ = nullptr;
  AVFormatContext* format_ = nullptr;
  AVStream* stream_ = nullptr;
  AVPacket* packet_ = nullptr;
};

}  // namespace engine

#endif  // ENGINE_MEDIA_DEMUXER_H_
