#ifndef ENGINE_DECODED_FRAME_H_
#define ENGINE_DECODED_FRAME_H_

// A decoder's 8-bit 4:2:0 picture handed to the renderer as it is: the
// decoder's own planes and row strides (rows padded as it laid them out),
// no pixel copied. The frame holds a reference on the decoded AVFrame, so
// the planes stay valid for as long as this frame or any clone of it lives,
// whatever the decoder does meanwhile, and after it is closed.

#include <memory>

#include "engine/video_frame.h"

struct AVFrame;

namespace engine {

class DecodedFrame : public VideoFrame {
 public:
  // Takes over the reference `frame` holds (leaving `frame` empty) when its
  // picture is 8-bit 4:2:0 (yuv420p or yuvj420p) with rows that go down the
  // picture (positive strides); otherwise null, and `frame` is untouched.
  static std::unique_ptr<DecodedFrame> Adopt(AVFrame* frame);

  ~DecodedFrame() override;
  DecodedFrame(const DecodedFrame&) = delete;
  DecodedFrame& operator=(const DecodedFrame&) = delete;

  int32_t Width() const override;
  int32_t Height() const override;
  const uint8_t* YPlane() const override;
  const uint8_t* UPlane() const override;
  const uint8_t* VPlane() const override;
  int32_t YStride() const override;
  int32_t UStride() const override;
  int32_t VStride() const override;

  // Another reference on the same picture, not a copy of its pixels, with
  // this frame's colour description. Null when memory runs out.
  IVideoFrame* Clone() const override;

  // The decoded picture this frame references.
  const AVFrame* av_frame() const { return frame_; }

 private:
  explicit DecodedFrame(AVFrame* frame) : frame_(frame) {}

  AVFrame* frame_;  // owned: one reference
};

}  // namespace engine

#endif  // ENGINE_DECODED_FRAME_H_
