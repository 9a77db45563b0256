#include "engine/media_decoder.h"

#include <errno.h>

#include <algorithm>

#include "engine/media_library_log.h"
#include "engine/stream_cut.h"

namespace engine {

namespace {

// Failures in a row after which a decoder is taken to have nothing more to
// give: each one reads on, so this only bounds a run of bad data, never a
// play.
constexpr int kMaxFailuresInARow = 1000;

}  // namespace

MediaDecoder::~MediaDecoder() {
  avcodec_free_context(&decoder_);
}

bool MediaDecoder::SizeAllowed(int width, int height) const {
  return width <= kMaxSide && height <= kMaxSide &&
         int64_t{width} * std::max(height, 0) <= options_.max_pixels;
}

bool MediaDecoder::Open(std::string* error) {
  const AVStream* stream = demuxer_->stream();
  const AVCodecParameters* parameters = stream->codecpar;
  const char* codec_name = avcodec_get_name(parameters->codec_id);
  const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
  if (codec == nullptr) {
    *error = name_ + ": no decoder for its " + codec_name + " video in this build";
    return false;
  }
  if (!SizeAllowed(parameters->width, parameters->height)) {
    *error = name_ + ": its " + codec_name + " pictures of " + std::to_string(parameters->width) +
             "x" + std::to_string(parameters->height) + " are too large to play (at most " +
             std::to_string(kMaxSide) + " a side and " + std::to_string(options_.max_pixels) +
             " pixels)";
    return false;
  }
  if (stream->time_base.num <= 0 || stream->time_base.den <= 0) {
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
  decoder_->pkt_timebase = stream->time_base;
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

bool MediaDecoder::ReadPacket() {
  if (!demuxer_->Read(state_->timestamp, &cut_))
    return false;
  last_packet_cut_ = (demuxer_->packet()->flags & AV_PKT_FLAG_CORRUPT) != 0;
  return true;
}

bool MediaDecoder::Decode(AVFrame* picture) {
  AVPacket* packet = demuxer_->packet();
  for (int failures = 0; failures <= kMaxFailuresInARow;) {
    int result = avcodec_receive_frame(decoder_, picture);
    if (result == 0)
      return true;
    if (result == AVERROR_EOF || (result == AVERROR(EAGAIN) && flushed_))
      return false;
    if (result != AVERROR(EAGAIN)) {
      NoteDamage("the decoder failed near " + SecondsText(std::max(state_->timestamp, 0.0)) + ": " +
                 LibraryErrorText(result));
      ++failures;
      continue;
    }
    // The decoder wants data.
    if (!ReadPacket()) {
      avcodec_send_packet(decoder_, nullptr);
      flushed_ = true;
      continue;
    }
    const int64_t packet_time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    result = avcodec_send_packet(decoder_, packet);
    av_packet_unref(packet);
    if (result < 0) {
      // Decoder threads report a failure a few packets late: "near".
      NoteDamage(
          "the decoder failed near " +
          SecondsText(packet_time != AV_NOPTS_VALUE ? SecondsAt(packet_time) : state_->timestamp) +
          ": " + LibraryErrorText(result));
      ++failures;
    }
  }
  cut_ = "the decoder failed " + std::to_string(kMaxFailuresInARow) + " times in a row";
  return false;
}

void MediaDecoder::Flush() {
  avcodec_flush_buffers(decoder_);
  flushed_ = false;
  last_packet_cut_ = false;
  cut_.clear();
}

void MediaDecoder::NoteDamage(const std::string& what) {
  if (state_->decode_errors++ == 0) {
    first_damage_ = what;
    state_->first_decode_error = name_ + ": " + what;
  }
}

double MediaDecoder::SecondsAt(int64_t ticks) const {
  return static_cast<double>(ticks - origin_) * av_q2d(demuxer_->stream()->time_base);
}

}  // namespace engine
