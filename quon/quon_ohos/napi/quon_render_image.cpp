// The capture entry, which picks the writer by the name's extension, and
// the end both writers share. The writers themselves are in
// quon_render_image_bmp.cpp and quon_render_image_jpeg.cpp.

#include "quon_render_image.h"

#include <ctype.h>
#include <errno.h>

#include "quon_render_image_writer.h"
#include "rtc_base/logging.h"

using capture::Failed;
using capture::kLogFile;

namespace {

bool IsBmpFileName(const std::string& fileName) {
  const size_t dot = fileName.rfind('.');
  if (dot == std::string::npos)
    return false;
  std::string extension = fileName.substr(dot + 1);
  for (char& c : extension)
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return extension == "bmp";
}

}  // namespace

void capture::SayWhyRefused(const rtc::FileReplacer& output, const char* writer,
                            const std::string& fileName) {
  if (output.refused_kind() != nullptr)
    LOG(Error) << writer << ": "
               << "refused, the target is " << output.refused_kind()
               << ", neither a file nor a character device. filename=" << fileName;
}

bool capture::PutInPlace(rtc::FileReplacer* output, const char* writer, int okLine,
                         const std::string& fileName, int* error) {
  const int closeError = output->Commit();
  if (closeError != 0) {
    LOG_E(Error, Errno, closeError) << writer << ": "
                                    << "write file failed. filename=" << fileName;
    return Failed(error, closeError);
  }
  if (output->written_in_place() != 0)
    LOG_E(Warning, Errno, output->written_in_place())
        << writer << ": "
        << "written in place, the file could not be replaced whole. filename=" << fileName;
  LOG_AT(kLogFile, okLine, Info) << writer << ": "
                                 << "ok";
  return Written(error);
}

bool Render2SaveImage(rtc::IVideoFrame* frameCopy, const std::string& fileName, int quality,
                      bool limitedRange, colour::YuvMatrix matrix, int* error) {
  if (frameCopy == nullptr || fileName.empty()) {
    LOG_AT(kLogFile, 244, Warning) << "Render2SaveImage" << ": "
                                   << "frame is null or filename is null.";
    return Failed(error, EINVAL);
  }
  LOG_AT(kLogFile, 247, Info) << "Render2SaveImage" << ": " << "begin";
  if (IsBmpFileName(fileName))
    return write_BMP_file(frameCopy, fileName, error);
  return write_JPEG_file(frameCopy, fileName, quality, limitedRange, matrix, error);
}
