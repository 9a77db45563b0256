// The drawing core: frames drawn, fitted by scale type, on the environment
// of quon_egl_environment.cpp with the programs of quon_eglcore_programs.cpp.

#include "quon_eglcore.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "quon_egl_api.h"
#include "quon_eglcore_trace.h"
#include "quon_platform_log.h"

namespace {

using namespace platform_log;  // the domain, tags and TruncatedToInt

// A full-surface quad as a triangle strip; t = 0 (the planes' first row) is
// at the top.
const GLfloat kVertices[] = {-1.0f, 1.0f, 1.0f, 1.0f, -1.0f, -1.0f, 1.0f, -1.0f};
const GLfloat kTexCoords[] = {0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f};

}  // namespace

EGLCore::EGLCore() {
  TRACE(Info, "EGLCore") << ".";
}

EGLCore::~EGLCore() {
  PLATFORM(LOG_ERROR, kNativeTag, "~EGLCore()");
  TRACE(Info, "~EGLCore") << ".";
  Release();
}

// --- Drawing -------------------------------------------------------------------

namespace {

// A chroma plane's side for a luma side of at least 1: half, rounded up, as
// the planes are laid out ((size + 1) / 2), without the sum that overflows
// for the largest int.
int32_t ChromaSize(int32_t lumaSize) {
  return lumaSize / 2 + lumaSize % 2;
}

}  // namespace

bool EGLCore::onRenderData(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t frameW,
                           int32_t frameH) {
  // Checked before anything else so that a bad frame changes no state.
  if (y == nullptr || u == nullptr || v == nullptr || frameW < 1 || frameH < 1) {
    TRACE(Error, "onRenderData") << "invalid frame: planes " << static_cast<const void*>(y)
                                 << "," << static_cast<const void*>(u) << ","
                                 << static_cast<const void*>(v) << " size " << frameW << "x"
                                 << frameH;
    return false;
  }
  if (!BeginFrame(frameW, frameH))
    return false;
  const int32_t chromaW = ChromaSize(frameW);
  const int32_t chromaH = ChromaSize(frameH);
  UploadPlane(0, &_ytid, "ytid:", "EGLCore _ytid :  %{public}d", y, frameW, frameH);
  UploadPlane(1, &_utid, "utid:", "EGLCore  _utid :  %{public}d", u, chromaW, chromaH);
  UploadPlane(2, &_vtid, "vtid:", "EGLCore  _vtid :  %{public}d", v, chromaW, chromaH);
  EndFrame(frameW, frameH, UseProgramForFrame());
  return true;
}

// The steps every frame opens with: the size against the textures, the
// context made current, the surface cleared.
bool EGLCore::BeginFrame(int32_t frameW, int32_t frameH) {
  if (!FitsTextures(frameW, frameH))
    return false;
  if (!MakeCurrent()) {
    TRACE_FAILURE(kDrawMakeCurrent);
    ForgetObjectsOfTerminatedDisplay("onRenderData");
    return false;
  }
  Api().glViewport(0, 0, width, height);
  Api().glClearColor(background[0], background[1], background[2], background[3]);
  Api().glClear(GL_COLOR_BUFFER_BIT);
  return true;
}

// The steps every frame closes with, its planes uploaded and its program
// in use: the matrix, the draw and the swap.
void EGLCore::EndFrame(int32_t frameW, int32_t frameH, GLint matrixLocation) {
  if (frameW != frameWidth || frameH != frameHeight || scaleType != pendingScaleType ||
      orientation != WantedOrientation())
    matraix(frameW, frameH);
  MatchMinifyingFilters();
  Api().glUniformMatrix4fv(matrixLocation, 1, GL_FALSE, texMatrix);
  Api().glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);

  // No glFinish: the swap flushes, and waiting here for the whole frame
  // would hold the engine's thread for as long as the GPU draws.
  Api().glFlush();
  Api().eglSwapBuffers(display, surface);
  ReleaseCurrent();
}

EGLCore::Orientation EGLCore::WantedOrientation() const {
  Orientation wanted = pendingOrientation;
  wanted.rotation = (wanted.rotation + frameRotation) % 360;
  return wanted;
}

void EGLCore::SetFrameRotation(int32_t rotation) {
  frameRotation = rotation == 90 || rotation == 180 || rotation == 270 ? rotation : 0;
}

void EGLCore::SetFrameColour(bool own, bool limited, colour::YuvMatrix coded) {
  frameColour.set = !own;
  frameColour.limitedRange = limited;
  frameColour.matrix = coded;
}

bool EGLCore::onRenderBiplanar(const uint8_t* y, const uint8_t* uv, int32_t frameW, int32_t frameH,
                               int32_t yStride, int32_t uvStride, bool crFirst) {
  if (y == nullptr || uv == nullptr || frameW < 1 || frameH < 1) {
    TRACE(Error, "onRenderData") << "invalid frame: planes " << static_cast<const void*>(y) << ","
                                 << static_cast<const void*>(uv) << " size " << frameW << "x"
                                 << frameH;
    return false;
  }
  const int32_t chromaW = ChromaSize(frameW);
  const int32_t chromaH = ChromaSize(frameH);
  // At most frameW + 1, which for the largest int is beyond the type.
  const int64_t pairBytes = static_cast<int64_t>(chromaW) * 2;
  const int32_t ys = yStride == 0 ? frameW : yStride;
  const int64_t uvs = uvStride == 0 ? pairBytes : uvStride;
  if (ys < frameW || uvs < pairBytes || pairBytes > INT32_MAX) {
    TRACE(Error, "onRenderData") << "invalid frame: strides " << yStride << "," << uvStride
                                 << " below the plane widths " << frameW << "," << pairBytes;
    return false;
  }
  if (!FitsTextures(frameW, frameH))
    return false;  // before anything is copied
  const uint8_t* const tightY = TightPlane(0, y, ys, frameW, frameH);
  const uint8_t* const tightUv =
      TightPlane(1, uv, static_cast<int32_t>(uvs), static_cast<int32_t>(pairBytes), chromaH);
  if (!BeginFrame(frameW, frameH))
    return false;
  const GLint location = UseBiplanarProgram(crFirst);
  if (location < 0) {
    ReleaseCurrent();
    return false;
  }
  UploadPlane(0, &_ytid, "ytid:", "EGLCore _ytid :  %{public}d", tightY, frameW, frameH);
  UploadPlane(1, &_utid, "utid:", "EGLCore  _utid :  %{public}d", tightUv, chromaW, chromaH,
              GL_LUMINANCE_ALPHA);
  EndFrame(frameW, frameH, location);
  return true;
}

bool EGLCore::onRenderData(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t frameW,
                           int32_t frameH, int32_t yStride, int32_t uStride, int32_t vStride) {
  if (y == nullptr || u == nullptr || v == nullptr || frameW < 1 || frameH < 1)
    return onRenderData(y, u, v, frameW, frameH);  // which reports it
  const int32_t chromaW = ChromaSize(frameW);
  const int32_t chromaH = ChromaSize(frameH);
  const int32_t ys = yStride == 0 ? frameW : yStride;
  const int32_t us = uStride == 0 ? chromaW : uStride;
  const int32_t vs = vStride == 0 ? chromaW : vStride;
  if (ys < frameW || us < chromaW || vs < chromaW) {
    TRACE(Error, "onRenderData") << "invalid frame: strides " << yStride << "," << uStride << ","
                                 << vStride << " below the plane widths " << frameW << ","
                                 << chromaW;
    return false;
  }
  if (!FitsTextures(frameW, frameH))
    return false;  // before anything is copied
  return onRenderData(TightPlane(0, y, ys, frameW, frameH), TightPlane(1, u, us, chromaW, chromaH),
                      TightPlane(2, v, vs, chromaW, chromaH), frameW, frameH);
}

// Whether the frame's planes fit the context's textures; a frame that does
// not is refused with a line. Unknown (no context yet) lets it through: it
// is not drawn without one anyway.
bool EGLCore::FitsTextures(int32_t frameW, int32_t frameH) {
  if (maxTextureSize <= 0 || (frameW <= maxTextureSize && frameH <= maxTextureSize))
    return true;
  TRACE(Error, "onRenderData") << "invalid frame: size " << frameW << "x" << frameH
                               << " above the largest texture " << maxTextureSize;
  return false;
}

// The plane as rows of exactly `width` bytes: itself when it already is
// (the copy kept for padded frames is then let go), else a copy in the
// core's buffer for that plane, made anew when the plane's size changed so
// that it follows the frames down as well as up.
const uint8_t* EGLCore::TightPlane(int index, const uint8_t* plane, int32_t stride, int32_t width,
                                   int32_t height) {
  std::vector<uint8_t>& tight = repacked[index];
  if (stride == width) {
    std::vector<uint8_t>().swap(tight);
    return plane;
  }
  const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (tight.size() != size)
    std::vector<uint8_t>(size).swap(tight);
  for (int32_t row = 0; row < height; ++row)
    memcpy(&tight[static_cast<size_t>(row) * width], plane + static_cast<size_t>(row) * stride,
           static_cast<size_t>(width));
  return tight.data();
}

// Everything of the context that stays the same from frame to frame, set
// once with the program: the program itself, the unpack alignment, each
// sampler's texture unit and the quad's attribute arrays.
void EGLCore::SetConstantState() {
  Api().glUseProgram(program);
  activeProgram = program;
  colour = ColourProgram();  // a new context: the second program is made again when needed
  biplanar = BiplanarProgram();
  // Rows are tightly packed whatever the width: with the default alignment
  // of 4, a plane whose width is not a multiple of 4 would be read past its
  // end.
  Api().glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  Api().glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
  Api().glUniform1i(yhandle, 0);
  Api().glUniform1i(uhandle, 1);
  Api().glUniform1i(vhandle, 2);
  Api().glVertexAttribPointer(m_positionHandle, 2, GL_FLOAT, GL_FALSE, 8, kVertices);
  Api().glEnableVertexAttribArray(m_positionHandle);
  Api().glVertexAttribPointer(coordHandle, 2, GL_FLOAT, GL_FALSE, 8, kTexCoords);
  Api().glEnableVertexAttribArray(coordHandle);
}

// Puts the program for the colour description in use and returns its
// matrix location. The second program is built on first need; if it cannot
// be, frames go on with the default one.
GLint EGLCore::UseProgramForFrame() {
  GLuint wanted = program;
  GLint location = matrixHandle;
  const bool limited = frameColour.set ? frameColour.limitedRange : limitedRange;
  const colour::YuvMatrix coded = frameColour.set ? frameColour.matrix : matrix;
  if (limited || coded != colour::YuvMatrix::kBt601) {
    if (colour.id == 0 && !colour.failed)
      BuildColourProgram();
    if (colour.id != 0) {
      wanted = colour.id;
      location = colour.matrix;
    }
  }
  if (wanted != activeProgram) {
    Api().glUseProgram(wanted);
    activeProgram = wanted;
  }
  if (wanted == colour.id && wanted != 0)
    SetColourUniforms(colour.levels, colour.coeffs, limited, coded);
  return location;
}

void EGLCore::SetColourUniforms(GLint levels, GLint coeffs, bool limited, colour::YuvMatrix coded) {
  if (limited)
    Api().glUniform3f(levels, 16.0f / 255.0f, 255.0f / 219.0f, 255.0f / 224.0f);
  else
    Api().glUniform3f(levels, 0.0f, 1.0f, 1.0f);
  // R' = Y' + 2(1 - Kr) V', B' = Y' + 2(1 - Kb) U', and G' from the
  // luma's definition.
  const colour::LumaWeights w = colour::WeightsOf(coded);
  const double kg = 1.0 - w.kr - w.kb;
  const double vToRed = 2.0 * (1.0 - w.kr), uToBlue = 2.0 * (1.0 - w.kb);
  Api().glUniform4f(coeffs, static_cast<float>(vToRed), static_cast<float>(uToBlue * w.kb / kg),
                    static_cast<float>(vToRed * w.kr / kg), static_cast<float>(uToBlue));
}

const char* EGLCore::MatrixName(colour::YuvMatrix matrix) {
  switch (matrix) {
    case colour::YuvMatrix::kBt709:
      return "BT.709";
    case colour::YuvMatrix::kBt2020:
      return "BT.2020";
    case colour::YuvMatrix::kBt601:
      break;
  }
  return "BT.601";
}

void EGLCore::SetColorDescription(bool limited, colour::YuvMatrix coded) {
  TRACE(Info, "SetColorDescription")
      << "range:" << (limited ? "limited" : "full") << ",matrix:" << MatrixName(coded);
  limitedRange = limited;
  matrix = coded;
}

// Plane `unit` into its texture on texture unit `unit`: the texture and its
// storage are made when missing or when the plane's size changed, and
// otherwise only its pixels are replaced.
void EGLCore::UploadPlane(int unit, GLuint* texture, const char* trace_name,
                          const char* platform_format, const uint8_t* pixels, int32_t plane_width,
                          int32_t plane_height, GLenum format) {
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
    textureWidth[unit] = textureHeight[unit] = 0;
    minifiesLinearly[unit] = false;
  } else {
    Api().glBindTexture(GL_TEXTURE_2D, *texture);
  }
  if (plane_width != textureWidth[unit] || plane_height != textureHeight[unit] ||
      format != textureFormat[unit]) {
    Api().glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), plane_width, plane_height, 0,
                       format, GL_UNSIGNED_BYTE, pixels);
    textureWidth[unit] = plane_width;
    textureHeight[unit] = plane_height;
    textureFormat[unit] = format;
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
void EGLCore::MatchMinifyingFilters() {
  // The quad spans the viewport, scaled by the fit; the slack absorbs the
  // rounding of the fit and fill scales, far below what moves a sample by a
  // visible fraction of a texel. A quarter turn lays the frame's rows along
  // the surface's height.
  const bool quarterTurn = orientation.rotation == 90 || orientation.rotation == 270;
  const float alongX = static_cast<float>(width) * fitScaleX;
  const float alongY = static_cast<float>(height) * fitScaleY;
  const float drawnW = (quarterTurn ? alongY : alongX) + 1e-3f;
  const float drawnH = (quarterTurn ? alongX : alongY) + 1e-3f;
  for (int unit = 0; unit < 3; ++unit) {
    const bool linear = drawnW >= static_cast<float>(textureWidth[unit]) &&
                        drawnH >= static_cast<float>(textureHeight[unit]);
    if (linear == minifiesLinearly[unit])
      continue;
    Api().glActiveTexture(GL_TEXTURE0 + unit);
    Api().glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, linear ? GL_LINEAR : GL_NEAREST);
    minifiesLinearly[unit] = linear;
  }
}

void EGLCore::matraix(int32_t frameW, int32_t frameH) {
  TRACE(Info, "matraix") << "w:h=" << frameW << "," << frameH
                         << ",frameWidth:frameHeight=" << frameWidth << "," << frameHeight;
  frameWidth = frameW;
  frameHeight = frameH;
  scaleType = pendingScaleType;
  orientation = WantedOrientation();
  frameAspectRatio = static_cast<float>(frameW) / static_cast<float>(frameH);
  TRACE(Info, "matraix") << "type = " << scaleType;
  const bool quarterTurn = orientation.rotation == 90 || orientation.rotation == 270;
  if (orientation.rotation != 0 || orientation.mirror)
    TRACE(Info, "matraix") << "rotation:" << orientation.rotation
                           << ",mirror:" << orientation.mirror;

  // A quarter turn shows the frame's height across the surface: the
  // picture's shape is the frame's, turned.
  const float f =
      quarterTurn ? static_cast<float>(frameH) / static_cast<float>(frameW) : frameAspectRatio;
  const float d = drawnAspectRatio;
  float scaleX = 1.0f;
  float scaleY = 1.0f;
  if (scaleType == 2) {  // fit: the whole frame, bars on the short side
    if (f > d)
      scaleY = d / f;
    else
      scaleX = f / d;
  } else if (scaleType == 3) {  // fill: the whole surface, cropped on the long side
    if (f > d)
      scaleX = f / d;
    else
      scaleY = d / f;
  }
  fitScaleX = scaleX;
  fitScaleY = scaleY;
  SetMatrixElements(scaleX, scaleY);
  TRACE(Info, "matraix") << "scaleX:" << scaleX << ",scaleY:" << scaleY
                         << ",frameAspectRatio:" << f << ",drawnAspectRatio:" << d
                         << ",type=" << scaleType;
  PLATFORM(LOG_ERROR, kNativeTag, "matraix scaleX: scaleY  %{public}f,%{public}f,%{public}f,%{public}f,",
           static_cast<double>(scaleX), static_cast<double>(scaleY), static_cast<double>(f),
           static_cast<double>(d));
}

// texMatrix = mirror x fit x turn, acting on the quad's clip-space x and y
// (column-major: elements 0 and 4 make x, 1 and 5 make y). The quad's
// corner (x, y) turns clockwise by r to (x cos r + y sin r, -x sin r +
// y cos r), is scaled by the fit along the surface's axes, and x changes
// sign with the mirror. Unturned and unmirrored, only elements 0 and 5 are
// other than 0.
void EGLCore::SetMatrixElements(float scaleX, float scaleY) {
  const float sx = orientation.mirror ? -scaleX : scaleX;
  float m0 = sx, m1 = 0.0f, m4 = 0.0f, m5 = scaleY;
  switch (orientation.rotation) {
    case 90:
      m0 = 0.0f, m4 = sx, m1 = -scaleY, m5 = 0.0f;
      break;
    case 180:
      m0 = -sx, m5 = -scaleY;
      break;
    case 270:
      m0 = 0.0f, m4 = -sx, m1 = scaleY, m5 = 0.0f;
      break;
    default:
      break;
  }
  texMatrix[0] = m0;
  texMatrix[1] = m1;
  texMatrix[4] = m4;
  texMatrix[5] = m5;
}

void EGLCore::FillBlack() {
  TRACE(Info, "FillBlack") << ".";
  if (!MakeCurrent()) {
    TRACE_FAILURE(kFillBlackMakeCurrent);
    ForgetObjectsOfTerminatedDisplay("FillBlack");
    return;
  }
  Api().glViewport(0, 0, width, height);
  Api().glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  Api().glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  Api().glFlush();
  Api().glFinish();
  Api().eglSwapBuffers(display, surface);
  DeleteTexture();
  ReleaseCurrent();
}

void EGLCore::SetBackgroundColour(uint32_t argb) {
  char text[11];
  snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(argb));
  TRACE(Info, "SetBackgroundColour") << "argb:" << text;
  background[0] = static_cast<GLfloat>(argb >> 16 & 0xff) / 255.0f;
  background[1] = static_cast<GLfloat>(argb >> 8 & 0xff) / 255.0f;
  background[2] = static_cast<GLfloat>(argb & 0xff) / 255.0f;
  background[3] = static_cast<GLfloat>(argb >> 24 & 0xff) / 255.0f;
}

bool EGLCore::ClearSurface() {
  TRACE(Info, "ClearSurface") << ".";
  if (!MakeCurrent()) {
    TRACE(Warning, "ClearSurface") << "no surface to clear";
    ForgetObjectsOfTerminatedDisplay("ClearSurface");
    return false;
  }
  Api().glViewport(0, 0, width, height);
  Api().glClearColor(background[0], background[1], background[2], background[3]);
  Api().glClear(GL_COLOR_BUFFER_BIT);
  Api().glFlush();
  const bool presented = Api().eglSwapBuffers(display, surface) == EGL_TRUE;
  DeleteTexture();
  ReleaseCurrent();
  return presented;
}

void EGLCore::DeleteTexture() {
  if (_ytid == 0 && _utid == 0 && _vtid == 0)
    return;
  PLATFORM(LOG_INFO, kNativeTag, " delete txture");
  TRACE(Info, "DeleteTexture") << "delete txture.";
  const GLuint textures[] = {_ytid, _utid, _vtid};
  Api().glDeleteTextures(3, textures);
  _ytid = _utid = _vtid = 0;
}

void EGLCore::SetSurfaceSize(int32_t w, int32_t h) {
  if (w < 1 || h < 1) {
    TRACE(Error, "SetSurfaceSize") << "refused " << w << "x" << h << ", keeping " << width << "x"
                                   << height;
    return;
  }
  if (w == width && h == height)
    return;
  width = w;
  height = h;
  drawnAspectRatio = static_cast<float>(w) / static_cast<float>(h);
  frameWidth = frameHeight = 0;  // the matrix is made again for the next frame
  TRACE(Info, "SetSurfaceSize") << "w,h=" << width << "," << height << "," << drawnAspectRatio;
}

void EGLCore::SetScaleType(int32_t type) {
  TRACE(Info, "SetScaleType") << "before.type:" << pendingScaleType << ",new :" << type;
  pendingScaleType = type;
}

void EGLCore::SetOrientation(int32_t rotation, bool mirror) {
  TRACE(Info, "SetOrientation") << "rotation:" << rotation << ",mirror:" << mirror;
  const bool known = rotation == 90 || rotation == 180 || rotation == 270;
  pendingOrientation.rotation = known ? rotation : 0;
  pendingOrientation.mirror = mirror;
}
