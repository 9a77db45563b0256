#include "engine/media_source.h"

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "engine/decoded_frame.h"
#include "engine/media_library_log.h"
#include "engine/media_stream_facts.h"
#include "engine/picture_converter.h"
#include "engine/stream_cut.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

namespace engine {

namespace {

constexpr int kMaxDimension = 16384;
constexpr int kIoBufferSize = 64 * 1024;
// Failures in a row after which a decoder or a demuxer is taken to have
// nothing more to give: each one reads on, so this only bounds a run of bad
// data, never a play.
constexpr int kMaxFailuresInARow = 1000;

std::string ErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE];
  av_strerror(code, text, sizeof text);
  return text;
}

std::string Seconds(double seconds) {
  char text[32];
  snprintf(text, sizeof text, "%.2f s", seconds);
  return text;
}

int ReadPipe(void* opaque, uint8_t* buffer, int size) {
  const ssize_t got = static_cast<PipeInput*>(opaque)->Read(buffer, static_cast<size_t>(size));
  if (got > 0)
    return static_cast<int>(got);
  return got == 0 ? AVERROR_EOF : AVERROR(errno);
}

// --- The source -------------------------------------------------------------

class MediaSource : public VideoSource {
 public:
  MediaSource(std::string name, const MediaOptions& options)
      : name_(std::move(name)), options_(options) {}
  ~MediaSource() override;
  MediaSource(const MediaSource&) = delete;
  MediaSource& operator=(const MediaSource&) = delete;

  // Everything up to the first frame, from the file at `path` or from
  // `pipe`, read once. False with the reason in `error`.
  bool Open(const std::string& path, std::unique_ptr<PipeInput> pipe, std::string* error);

  Status Next() override;
  bool Rewind() override { return Seek(0); }
  VideoFrame* frame() const override { return current_; }
  bool seekable() const override {
    return !pipe_ && io_ != nullptr && (io_->seekable & AVIO_SEEKABLE_NORMAL) != 0;
  }
  bool Seek(double seconds) override;

 protected:
  ColorDescription NativeColor() const override { return color_; }

 private:
  bool OpenInput(const std::string& path, std::string* error);
  bool OpenPipe(std::string* error);
  bool ChooseStream(std::string* error);
  bool OpenDecoder(std::string* error);
  void ReadStreamFacts();
  // Whether pictures of the size the stream declares may be decoded.
  bool SizeAllowed(int width, int height) const {
    return width <= kMaxDimension && height <= kMaxDimension &&
           int64_t{width} * std::max(height, 0) <= options_.max_pixels;
  }

  // The next picture of the stream into `picture`; false at its end.
  bool Decode(AVFrame* picture);
  // The next packet of the stream into packet_; false at the end of the data.
  bool ReadPacket();
  // The picture's presentation time in the stream's ticks, also for
  // pictures that carry none (counted on from the one before).
  int64_t PictureTicks(const AVFrame& picture);
  // Makes `picture` (its time in ticks) the current frame.
  bool Present(AVFrame* picture, int64_t ticks);
  Status EndStatus();
  // Moves the demuxer to the key frame at or before `*ticks`, or to the
  // first byte (asked, or when that fails; `*ticks` then says the start),
  // and empties the decoder.
  bool Reposition(int64_t* ticks, bool first_byte);
  void NoteDecodeError(const std::string& what);
  double SecondsAt(int64_t ticks) const {
    return static_cast<double>(ticks - origin_) * av_q2d(stream_->time_base);
  }

  const std::string name_;
  const MediaOptions options_;
  std::unique_ptr<PipeInput> pipe_;  // what is read, when it is not a file
  AVIOContext* io_ = nullptr;
  AVFormatContext* format_ = nullptr;
  AVStream* stream_ = nullptr;
  AVCodecContext* decoder_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* picture_ = nullptr;  // the decoder's output before it is presented

  int64_t origin_ = 0;                   // ticks of the stream's start
  int64_t stated_end_ = AV_NOPTS_VALUE;  // ticks where the stream says it ends
  int64_t frame_interval_ = 0;           // ticks of one frame at the average rate
  int64_t last_ticks_ = AV_NOPTS_VALUE;  // of the last picture decoded
  int64_t last_duration_ = 0;
  int64_t latest_end_ = AV_NOPTS_VALUE;  // the furthest a picture reached
  bool flushed_ = false;                 // the decoder was told the data ended
  bool last_packet_cut_ = false;
  std::string cut_;            // why the data stopped early
  std::string first_problem_;  // first_decode_error_ without the name
  bool pending_ = false;       // current_ not handed out by Next() yet
  bool at_end_ = false;
  Status end_status_ = Status::kEnd;

  ColorDescription color_;
  std::unique_ptr<DecodedFrame> decoded_frame_;
  std::unique_ptr<PictureConverter> converter_;
  int converter_format_ = AV_PIX_FMT_NONE;
  ColorDescription converter_color_;
  std::unique_ptr<I420Frame> converted_;
  VideoFrame* current_ = nullptr;
};

MediaSource::~MediaSource() {
  av_frame_free(&picture_);
  av_packet_free(&packet_);
  avcodec_free_context(&decoder_);
  avformat_close_input(&format_);
  if (pipe_) {
    if (io_ != nullptr)
      av_freep(&io_->buffer);
    avio_context_free(&io_);
  } else {
    avio_closep(&io_);
  }
}

bool MediaSource::Open(const std::string& path, std::unique_ptr<PipeInput> pipe,
                       std::string* error) {
  pipe_ = std::move(pipe);
  packet_ = av_packet_alloc();
  picture_ = av_frame_alloc();
  if (packet_ == nullptr || picture_ == nullptr) {
    *error = name_ + ": out of memory";
    return false;
  }
  if (!OpenInput(path, error) || !ChooseStream(error) || !OpenDecoder(error))
    return false;
  ReadStreamFacts();
  if (!Decode(picture_)) {
    *error = name_ + ": no frame of its " + avcodec_get_name(stream_->codecpar->codec_id) +
             " video could be decoded";
    if (!first_problem_.empty())
      *error += " (" + first_problem_ + ")";
    else if (!cut_.empty())
      *error += " (" + cut_ + ")";
    return false;
  }
  if (!Present(picture_, PictureTicks(*picture_))) {
    *error = error_;
    return false;
  }
  pending_ = true;
  return true;
}

bool MediaSource::OpenInput(const std::string& path, std::string* error) {
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
    *error = "cannot open " + name_ + ": " + ErrorText(result);
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
      *error = name_ + ": cannot read it: " + ErrorText(result);
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
    *error = name_ + ": cannot read this " + kind +
             " file: " + (LastLibraryError().empty() ? ErrorText(result) : LastLibraryError());
    return false;
  }
  return true;
}

bool MediaSource::ChooseStream(std::string* error) {
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
      av_dict_set_int(&limit, "max_pixels", options_.max_pixels, 0);
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
    notes_.push_back("audio ignored: the " + audio_codec + " stream is not played");
  else if (audio > 1)
    notes_.push_back("audio ignored: the " + std::to_string(audio) +
                     " audio streams are not played");
  if (more_video > 0)
    notes_.push_back(std::to_string(more_video) + " more video stream" +
                     (more_video == 1 ? "" : "s") + " ignored: the first one plays");
  return true;
}

bool MediaSource::OpenDecoder(std::string* error) {
  const AVCodecParameters* parameters = stream_->codecpar;
  const char* codec_name = avcodec_get_name(parameters->codec_id);
  const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
  if (codec == nullptr) {
    *error = name_ + ": no decoder for its " + codec_name + " video in this build";
    return false;
  }
  if (!SizeAllowed(parameters->width, parameters->height)) {
    *error = name_ + ": its " + codec_name + " pictures of " + std::to_string(parameters->width) +
             "x" + std::to_string(parameters->height) + " are too large to play (at most " +
             std::to_string(kMaxDimension) + " a side and " + std::to_string(options_.max_pixels) +
             " pixels)";
    return false;
  }
  if (stream_->time_base.num <= 0 || stream_->time_base.den <= 0) {
    *error = name_ + ": its " + codec_name + " video has no time base";
    return false;
  }
  decoder_ = avcodec_alloc_context3(codec);
  if (decoder_ == nullptr || avcodec_parameters_to_context(decoder_, parameters) < 0) {
    *error = name_ + ": out of memory";
    return false;
  }
  decoder_->thread_count = options_.decoder_threads;
  decoder_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  decoder_->pkt_timebase = stream_->time_base;
  decoder_->max_pixels = options_.max_pixels;
  ForgetLastLibraryError();
  const int result = avcodec_open2(decoder_, codec, nullptr);
  if (result < 0) {
    *error = name_ + ": cannot start the " + codec_name +
             " decoder: " + (LastLibraryError().empty() ? ErrorText(result) : LastLibraryError());
    return false;
  }
  return true;
}

void MediaSource::ReadStreamFacts() {
  const AVRational time_base = stream_->time_base;
  has_timestamps_ = true;
  codec_ = avcodec_get_name(stream_->codecpar->codec_id);
  if (stream_->start_time != AV_NOPTS_VALUE)
    origin_ = stream_->start_time;
  else if (format_->start_time != AV_NOPTS_VALUE)
    origin_ = av_rescale_q(format_->start_time, AV_TIME_BASE_Q, time_base);
  if (stream_->duration != AV_NOPTS_VALUE && stream_->duration > 0) {
    duration_ = static_cast<double>(stream_->duration) * av_q2d(time_base);
    // A length estimated from the bit rate is too rough to tell a cut file.
    if (format_->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
      stated_end_ = origin_ + stream_->duration;
  } else if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0) {
    duration_ = static_cast<double>(format_->duration) / AV_TIME_BASE;
    // The container's length is the video's when nothing else is in it
    // (other streams may run on past the video).
    if (format_->nb_streams == 1 &&
        format_->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
      stated_end_ = origin_ + av_rescale_q(format_->duration, AV_TIME_BASE_Q, time_base);
  }
  AVRational rate = stream_->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0)
    rate = av_guess_frame_rate(format_, stream_, nullptr);
  if (rate.num > 0 && rate.den > 0) {
    fps_ = av_q2d(rate);
    frame_interval_ = av_rescale_q(1, av_inv_q(rate), time_base);
  }
  const AVRational aspect = av_guess_sample_aspect_ratio(format_, stream_, nullptr);
  if (aspect.num > 0 && aspect.den > 0)
    pixel_aspect_ = av_q2d(aspect);
  interlacing_ = Interlacing(stream_->codecpar->field_order);
  rotation_ = StreamRotation(*stream_);
}

bool MediaSource::ReadPacket() {
  for (int failures = 0;;) {
    const int result = av_read_frame(format_, packet_);
    if (result == AVERROR_EOF || (result < 0 && avio_feof(format_->pb)))
      return false;
    if (result < 0) {
      // A read error ends the data; a demuxer that stumbles on bad data
      // usually finds its feet again further on.
      if (format_->pb->error < 0 || ++failures > kMaxFailuresInARow) {
        cut_ = "reading stopped after " + Seconds(std::max(timestamp_, 0.0)) + ": " +
               ErrorText(result);
        return false;
      }
      continue;
    }
    if (packet_->stream_index == stream_->index) {
      last_packet_cut_ = (packet_->flags & AV_PKT_FLAG_CORRUPT) != 0;
      return true;
    }
    av_packet_unref(packet_);
  }
}

bool MediaSource::Decode(AVFrame* picture) {
  for (int failures = 0; failures <= kMaxFailuresInARow;) {
    int result = avcodec_receive_frame(decoder_, picture);
    if (result == 0)
      return true;
    if (result == AVERROR_EOF || (result == AVERROR(EAGAIN) && flushed_))
      return false;
    if (result != AVERROR(EAGAIN)) {
      NoteDecodeError("the decoder failed near " + Seconds(std::max(timestamp_, 0.0)) + ": " +
                      ErrorText(result));
      ++failures;
      continue;
    }
    // The decoder wants data.
    if (!ReadPacket()) {
      avcodec_send_packet(decoder_, nullptr);
      flushed_ = true;
      continue;
    }
    const int64_t packet_time = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
    result = avcodec_send_packet(decoder_, packet_);
    av_packet_unref(packet_);
    if (result < 0) {
      // Decoder threads report a failure a few packets late: "near".
      NoteDecodeError("the decoder failed near " +
                      Seconds(packet_time != AV_NOPTS_VALUE ? SecondsAt(packet_time) : timestamp_) +
                      ": " + ErrorText(result));
      ++failures;
    }
  }
  cut_ = "the decoder failed " + std::to_string(kMaxFailuresInARow) + " times in a row";
  return false;
}

int64_t MediaSource::PictureTicks(const AVFrame& picture) {
  int64_t ticks = picture.best_effort_timestamp;
  if (ticks == AV_NOPTS_VALUE)
    ticks = last_ticks_ == AV_NOPTS_VALUE ? origin_ : last_ticks_ + last_duration_;
  last_ticks_ = ticks;
  last_duration_ = PictureDuration(picture) > 0 ? PictureDuration(picture) : frame_interval_;
  const int64_t end = ticks + last_duration_;
  if (latest_end_ == AV_NOPTS_VALUE || end > latest_end_)
    latest_end_ = end;
  return ticks;
}

bool MediaSource::Present(AVFrame* picture, int64_t ticks) {
  const int width = picture->width, height = picture->height;
  if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension) {
    error_ = name_ + ": a decoded frame of " + std::to_string(width) + "x" +
             std::to_string(height) + " is not played (sizes from 1 to " +
             std::to_string(kMaxDimension) + ")";
    av_frame_unref(picture);
    return false;
  }
  timestamp_ = SecondsAt(ticks);
  frame_duration_ = PictureDuration(*picture) > 0 ? static_cast<double>(PictureDuration(*picture)) *
                                                        av_q2d(stream_->time_base)
                                                  : 0;
  if ((picture->flags & AV_FRAME_FLAG_CORRUPT) != 0 || picture->decode_error_flags != 0)
    NoteDecodeError("the frame at " + Seconds(timestamp_) +
                    " is damaged (the decoder hid what it could)");
  color_ = PictureColor(*picture);
  full_range_ = color_.range == ColorRange::kFull;

  if (std::unique_ptr<DecodedFrame> adopted = DecodedFrame::Adopt(picture)) {
    decoded_frame_ = std::move(adopted);
    current_ = decoded_frame_.get();
    ApplyColor();
    return true;
  }
  // A new converter, and a new frame to convert into, when the pictures
  // change; the frame on show stays valid until the conversion succeeded.
  std::unique_ptr<I420Frame> target;
  const bool new_size =
      !converted_ || converted_->Width() != width || converted_->Height() != height;
  if (new_size)
    target = CreateConversionTarget(width, height);
  if (new_size || !converter_ || picture->format != converter_format_ ||
      color_ != converter_color_) {
    converter_ = ConverterForPixelFormat(picture->format, width, height, color_);
    converter_format_ = picture->format;
    converter_color_ = color_;
    if (converter_ && std::find(notes_.begin(), notes_.end(), converter_->note()) == notes_.end())
      notes_.push_back(converter_->note());
  }
  I420Frame* into = target ? target.get() : converted_.get();
  const bool converted =
      converter_ && into != nullptr && converter_->Convert(picture->data, picture->linesize, into);
  if (!converted) {
    const char* format = av_get_pix_fmt_name(static_cast<AVPixelFormat>(picture->format));
    error_ = name_ + ": cannot convert its " + (format != nullptr ? format : "unknown") +
             " pictures of " + std::to_string(width) + "x" + std::to_string(height) + " at " +
             Seconds(timestamp_);
    converter_.reset();  // tried afresh on the next picture
    av_frame_unref(picture);
    return false;
  }
  av_frame_unref(picture);
  if (target)
    converted_ = std::move(target);
  decoded_frame_.reset();
  current_ = converted_.get();
  ApplyColor();
  return true;
}

VideoSource::Status MediaSource::Next() {
  if (pending_) {
    pending_ = false;
    ++frames_read_;
    return Status::kFrame;
  }
  if (at_end_)
    return end_status_;
  if (!Decode(picture_)) {
    at_end_ = true;
    end_status_ = EndStatus();
    return end_status_;
  }
  if (!Present(picture_, PictureTicks(*picture_)))
    return Status::kError;
  ++frames_read_;
  return Status::kFrame;
}

VideoSource::Status MediaSource::EndStatus() {
  // Pictures that stop well short of the length the stream states: the
  // rest of the file is missing. Two frames (or 0.1 s) of slack, for
  // streams whose stated length rounds up.
  if (cut_.empty()) {
    StreamEnd end;
    end.last_packet_cut = last_packet_cut_;
    end.last_time_s = timestamp_;
    if (stated_end_ != AV_NOPTS_VALUE)
      end.stated_end = stated_end_;
    if (latest_end_ != AV_NOPTS_VALUE) {
      end.latest_end = latest_end_;
      end.latest_end_s = SecondsAt(latest_end_);
    }
    end.slack =
        std::max(2 * frame_interval_, av_rescale_q(1, AVRational{1, 10}, stream_->time_base));
    end.stated_end_s = duration_;
    cut_ = CutReason(end);
  }
  if (cut_.empty())
    return Status::kEnd;
  error_ = name_ + ": " + cut_;
  return Status::kTruncated;
}

bool MediaSource::Reposition(int64_t* ticks, bool first_byte) {
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
    *ticks = origin_;
  }
  if (result < 0) {
    error_ = name_ + ": cannot seek: " + ErrorText(result);
    return false;
  }
  avcodec_flush_buffers(decoder_);
  flushed_ = false;
  last_packet_cut_ = false;
  cut_.clear();
  at_end_ = false;
  pending_ = false;
  last_ticks_ = AV_NOPTS_VALUE;
  return true;
}

bool MediaSource::Seek(double seconds) {
  if (!seekable()) {
    error_ = name_ + " cannot seek: it is read once, as it comes";
    return false;
  }
  past_end_ = false;
  const AVRational time_base = stream_->time_base;
  seconds = std::min(std::max(seconds, 0.0), 1e7);
  const int64_t target =
      origin_ + llround(seconds * time_base.den / static_cast<double>(time_base.num));
  // To the key frame at or before the time, then decoded up to it. A
  // demuxer without an index (an MPEG transport stream) may land between key
  // frames, where the decoder gives nothing until the next one, after the
  // time or at the end: then from further back, twice as far each time,
  // down to the start.
  int64_t from = target;
  int64_t back = av_rescale_q(1, AVRational{1, 1}, time_base);
  for (bool first_byte = false;;) {
    if (!Reposition(&from, first_byte))
      return false;
    bool decoded = Decode(picture_);
    int64_t ticks = decoded ? PictureTicks(*picture_) : 0;
    if ((!decoded || ticks > target) && (from > origin_ || !first_byte)) {
      av_frame_unref(picture_);
      first_byte = from <= origin_;
      from = from - origin_ > back ? from - back : origin_;
      back = back > INT64_MAX / 4 ? back : 2 * back;
      continue;
    }
    while (decoded && ticks < target) {
      av_frame_unref(picture_);
      decoded = Decode(picture_);
      ticks = decoded ? PictureTicks(*picture_) : 0;
    }
    if (!decoded) {  // past the last frame
      past_end_ = true;
      at_end_ = true;
      end_status_ = EndStatus();
      return true;
    }
    if (!Present(picture_, ticks))
      return false;
    pending_ = true;
    return true;
  }
}

void MediaSource::NoteDecodeError(const std::string& what) {
  if (decode_errors_++ == 0) {
    first_problem_ = what;
    first_decode_error_ = name_ + ": " + what;
  }
}

}  // namespace

bool MediaSupported() {
  return true;
}

std::unique_ptr<VideoSource> OpenMedia(const std::string& path, std::string* error,
                                       const MediaOptions& options) {
  if (path == "-") {
    std::unique_ptr<PipeInput> input = PipeInput::Open(path, error);
    return input ? OpenMedia(std::move(input), error, options) : nullptr;
  }
  TakeLibraryLog();
  auto source = std::make_unique<MediaSource>(path, options);
  if (!source->Open(path, nullptr, error))
    return nullptr;
  return source;
}

std::unique_ptr<VideoSource> OpenMedia(std::unique_ptr<PipeInput> input, std::string* error,
                                       const MediaOptions& options) {
  TakeLibraryLog();
  auto source = std::make_unique<MediaSource>(input->name(), options);
  if (!source->Open(std::string(), std::move(input), error))
    return nullptr;
  return source;
}

}  // namespace engine
