#ifndef ENGINE_I420_FRAME_H_
#define ENGINE_I420_FRAME_H_

// The engine's I420 frame: three planes (Y full size, U and V of
// ((width + 1) / 2) x ((height + 1) / 2)), each with its own row stride, as
// the renderer sees it through rtc::IVideoFrame.

#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "video_render_interfaces.h"

namespace engine {

class I420Frame : public rtc::IVideoFrame {
 public:
  // A frame that owns its planes. A stride of 0 (or less than the plane's
  // width) is replaced by the plane's width: tight rows. The planes are
  // zero-filled. Null when a size is not positive or the planes would not
  // fit in memory.
  static std::unique_ptr<I420Frame> Create(int width, int height, int stride_y = 0,
                                           int stride_u = 0, int stride_v = 0);

  // A frame that borrows the caller's planes, which must outlive it. The
  // strides are reported exactly as given, 0 included (a reader takes 0 for
  // the plane's width); the frame itself reads a stride of 0 as the plane's
  // width. The frame never writes the planes.
  static std::unique_ptr<I420Frame> Wrap(int width, int height, const uint8_t* y, int stride_y,
                                         const uint8_t* u, int stride_u, const uint8_t* v,
                                         int stride_v);

  ~I420Frame() override;
  I420Frame(const I420Frame&) = delete;
  I420Frame& operator=(const I420Frame&) = delete;

  // Chroma plane size for a frame of `width` x `height`.
  static int ChromaWidth(int width) { return (width + 1) / 2; }
  static int ChromaHeight(int height) { return (height + 1) / 2; }

  int32_t Width() const override { return width_; }
  int32_t Height() const override { return height_; }
  const uint8_t* YPlane() const override { return y_; }
  const uint8_t* UPlane() const override { return u_; }
  const uint8_t* VPlane() const override { return v_; }
  int32_t YStride() const override { return stride_y_; }
  int32_t UStride() const override { return stride_u_; }
  int32_t VStride() const override { return stride_v_; }

  // A deep copy that owns tight planes (strides equal to the plane widths),
  // whatever the strides of this frame. Null when cloning is switched off
  // for testing or memory runs out.
  IVideoFrame* Clone() const override;

  // How the samples encode colour: limited range (Y 16..235) or full, and
  // the matrix, 601, 709 or 2020 (BT.2020 non-constant luminance; other
  // values read as 601). BT.601 limited range unless set; clones keep it.
  void set_color_description(bool limited_range, int matrix) {
    limited_range_ = limited_range;
    matrix_ = matrix;
  }
  void set_color_description(bool, bool) = delete;  // the matrix is a number
  bool limited_range() const { return limited_range_; }
  int matrix() const { return matrix_; }
  bool bt709() const { return matrix_ == 709; }

  // Converts to 32-bit pixels for kFourccArgb only (bytes B, G, R, A; alpha
  // 255) by the colour description. Returns 0 on success; -1, without writing,
  // for another FourCC, a null buffer, a stride below width * 4 or a
  // `size` below the bytes the rows need.
  int ExportArgb(uint32_t fourcc, uint8_t* buffer, size_t size, int32_t stride) const override;

  // The engine's own slots: nothing to do on this side.
  void EngineOperation5() override {}
  void EngineOperation9() override {}
  void EngineOperation10() override {}
  void EngineOperation11() override {}
  void EngineOperation15() override {}

  // Writable planes of a frame that owns them; null for a borrowed frame.
  uint8_t* MutableYPlane() { return owned_ ? owned_.get() + y_offset_ : nullptr; }
  uint8_t* MutableUPlane() { return owned_ ? owned_.get() + u_offset_ : nullptr; }
  uint8_t* MutableVPlane() { return owned_ ? owned_.get() + v_offset_ : nullptr; }

  // The strides the frame itself reads (0 replaced by the plane width).
  int EffectiveStrideY() const { return stride_y_ != 0 ? stride_y_ : width_; }
  int EffectiveStrideU() const { return stride_u_ != 0 ? stride_u_ : ChromaWidth(width_); }
  int EffectiveStrideV() const { return stride_v_ != 0 ? stride_v_ : ChromaWidth(width_); }

  // Test hook: while set, Clone() returns null, as an engine out of memory
  // would.
  void set_clone_fails_for_testing(bool fails) { clone_fails_for_testing_ = fails; }

 private:
  I420Frame() = default;
  // A tight copy with limited-range samples stretched to the full range.
  std::unique_ptr<I420Frame> StretchedToFullRange() const;

  int width_ = 0;
  int height_ = 0;
  const uint8_t* y_ = nullptr;
  const uint8_t* u_ = nullptr;
  const uint8_t* v_ = nullptr;
  int stride_y_ = 0;
  int stride_u_ = 0;
  int stride_v_ = 0;
  std::unique_ptr<uint8_t[]> owned_;  // all three planes, one block
  size_t y_offset_ = 0;
  size_t u_offset_ = 0;
  size_t v_offset_ = 0;
  bool limited_range_ = true;
  int matrix_ = 601;
  bool clone_fails_for_testing_ = false;
};

}  // namespace engine

#endif  // ENGINE_I420_FRAME_H_
