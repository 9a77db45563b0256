#ifndef ENGINE_PICTURE_CONVERTER_H_
#define ENGINE_PICTURE_CONVERTER_H_

// Pictures the renderer cannot take as they are (4:2:2, 4:4:4, 4:1:1, grey,
// 9 to 16 bits, RGB, ...) converted to 8-bit I420 with libswscale,
// keeping their range and matrix. A build without FFmpeg's libraries
// converts nothing: the factories return null.

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>

#include "engine/color_description.h"
#include "engine/i420_frame.h"

namespace engine {

class PictureConverter {
 public:
  virtual ~PictureConverter() = default;

  // One line naming the conversion, "converting yuv422p to yuv420p".
  virtual const std::string& note() const = 0;

  // Converts one picture, its planes at `planes` with rows `strides` bytes
  // apart, into `out`, a frame of the converter's size. False when the
  // conversion fails.
  virtual bool Convert(const uint8_t* const planes[4], const int strides[4], I420Frame* out) = 0;

  // Bytes of one picture as a YUV4MPEG2 file stores it: the planes one after
  // another without padding, samples above 8 bits as 16-bit little-endian
  // words.
  virtual size_t PackedBytes() const = 0;
  // Converts one picture stored so. `packed` holds PackedBytes() bytes and
  // kPackedPadding more, which the conversion may read but never uses.
  virtual bool ConvertPacked(const uint8_t* packed, I420Frame* out) = 0;
  static constexpr size_t kPackedPadding = 64;
};

// Whether this build converts the YUV4MPEG2 chroma layout `chroma` (the C
// tag without its C: "422", "444", "420p10", "mono16", ...). 8-bit 4:2:0
// needs no conversion and is not one of them.
bool Y4mLayoutConvertible(const std::string& chroma);

// A converter for `width` x `height` YUV4MPEG2 pictures of layout `chroma`
// whose samples use `range` (grey pictures get neutral chroma). Null when
// the layout is not convertible or the converter cannot be made.
std::unique_ptr<PictureConverter> ConverterForY4m(const std::string& chroma, int width, int height,
                                                  ColorRange range);

// A converter for `width` x `height` pictures of the FFmpeg pixel format
// `pixel_format` (an AVPixelFormat) that are to come out as `color`
// describes: Y'CbCr pictures keep their samples' range and matrix (`color`
// is theirs), RGB ones are converted by it. Null when libswscale does not
// take the format or the size.
std::unique_ptr<PictureConverter> ConverterForPixelFormat(int pixel_format, int width, int height,
                                                          const ColorDescription& color);

// A frame for a converter's output: `width` x `height`, rows padded to 32
// bytes (the converter's vector stores). Null when it cannot be allocated.
inline std::unique_ptr<I420Frame> CreateConversionTarget(int width, int height) {
  auto padded = [](int bytes) { return (bytes + 31) / 32 * 32; };
  const int chroma_stride = padded(I420Frame::ChromaWidth(width));
  return I420Frame::Create(width, height, padded(width), chroma_stride, chroma_stride);
}

}  // namespace engine

#endif  // ENGINE_PICTURE_CONVERTER_H_
