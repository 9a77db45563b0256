#ifndef QUON_OHOS_NAPI_QUON_RENDER_IMAGE_WRITER_H_
#define QUON_OHOS_NAPI_QUON_RENDER_IMAGE_WRITER_H_

// What the two capture writers (quon_render_image_bmp.cpp and
// quon_render_image_jpeg.cpp) share: the file their fixed log lines name,
// the way they hand a result back, and their common end.

#include <string>

#include "rtc_base/filereplacer.h"

namespace capture {

// Log tooling knows the capture lines by this file name and their lines.
constexpr char kLogFile[] = "quon_render";

// Tells the caller who asked (`error` not null) why the capture failed, as
// an errno value, and returns false.
inline bool Failed(int* error, int code) {
  if (error != nullptr)
    *error = code;
  return false;
}

inline bool Written(int* error) {
  if (error != nullptr)
    *error = 0;
  return true;
}

// After the writer's own line for a file that could not be opened: one
// more saying so when the target was refused for its kind (a FIFO).
void SayWhyRefused(const rtc::FileReplacer& output, const char* writer,
                   const std::string& fileName);

// The writers' shared end: the complete file goes in place of the target,
// and `writer` logs how it went, its "ok" at `okLine`, after a line saying
// that the file was written in place when it could not be replaced whole.
bool PutInPlace(rtc::FileReplacer* output, const char* writer, int okLine,
                const std::string& fileName, int* error);

}  // namespace capture

#endif  // QUON_OHOS_NAPI_QUON_RENDER_IMAGE_WRITER_H_
