#include "engine/i420_frame.h"

#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>

#include <algorithm>
#include <limits>
#include <new>

namespace engine {

namespace {

// Bytes of a plane of `rows` rows of `stride` bytes, or 0 when that does not
// fit a size_t with room to spare.
size_t PlaneBytes(int stride, int rows) {
  const uint64_t bytes = static_cast<uint64_t>(stride) * static_cast<uint64_t>(rows);
  if (bytes > static_cast<uint64_t>(std::numeric_limits<ptrdiff_t>::max() / 4))
    return 0;
  return static_cast<size_t>(bytes);
}

}  // namespace

I420Frame::~I420Frame() = default;

std::unique_ptr<I420Frame> I420Frame::Create(int width, int height, int stride_y, int stride_u,
                                             int stride_v) {
  if (width <= 0 || height <= 0)
    return nullptr;
  const int chroma_width = ChromaWidth(width);
  const int chroma_height = ChromaHeight(height);
  if (stride_y < width)
    stride_y = width;
  if (stride_u < chroma_width)
    stride_u = chroma_width;
  if (stride_v < chroma_width)
    stride_v = chroma_width;

  const size_t y_bytes = PlaneBytes(stride_y, height);
  const size_t u_bytes = PlaneBytes(stride_u, chroma_height);
  const size_t v_bytes = PlaneBytes(stride_v, chroma_height);
  if (y_bytes == 0 || u_bytes == 0 || v_bytes == 0)
    return nullptr;

  std::unique_ptr<I420Frame> frame(new I420Frame());
  frame->owned_.reset(new (std::nothrow) uint8_t[y_bytes + u_bytes + v_bytes]());
  if (!frame->owned_)
    return nullptr;
  frame->width_ = width;
  frame->height_ = height;
  frame->stride_y_ = stride_y;
  frame->stride_u_ = stride_u;
  frame->stride_v_ = stride_v;
  frame->y_offset_ = 0;
  frame->u_offset_ = y_bytes;
  frame->v_offset_ = y_bytes + u_bytes;
  frame->y_ = frame->owned_.get();
  frame->u_ = frame->y_ + frame->u_offset_;
  frame->v_ = frame->y_ + frame->v_offset_;
  return frame;
}

std::unique_ptr<I420Frame> I420Frame::Wrap(int width, int height, const uint8_t* y, int stride_y,
                                           const uint8_t* u, int stride_u, const uint8_t* v,
                                           int stride_v) {
  std::unique_ptr<I420Frame> frame(new I420Frame());
  frame->width_ = width;
  frame->height_ = height;
  frame->y_ = y;
  frame->u_ = u;
  frame->v_ = v;
  frame->stride_y_ = stride_y;
  frame->stride_u_ = stride_u;
  frame->stride_v_ = stride_v;
  return frame;
}

rtc::IVideoFrame* I420Frame::Clone() const {
  if (clone_fails_for_testing_)
    return nullptr;
  if (y_ == nullptr || u_ == nullptr || v_ == nullptr || width_ <= 0 || height_ <= 0)
    return nullptr;
  std::unique_ptr<I420Frame> copy = Create(width_, height_);
  if (!copy)
    return nullptr;
  libyuv::I420Copy(y_, EffectiveStrideY(), u_, EffectiveStrideU(), v_, EffectiveStrideV(),
                   copy->MutableYPlane(), copy->stride_y_, copy->MutableUPlane(), copy->stride_u_,
                   copy->MutableVPlane(), copy->stride_v_, width_, height_);
  copy->set_color_description(limited_range_, matrix_);
  return copy.release();
}

int I420Frame::ExportArgb(uint32_t fourcc, uint8_t* buffer, size_t size, int32_t stride) const {
  if (fourcc != rtc::kFourccArgb || buffer == nullptr)
    return -1;
  if (y_ == nullptr || u_ == nullptr || v_ == nullptr || width_ <= 0 || height_ <= 0)
    return -1;
  const int chroma_width = ChromaWidth(width_);
  if (EffectiveStrideY() < width_ || EffectiveStrideU() < chroma_width ||
      EffectiveStrideV() < chroma_width)
    return -1;
  const uint64_t row_bytes = static_cast<uint64_t>(width_) * 4;
  if (stride < 0 || static_cast<uint64_t>(stride) < row_bytes)
    return -1;
  const uint64_t needed =
      static_cast<uint64_t>(stride) * static_cast<uint64_t>(height_ - 1) + row_bytes;
  if (static_cast<uint64_t>(size) < needed)
    return -1;
  const uint8_t* y = y_;
  const uint8_t* u = u_;
  const uint8_t* v = v_;
  int stride_y = EffectiveStrideY(), stride_u = EffectiveStrideU(), stride_v = EffectiveStrideV();
  const libyuv::YuvConstants* matrix =
      limited_range_ ? &libyuv::kYuvI601Constants : &libyuv::kYuvJPEGConstants;
  if (matrix_ == 709)
    matrix = &libyuv::kYuvF709Constants;
  else if (matrix_ == 2020)
    matrix = &libyuv::kYuvV2020Constants;
  // libyuv's limited-range BT.709 and BT.2020 tables cut the blue weight of
  // Cb (2.112, 2.142) to what their 8 bits hold, 2.0: blues would come out
  // up to 4 steps off. Such frames are stretched to the full range first
  // and converted with the full-range table.
  std::unique_ptr<I420Frame> stretched;
  if ((matrix_ == 709 || matrix_ == 2020) && limited_range_) {
    stretched = StretchedToFullRange();
    if (!stretched)
      return -1;
    y = stretched->y_;
    u = stretched->u_;
    v = stretched->v_;
    stride_y = stretched->stride_y_;
    stride_u = stretched->stride_u_;
    stride_v = stretched->stride_v_;
  }
  // Chroma upsampled bilinearly, as the window's texture sampling does: the
  // nearest sample alone leaves every colour edge two pixels wide and
  // jagged.
  return libyuv::I420ToARGBMatrixFilter(y, stride_y, u, stride_u, v, stride_v, buffer, stride,
                                        matrix, width_, height_, libyuv::kFilterBilinear) == 0
             ? 0
             : -1;
}

std::unique_ptr<I420Frame> I420Frame::StretchedToFullRange() const {
  std::unique_ptr<I420Frame> full = Create(width_, height_);
  if (!full)
    return nullptr;
  uint8_t luma[256], chroma[256];
  for (int i = 0; i < 256; ++i) {
    luma[i] = static_cast<uint8_t>(std::min(255, std::max(0, ((i - 16) * 255 + 109) / 219)));
    chroma[i] = static_cast<uint8_t>(
        std::min(255, std::max(0, 128 + ((i - 128) * 255 + (i >= 128 ? 112 : -112)) / 224)));
  }
  auto stretch = [](const uint8_t* from, int from_stride, uint8_t* to, int to_stride, int width,
                    int rows, const uint8_t* table) {
    for (int row = 0; row < rows; ++row)
      for (int x = 0; x < width; ++x)
        to[static_cast<size_t>(row) * to_stride + x] =
            table[from[static_cast<size_t>(row) * from_stride + x]];
  };
  const int chroma_width = ChromaWidth(width_), chroma_height = ChromaHeight(height_);
  stretch(y_, EffectiveStrideY(), full->MutableYPlane(), full->stride_y_, width_, height_, luma);
  stretch(u_, EffectiveStrideU(), full->MutableUPlane(), full->stride_u_, chroma_width,
          chroma_height, chroma);
  stretch(v_, EffectiveStrideV(), full->MutableVPlane(), full->stride_v_, chroma_width,
          chroma_height, chroma);
  return full;
}

}  // namespace engine
