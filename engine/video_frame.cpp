#include "engine/video_frame.h"

#include <libyuv/convert_argb.h>

#include <algorithm>
#include <memory>
#include <new>

namespace engine {

namespace {

struct Plane {
  const uint8_t* data;
  int stride, width, height;
};

// The plane's samples mapped through `table` into `to`, a tight copy that
// `plane` then describes. False when the copy cannot be allocated.
bool MapSamples(Plane* plane, const uint8_t* table, std::unique_ptr<uint8_t[]>* to) {
  to->reset(new (std::nothrow) uint8_t[static_cast<size_t>(plane->width) * plane->height]);
  if (!*to)
    return false;
  for (int row = 0; row < plane->height; ++row) {
    const uint8_t* from = plane->data + static_cast<size_t>(row) * plane->stride;
    uint8_t* mapped = to->get() + static_cast<size_t>(row) * plane->width;
    for (int x = 0; x < plane->width; ++x)
      mapped[x] = table[from[x]];
  }
  *plane = {to->get(), plane->width, plane->width, plane->height};
  return true;
}

}  // namespace

FrameDescription VideoFrame::Describe() const {
  FrameDescription description;
  description.layout = kFrameLayoutI420;
  description.width = Width();
  description.height = Height();
  description.planes[0] = YPlane();
  description.planes[1] = UPlane();
  description.planes[2] = VPlane();
  description.strides[0] = YStride();
  description.strides[1] = UStride();
  description.strides[2] = VStride();
  // Numbered as the renderer takes them (engine/color_description.h).
  description.colorRange = static_cast<int32_t>(color_.range);
  description.colorMatrix = static_cast<int32_t>(color_.matrix);
  return description;
}

int VideoFrame::ExportArgb(uint32_t fourcc, uint8_t* buffer, size_t size, int32_t stride) const {
  if (fourcc != rtc::kFourccArgb || buffer == nullptr)
    return -1;
  const int width = Width(), height = Height();
  const int chroma_width = (width + 1) / 2, chroma_height = (height + 1) / 2;
  Plane y{YPlane(), YStride() != 0 ? YStride() : width, width, height};
  Plane u{UPlane(), UStride() != 0 ? UStride() : chroma_width, chroma_width, chroma_height};
  Plane v{VPlane(), VStride() != 0 ? VStride() : chroma_width, chroma_width, chroma_height};
  if (y.data == nullptr || u.data == nullptr || v.data == nullptr || width <= 0 || height <= 0)
    return -1;
  if (y.stride < width || u.stride < chroma_width || v.stride < chroma_width)
    return -1;
  const uint64_t row_bytes = static_cast<uint64_t>(width) * 4;
  if (stride < 0 || static_cast<uint64_t>(stride) < row_bytes)
    return -1;
  const uint64_t needed =
      static_cast<uint64_t>(stride) * static_cast<uint64_t>(height - 1) + row_bytes;
  if (static_cast<uint64_t>(size) < needed)
    return -1;

  const bool limited = color_.range == ColorRange::kLimited;
  const libyuv::YuvConstants* matrix =
      limited ? &libyuv::kYuvI601Constants : &libyuv::kYuvJPEGConstants;
  // libyuv's limited-range BT.709 and BT.2020 tables cut the blue weight of
  // Cb (2.112, 2.142) to what their 8 bits hold, 2.0: blues would come out
  // up to 4 steps off. Such frames are stretched to the full range first and
  // converted with the full-range table.
  std::unique_ptr<uint8_t[]> full_y, full_u, full_v;
  if (color_.matrix != ColorMatrix::kBt601) {
    matrix = color_.matrix == ColorMatrix::kBt709 ? &libyuv::kYuvF709Constants
                                                  : &libyuv::kYuvV2020Constants;
    if (limited) {
      uint8_t luma[256], chroma[256];
      for (int i = 0; i < 256; ++i) {
        luma[i] = static_cast<uint8_t>(std::min(255, std::max(0, ((i - 16) * 255 + 109) / 219)));
        chroma[i] = static_cast<uint8_t>(
            std::min(255, std::max(0, 128 + ((i - 128) * 255 + (i >= 128 ? 112 : -112)) / 224)));
      }
      if (!MapSamples(&y, luma, &full_y) || !MapSamples(&u, chroma, &full_u) ||
          !MapSamples(&v, chroma, &full_v))
        return -1;
    }
  }
  // Chroma upsampled bilinearly, as the window's texture sampling does: the
  // nearest sample alone leaves every colour edge two pixels wide and
  // jagged.
  return libyuv::I420ToARGBMatrixFilter(y.data, y.stride, u.data, u.stride, v.data, v.stride,
                                        buffer, stride, matrix, width, height,
                                        libyuv::kFilterBilinear) == 0
             ? 0
             : -1;
}

}  // namespace engine
