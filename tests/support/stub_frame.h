#ifndef TESTS_SUPPORT_STUB_FRAME_H_
#define TESTS_SUPPORT_STUB_FRAME_H_

#include <stddef.h>
#include <stdint.h>

#include "video_render_interfaces.h"

// An engine frame of a given size that answers every other slot with
// nothing: no planes, strides of 0, no copy, a failed export, and the
// engine's own operations doing nothing. The frames of the tests and the
// fuzz targets derive from it and override only the slots they mean.
class StubFrame : public rtc::IVideoFrame {
 public:
  StubFrame(int32_t width, int32_t height) : width_(width), height_(height) {}

  int32_t Width() const override { return width_; }
  int32_t Height() const override { return height_; }
  void EngineOperation5() override {}
  const uint8_t* YPlane() const override { return nullptr; }
  const uint8_t* UPlane() const override { return nullptr; }
  const uint8_t* VPlane() const override { return nullptr; }
  void EngineOperation9() override {}
  void EngineOperation10() override {}
  void EngineOperation11() override {}
  int32_t YStride() const override { return 0; }
  int32_t UStride() const override { return 0; }
  int32_t VStride() const override { return 0; }
  void EngineOperation15() override {}
  rtc::IVideoFrame* Clone() const override { return nullptr; }
  int ExportArgb(uint32_t, uint8_t*, size_t, int32_t) const override { return -1; }

 protected:
  int32_t width_;
  int32_t height_;
};

#endif  // TESTS_SUPPORT_STUB_FRAME_H_
