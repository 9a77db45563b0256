#include "engine/media_demuxer.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "engine/media_library_log.h"
#include "engine/stream_cut.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace engine {

namespace {

constexpr int kIoBufferSize = 64 * 1024;
// Failures in a row after which the demuxer is taken to have nothing more
// to give: each one reads on, so this only bounds a run of bad data.
constexpr int kMaxFailuresInARow = 1000;

int ReadPipe(void* opaque, uint8_t* buffer, int size) {
  const ssize_t got = static_cast<PipeInput*>(opaque)->Read(buffer, static_cast<size_t>(size));
  if (got > 0)
    return static_cast<int>(got);
  return got == 0 ? AVERROR_EOF : AVERROR(errno);
}

}  // namespace

MediaDemuxer::MediaDemuxer(std::string name, int64_t max_pixels)
    : name_(std::move(name)), max_pixels_(max_pixels) {}

MediaDemuxer::~MediaDemuxer() {
  av_packet_free(&packet_);
  avformat_close_input(&format_);
  if (pipe_) {
    if (io_ != nullptr)
      av_freep(&io_->buffer);
    avio_context_free(&io_);
  } else {
    avio_closep(&io_);
  }
}

bool MediaDemuxer::Open(const std::string& path, std::unique_ptr<PipeInput> pipe,
                        std::vector<std::string>* notes, std::string* error) {
  pipe_ = std::move(pipe);
  packet_ = av_packet_alloc();
  if (packet_ == nullptr) {
    *error = name_ + ": out of memory";
    return false;
  }
  return OpenInput(path, error) && ChooseStream(notes, error);
}

bool MediaDemuxer::OpenInput(const std::string& path, std::string* error) {
  std::string url;
  int result = 0;
  if (pipe_) {
    // Read once, as it comes, from the bytes already peeked at on.
    url = "pipe:";
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    io_ = buffer != nullptr ? avio_alloc_context(buffer, kIoBufferSize, 0, pipe_.get(), ReadPipe,
                                                 nullptr, nullptr)
                            : nullptr;
    if (io_ == nullptr) {
      av_free(buffer);
      result = AVERROR(ENOMEM);
    }
  } else {
    // "file:" so that a name with a colon is never taken for a protocol.
    url = "file:" + path;
    result = avio_open2(&io_, url.c_str(), AVIO_FLAG_READ, nullptr, nullptr);
  }
  if (result < 0) {
    *error = "cannot open " + name_ + ": " + LibraryErrorText(result);
    return false;
  }

  // By content alone: a name's extension would take any file called .mp4
  // for one, and a text file would be refused as a damaged mp4.
  const AVInputFormat* input_format = nullptr;
  result = av_probe_input_buffer2(io_, &input_format, "", nullptr, 0, 0);
  if (result < 0 || input_format == nullptr) {
    if (avio_size(io_) == 0 || (pipe_ && io_->pos == 0 && avio_feof(io_)))
      *error = name_ + " is empty";
    else if (result == AVERROR_INVALIDDATA || result >= 0)
      *error = name_ + ": not a video file of any format this build reads";
    else
      *error = name_ + ": cannot read it: " + LibraryErrorText(result);
    return false;
  }

  format_ = avformat_alloc_context();
  if (format_ == nullptr) {
    *error = name_ + ": out of memory";
    return false;
  }
  format_->pb = io_;
  format_->flags |= AVFMT_FLAG_CUSTOM_IO;
  // Formats that name other files (playlists) may open local files only.
  AVDictionary* open_options = nullptr;
  av_dict_set(&open_options, "protocol_whitelist", "file", 0);
  ForgetLastLibraryError();
  result = avformat_open_input(&format_, url.c_str(), input_format, &open_options);
  av_dict_free(&open_options);
  if (result < 0) {
    // avformat_open_input freed the context, not the custom I/O.
    const char* kind =
        input_format->long_name != nullptr ? input_format->long_name : input_format->name;
    *error = name_ + ": cannot read this " + kind + " file: " +
             (LastLibraryError().empty() ? LibraryErrorText(result) : LastLibraryError());
    return false;
  }
  return true;
}

bool MediaDemuxer::ChooseStream(std::vector<std::string>* notes, std::string* error) {
  auto first_video = [this] {
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
      AVStream* stream = format_->streams[i];
      // A cover picture is stored as a one-frame video stream: not video.
      if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
          (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0)
        return stream;
    }
    return static_cast<AVStream*>(nullptr);
  };
  stream_ = first_video();
  // Most containers describe their streams in their header; the others
  // (MPEG transport streams, bare elementary streams) are read a little.
  if (stream_ == nullptr || stream_->codecpar->codec_id == AV_CODEC_ID_NONE ||
      stream_->codecpar->width <= 0) {
    // Reading may decode a picture: held to the same size.
    std::vector<AVDictionary*> limits(format_->nb_streams, nullptr);
    for (AVDictionary*& limit : limits)
      av_dict_set_int(&limit, "max_pixels", max_pixels_, 0);
    avformat_find_stream_info(format_, limits.data());
    for (AVDictionary*& limit : limits)
      av_dict_free(&limit);
    stream_ = first_video();
  }
  int audio = 0, more_video = 0;
  std::string audio_codec;
  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    AVStream* stream = format_->streams[i];
    if (stream == stream_)
      continue;
    stream->discard = AVDISCARD_ALL;  // not even read
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && audio++ == 0)
      audio_codec = avcodec_get_name(stream->codecpar->codec_id);
    else if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
             (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0)
      ++more_video;
  }
  if (stream_ == nullptr) {
    const AVInputFormat* kind = format_->iformat;
    *error = name_ + ": no video stream in this " +
             (kind->long_name != nullptr ? kind->long_name : kind->name) + " file" +
             (audio > 0 ? " (audio only)" : "");
    return false;
  }
  if (audio == 1)
    notes->push_back("audio ignored: the " + audio_codec + " stream is not played");
  else if (audio > 1)
    notes->push_back("audio ignored: the " + std::to_string(audio) +
                     " audio streams are not played");
  if (more_video > 0)
    notes->push_back(std::to_string(more_video) + " more video stream" +
                     (more_video == 1 ? "" : "s") + " ignored: the first one plays");
  return true;
}

bool MediaDemuxer::Read(double time_s, std::string* stopped) {
  for (int failures = 0;;) {
    const int result = av_read_frame(format_, packet_);
    if (result == AVERROR_EOF || (result < 0 && avio_feof(format_->pb)))
      return false;
    if (result < 0) {
      // A read error ends the data; a demuxer that stumbles on bad data
      // usually finds its feet again further on.
      if (format_->pb->error < 0 || ++failures > kMaxFailuresInARow) {
        *stopped = "reading stopped after " + SecondsText(std::max(time_s, 0.0)) + ": " +
                   LibraryErrorText(result);
        return false;
      }
      continue;
    }
    if (packet_->stream_index == stream_->index)
      return true;
    av_packet_unref(packet_);
  }
}

int MediaDemuxer::Reposition(int64_t* ticks, bool first_byte, int64_t origin) {
  int result = -1;
  if (!first_byte) {
    result = av_seek_frame(format_, stream_->index, *ticks, AVSEEK_FLAG_BACKWARD);
    if (result < 0)
      result = avformat_seek_file(format_, stream_->index, INT64_MIN, *ticks, *ticks, 0);
  }
  if (result < 0) {
    // Nothing to seek by (a bare elementary stream has no index and no
    // times of its own), or a seek by time that finds no picture: from the
    // first byte, decoded forward.
    result = av_seek_frame(format_, -1, 0, AVSEEK_FLAG_BYTE);
    *ticks = origin;
  }
  return result;
}

}  // namespace engine
