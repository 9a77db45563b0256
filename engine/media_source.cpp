#include "engine/media_source.h"

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "engine/decoded_frame.h"
#include "engine/media_demuxer.h"
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
// Failures in a row after which a decoder is taken to have nothing more to
// give: each one reads on, so this only bounds a run of bad data, never a
// play.
constexpr int kMaxFailuresInARow = 1000;

// --- The source -------------------------------------------------------------

class MediaSource : public VideoSource {
 public:
  MediaSource(std::string name, const MediaOptions& options)
      : name_(std::move(name)), options_(options), demuxer_(name_, options.max_pixels) {}
  ~MediaSource() override;
  MediaSource(const MediaSource&) = delete;
  MediaSource& operator=(const MediaSource&) = delete;

  // Everything up to the first frame, from the file at `path` or from
  // `pipe`, read once. False with the reason in `error`.
  bool Open(const std::string& path, std::unique_ptr<PipeInput> pipe, std::string* error);

  Status Next() override;
  bool Rewind() override { return Seek(0); }
  VideoFrame* frame() const override { return current_; }
  bool seekable() const override { return demuxer_.seekable(); }
  bool Seek(double seconds) override;

 protected:
  ColorDescription NativeColor() const override { return color_; }

 private:
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
  MediaDemuxer demuxer_;
  AVStream* stream_ = nullptr;  // the demuxer's video stream
  AVCodecContext* decoder_ = nullptr;
  AVPacket* packet_ = nullptr;  // the demuxer's
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
  std::string first_problem_;  // state_.first_decode_error without the name
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
  avcodec_free_context(&decoder_);
}

bool MediaSource::Open(const std::string& path, std::unique_ptr<PipeInput> pipe,
                       std::string* error) {
  picture_ = av_frame_alloc();
  if (picture_ == nullptr) {
    *error = name_ + ": out of memory";
    return false;
  }
  if (!demuxer_.Open(path, std::move(pipe), &info_.notes, error))
    return false;
  stream_ = demuxer_.stream();
  packet_ = demuxer_.packet();
  if (!OpenDecoder(error))
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
    *error = state_.error;
    return false;
  }
  pending_ = true;
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
    *error = name_ + ": cannot start the " + codec_name + " decoder: " +
             (LastLibraryError().empty() ? LibraryErrorText(result) : LastLibraryError());
    return false;
  }
  return true;
}

void MediaSource::ReadStreamFacts() {
  const AVRational time_base = stream_->time_base;
  info_.has_timestamps = true;
  info_.codec = avcodec_get_name(stream_->codecpar->codec_id);
  if (stream_->start_time != AV_NOPTS_VALUE)
    origin_ = stream_->start_time;
  else if (demuxer_.format()->start_time != AV_NOPTS_VALUE)
    origin_ = av_rescale_q(demuxer_.format()->start_time, AV_TIME_BASE_Q, time_base);
  if (stream_->duration != AV_NOPTS_VALUE && stream_->duration > 0) {
    info_.duration = static_cast<double>(stream_->duration) * av_q2d(time_base);
    // A length estimated from the bit rate is too rough to tell a cut file.
    if (demuxer_.format()->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
      stated_end_ = origin_ + stream_->duration;
  } else if (demuxer_.format()->duration != AV_NOPTS_VALUE && demuxer_.format()->duration > 0) {
    info_.duration = static_cast<double>(demuxer_.format()->duration) / AV_TIME_BASE;
    // The container's length is the video's when nothing else is in it
    // (other streams may run on past the video).
    if (demuxer_.format()->nb_streams == 1 &&
        demuxer_.format()->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
      stated_end_ = origin_ + av_rescale_q(demuxer_.format()->duration, AV_TIME_BASE_Q, time_base);
  }
  AVRational rate = stream_->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0)
    rate = av_guess_frame_rate(demuxer_.format(), stream_, nullptr);
  if (rate.num > 0 && rate.den > 0) {
    info_.fps = av_q2d(rate);
    frame_interval_ = av_rescale_q(1, av_inv_q(rate), time_base);
  }
  const AVRational aspect = av_guess_sample_aspect_ratio(demuxer_.format(), stream_, nullptr);
  if (aspect.num > 0 && aspect.den > 0)
    info_.pixel_aspect = av_q2d(aspect);
  info_.interlacing = Interlacing(stream_->codecpar->field_order);
  info_.rotation = StreamRotation(*stream_);
}

bool MediaSource::ReadPacket() {
  if (!demuxer_.Read(state_.timestamp, &cut_))
    return false;
  last_packet_cut_ = (packet_->flags & AV_PKT_FLAG_CORRUPT) != 0;
  return true;
}

bool MediaSource::Decode(AVFrame* picture) {
  for (int failures = 0; failures <= kMaxFailuresInARow;) {
    int result = avcodec_receive_frame(decoder_, picture);
    if (result == 0)
      return true;
    if (result == AVERROR_EOF || (result == AVERROR(EAGAIN) && flushed_))
      return false;
    if (result != AVERROR(EAGAIN)) {
      NoteDecodeError("the decoder failed near " + SecondsText(std::max(state_.timestamp, 0.0)) +
                      ": " + LibraryErrorText(result));
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
      NoteDecodeError(
          "the decoder failed near " +
          SecondsText(packet_time != AV_NOPTS_VALUE ? SecondsAt(packet_time) : state_.timestamp) +
          ": " + LibraryErrorText(result));
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
    state_.error = name_ + ": a decoded frame of " + std::to_string(width) + "x" +
                   std::to_string(height) + " is not played (sizes from 1 to " +
                   std::to_string(kMaxDimension) + ")";
    av_frame_unref(picture);
    return false;
  }
  state_.timestamp = SecondsAt(ticks);
  state_.frame_duration =
      PictureDuration(*picture) > 0
          ? static_cast<double>(PictureDuration(*picture)) * av_q2d(stream_->time_base)
          : 0;
  if ((picture->flags & AV_FRAME_FLAG_CORRUPT) != 0 || picture->decode_error_flags != 0)
    NoteDecodeError("the frame at " + SecondsText(state_.timestamp) +
                    " is damaged (the decoder hid what it could)");
  color_ = PictureColor(*picture);
  info_.full_range = color_.range == ColorRange::kFull;

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
    if (converter_ &&
        std::find(info_.notes.begin(), info_.notes.end(), converter_->note()) == info_.notes.end())
      info_.notes.push_back(converter_->note());
  }
  I420Frame* into = target ? target.get() : converted_.get();
  const bool converted =
      converter_ && into != nullptr && converter_->Convert(picture->data, picture->linesize, into);
  if (!converted) {
    const char* format = av_get_pix_fmt_name(static_cast<AVPixelFormat>(picture->format));
    state_.error = name_ + ": cannot convert its " + (format != nullptr ? format : "unknown") +
                   " pictures of " + std::to_string(width) + "x" + std::to_string(height) + " at " +
                   SecondsText(state_.timestamp);
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
    ++state_.frames_read;
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
  ++state_.frames_read;
  return Status::kFrame;
}

VideoSource::Status MediaSource::EndStatus() {
  // Pictures that stop well short of the length the stream states: the
  // rest of the file is missing. Two frames (or 0.1 s) of slack, for
  // streams whose stated length rounds up.
  if (cut_.empty()) {
    StreamEnd end;
    end.last_packet_cut = last_packet_cut_;
    end.last_time_s = state_.timestamp;
    if (stated_end_ != AV_NOPTS_VALUE)
      end.stated_end = stated_end_;
    if (latest_end_ != AV_NOPTS_VALUE) {
      end.latest_end = latest_end_;
      end.latest_end_s = SecondsAt(latest_end_);
    }
    end.slack =
        std::max(2 * frame_interval_, av_rescale_q(1, AVRational{1, 10}, stream_->time_base));
    end.stated_end_s = info_.duration;
    cut_ = CutReason(end);
  }
  if (cut_.empty())
    return Status::kEnd;
  state_.error = name_ + ": " + cut_;
  return Status::kTruncated;
}

bool MediaSource::Reposition(int64_t* ticks, bool first_byte) {
  const int result = demuxer_.Reposition(ticks, first_byte, origin_);
  if (result < 0) {
    state_.error = name_ + ": cannot seek: " + LibraryErrorText(result);
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
    state_.error = name_ + " cannot seek: it is read once, as it comes";
    return false;
  }
  state_.past_end = false;
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
      state_.past_end = true;
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
  if (state_.decode_errors++ == 0) {
    first_problem_ = what;
    state_.first_decode_error = name_ + ": " + what;
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
