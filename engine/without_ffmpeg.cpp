// The engine built without FFmpeg's libraries (a cross build whose target
// has none): YUV4MPEG2 plays 8-bit 4:2:0 only.

#include "engine/picture_converter.h"

namespace engine {

bool Y4mLayoutConvertible(const std::string& /*chroma*/) {
  return false;
}

std::unique_ptr<PictureConverter> ConverterForY4m(const std::string& /*chroma*/, int /*width*/,
                                                  int /*height*/, ColorRange /*range*/) {
  return nullptr;
}

std::unique_ptr<PictureConverter> ConverterForPixelFormat(int /*pixel_format*/, int /*width*/,
                                                          int /*height*/,
                                                          const ColorDescription& /*color*/) {
  return nullptr;
}

}  // namespace engine
