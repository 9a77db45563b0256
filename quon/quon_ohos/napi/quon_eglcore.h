#ifndef QUON_OHOS_NAPI_QUON_EGLCORE_H_
#define QUON_OHOS_NAPI_QUON_EGLCORE_H_

#include <EGL/egl.h>
#include <GLES2/gl2.h>
#include <stdint.h>

#include <vector>

#include "quon_colour.h"
#include "quon_egl_environment.h"
#include "quon_eglcore_programs.h"
#include "quon_eglcore_textures.h"

// The drawing core of one renderer: draws I420, NV12 and NV21 frames fitted
// into the surface by scale type, with the parts it is made of: the EGL
// environment on the XComponent's native window (quon_egl_environment.h),
// the programs (quon_eglcore_programs.h) and the plane textures
// (quon_eglcore_textures.h). The core keeps the picture's geometry and the
// order of each operation's steps.
//
// Not thread-safe: the owner serialises calls. The context is current only
// inside one operation, so the core may be built on one thread, draw on
// another and be released on the first.
//
// Scale types: 1 stretch, 2 fit (bars of the background colour), 3 fill (cropped);
// any other value acts as 1. The picture may be turned by a quarter turn or
// more and mirrored, in the drawing matrix (SetOrientation); the fit and
// fill arithmetic takes the turned picture's shape.
class EGLCore {
 public:
  EGLCore();
  ~EGLCore();
  EGLCore(const EGLCore&) = delete;
  EGLCore& operator=(const EGLCore&) = delete;

  // Builds the EGL environment and the program on `window` of width x height
  // pixels. True when everything is ready. Bad arguments change nothing; a
  // failure part-way leaves the handles made so far for Release().
  bool EglContextInit(void* window, int32_t width, int32_t height);
  // Tears everything down; safe to call any number of times.
  void Release();

  // Draws one frame: y is frameW x frameH bytes, u and v are
  // ((frameW + 1) / 2) x ((frameH + 1) / 2) bytes each, rows tightly packed.
  // True when the frame was drawn and presented; false when it was refused
  // or could not be drawn (each said with a line).
  bool onRenderData(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t frameW,
                    int32_t frameH);
  // The same, with rows `yStride`, `uStride` and `vStride` bytes apart, as
  // decoders hand them over (0: the plane's width). Planes with padded rows
  // are first copied tight into buffers the core keeps for the next frame;
  // a stride below its plane's width is refused with a line, nothing drawn.
  bool onRenderData(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t frameW,
                    int32_t frameH, int32_t yStride, int32_t uStride, int32_t vStride);
  // Draws a frame of a Y plane and one plane of interleaved chroma pairs
  // (NV12: Cb first; NV21, `crFirst`: Cr first), ((frameW + 1) / 2) pairs
  // a row, rows `yStride` and `uvStride` bytes apart (0: tight). The pairs
  // go up as a two-channel texture read by a third program: no conversion
  // on the CPU. Refused as onRenderData refuses.
  bool onRenderBiplanar(const uint8_t* y, const uint8_t* uv, int32_t frameW, int32_t frameH,
                        int32_t yStride, int32_t uvStride, bool crFirst);
  // The turn of the next frames themselves (0, 90, 180 or 270; anything
  // else acts as 0), added to SetOrientation's: cameras turn per frame.
  void SetFrameRotation(int32_t rotation);
  // A colour description for the next frames alone, in place of
  // SetColorDescription's (`own` true: back to that one). Quiet.
  void SetFrameColour(bool own, bool limitedRange, colour::YuvMatrix matrix);
  // Clears the surface to black, presents it and drops the textures.
  void FillBlack();
  // The colour the next frames are drawn on, the bars of fit included, and
  // that ClearSurface clears to: 0xAARRGGBB, opaque black by default. Alpha
  // is passed on as given.
  void SetBackgroundColour(uint32_t argb);
  // Clears the surface to the background colour, presents it and drops the
  // textures, as FillBlack does to black. False, with a line, when there is
  // no surface to clear.
  bool ClearSurface();
  // Records the scale type for the next frame.
  void SetScaleType(int32_t type);
  // Records, for the next frame, a clockwise turn of the picture by
  // `rotation` degrees (0, 90, 180 or 270; anything else acts as 0) and
  // then, with `mirror`, a flip of the picture as shown, left for right.
  // The matrix is made again, as for a new scale type; captures are not
  // concerned.
  void SetOrientation(int32_t rotation, bool mirror);
  // How the frames encode colour: limited range (Y 16..235, chroma 16..240)
  // or full, and their matrix. Full range with BT.601 (the default) draws
  // with the default program, exactly as always; any other description
  // draws from the next frame with the colour program, built when first
  // needed.
  void SetColorDescription(bool limitedRange, colour::YuvMatrix matrix);
  void SetColorDescription(bool limitedRange, bool bt709) {
    SetColorDescription(limitedRange,
                        bt709 ? colour::YuvMatrix::kBt709 : colour::YuvMatrix::kBt601);
  }
  // The window surface now measures width x height pixels (a resize or a
  // rotation): the next frame's viewport, aspect ratio and fit matrix follow
  // it. Sizes below 1 are refused with a line; the old size stays.
  void SetSurfaceSize(int32_t width, int32_t height);
  // A picture read back from the surface (ReadBackNextFrame).
  struct ReadBack {
    std::vector<uint8_t> rgba;  // rows top first, width * 4 bytes each
    int32_t width = 0;
    int32_t height = 0;
    bool taken = false;   // a frame was drawn and read back
    bool failed = false;  // a frame was drawn, and reading it back failed
  };
  // Reads the next frame drawn back from the surface into `into`, after the
  // draw and before the swap presents it, so that it is exactly what the
  // surface shows; null takes the request back. One frame per request. Its
  // cost is the read's alone: a frame without a request reads nothing.
  void ReadBackNextFrame(ReadBack* into) { readBack = into; }

  // Whether EglContextInit made the surface and context the core draws
  // with (false before it, after Release, or when it failed).
  bool HasEnvironment() const {
    return environment_.surface() != nullptr && environment_.context() != nullptr;
  }

  // The shader texts, byte for byte (YuvPrograms has them).
  static constexpr const char* kVertexShader = YuvPrograms::kVertexShader;
  static constexpr const char* kFragmentShader = YuvPrograms::kFragmentShader;
  static constexpr const char* kColourFragmentShader = YuvPrograms::kColourFragmentShader;
  static constexpr const char* kBiplanarFragmentShader = YuvPrograms::kBiplanarFragmentShader;

 private:
  // Tests read the state below through it (tests/support/eglcore_peer.h).
  friend class EGLCoreTestPeer;

  // Steps of the operations above.
  const void* TracedCore() const { return this; }
  void SetConstantState();
  bool MakeCurrent() { return environment_.MakeCurrent(); }
  void ReleaseCurrent() { environment_.ReleaseCurrent(); }
  void ForgetObjectsOfTerminatedDisplay(const char* operation);
  bool BeginFrame(int32_t frameW, int32_t frameH);
  void EndFrame(int32_t frameW, int32_t frameH, GLint matrixLocation);
  void MatchMinifyingFilters();
  void matraix(int32_t frameW, int32_t frameH);
  void SetMatrixElements(float scaleX, float scaleY);
  const uint8_t* TightPlane(int index, const uint8_t* plane, int32_t stride, int32_t width,
                            int32_t height);
  void TakeReadBack();

  // The turn and the mirror of the picture.
  struct Orientation {
    int32_t rotation = 0;  // clockwise degrees: 0, 90, 180 or 270
    bool mirror = false;
    bool operator!=(const Orientation& other) const {
      return rotation != other.rotation || mirror != other.mirror;
    }
  };
  Orientation WantedOrientation() const;

  // --- Parts -----------------------------------------------------------------
  EglEnvironment environment_{this};
  YuvPrograms programs_{this};
  PlaneTextures textures_{this};

  // --- Geometry --------------------------------------------------------------
  int32_t width = 0;             // surface size given to EglContextInit
  int32_t height = 0;
  int32_t frameWidth = 0;        // frame size texMatrix was computed for
  int32_t frameHeight = 0;
  float drawnAspectRatio = 0.0f; // width / height
  float frameAspectRatio = 0.0f;  // frameWidth / frameHeight
  GLfloat texMatrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  int32_t scaleType = 2;         // the type texMatrix was computed with
  int32_t pendingScaleType = 2;  // the type last asked for
  // The turn and the mirror texMatrix was computed with, and those last
  // asked for.
  Orientation orientation, pendingOrientation;
  // The frames' own turn (SetFrameRotation).
  int32_t frameRotation = 0;
  // The fit's scales along the surface's x and y (texMatrix without the
  // turn and the mirror).
  float fitScaleX = 1.0f;
  float fitScaleY = 1.0f;

  // Tight copies of padded planes (Y, U, V), kept from frame to frame while
  // the frames' size stays; dropped when frames come tight.
  std::vector<uint8_t> repacked[3];
  // SetBackgroundColour's, as glClearColor takes it.
  GLfloat background[4] = {0.0f, 0.0f, 0.0f, 1.0f};
  // Where the next frame drawn is read back to; null: nowhere.
  ReadBack* readBack = nullptr;
};

#endif  // QUON_OHOS_NAPI_QUON_EGLCORE_H_
