#ifndef ENGINE_FRAME_GENERATOR_H_
#define ENGINE_FRAME_GENERATOR_H_

// Synthetic I420 pictures for the player, the tests and the benchmarks: flat
// colours, gradients, colour bars and a marker that moves with the frame
// index. Every pattern is a pure function of (size, pattern, colour, index),
// so the same index always gives the same bytes. Any size from 1 x 1 up,
// odd ones included; chroma planes are ((width + 1) / 2) x ((height + 1) / 2).

#include <stdint.h>

#include <memory>

#include "engine/i420_frame.h"

namespace engine {

// A colour as I420 samples (BT.601, limited range).
struct Yuv {
  uint8_t y;
  uint8_t u;
  uint8_t v;
};

// Writable planes of a picture, with their strides in bytes.
struct PlaneSet {
  uint8_t* y;
  int stride_y;
  uint8_t* u;
  int stride_u;
  uint8_t* v;
  int stride_v;
};

// A square drawn at an even position, so that it covers whole chroma samples.
struct MarkerRect {
  int x;
  int y;
  int size;
};

class FrameGenerator {
 public:
  enum class Pattern {
    kFlat,          // the whole picture in `colour`
    kGradient,      // Y rises left to right, U top to bottom, V right to left
    kColourBars,    // eight vertical 75% bars: white, yellow, cyan, green, magenta, red,
                    // blue, black
    kMovingMarker,  // a white square on `colour`, bouncing off the edges as the index grows
  };

  static constexpr Yuv kGrey = {128, 128, 128};
  static constexpr Yuv kWhite = {235, 128, 128};

  FrameGenerator(int width, int height, Pattern pattern, Yuv colour = kGrey);

  int width() const { return width_; }
  int height() const { return height_; }

  // Draws picture `index` into `planes`, which hold at least width x height
  // luma samples and the chroma samples above, at their strides. Touches
  // nothing outside those samples (row padding is left alone).
  void Draw(int64_t index, const PlaneSet& planes) const;

  // Picture `index` in a new frame that owns its planes (strides as
  // I420Frame::Create takes them). Null when the size is not positive.
  std::unique_ptr<I420Frame> Generate(int64_t index, int stride_y = 0, int stride_u = 0,
                                      int stride_v = 0) const;

  // Where the moving marker of picture `index` lies.
  MarkerRect Marker(int64_t index) const;

 private:
  void DrawColourBars(const PlaneSet& planes) const;
  void DrawGradient(const PlaneSet& planes) const;

  int width_;
  int height_;
  Pattern pattern_;
  Yuv colour_;
};

// Fills `planes` (width x height, I420) with one colour.
void FillFlat(const PlaneSet& planes, int width, int height, Yuv colour);

}  // namespace engine

#endif  // ENGINE_FRAME_GENERATOR_H_
