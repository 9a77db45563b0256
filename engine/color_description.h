#ifndef ENGINE_COLOR_DESCRIPTION_H_
#define ENGINE_COLOR_DESCRIPTION_H_

// How a frame's samples encode colour: the range of the samples and the
// matrix from Y'CbCr to R'G'B'. The values are numbered as the renderer's
// PluginManager::SetColorDescription takes them (range 0 full, 1 limited;
// matrix 601, 709, 2020), so a caller passes static_cast<int>(value).

namespace engine {

enum class ColorRange {
  kFull = 0,     // samples 0..255
  kLimited = 1,  // Y 16..235, Cb and Cr 16..240
};

enum class ColorMatrix {
  kBt601 = 601,
  kBt709 = 709,
  kBt2020 = 2020,
};

struct ColorDescription {
  ColorRange range = ColorRange::kLimited;
  ColorMatrix matrix = ColorMatrix::kBt601;

  bool operator==(const ColorDescription& other) const {
    return range == other.range && matrix == other.matrix;
  }
  bool operator!=(const ColorDescription& other) const { return !(*this == other); }
};

// The matrix to assume for a picture that does not say: BT.709 at HD sizes
// and above (a height of 720 or more, or a width of 1280 or more), BT.601
// below, as decoders and players commonly guess.
inline ColorMatrix GuessColorMatrix(int width, int height) {
  return height >= 720 || width >= 1280 ? ColorMatrix::kBt709 : ColorMatrix::kBt601;
}

// The whole guess for an untagged picture: limited range, matrix by size.
inline ColorDescription GuessColorDescription(int width, int height) {
  return {ColorRange::kLimited, GuessColorMatrix(width, height)};
}

}  // namespace engine

#endif  // ENGINE_COLOR_DESCRIPTION_H_
