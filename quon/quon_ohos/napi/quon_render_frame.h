#ifndef QUON_OHOS_NAPI_QUON_RENDER_FRAME_H_
#define QUON_OHOS_NAPI_QUON_RENDER_FRAME_H_

// Frames pushed by their description (quon_frame.h): checked before
// anything is drawn, and copied to I420 when a capture takes one.

#include <stdint.h>

#include <vector>

#include "quon_colour.h"
#include "quon_frame.h"
#include "video_render_interfaces.h"

namespace pushed_frame {

// Why `frame` cannot be drawn, or null when it can: the layout, the size,
// the planes, the strides (0 stands for the row's width) and the turn.
const char* FaultOf(const FrameDescription& frame);

// An I420 copy the module owns, for the capture writers: the description's
// planes, de-interleaved for NV12 and NV21. ExportArgb converts with the
// colour description given.
class OwnedI420Frame : public rtc::IVideoFrame {
 public:
  OwnedI420Frame(const FrameDescription& frame, bool limitedRange, colour::YuvMatrix matrix);

  int32_t Width() const override { return m_width; }
  int32_t Height() const override { return m_height; }
  void EngineOperation5() override {}
  const uint8_t* YPlane() const override { return m_planes[0].data(); }
  const uint8_t* UPlane() const override { return m_planes[1].data(); }
  const uint8_t* VPlane() const override { return m_planes[2].data(); }
  void EngineOperation9() override {}
  void EngineOperation10() override {}
  void EngineOperation11() override {}
  int32_t YStride() const override { return m_width; }
  int32_t UStride() const override { return m_chromaWidth; }
  int32_t VStride() const override { return m_chromaWidth; }
  void EngineOperation15() override {}
  IVideoFrame* Clone() const override { return new OwnedI420Frame(*this); }
  int ExportArgb(uint32_t fourcc, uint8_t* buffer, size_t size, int32_t stride) const override;

 private:
  int32_t m_width;
  int32_t m_height;
  int32_t m_chromaWidth;
  bool m_limitedRange;
  colour::YuvMatrix m_matrix;
  std::vector<uint8_t> m_planes[3];
};

}  // namespace pushed_frame

#endif  // QUON_OHOS_NAPI_QUON_RENDER_FRAME_H_
