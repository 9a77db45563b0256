#ifndef QUON_OHOS_NAPI_QUON_RENDER_IMAGE_H_
#define QUON_OHOS_NAPI_QUON_RENDER_IMAGE_H_

// The one-frame capture writers: a frame copy to a 32-bit top-down BMP file
// or a 4:2:0 baseline JPEG file. They run on the engine's render thread with
// the renderer's capture lock held. Success and failure are logged; the
// result says whether a complete file was written.
//
// A file is written under a temporary name in the target's folder and
// renamed over the target once complete, so a reader of the target sees
// the previous file or the whole new one, even when the process dies in
// between. A failed attempt removes the temporary file and leaves the
// previous file in place. A target that is a character device such as
// /dev/full is written directly and only closed on failure; other targets
// that are not regular files (a FIFO) are refused without blocking. Where
// the file cannot be replaced whole (a name too long for the temporary
// one, a rename refused), it is written in place, with a line saying so.
// Frames whose size is not positive or does not
// fit the format are refused before any file is opened; so are, for JPEG,
// null planes and rows shorter than the picture.

#include <string>

#include "quon_colour.h"
#include "video_render_interfaces.h"

// Writes `frameCopy` to `fileName`: a BMP file when the extension is "bmp"
// in any letter case, a JPEG file otherwise. `quality` is clamped to 1..100
// for JPEG. `limitedRange` and `matrix` describe the frame's samples as the
// engine did for drawing (limited range: Y 16..235); the JPEG file gets
// them converted to the BT.601 full-range Y'CbCr every JFIF reader
// assumes. A BMP file has the pixels of the frame's own ExportArgb, which
// knows how the engine coded it. Either file holds the frame as the engine
// coded it: the rotation and mirror it is drawn with do not apply.
//
// `error`, when given, receives 0 for a file written, or an errno value
// saying why none was: the system's own for a file that could not be made,
// written or put in place (ENOSPC, EROFS, EACCES, ...), EINVAL for a frame
// or name that cannot be written, EFBIG for a frame too large for the
// format, ENOMEM, and EIO for a failure of the frame's export or the JPEG
// library itself.
bool Render2SaveImage(rtc::IVideoFrame* frameCopy, const std::string& fileName, int quality,
                      bool limitedRange, colour::YuvMatrix matrix, int* error = nullptr);
// The same with the matrix BT.709 (`bt709`) or BT.601.
inline bool Render2SaveImage(rtc::IVideoFrame* frameCopy, const std::string& fileName, int quality,
                             bool limitedRange = false, bool bt709 = false, int* error = nullptr) {
  return Render2SaveImage(frameCopy, fileName, quality, limitedRange,
                          bt709 ? colour::YuvMatrix::kBt709 : colour::YuvMatrix::kBt601, error);
}

// The frame's ExportArgb pixels (FourCC "ARGB") behind a 58-byte header.
bool write_BMP_file(rtc::IVideoFrame* frame, const std::string& fileName, int* error = nullptr);
// The frame's planes (strides of 0 read as the plane widths), fast integer
// DCT, `quality` clamped to 1..100. BT.601 full-range planes go in as they
// are; any other description is converted to it row by row.
bool write_JPEG_file(rtc::IVideoFrame* frame, const std::string& fileName, int quality,
                     bool limitedRange, colour::YuvMatrix matrix, int* error = nullptr);
inline bool write_JPEG_file(rtc::IVideoFrame* frame, const std::string& fileName, int quality,
                            bool limitedRange = false, bool bt709 = false, int* error = nullptr) {
  return write_JPEG_file(frame, fileName, quality, limitedRange,
                         bt709 ? colour::YuvMatrix::kBt709 : colour::YuvMatrix::kBt601, error);
}

#endif  // QUON_OHOS_NAPI_QUON_RENDER_IMAGE_H_
