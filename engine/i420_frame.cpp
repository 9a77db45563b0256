#include "engine/i420_frame.h"

#include <libyuv/planar_functions.h>

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
  copy->set_color(color());
  return copy.release();
}

}  // namespace engine
