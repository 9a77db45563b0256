#ifndef QUON_OHOS_NAPI_QUON_FRAME_H_
#define QUON_OHOS_NAPI_QUON_FRAME_H_

// A frame described by its layout, beside rtc::IVideoFrame: what hardware
// decoders and cameras hand over (a Y plane and one interleaved chroma
// plane) drawn as it comes, with the frame's own turn and capture time.
// Pushed with PluginManager::PushFrame (quon_renderManager.h).

#include <stdint.h>

// How the planes are laid out. Chroma is halved in both directions
// (rounded up) in every layout.
constexpr int32_t kFrameLayoutI420 = 0;  // planes Y, U (Cb), V (Cr)
constexpr int32_t kFrameLayoutNv12 = 1;  // planes Y, then Cb Cr interleaved
constexpr int32_t kFrameLayoutNv21 = 2;  // planes Y, then Cr Cb interleaved

// Colour range or matrix of a frame that follows the id's own description
// (PluginManager::SetColorDescription).
constexpr int32_t kFrameColourOfId = -1;

struct FrameDescription {
  int32_t layout = kFrameLayoutI420;
  int32_t width = 0;  // pixels, at least 1
  int32_t height = 0;
  // I420: Y, U, V. NV12 and NV21: Y and the chroma pair plane; the third is
  // not read. Valid for the length of the call only.
  const uint8_t* planes[3] = {nullptr, nullptr, nullptr};
  // Bytes from one row to the next per plane; 0: the row's width (for a
  // chroma pair plane, twice the chroma width). No stride may be below it.
  int32_t strides[3] = {0, 0, 0};
  // kColorRangeFull or kColorRangeLimited, kColorMatrixBt601, 709 or 2020
  // (quon_render.h); kFrameColourOfId: the id's description.
  int32_t colorRange = kFrameColourOfId;
  int32_t colorMatrix = kFrameColourOfId;
  // The frame's clockwise turn, 0, 90, 180 or 270, added to the id's
  // SetRotation (mirror still applies last).
  int32_t rotation = 0;
  // When the frame was captured, in microseconds of the monotonic clock
  // (CLOCK_MONOTONIC); 0 when unknown. Kept with the statistics.
  int64_t captureTimeUs = 0;
};

#endif  // QUON_OHOS_NAPI_QUON_FRAME_H_
