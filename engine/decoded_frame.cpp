#include "engine/decoded_frame.h"

#include <new>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace engine {

std::unique_ptr<DecodedFrame> DecodedFrame::Adopt(AVFrame* frame) {
  if (frame == nullptr ||
      (frame->format != AV_PIX_FMT_YUV420P && frame->format != AV_PIX_FMT_YUVJ420P) ||
      frame->linesize[0] <= 0 || frame->linesize[1] <= 0 || frame->linesize[2] <= 0)
    return nullptr;
  AVFrame* held = av_frame_alloc();
  if (held == nullptr)
    return nullptr;
  av_frame_move_ref(held, frame);
  return std::unique_ptr<DecodedFrame>(new DecodedFrame(held));
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
  return frame_->data[1];
}
const uint8_t* DecodedFrame::VPlane() const {
  return frame_->data[2];
}
int32_t DecodedFrame::YStride() const {
  return frame_->linesize[0];
}
int32_t DecodedFrame::UStride() const {
  return frame_->linesize[1];
}
int32_t DecodedFrame::VStride() const {
  return frame_->linesize[2];
}

rtc::IVideoFrame* DecodedFrame::Clone() const {
  AVFrame* reference = av_frame_clone(frame_);
  if (reference == nullptr)
    return nullptr;
  auto* copy = new (std::nothrow) DecodedFrame(reference);
  if (copy == nullptr) {
    av_frame_free(&reference);
    return nullptr;
  }
  copy->set_color(color());
  return copy;
}

}  // namespace engine
