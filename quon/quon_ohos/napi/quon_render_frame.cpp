#include "quon_render_frame.h"

#include <stdint.h>
#include <string.h>

#include <algorithm>

namespace pushed_frame {

namespace {

int32_t ChromaSize(int32_t lumaSize) {
  return lumaSize / 2 + lumaSize % 2;
}

uint8_t Clamped(double value) {
  return static_cast<uint8_t>(std::min(255.0, std::max(0.0, value + 0.5)));
}

}  // namespace

const char* FaultOf(const FrameDescription& frame) {
  const bool biplanar = frame.layout == kFrameLayoutNv12 || frame.layout == kFrameLayoutNv21;
  if (frame.layout != kFrameLayoutI420 && !biplanar)
    return "unknown layout";
  if (frame.width < 1 || frame.height < 1)
    return "size below 1x1";
  if (frame.planes[0] == nullptr || frame.planes[1] == nullptr ||
      (!biplanar && frame.planes[2] == nullptr))
    return "a plane is null";
  const int64_t chromaW = ChromaSize(frame.width);
  const int64_t widths[3] = {frame.width, biplanar ? chromaW * 2 : chromaW, chromaW};
  for (int plane = 0; plane < (biplanar ? 2 : 3); ++plane)
    if (frame.strides[plane] != 0 && frame.strides[plane] < widths[plane])
      return "a stride is below its plane's width";
  if (widths[1] > INT32_MAX)
    return "size too large for its chroma rows";
  if (frame.rotation != 0 && frame.rotation != 90 && frame.rotation != 180 && frame.rotation != 270)
    return "rotation is not a quarter turn";
  return nullptr;
}

OwnedI420Frame::OwnedI420Frame(const FrameDescription& frame, bool limitedRange,
                               colour::YuvMatrix matrix)
    : m_width(frame.width),
      m_height(frame.height),
      m_chromaWidth(ChromaSize(frame.width)),
      m_limitedRange(limitedRange),
      m_matrix(matrix) {
  const int32_t chromaH = ChromaSize(frame.height);
  const size_t w = static_cast<size_t>(m_width), cw = static_cast<size_t>(m_chromaWidth);
  m_planes[0].resize(w * static_cast<size_t>(m_height));
  m_planes[1].resize(cw * static_cast<size_t>(chromaH));
  m_planes[2].resize(cw * static_cast<size_t>(chromaH));
  const size_t ys = frame.strides[0] != 0 ? static_cast<size_t>(frame.strides[0]) : w;
  for (int32_t row = 0; row < m_height; ++row)
    memcpy(&m_planes[0][row * w], frame.planes[0] + row * ys, w);
  if (frame.layout == kFrameLayoutI420) {
    for (int plane = 1; plane < 3; ++plane) {
      const size_t s = frame.strides[plane] != 0 ? static_cast<size_t>(frame.strides[plane]) : cw;
      for (int32_t row = 0; row < chromaH; ++row)
        memcpy(&m_planes[plane][row * cw], frame.planes[plane] + row * s, cw);
    }
    return;
  }
  const size_t s = frame.strides[1] != 0 ? static_cast<size_t>(frame.strides[1]) : cw * 2;
  const int first = frame.layout == kFrameLayoutNv12 ? 1 : 2;  // the plane of each pair's first
  for (int32_t row = 0; row < chromaH; ++row) {
    const uint8_t* pairs = frame.planes[1] + row * s;
    for (size_t col = 0; col < cw; ++col) {
      m_planes[first][row * cw + col] = pairs[col * 2];
      m_planes[3 - first][row * cw + col] = pairs[col * 2 + 1];
    }
  }
}

int OwnedI420Frame::ExportArgb(uint32_t fourcc, uint8_t* buffer, size_t size,
                               int32_t stride) const {
  if (fourcc != rtc::kFourccArgb || buffer == nullptr || stride < m_width * 4 ||
      size < static_cast<size_t>(stride) * static_cast<size_t>(m_height))
    return -1;
  const colour::LumaWeights w = colour::WeightsOf(m_matrix);
  const double kg = 1.0 - w.kr - w.kb;
  const double vToRed = 2.0 * (1.0 - w.kr), uToBlue = 2.0 * (1.0 - w.kb);
  const double uToGreen = uToBlue * w.kb / kg, vToGreen = vToRed * w.kr / kg;
  const double lumaScale = m_limitedRange ? 255.0 / 219.0 : 1.0;
  const double chromaScale = m_limitedRange ? 255.0 / 224.0 : 1.0;
  const double lumaOffset = m_limitedRange ? 16.0 : 0.0;
  for (int32_t row = 0; row < m_height; ++row) {
    uint8_t* out = buffer + static_cast<size_t>(row) * static_cast<size_t>(stride);
    for (int32_t col = 0; col < m_width; ++col) {
      const size_t c = static_cast<size_t>(row / 2) * m_chromaWidth + static_cast<size_t>(col / 2);
      const double y =
          (m_planes[0][static_cast<size_t>(row) * m_width + col] - lumaOffset) * lumaScale;
      const double u = (m_planes[1][c] - 128.0) * chromaScale;
      const double v = (m_planes[2][c] - 128.0) * chromaScale;
      out[col * 4 + 0] = Clamped(y + uToBlue * u);
      out[col * 4 + 1] = Clamped(y - uToGreen * u - vToGreen * v);
      out[col * 4 + 2] = Clamped(y + vToRed * v);
      out[col * 4 + 3] = 255;
    }
  }
  return 0;
}

}  // namespace pushed_frame
