#include "quon_render_image_colour.h"

#include <cmath>

namespace capture {

namespace {

uint8_t Clamp(double value) {
  return static_cast<uint8_t>(std::min(255.0, std::max(0.0, value + 0.5)));
}

// (Y, Cb, Cr) in `to` of the colour whose Y'CbCr in `from` is (0, cb, cr).
void Convert(colour::LumaWeights from, colour::LumaWeights to, double cb, double cr,
             double out[3]) {
  const double r = 2.0 * (1.0 - from.kr) * cr;
  const double b = 2.0 * (1.0 - from.kb) * cb;
  const double g = (-from.kr * r - from.kb * b) / (1.0 - from.kr - from.kb);
  out[0] = to.kr * r + (1.0 - to.kr - to.kb) * g + to.kb * b;
  out[1] = (b - out[0]) / (2.0 * (1.0 - to.kb));
  out[2] = (r - out[0]) / (2.0 * (1.0 - to.kr));
}

int32_t Fixed(double value) {
  return static_cast<int32_t>(std::lround(value * MatrixConversion::kOne));
}

}  // namespace

RangeExpansion::RangeExpansion() {
  for (int v = 0; v < 256; ++v) {
    luma[v] = Clamp((v - 16) * 255.0 / 219.0);
    chroma[v] = Clamp((v - 128) * 255.0 / 224.0 + 128.0);
  }
}

const RangeExpansion& LimitedToFull() {
  static const RangeExpansion tables;
  return tables;
}

MatrixConversion::MatrixConversion(colour::LumaWeights from, bool limitedRange) {
  const colour::LumaWeights to = colour::WeightsOf(colour::YuvMatrix::kBt601);
  const double yScale = limitedRange ? 255.0 / 219.0 : 1.0;
  const double cScale = limitedRange ? 255.0 / 224.0 : 1.0;
  double fromCb[3], fromCr[3];
  Convert(from, to, 1.0, 0.0, fromCb);
  Convert(from, to, 0.0, 1.0, fromCr);
  yOffset = limitedRange ? 16 : 0;
  luma = Fixed(yScale);
  lumaFromCb = Fixed(fromCb[0] * cScale);
  lumaFromCr = Fixed(fromCr[0] * cScale);
  cbFromCb = Fixed(fromCb[1] * cScale);
  cbFromCr = Fixed(fromCr[1] * cScale);
  crFromCb = Fixed(fromCb[2] * cScale);
  crFromCr = Fixed(fromCr[2] * cScale);
}

const MatrixConversion& ToJfif(colour::YuvMatrix matrix, bool limitedRange) {
  using colour::WeightsOf;
  using colour::YuvMatrix;
  static const MatrixConversion bt709Full(WeightsOf(YuvMatrix::kBt709), false);
  static const MatrixConversion bt709Limited(WeightsOf(YuvMatrix::kBt709), true);
  static const MatrixConversion bt2020Full(WeightsOf(YuvMatrix::kBt2020), false);
  static const MatrixConversion bt2020Limited(WeightsOf(YuvMatrix::kBt2020), true);
  if (matrix == YuvMatrix::kBt2020)
    return limitedRange ? bt2020Limited : bt2020Full;
  return limitedRange ? bt709Limited : bt709Full;
}

}  // namespace capture
