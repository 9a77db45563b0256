#ifndef ENGINE_FRAME_PRESENTER_H_
#define ENGINE_FRAME_PRESENTER_H_

// What a decoded picture becomes for the renderer: the decoder's own frame
// where the renderer takes its layout (8-bit 4:2:0 as I420, NV12 or NV21:
// engine/decoded_frame.h), not copied; any other layout converted to I420,
// with a note that names the conversion; either way carrying the picture's
// colour description.

#include <memory>
#include <string>
#include <vector>

#include "engine/color_description.h"
#include "engine/decoded_frame.h"
#include "engine/i420_frame.h"
#include "engine/picture_converter.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace engine {

class FramePresenter {
 public:
  // Notes of conversions go to `notes`, each once; it outlives the
  // presenter.
  explicit FramePresenter(std::vector<std::string>* notes) : notes_(notes) {}
  FramePresenter(const FramePresenter&) = delete;
  FramePresenter& operator=(const FramePresenter&) = delete;

  // Makes `picture` the frame on show, and leaves `picture` empty. False
  // when it cannot be converted, with the reason in `error` ("cannot convert
  // its gbrp pictures of 64x48"); the frame on show then stays.
  bool Present(AVFrame* picture, std::string* error);

  // The frame on show (null before the first), and the colour description
  // of the last picture presented.
  VideoFrame* frame() const { return current_; }
  const ColorDescription& color() const { return color_; }

 private:
  bool Convert(AVFrame* picture, std::string* error);

  std::vector<std::string>* const notes_;
  ColorDescription color_;
  std::unique_ptr<DecodedFrame> decoded_;
  std::unique_ptr<PictureConverter> converter_;
  int converter_format_ = AV_PIX_FMT_NONE;
  ColorDescription converter_color_;
  std::unique_ptr<I420Frame> converted_;
  VideoFrame* current_ = nullptr;
};

}  // namespace engine

#endif  // ENGINE_FRAME_PRESENTER_H_
