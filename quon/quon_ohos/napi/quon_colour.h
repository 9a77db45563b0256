#ifndef QUON_OHOS_NAPI_QUON_COLOUR_H_
#define QUON_OHOS_NAPI_QUON_COLOUR_H_

// The Y'CbCr matrices frames may be coded with, as the drawing core and the
// capture writers take them (PluginManager::SetColorDescription names them
// by number: 601, 709, 2020).

namespace colour {

enum class YuvMatrix { kBt601, kBt709, kBt2020 };

// The red and blue shares of a matrix's luma; green has the rest.
struct LumaWeights {
  double kr, kb;
};

constexpr LumaWeights WeightsOf(YuvMatrix matrix) {
  switch (matrix) {
    case YuvMatrix::kBt709:
      return {0.2126, 0.0722};
    case YuvMatrix::kBt2020:  // non-constant luminance
      return {0.2627, 0.0593};
    case YuvMatrix::kBt601:
      break;
  }
  return {0.299, 0.114};
}

// The matrix a description's number names (kColorMatrixBt709 and
// kColorMatrixBt2020 in quon_render.h); BT.601 for any other.
constexpr YuvMatrix YuvMatrixOf(int number) {
  return number == 709    ? YuvMatrix::kBt709
         : number == 2020 ? YuvMatrix::kBt2020
                          : YuvMatrix::kBt601;
}

}  // namespace colour

#endif  // QUON_OHOS_NAPI_QUON_COLOUR_H_
