#include "support/media_clip.h"

#include <string.h>

#include <algorithm>
#include <fstream>
#include <iterator>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

std::string WriteClip(const std::string& path, const Clip& clip) {
  av_log_set_level(AV_LOG_ERROR);  // the encoders' reports are not the test's
  AVFormatContext* out = nullptr;
  if (avformat_alloc_output_context2(&out, nullptr, clip.muxer, path.c_str()) < 0)
    return std::string("no muxer ") + clip.muxer;
  std::string failure;
  AVCodecContext* encoder = nullptr;
  AVStream* video = nullptr;
  AVStream* audio = nullptr;
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  // Sends `picture` (null: the end) and writes what comes out. Each frame
  // lasts until the next one (the last one last_ms): a container that is not
  // told drops a last frame without a length.
  auto encode = [&](AVFrame* picture) {
    if (avcodec_send_frame(encoder, picture) < 0)
      return false;
    while (avcodec_receive_packet(encoder, packet) == 0) {
      const auto next = std::upper_bound(clip.times_ms.begin(), clip.times_ms.end(), packet->pts);
      packet->duration = next != clip.times_ms.end() ? *next - packet->pts : clip.last_ms;
      av_packet_rescale_ts(packet, encoder->time_base, video->time_base);
      packet->stream_index = video->index;
      if (av_interleaved_write_frame(out, packet) < 0)
        return false;
    }
    return true;
  };
  do {
    if (clip.encoder != nullptr) {
      const AVCodec* codec = avcodec_find_encoder_by_name(clip.encoder);
      if (codec == nullptr) {
        failure = std::string("no encoder ") + clip.encoder;
        break;
      }
      encoder = avcodec_alloc_context3(codec);
      encoder->width = clip.width;
      encoder->height = clip.height;
      encoder->pix_fmt = clip.format;
      encoder->time_base = {1, 1000};
      encoder->max_b_frames = 0;
      encoder->thread_count = 1;
      if (clip.key_interval > 0)
        encoder->gop_size = clip.key_interval;
      encoder->colorspace = clip.colorspace;
      if (clip.colorspace == AVCOL_SPC_BT709) {
        encoder->color_primaries = AVCOL_PRI_BT709;
        encoder->color_trc = AVCOL_TRC_BT709;
        encoder->color_range = AVCOL_RANGE_MPEG;
      }
      if (out->oformat->flags & AVFMT_GLOBALHEADER)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
      AVDictionary* options = nullptr;
      av_dict_set(&options, "preset", "ultrafast", 0);   // libx264
      av_dict_set(&options, "qp", "0", 0);               // libx264: lossless
      av_dict_set(&options, "lossless", "1", 0);         // libvpx-vp9
      av_dict_set(&options, "deadline", "realtime", 0);  // libvpx-vp9
      av_dict_set(&options, "cpu-used", "8", 0);         // libvpx-vp9
      const int opened = avcodec_open2(encoder, codec, &options);
      av_dict_free(&options);
      if (opened < 0) {
        failure = std::string("cannot open ") + clip.encoder;
        break;
      }
      video = avformat_new_stream(out, nullptr);
      avcodec_parameters_from_context(video->codecpar, encoder);
      video->time_base = encoder->time_base;
      if (clip.turn_clockwise != 0) {
        auto* matrix = reinterpret_cast<int32_t*>(
            av_stream_new_side_data(video, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)));
        av_display_rotation_set(matrix, clip.turn_clockwise);
      }
    }
    if (clip.audio) {
      audio = avformat_new_stream(out, nullptr);
      audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
      audio->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
      audio->codecpar->sample_rate = 8000;
      av_channel_layout_default(&audio->codecpar->ch_layout, 1);
      audio->time_base = {1, 8000};
    }
    AVDictionary* mux_options = nullptr;
    if (clip.index_first)
      av_dict_set(&mux_options, "movflags", "+faststart", 0);
    const bool started = avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0 &&
                         avformat_write_header(out, &mux_options) >= 0;
    av_dict_free(&mux_options);
    if (!started) {
      failure = "cannot start " + path;
      break;
    }
    if (audio != nullptr) {  // a tenth of a second of silence
      av_new_packet(packet, 1600);
      memset(packet->data, 0, 1600);
      packet->pts = packet->dts = 0;
      packet->duration = 800;
      packet->stream_index = audio->index;
      av_packet_rescale_ts(packet, AVRational{1, 8000}, audio->time_base);
      if (av_interleaved_write_frame(out, packet) < 0)
        failure = "cannot write audio";
    }
    const int shift = av_pix_fmt_desc_get(clip.format)->comp[0].depth - 8;
    for (size_t n = 0; encoder != nullptr && failure.empty() && n < clip.times_ms.size(); ++n) {
      frame->format = clip.format;
      frame->width = clip.width;
      frame->height = clip.height;
      if (av_frame_get_buffer(frame, 0) < 0) {
        failure = "no frame";
        break;
      }
      const int values[3] = {Luma(static_cast<int>(n)) << shift, 96 << shift, 160 << shift};
      // NV12 and NV21: the second plane holds the pairs, Cb first or Cr first.
      const int planes = av_pix_fmt_count_planes(clip.format);
      const bool cr_first = clip.format == AV_PIX_FMT_NV21;
      for (int plane = 0; plane < planes; ++plane) {
        const int rows = plane == 0 ? clip.height : (clip.height + 1) / 2;
        const int columns = plane == 0 ? clip.width : (clip.width + 1) / 2 * (planes == 2 ? 2 : 1);
        for (int row = 0; row < rows; ++row) {
          uint8_t* line = frame->data[plane] + static_cast<ptrdiff_t>(row) * frame->linesize[plane];
          for (int x = 0; x < columns; ++x) {
            const int value =
                planes == 2 && plane == 1 ? values[1 + ((x % 2 == 1) != cr_first)] : values[plane];
            if (shift == 0)
              line[x] = static_cast<uint8_t>(value);
            else
              reinterpret_cast<uint16_t*>(line)[x] = static_cast<uint16_t>(value);
          }
        }
      }
      frame->pts = clip.times_ms[n];
      if (!encode(frame))
        failure = "cannot encode";
      av_frame_unref(frame);
    }
    if (failure.empty() && encoder != nullptr && !encode(nullptr))
      failure = "cannot finish encoding";
    if (failure.empty() && av_write_trailer(out) < 0)
      failure = "cannot finish " + path;
  } while (false);
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&encoder);
  avio_closep(&out->pb);
  avformat_free_context(out);
  return failure;
}

std::string WriteDamagedClips(const std::string& intact, const std::string& early,
                              const std::string& damaged) {
  Clip indexed{"mp4", "libx264"};
  indexed.times_ms.clear();
  for (int n = 0; n < 25; ++n)
    indexed.times_ms.push_back(int64_t{40} * n);
  indexed.key_interval = 5;
  indexed.index_first = true;
  const std::string written = WriteClip(intact, indexed);
  if (!written.empty())
    return written;
  std::ifstream in(intact, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ofstream(early, std::ios::binary) << bytes.substr(0, bytes.size() * 6 / 10);
  AVFormatContext* demuxer = nullptr;
  if (avformat_open_input(&demuxer, intact.c_str(), nullptr, nullptr) != 0)
    return "cannot open " + intact + " again";
  AVPacket* packet = av_packet_alloc();
  for (int n = 0; av_read_frame(demuxer, packet) >= 0; ++n, av_packet_unref(packet)) {
    if (n >= 10 && n < 15)
      bytes.replace(packet->pos, packet->size, packet->size, '\xff');
  }
  av_packet_free(&packet);
  avformat_close_input(&demuxer);
  std::ofstream(damaged, std::ios::binary) << bytes;
  return "";
}
