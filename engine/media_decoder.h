#ifndef ENGINE_MEDIA_DECODER_H_
#define ENGINE_MEDIA_DECODER_H_

// The decoding half of the container source: the stream's decoder, on its
// own threads, fed with the demuxer's packets until it gives a picture.
// Damage it skips (a packet refused, a frame concealed) is counted in the
// source's reading state and the decoding goes on.

#include <stdint.h>

#include <string>

#include "engine/media_demuxer.h"
#include "engine/media_source.h"
#include "engine/video_source.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace engine {

class MediaDecoder {
 public:
  // The largest side of a picture played, whatever MediaOptions allow.
  static constexpr int kMaxSide = 16384;

  // `name`: the input as the user named it. Decodes the stream `demuxer`
  // chose; damage goes to `state`, whose timestamp says where the play
  // stands for the messages. Both outlive the decoder.
  MediaDecoder(const std::string& name, MediaDemuxer* demuxer, const MediaOptions& options,
               ReadState* state)
      : name_(name), options_(options), demuxer_(demuxer), state_(state) {}
  ~MediaDecoder();
  MediaDecoder(const MediaDecoder&) = delete;
  MediaDecoder& operator=(const MediaDecoder&) = delete;

  // Starts the decoder for the demuxer's stream. False, with one line
  // naming the input and the reason in `error`, when there is no decoder for
  // it, its pictures are larger than allowed, it has no time base, or the
  // decoder does not start.
  bool Open(std::string* error);
  // Whether pictures of `width` x `height` may be decoded.
  bool SizeAllowed(int width, int height) const;
  // Ticks of the stream's start, from which the messages count seconds.
  void set_origin(int64_t ticks) { origin_ = ticks; }

  // The next picture of the stream into `picture`; false at its end (the
  // data's end, or a long run of failures: cut() says then).
  bool Decode(AVFrame* picture);
  // Empties the decoder after the demuxer moved, and forgets how the data
  // ended.
  void Flush();

  // Why the data stopped before the stream did ("" when it did not), and
  // whether the last packet read was cut.
  const std::string& cut() const { return cut_; }
  bool last_packet_cut() const { return last_packet_cut_; }

  // Counts damage in the state; the first is kept, with and without the
  // input's name.
  void NoteDamage(const std::string& what);
  const std::string& first_damage() const { return first_damage_; }

 private:
  bool ReadPacket();
  double SecondsAt(int64_t ticks) const;

  const std::string name_;
  const MediaOptions options_;
  MediaDemuxer* const demuxer_;
  ReadState* const state_;
  AVCodecContext* decoder_ = nullptr;
  int64_t origin_ = 0;
  bool flushed_ = false;  // the decoder was told the data ended
  bool last_packet_cut_ = false;
  std::string cut_;
  std::string first_damage_;
};

}  // namespace engine

#endif  // ENGINE_MEDIA_DECODER_H_
