#ifndef ENGINE_DECODED_FRAME_H_
#define ENGINE_DECODED_FRAME_H_

// A decoder's 8-bit 4:2:0 picture handed to the renderer as it is: the
// decoder's own planes and row strides (rows padded as it laid them out),
// no pixel copied. Three planes (I420), or a Y plane and an interleaved
// chroma plane (NV12, NV21: layout() says, Describe() gives them as they
// are). The frame holds a reference on the decoded AVFrame, so the planes
// stay valid for as long as this frame or any clone of it lives, whatever
// the decoder does meanwhile, and after it is closed.

#include <memory>
#include <mutex>

#include "engine/video_frame.h"

struct AVFrame;

namespace engine {

class DecodedFrame : public VideoFrame {
 public:
  // Takes over the reference `frame` holds (leaving `frame` empty) when its
  // picture is 8-bit 4:2:0 (yuv420p, yuvj420p, nv12 or nv21) with rows that
  // go down the picture (positive strides); otherwise null, and `frame` is
  // untouched.
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
  int32_t layout() const override { return layout_; }
  FrameDescription Describe() const override;

  // Another reference on the same picture, not a copy of its pixels, with
  // this frame's colour description. Null when memory runs out.
  IVideoFrame* Clone() const override;

  // The decoded picture this frame references.
  const AVFrame* av_frame() const { return frame_; }

 private:
  DecodedFrame(AVFrame* frame, int32_t layout) : frame_(frame), layout_(layout) {}

  // NV12 and NV21: the chroma pair plane split into U and V, once.
  void SplitChroma() const;

  AVFrame* frame_;  // owned: one reference
  const int32_t layout_;
  mutable std::once_flag split_once_;
  mutable std::unique_ptr<uint8_t[]> split_;  // U rows, then V rows; null when out of memory
};

}  // namespace engine

#endif  // ENGINE_DECODED_FRAME_H_
