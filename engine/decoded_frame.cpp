#include "engine/decoded_frame.h"

#include <libyuv/planar_functions.h>

#include <new>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace engine {

namespace {

int32_t ChromaWidth(const AVFrame& frame) {
  return (frame.width + 1) / 2;
}
int32_t ChromaHeight(const AVFrame& frame) {
  return (frame.height + 1) / 2;
}

}  // namespace

std::unique_ptr<DecodedFrame> DecodedFrame::Adopt(AVFrame* frame) {
  if (frame == nullptr)
    return nullptr;
  int32_t layout = kFrameLayoutI420;
  int planes = 3;
  if (frame->format == AV_PIX_FMT_NV12 || frame->format == AV_PIX_FMT_NV21) {
    layout = frame->format == AV_PIX_FMT_NV12 ? kFrameLayoutNv12 : kFrameLayoutNv21;
    planes = 2;
  } else if (frame->format != AV_PIX_FMT_YUV420P && frame->format != AV_PIX_FMT_YUVJ420P) {
    return nullptr;
  }
  for (int plane = 0; plane < planes; ++plane)
    if (frame->data[plane] == nullptr || frame->linesize[plane] <= 0)
      return nullptr;
  AVFrame* held = av_frame_alloc();
  if (held == nullptr)
    return nullptr;
  av_frame_move_ref(held, frame);
  return std::unique_ptr<DecodedFrame>(new DecodedFrame(held, layout));
}

FrameDescription DecodedFrame::Describe() const {
  if (layout_ == kFrameLayoutI420)
    return VideoFrame::Describe();
  // Not from VideoFrame's, which would ask for the split chroma planes.
  FrameDescription description;
  description.layout = layout_;
  description.width = frame_->width;
  description.height = frame_->height;
  description.colorRange = static_cast<int32_t>(color().range);
  description.colorMatrix = static_cast<int32_t>(color().matrix);
  description.planes[0] = frame_->data[0];
  description.planes[1] = frame_->data[1];
  description.planes[2] = nullptr;
  description.strides[0] = frame_->linesize[0];
  description.strides[1] = frame_->linesize[1];
  description.strides[2] = 0;
  return description;
}

// Only a path that needs three planes (a BMP capture's conversion, square
// pixels) comes here; the frames pushed as they are never do.
void DecodedFrame::SplitChroma() const {
  std::call_once(split_once_, [this] {
    const int32_t width = ChromaWidth(*frame_), height = ChromaHeight(*frame_);
    const size_t plane = static_cast<size_t>(width) * height;
    split_.reset(new (std::nothrow) uint8_t[2 * plane]);
    if (!split_)
      return;
    uint8_t* first = split_.get();
    uint8_t* second = split_.get() + plane;
    // NV12 pairs Cb then Cr; NV21 Cr then Cb.
    libyuv::SplitUVPlane(frame_->data[1], frame_->linesize[1],
                         layout_ == kFrameLayoutNv12 ? first : second, width,
                         layout_ == kFrameLayoutNv12 ? second : first, width, width, height);
  });
}

DecodedFrame::~DecodedFrame() {
  av_frame_free(&frame_);
}

int32_t DecodedFrame::Width() const {
  return frame_->width;
}
int32_t DecodedFrame::Height() const {
  return frame_->height;
}
const uint8_t* DecodedFrame::YPlane() const {
  return frame_->data[0];
}
const uint8_t* DecodedFrame::UPlane() const {
  if (layout_ == kFrameLayoutI420)
    return frame_->data[1];
  SplitChroma();
  return split_.get();
}
const uint8_t* DecodedFrame::VPlane() const {
  if (layout_ == kFrameLayoutI420)
    return frame_->data[2];
  SplitChroma();
  return split_ ? split_.get() + static_cast<size_t>(ChromaWidth(*frame_)) * ChromaHeight(*frame_)
                : nullptr;
}
int32_t DecodedFrame::YStride() const {
  return frame_->linesize[0];
}
int32_t DecodedFrame::UStride() const {
  return layout_ == kFrameLayoutI420 ? frame_->linesize[1] : ChromaWidth(*frame_);
}
int32_t DecodedFrame::VStride() const {
  return layout_ == kFrameLayoutI420 ? frame_->linesize[2] : ChromaWidth(*frame_);
}

rtc::IVideoFrame* DecodedFrame::Clone() const {
  AVFrame* reference = av_frame_clone(frame_);
  if (reference == nullptr)
    return nullptr;
  auto* copy = new (std::nothrow) DecodedFrame(reference, layout_);
  if (copy == nullptr) {
    av_frame_free(&reference);
    return nullptr;
  }
  copy->set_color(color());
  return copy;
}

}  // namespace engine
