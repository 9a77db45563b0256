#include "engine/square_pixels.h"

#include <math.h>

#include <algorithm>

#include "libyuv/scale.h"

namespace engine {

namespace {

constexpr int kMaxDimension = 16384;

class SquarePixelSource : public VideoSource {
 public:
  SquarePixelSource(std::unique_ptr<VideoSource> source, double aspect)
      : source_(std::move(source)), aspect_(aspect) {
    Follow();
    Scale();  // the frame on show (a sought one) before the first read
  }

  Status Next() override {
    Status status = source_->Next();
    Follow();
    if (status == Status::kFrame && !Scale()) {
      state_.error = "cannot scale a " + std::to_string(source_->width()) + "x" +
                     std::to_string(source_->height()) + " frame to square pixels";
      status = Status::kError;
    }
    return status;
  }
  bool Rewind() override {
    const bool rewound = source_->Rewind();
    Follow();
    return rewound;
  }
  bool seekable() const override { return source_->seekable(); }
  bool Seek(double seconds) override {
    const bool sought = source_->Seek(seconds);
    Follow();
    return sought && Scale();
  }

 protected:
  ColorDescription NativeColor() const override { return source_->color(); }

 private:
  // What the source says of itself, but the pixels' shape.
  void Follow() {
    info_ = source_->info();
    info_.pixel_aspect = 1;
    state_ = source_->state();
  }

  // The source's frame into frame_, at the display width.
  bool Scale() {
    const VideoFrame& in = *source_->frame();
    const int w = in.Width(), h = in.Height();
    const int width = std::clamp(static_cast<int>(lround(w * aspect_)), 1, kMaxDimension);
    if (!frame_ || frame_->Width() != width || frame_->Height() != h)
      frame_ = I420Frame::Create(width, h);
    if (!frame_)
      return false;
    const int cw = I420Frame::ChromaWidth(w);
    const int result = libyuv::I420Scale(
        in.YPlane(), in.YStride() != 0 ? in.YStride() : w, in.UPlane(),
        in.UStride() != 0 ? in.UStride() : cw, in.VPlane(), in.VStride() != 0 ? in.VStride() : cw,
        w, h, frame_->MutableYPlane(), frame_->EffectiveStrideY(), frame_->MutableUPlane(),
        frame_->EffectiveStrideU(), frame_->MutableVPlane(), frame_->EffectiveStrideV(), width, h,
        libyuv::kFilterBilinear);
    ApplyColor();
    return result == 0;
  }

  std::unique_ptr<VideoSource> source_;
  const double aspect_;
};

}  // namespace

std::unique_ptr<VideoSource> WithSquarePixels(std::unique_ptr<VideoSource> source) {
  const double aspect = source->pixel_aspect();
  if (aspect == 1 || !(aspect > 0) || lround(source->width() * aspect) == source->width())
    return source;
  return std::make_unique<SquarePixelSource>(std::move(source), aspect);
}

}  // namespace engine
