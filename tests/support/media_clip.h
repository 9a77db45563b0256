#ifndef TESTS_SUPPORT_MEDIA_CLIP_H_
#define TESTS_SUPPORT_MEDIA_CLIP_H_

// Small container files made with FFmpeg's own encoders and muxers, for the
// suites that play them (the container source, the player).

#include <stdint.h>

#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

// Frame n of every clip: flat, luma 16 + 4n (scaled for deeper samples),
// Cb 96, Cr 160. The encoders run lossless, so each frame tells its index.
inline int Luma(int n) {
  return 16 + 4 * n;
}

struct Clip {
  const char* muxer;
  const char* encoder;  // null: no video stream
  AVPixelFormat format = AV_PIX_FMT_YUV420P;
  int width = 64, height = 48;
  std::vector<int64_t> times_ms = {0, 40, 80, 120, 160};
  int64_t last_ms = 40;  // how long the last frame lasts
  int key_interval = 0;  // 0: the encoder's choice
  AVColorSpace colorspace = AVCOL_SPC_UNSPECIFIED;
  double turn_clockwise = 0;  // display matrix, when not 0
  bool audio = false;
  bool index_first = false;  // mp4: the index (moov) before the data
};

// Writes `clip` to `path`; "" or what failed.
std::string WriteClip(const std::string& path, const Clip& clip);

// A damaged mp4 of 25 frames, 40 ms apart, a key frame every five, its
// index first, in two copies: `early`, its data cut short at six tenths;
// `damaged`, whole but with packets 10 to 14 overwritten (the decoding
// recovers at the next key frame). "" or what failed.
std::string WriteDamagedClips(const std::string& intact, const std::string& early,
                              const std::string& damaged);

#endif  // TESTS_SUPPORT_MEDIA_CLIP_H_
