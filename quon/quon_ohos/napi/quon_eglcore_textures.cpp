#include "quon_eglcore_textures.h"

#include "quon_egl_api.h"
#include "quon_eglcore_trace.h"
#include "quon_platform_log.h"

namespace {

using namespace platform_log;  // the domain and tags

}  // namespace

void PlaneTextures::SetContextState() {
  // Rows are tightly packed whatever the width: with the default alignment
  // of 4, a plane whose width is not a multiple of 4 would be read past its
  // end.
  Api().glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  Api().glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize_);
}

bool PlaneTextures::Fits(int32_t frameW, int32_t frameH) const {
  if (maxTextureSize_ <= 0 || (frameW <= maxTextureSize_ && frameH <= maxTextureSize_))
    return true;
  TRACE(Error, "onRenderData") << "invalid frame: size " << frameW << "x" << frameH
                               << " above the largest texture " << maxTextureSize_;
  return false;
}

void PlaneTextures::Upload(int unit, const char* trace_name, const char* platform_format,
                           const uint8_t* pixels, int32_t plane_width, int32_t plane_height,
                           GLenum format) {
  GLuint* const texture = &names_[unit];
  Api().glActiveTexture(GL_TEXTURE0 + unit);
  if (*texture == 0) {
    Api().glGenTextures(1, texture);
    TRACE(Info, "onRenderData") << trace_name << *texture;
    PLATFORM(LOG_ERROR, kNativeTag, platform_format, static_cast<int>(*texture));
    Api().glBindTexture(GL_TEXTURE_2D, *texture);
    Api().glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, 9728.0f);  // GL_NEAREST
    Api().glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, 9729.0f);  // GL_LINEAR
    Api().glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    Api().glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    width_[unit] = height_[unit] = 0;
    minifiesLinearly_[unit] = false;
  } else {
    Api().glBindTexture(GL_TEXTURE_2D, *texture);
  }
  if (plane_width != width_[unit] || plane_height != height_[unit] || format != format_[unit]) {
    Api().glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), plane_width, plane_height, 0,
                       format, GL_UNSIGNED_BYTE, pixels);
    width_[unit] = plane_width;
    height_[unit] = plane_height;
    format_[unit] = format;
  } else {
    Api().glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, plane_width, plane_height, format,
                          GL_UNSIGNED_BYTE, pixels);
  }
}

// GL takes a texture's minifying filter only where a texel is smaller than a
// pixel. A plane drawn at least at its own size in both directions is never
// minified, so there its minifying filter (GL_NEAREST) may as well be the
// magnifying one (GL_LINEAR): the pixels are the same, and a software
// rasteriser then filters the whole quad one way instead of working out the
// level of detail and choosing for every pixel (a seventh of its time for a
// 720p frame). A plane drawn smaller goes back to GL_NEAREST.
void PlaneTextures::MatchMinifyingFilters(float drawnW, float drawnH) {
  for (int unit = 0; unit < kUnits; ++unit) {
    const bool linear =
        drawnW >= static_cast<float>(width_[unit]) && drawnH >= static_cast<float>(height_[unit]);
    if (linear == minifiesLinearly_[unit])
      continue;
    Api().glActiveTexture(GL_TEXTURE0 + unit);
    Api().glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, linear ? GL_LINEAR : GL_NEAREST);
    minifiesLinearly_[unit] = linear;
  }
}

void PlaneTextures::Delete() {
  if (names_[0] == 0 && names_[1] == 0 && names_[2] == 0)
    return;
  PLATFORM(LOG_INFO, kNativeTag, " delete txture");
  TRACE(Info, "DeleteTexture") << "delete txture.";
  Api().glDeleteTextures(kUnits, names_);
  Forget();
}

void PlaneTextures::Forget() {
  for (GLuint& name : names_)
    name = 0;
}
