#ifndef QUON_OHOS_NAPI_QUON_RENDER_IMAGE_COLOUR_H_
#define QUON_OHOS_NAPI_QUON_RENDER_IMAGE_COLOUR_H_

// The JPEG writer's colour conversions: the frame's samples, as the engine
// described them, to the BT.601 full-range Y'CbCr every JFIF reader assumes.

#include <stdint.h>

#include <algorithm>

#include "quon_colour.h"

namespace capture {

// Limited-range samples (Y 16..235, chroma 16..240 around 128) stretched to
// the full range a JFIF file is read in, clamped; one table per kind.
struct RangeExpansion {
  uint8_t luma[256];
  uint8_t chroma[256];

  RangeExpansion();
};

const RangeExpansion& LimitedToFull();

// Another matrix's Y'CbCr, in either range, to the BT.601 full-range
// Y'CbCr a JFIF file holds, in 16.16 fixed point. Both matrices give grey
// zero chroma, so the new chroma depends on the old chroma alone and
// converts exactly on the subsampled planes; the new luma is the old luma
// plus a chroma term.
struct MatrixConversion {
  static constexpr int kShift = 16;
  static constexpr int32_t kOne = 1 << kShift;

  MatrixConversion(colour::LumaWeights from, bool limitedRange);

  static uint8_t ToSample(int32_t fixed) {
    return static_cast<uint8_t>(std::min(255, std::max(0, (fixed + kOne / 2) >> kShift)));
  }

  int yOffset;
  int32_t luma;
  int32_t lumaFromCb, lumaFromCr;
  int32_t cbFromCb, cbFromCr, crFromCb, crFromCr;
};

// BT.709 or BT.2020 samples, limited range or full (BT.601 ones need no
// matrix conversion).
const MatrixConversion& ToJfif(colour::YuvMatrix matrix, bool limitedRange);

}  // namespace capture

#endif  // QUON_OHOS_NAPI_QUON_RENDER_IMAGE_COLOUR_H_
