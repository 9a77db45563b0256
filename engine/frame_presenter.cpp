#include "engine/frame_presenter.h"

#include <algorithm>

#include "engine/media_stream_facts.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace engine {

bool FramePresenter::Present(AVFrame* picture, std::string* error) {
  color_ = PictureColor(*picture);
  if (std::unique_ptr<DecodedFrame> adopted = DecodedFrame::Adopt(picture)) {
    decoded_ = std::move(adopted);
    current_ = decoded_.get();
    return true;
  }
  const bool converted = Convert(picture, error);
  av_frame_unref(picture);
  return converted;
}

bool FramePresenter::Convert(AVFrame* picture, std::string* error) {
  const int width = picture->width, height = picture->height;
  // A new converter, and a new frame to convert into, when the pictures
  // change; the frame on show stays valid until the conversion succeeded.
  std::unique_ptr<I420Frame> target;
  const bool new_size =
      !converted_ || converted_->Width() != width || converted_->Height() != height;
  if (new_size)
    target = CreateConversionTarget(width, height);
  if (new_size || !converter_ || picture->format != converter_format_ ||
      color_ != converter_color_) {
    converter_ = ConverterForPixelFormat(picture->format, width, height, color_);
    converter_format_ = picture->format;
    converter_color_ = color_;
    if (converter_ &&
        std::find(notes_->begin(), notes_->end(), converter_->note()) == notes_->end())
      notes_->push_back(converter_->note());
  }
  I420Frame* into = target ? target.get() : converted_.get();
  if (!converter_ || into == nullptr ||
      !converter_->Convert(picture->data, picture->linesize, into)) {
    const char* format = av_get_pix_fmt_name(static_cast<AVPixelFormat>(picture->format));
    *error = std::string("cannot convert its ") + (format != nullptr ? format : "unknown") +
             " pictures of " + std::to_string(width) + "x" + std::to_string(height);
    converter_.reset();  // tried afresh on the next picture
    return false;
  }
  if (target)
    converted_ = std::move(target);
  decoded_.reset();
  current_ = converted_.get();
  return true;
}

}  // namespace engine
