#include "engine/media_source.h"

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "engine/frame_presenter.h"
#include "engine/media_decoder.h"
#include "engine/media_demuxer.h"
#include "engine/media_library_log.h"
#include "engine/media_stream_facts.h"
#include "engine/stream_cut.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace engine {

namespace {

constexpr int kMaxDimension = MediaDecoder::kMaxSide;

// The demuxer reads the stream's packets, the decoder makes pictures of
// them, the presenter makes those frames for the renderer; the source
// keeps the play's time, its end and its seeks.
class MediaSource : public VideoSource {
 public:
  MediaSource(std::string name, const MediaOptions& options)
      : name_(std::move(name)),
        demuxer_(name_, options.max_pixels),
        decoder_(name_, &demuxer_, options, &state_),
        presenter_(&info_.notes) {}
  ~MediaSource() override;
  MediaSource(const MediaSource&) = delete;
  MediaSource& operator=(const MediaSource&) = delete;

  // Everything up to the first frame, from the file at `path` or from
  // `pipe`, read once. False with the reason in `error`.
  bool Open(const std::string& path, std::unique_ptr<PipeInput> pipe, std::string* error);

  Status Next() override;
  bool Rewind() override { return Seek(0); }
  VideoFrame* frame() const override { return presenter_.frame(); }
  bool seekable() const override { return demuxer_.seekable(); }
  bool Seek(double seconds) override;

 protected:
  ColorDescription NativeColor() const override { return presenter_.color(); }

 private:
  void ReadStreamFacts();
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
  double SecondsAt(int64_t ticks) const {
    return static_cast<double>(ticks - origin_) * av_q2d(stream_->time_base);
  }

  const std::string name_;
  MediaDemuxer demuxer_;
  MediaDecoder decoder_;
  FramePresenter presenter_;
  AVStream* stream_ = nullptr;  // the demuxer's video stream
  AVFrame* picture_ = nullptr;  // the decoder's output before it is presented

  int64_t origin_ = 0;                   // ticks of the stream's start
  int64_t stated_end_ = AV_NOPTS_VALUE;  // ticks where the stream says it ends
  int64_t frame_interval_ = 0;           // ticks of one frame at the average rate
  int64_t last_ticks_ = AV_NOPTS_VALUE;  // of the last picture decoded
  int64_t last_duration_ = 0;
  int64_t latest_end_ = AV_NOPTS_VALUE;  // the furthest a picture reached
  bool pending_ = false;                 // the frame on show not handed out by Next() yet
  bool at_end_ = false;
  Status end_status_ = Status::kEnd;
};

MediaSource::~MediaSource() {
  av_frame_free(&picture_);
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
  if (!decoder_.Open(error))
    return false;
  ReadStreamFacts();
  decoder_.set_origin(origin_);
  if (!decoder_.Decode(picture_)) {
    *error = name_ + ": no frame of its " + avcodec_get_name(stream_->codecpar->codec_id) +
             " video could be decoded";
    if (!decoder_.first_damage().empty())
      *error += " (" + decoder_.first_damage() + ")";
    else if (!decoder_.cut().empty())
      *error += " (" + decoder_.cut() + ")";
    return false;
  }
  if (!Present(picture_, PictureTicks(*picture_))) {
    *error = state_.error;
    return false;
  }
  pending_ = true;
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
    decoder_.NoteDamage("the frame at " + SecondsText(state_.timestamp) +
                        " is damaged (the decoder hid what it could)");
  std::string failure;
  const bool presented = presenter_.Present(picture, &failure);
  info_.full_range = presenter_.color().range == ColorRange::kFull;
  if (!presented) {
    state_.error = name_ + ": " + failure + " at " + SecondsText(state_.timestamp);
    return false;
  }
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
  if (!decoder_.Decode(picture_)) {
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
  std::string cut = decoder_.cut();
  if (cut.empty()) {
    StreamEnd end;
    end.last_packet_cut = decoder_.last_packet_cut();
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
    cut = CutReason(end);
  }
  if (cut.empty())
    return Status::kEnd;
  state_.error = name_ + ": " + cut;
  return Status::kTruncated;
}

bool MediaSource::Reposition(int64_t* ticks, bool first_byte) {
  const int result = demuxer_.Reposition(ticks, first_byte, origin_);
  if (result < 0) {
    state_.error = name_ + ": cannot seek: " + LibraryErrorText(result);
    return false;
  }
  decoder_.Flush();
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
    bool decoded = decoder_.Decode(picture_);
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
      decoded = decoder_.Decode(picture_);
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
