// The drawing core: its environment built and released, and frames drawn,
// fitted by scale type, each operation's steps in their order over its parts.

#include "quon_eglcore.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "quon_egl_api.h"
#include "quon_eglcore_trace.h"
#include "quon_platform_log.h"

namespace {

using namespace platform_log;  // the domain and tags

}  // namespace

EGLCore::EGLCore() {
  TRACE(Info, "EGLCore") << ".";
}

EGLCore::~EGLCore() {
  PLATFORM(LOG_ERROR, kNativeTag, "~EGLCore()");
  TRACE(Info, "~EGLCore") << ".";
  Release();
}

// --- Environment -------------------------------------------------------------

bool EGLCore::EglContextInit(void* window, int32_t w, int32_t h) {
  if (window == nullptr) {
    TRACE_FAILURE(kWindowNull);
  } else if (w >= 1 && h >= 1) {
    width = w;
    height = h;
    drawnAspectRatio = static_cast<float>(w) / static_cast<float>(h);
    frameWidth = frameHeight = 0;  // a new surface's size: the matrix is made again
    TRACE(Info, "EglContextInit") << "w,h=" << width << "," << height << "," << drawnAspectRatio;
    PLATFORM(LOG_ERROR, kNativeTag, "EGLCore::EglContextInit 1 %{public}d,%{public}d,", width,
             height);
    if (!environment_.Create(window))
      return false;
    if (!programs_.BuildDefault()) {
      TRACE_FAILURE(kCreateProgram);
      ReleaseCurrent();  // every handle made so far is left for Release()
      return false;
    }
    programs_.LookUpLocations();
    SetConstantState();
    ReleaseCurrent();
    return true;
  }
  TRACE_FAILURE(kBadArguments);
  return false;
}

// Everything of the context that stays the same from frame to frame, set
// once with the program: the program itself, the unpack alignment, each
// sampler's texture unit and the quad's attribute arrays.
void EGLCore::SetConstantState() {
  programs_.UseDefault();
  textures_.SetContextState();
  programs_.SetDefaultInputs();
}

// A display terminated under the core took the programs and the textures
// with it, as well as the surface and the context.
void EGLCore::ForgetObjectsOfTerminatedDisplay(const char* operation) {
  if (!environment_.ForgetObjectsOfTerminatedDisplay(operation))
    return;
  programs_.Forget();
  textures_.Forget();
}

void EGLCore::Release() {
  TRACE(Info, "Release") << "begine.";
  programs_.Release();
  textures_.Delete();
  if (environment_.display() == nullptr) {
    PLATFORM(LOG_ERROR, kNativeTag, "no again");
    TRACE(Info, "Release") << "no again.";
    return;
  }
  PLATFORM(LOG_ERROR, kNativeTag, "egl Release begin");
  environment_.Destroy();
  PLATFORM(LOG_ERROR, kNativeTag, "egl Release end");
  TRACE(Info, "Release") << "end.";
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
  textures_.Upload(0, "ytid:", "EGLCore _ytid :  %{public}d", y, frameW, frameH);
  textures_.Upload(1, "utid:", "EGLCore  _utid :  %{public}d", u, chromaW, chromaH);
  textures_.Upload(2, "vtid:", "EGLCore  _vtid :  %{public}d", v, chromaW, chromaH);
  EndFrame(frameW, frameH, programs_.UseForFrame());
  return true;
}

// The steps every frame opens with: the size against the textures, the
// context made current, the surface cleared.
bool EGLCore::BeginFrame(int32_t frameW, int32_t frameH) {
  if (!textures_.Fits(frameW, frameH))
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
  if (readBack != nullptr)
    TakeReadBack();

  // No glFinish: the swap flushes, and waiting here for the whole frame
  // would hold the engine's thread for as long as the GPU draws.
  Api().glFlush();
  environment_.SwapBuffers();
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
  programs_.SetFrameColour(own, limited, coded);
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
  if (!textures_.Fits(frameW, frameH))
    return false;  // before anything is copied
  const uint8_t* const tightY = TightPlane(0, y, ys, frameW, frameH);
  const uint8_t* const tightUv =
      TightPlane(1, uv, static_cast<int32_t>(uvs), static_cast<int32_t>(pairBytes), chromaH);
  if (!BeginFrame(frameW, frameH))
    return false;
  const GLint location = programs_.UseBiplanar(crFirst);
  if (location < 0) {
    ReleaseCurrent();
    return false;
  }
  textures_.Upload(0, "ytid:", "EGLCore _ytid :  %{public}d", tightY, frameW, frameH);
  textures_.Upload(1, "utid:", "EGLCore  _utid :  %{public}d", tightUv, chromaW, chromaH,
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
  if (!textures_.Fits(frameW, frameH))
    return false;  // before anything is copied
  return onRenderData(TightPlane(0, y, ys, frameW, frameH), TightPlane(1, u, us, chromaW, chromaH),
                      TightPlane(2, v, vs, chromaW, chromaH), frameW, frameH);
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

void EGLCore::SetColorDescription(bool limited, colour::YuvMatrix coded) {
  TRACE(Info, "SetColorDescription")
      << "range:" << (limited ? "limited" : "full") << ",matrix:" << YuvPrograms::MatrixName(coded);
  programs_.SetColourDescription(limited, coded);
}

// The textures' minifying filters follow the size the quad is drawn at.
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
  textures_.MatchMinifyingFilters(drawnW, drawnH);
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
  environment_.SwapBuffers();
  textures_.Delete();
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
  const bool presented = environment_.SwapBuffers();
  textures_.Delete();
  ReleaseCurrent();
  return presented;
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
