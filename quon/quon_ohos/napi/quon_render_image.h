#ifndef QUON_OHOS_NAPI_QUON_RENDER_IMAGE_H_
#define QUON_OHOS_NAPI_QUON_RENDER_IMAGE_H_

// The one-frame capture writers: a frame copy to a 32-bit top-down BMP file
// or a 4:2:0 baseline JPEG file. They run on the engine's render thread with
// the renderer's capture lock held. Success and failure are logged; the
// result says whether a complete file was written. A failed attempt leaves
// no file behind (a partly written regular file is removed; a device such as
// /dev/full is only closed). Frames whose size is not positive or does not
// fit the format are refused before any file is opened; so are, for JPEG,
// null planes and rows shorter than the picture.

#include <string>

#include "video_render_interfaces.h"

// Writes `frameCopy` to `fileName`: a BMP file when the extension is "bmp"
// in any letter case, a JPEG file otherwise. `quality` is clamped to 1..100
// for JPEG. `limitedRange`: the frame's samples are limited range (Y 16..235),
// which the JPEG file gets stretched to the full range viewers read it in.
bool Render2SaveImage(rtc::IVideoFrame* frameCopy, const std::string& fileName, int quality,
                      bool limitedRange = false);

// The frame's ExportArgb pixels (FourCC "ARGB") behind a 58-byte header.
bool write_BMP_file(rtc::IVideoFrame* frame, const std::string& fileName);
// The frame's planes as they are (strides of 0 read as the plane widths),
// fast integer DCT, `quality` clamped to 1..100.
bool write_JPEG_file(rtc::IVideoFrame* frame, const std::string& fileName, int quality,
                     bool limitedRange = false);

#endif  // QUON_OHOS_NAPI_QUON_RENDER_IMAGE_H_
