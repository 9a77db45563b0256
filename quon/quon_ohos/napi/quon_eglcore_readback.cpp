// The drawing core's read-back: a frame's picture as the surface holds it
// after the draw, for snapshots of what is shown.

#include <string.h>

#include <new>

#include "quon_egl_api.h"
#include "quon_eglcore.h"
#include "rtc_base/logging.h"

// With the context current, after the frame's draw and before its swap.
// GL hands the rows bottom first; the request gets them top first.
void EGLCore::TakeReadBack() {
  ReadBack* const into = readBack;
  readBack = nullptr;  // one frame per request, whatever happens
  into->width = width;
  into->height = height;
  const size_t rowBytes = static_cast<size_t>(width) * 4;
  std::vector<uint8_t> spare;  // one row, for turning the rows over
  try {
    into->rgba.resize(rowBytes * static_cast<size_t>(height));
    spare.resize(rowBytes);
  } catch (const std::bad_alloc&) {
    LOG(Error) << "ReadBack"
               << ": "
               << "out of memory for " << width << "x" << height;
    into->failed = true;
    return;
  }
  // Errors left from earlier calls would be taken for the read's.
  for (int i = 0; i < 16 && Api().glGetError() != GL_NO_ERROR; ++i) {
  }
  Api().glPixelStorei(GL_PACK_ALIGNMENT, 4);  // RGBA rows are whole words
  Api().glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, into->rgba.data());
  const GLenum error = Api().glGetError();
  if (error != GL_NO_ERROR) {
    LOG(Error) << "ReadBack"
               << ": "
               << "glReadPixels failed, error " << static_cast<unsigned>(error);
    into->failed = true;
    return;
  }
  for (int32_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
    uint8_t* const a = into->rgba.data() + static_cast<size_t>(top) * rowBytes;
    uint8_t* const b = into->rgba.data() + static_cast<size_t>(bottom) * rowBytes;
    memcpy(spare.data(), a, rowBytes);
    memcpy(a, b, rowBytes);
    memcpy(b, spare.data(), rowBytes);
  }
  into->taken = true;
}
