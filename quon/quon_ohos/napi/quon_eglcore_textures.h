#ifndef QUON_OHOS_NAPI_QUON_EGLCORE_TEXTURES_H_
#define QUON_OHOS_NAPI_QUON_EGLCORE_TEXTURES_H_

#include <GLES2/gl2.h>
#include <stdint.h>

// A drawing core's plane textures, one on each texture unit: 0 the Y plane,
// 1 the U plane or the chroma pairs, 2 the V plane. The programs sample the
// units; a texture is made on its first plane, its storage made again when
// the plane's size or format changes, and otherwise only its pixels
// replaced.
//
// Everything but Forget works with the core's context current. Not
// thread-safe: the core serialises calls. Its lines carry the address of
// the core it was made for.
class PlaneTextures {
 public:
  static constexpr int kUnits = 3;

  explicit PlaneTextures(const void* core) : core_(core) {}
  PlaneTextures(const PlaneTextures&) = delete;
  PlaneTextures& operator=(const PlaneTextures&) = delete;

  // For a new context: planes' rows read tightly packed, and the largest
  // texture side it takes.
  void SetContextState();
  // Whether a frame of frameW x frameH fits the context's textures; one
  // that does not is refused with a line. Unknown (no context yet) lets it
  // through: it is not drawn without one anyway.
  bool Fits(int32_t frameW, int32_t frameH) const;
  // Plane `unit` of plane_width x plane_height samples of `format` into its
  // texture, made (and said with `trace_name` and `platform_format`) when
  // missing.
  void Upload(int unit, const char* trace_name, const char* platform_format, const uint8_t* pixels,
              int32_t plane_width, int32_t plane_height, GLenum format = GL_LUMINANCE);
  // The textures' minifying filters for a quad drawn drawnW x drawnH
  // pixels along the planes' rows and columns.
  void MatchMinifyingFilters(float drawnW, float drawnH);
  // Deletes the textures (said with a line when there were any).
  void Delete();
  // The textures died with the display: their names are dropped, nothing
  // is deleted.
  void Forget();

  GLuint name(int unit) const { return names_[unit]; }  // 0 = not yet made
  // GL_MAX_TEXTURE_SIZE; 0 = no context yet.
  GLint maxSize() const { return maxTextureSize_; }

 private:
  const void* TracedCore() const { return core_; }

  const void* const core_;
  GLuint names_[kUnits] = {};
  int32_t width_[kUnits] = {};  // the size each texture's storage has
  int32_t height_[kUnits] = {};
  GLenum format_[kUnits] = {};          // the format each texture's storage has
  bool minifiesLinearly_[kUnits] = {};  // GL_TEXTURE_MIN_FILTER is GL_LINEAR
  // Frames with a larger side are refused before any work.
  GLint maxTextureSize_ = 0;
};

#endif  // QUON_OHOS_NAPI_QUON_EGLCORE_TEXTURES_H_
