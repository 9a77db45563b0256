#include "engine/picture_converter.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace engine {

namespace {

// The layouts FFmpeg's own YUV4MPEG2 writer names, by their C tags. Samples
// above 8 bits are little-endian words.
struct Y4mLayout {
  const char* tag;
  AVPixelFormat format;
};
constexpr Y4mLayout kY4mLayouts[] = {
    {"411", AV_PIX_FMT_YUV411P},        {"422", AV_PIX_FMT_YUV422P},
    {"444", AV_PIX_FMT_YUV444P},        {"444alpha", AV_PIX_FMT_YUVA444P},
    {"mono", AV_PIX_FMT_GRAY8},         {"mono9", AV_PIX_FMT_GRAY9LE},
    {"mono10", AV_PIX_FMT_GRAY10LE},    {"mono12", AV_PIX_FMT_GRAY12LE},
    {"mono16", AV_PIX_FMT_GRAY16LE},    {"420p9", AV_PIX_FMT_YUV420P9LE},
    {"420p10", AV_PIX_FMT_YUV420P10LE}, {"420p12", AV_PIX_FMT_YUV420P12LE},
    {"420p14", AV_PIX_FMT_YUV420P14LE}, {"420p16", AV_PIX_FMT_YUV420P16LE},
    {"422p9", AV_PIX_FMT_YUV422P9LE},   {"422p10", AV_PIX_FMT_YUV422P10LE},
    {"422p12", AV_PIX_FMT_YUV422P12LE}, {"422p14", AV_PIX_FMT_YUV422P14LE},
    {"422p16", AV_PIX_FMT_YUV422P16LE}, {"444p9", AV_PIX_FMT_YUV444P9LE},
    {"444p10", AV_PIX_FMT_YUV444P10LE}, {"444p12", AV_PIX_FMT_YUV444P12LE},
    {"444p14", AV_PIX_FMT_YUV444P14LE}, {"444p16", AV_PIX_FMT_YUV444P16LE},
};

AVPixelFormat Y4mFormat(const std::string& chroma) {
  for (const Y4mLayout& layout : kY4mLayouts)
    if (chroma == layout.tag)
      return layout.format;
  return AV_PIX_FMT_NONE;
}

int SwsColorspace(ColorMatrix matrix) {
  switch (matrix) {
    case ColorMatrix::kBt601:
      return SWS_CS_ITU601;
    case ColorMatrix::kBt709:
      return SWS_CS_ITU709;
    case ColorMatrix::kBt2020:
      return SWS_CS_BT2020;
  }
  return SWS_CS_DEFAULT;
}

class SwsConverter : public PictureConverter {
 public:
  SwsConverter(AVPixelFormat format, int width, int height)
      : format_(format), width_(width), height_(height) {
    note_ = std::string("converting ") + av_get_pix_fmt_name(format) + " to " +
            av_get_pix_fmt_name(AV_PIX_FMT_YUV420P);
  }
  ~SwsConverter() override { sws_freeContext(context_); }
  SwsConverter(const SwsConverter&) = delete;
  SwsConverter& operator=(const SwsConverter&) = delete;

  // False when libswscale does not take the format or the size.
  bool Init(const ColorDescription& color) {
    // Bilinear: the chroma of 4:4:4 and 4:2:2 is halved from its
    // neighbours, not picked; the luma keeps its size and only changes depth.
    context_ = sws_getContext(width_, height_, format_, width_, height_, AV_PIX_FMT_YUV420P,
                              SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    if (context_ == nullptr)
      return false;
    // The output keeps the input's range and matrix (the renderer is told
    // them), so no range is stretched and Y'CbCr samples only change depth
    // and subsampling; RGB is converted by the matrix and range given. By
    // default libswscale would take grey and "J" formats as full range and
    // squeeze them into the limited range.
    const int* coefficients = sws_getCoefficients(SwsColorspace(color.matrix));
    const bool full = color.range == ColorRange::kFull;
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format_);
    const bool rgb = descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_RGB);
    return sws_setColorspaceDetails(context_, coefficients, rgb || full, coefficients, full, 0,
                                    1 << 16, 1 << 16) >= 0;
  }

  const std::string& note() const override { return note_; }

  bool Convert(const uint8_t* const planes[4], const int strides[4], I420Frame* out) override {
    if (out == nullptr || out->Width() != width_ || out->Height() != height_)
      return false;
    uint8_t* const targets[4] = {out->MutableYPlane(), out->MutableUPlane(), out->MutableVPlane(),
                                 nullptr};
    const int target_strides[4] = {out->EffectiveStrideY(), out->EffectiveStrideU(),
                                   out->EffectiveStrideV(), 0};
    return sws_scale(context_, planes, strides, 0, height_, targets, target_strides) == height_;
  }

  size_t PackedBytes() const override {
    const int bytes = av_image_get_buffer_size(format_, width_, height_, 1);
    return bytes > 0 ? static_cast<size_t>(bytes) : 0;
  }

  bool ConvertPacked(const uint8_t* packed, I420Frame* out) override {
    uint8_t* planes[4];
    int strides[4];
    if (av_image_fill_arrays(planes, strides, packed, format_, width_, height_, 1) < 0)
      return false;
    return Convert(planes, strides, out);
  }

 private:
  AVPixelFormat format_;
  int width_;
  int height_;
  std::string note_;
  SwsContext* context_ = nullptr;
};

std::unique_ptr<PictureConverter> MakeConverter(AVPixelFormat format, int width, int height,
                                                const ColorDescription& color) {
  if (format == AV_PIX_FMT_NONE || width <= 0 || height <= 0 ||
      av_pix_fmt_desc_get(format) == nullptr)
    return nullptr;
  auto converter = std::make_unique<SwsConverter>(format, width, height);
  if (!converter->Init(color))
    return nullptr;
  return converter;
}

}  // namespace

bool Y4mLayoutConvertible(const std::string& chroma) {
  return Y4mFormat(chroma) != AV_PIX_FMT_NONE;
}

std::unique_ptr<PictureConverter> ConverterForY4m(const std::string& chroma, int width, int height,
                                                  ColorRange range) {
  // A y4m file says no matrix: Y'CbCr keeps its samples whatever the matrix.
  return MakeConverter(Y4mFormat(chroma), width, height, {range, ColorMatrix::kBt601});
}

std::unique_ptr<PictureConverter> ConverterForPixelFormat(int pixel_format, int width, int height,
                                                          const ColorDescription& color) {
  return MakeConverter(static_cast<AVPixelFormat>(pixel_format), width, height, color);
}

}  // namespace engine
