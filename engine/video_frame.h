#ifndef ENGINE_VIDEO_FRAME_H_
#define ENGINE_VIDEO_FRAME_H_

// What every frame the engine hands the renderer shares, whoever holds its
// planes (the engine's own I420Frame, or a decoder's frame it references):
// the colour description, and the conversion to 32-bit pixels by it, which
// a BMP capture asks the frame for, and the layout its planes come in.

#include <stddef.h>
#include <stdint.h>

#include "engine/color_description.h"
#include "quon_frame.h"
#include "video_render_interfaces.h"

namespace engine {

class VideoFrame : public rtc::IVideoFrame {
 public:
  // BT.601, limited range unless set; clones keep it.
  void set_color(const ColorDescription& color) { color_ = color; }
  const ColorDescription& color() const { return color_; }

  // The same for the two matrices every caller knew before BT.2020.
  void set_color_description(bool limited_range, bool bt709) {
    color_ = {limited_range ? ColorRange::kLimited : ColorRange::kFull,
              bt709 ? ColorMatrix::kBt709 : ColorMatrix::kBt601};
  }
  bool limited_range() const { return color_.range == ColorRange::kLimited; }
  bool bt709() const { return color_.matrix == ColorMatrix::kBt709; }

  // How the frame holds its planes: I420, or a Y plane and one interleaved
  // chroma plane (kFrameLayoutNv12 or kFrameLayoutNv21, quon_frame.h), as a
  // decoder may hand them over. Whatever the layout, YPlane() to VStride()
  // give I420 planes: a frame of another layout makes its chroma planes on
  // the first call that asks for them, so a path that needs I420 pays for
  // the conversion and one that pushes the planes as they are does not.
  virtual int32_t layout() const { return kFrameLayoutI420; }
  // The frame as PluginManager::PushFrame takes it: its layout, size, planes
  // as they are (the chroma pair plane of NV12 and NV21), strides, and its
  // colour description; no turn, no capture time. The planes stay valid
  // while the frame lives.
  virtual FrameDescription Describe() const;

  // Converts to 32-bit pixels for kFourccArgb only (bytes B, G, R, A; alpha
  // 255) by the colour description. Returns 0 on success; -1, without writing,
  // for another FourCC, a null buffer, a stride below width * 4, a `size`
  // below the bytes the rows need, or planes this frame cannot read (missing,
  // or strides below their widths; a stride of 0 is the plane's width).
  int ExportArgb(uint32_t fourcc, uint8_t* buffer, size_t size, int32_t stride) const override;

  // The engine's own slots: nothing to do on this side.
  void EngineOperation5() override {}
  void EngineOperation9() override {}
  void EngineOperation10() override {}
  void EngineOperation11() override {}
  void EngineOperation15() override {}

 private:
  ColorDescription color_;
};

}  // namespace engine

#endif  // ENGINE_VIDEO_FRAME_H_
