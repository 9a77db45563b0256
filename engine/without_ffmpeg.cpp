// The engine built without FFmpeg's libraries (a cross build whose target
// has none): containers are refused, and YUV4MPEG2 plays 8-bit 4:2:0 only.

#include "engine/media_source.h"
#include "engine/picture_converter.h"

namespace engine {

bool MediaSupported() {
  return false;
}

void LeaveLibraryLogAlone() {}

std::unique_ptr<VideoSource> OpenMedia(const std::string& path, std::string* error,
                                       const MediaOptions& /*options*/) {
  *error = (path == "-" ? std::string("standard input") : path) +
           ": containers are not supported in this build (it was built without FFmpeg's "
           "libraries); it reads YUV4MPEG2 and raw I420 only";
  return nullptr;
}

std::unique_ptr<VideoSource> OpenMedia(std::unique_ptr<PipeInput> input, std::string* error,
                                       const MediaOptions& options) {
  return OpenMedia(input->name(), error, options);
}

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
