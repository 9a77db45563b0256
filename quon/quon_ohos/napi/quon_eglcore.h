#ifndef QUON_OHOS_NAPI_QUON_EGLCORE_H_
#define QUON_OHOS_NAPI_QUON_EGLCORE_H_

#include <EGL/egl.h>
#include <GLES2/gl2.h>
#include <stdint.h>

#include <vector>

#include "quon_colour.h"

// The drawing core of one renderer: owns the EGL display connection, the
// window surface on the XComponent's native window, an OpenGL ES 2 context,
// the YUV program and the three plane textures, and draws I420 frames fitted
// into the surface by scale type.
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
  // SetColorDescription's (`own` false: back to that one). Quiet.
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
  // with the program above, exactly as always; any other description draws
  // from the next frame with a second program, built when first needed.
  void SetColorDescription(bool limitedRange, colour::YuvMatrix matrix);
  void SetColorDescription(bool limitedRange, bool bt709) {
    SetColorDescription(limitedRange,
                        bt709 ? colour::YuvMatrix::kBt709 : colour::YuvMatrix::kBt601);
  }
  // The window surface now measures width x height pixels (a resize or a
  // rotation): the next frame's viewport, aspect ratio and fit matrix follow
  // it. Sizes below 1 are refused with a line; the old size stays.
  void SetSurfaceSize(int32_t width, int32_t height);
  // Whether EglContextInit made the surface and context the core draws
  // with (false before it, after Release, or when it failed).
  bool HasEnvironment() const { return surface != nullptr && context != nullptr; }

  // The shader texts, byte for byte.
  static const char kVertexShader[];
  static const char kFragmentShader[];
  // The second program's fragment shader: range and matrix as uniforms.
  static const char kColourFragmentShader[];
  // The two-plane program's: Y, and the chroma pairs in luminance (first)
  // and alpha (second).
  static const char kBiplanarFragmentShader[];

 private:
  // Tests read the state below through it (tests/support/eglcore_peer.h).
  friend class EGLCoreTestPeer;

  // The default program draws full range BT.601; the colour program every
  // other description, with range and matrix as uniforms.
  enum class ProgramKind { kDefault, kColour, kBiplanar };

  // Steps of the operations above.
  bool CreateEnvironment();
  // Builds and puts in use a program of kVertexShader and the kind's
  // fragment shader, with the context current; 0 on failure. Only the
  // default program logs its steps (`traced`).
  GLuint CreateProgram(ProgramKind kind = ProgramKind::kDefault);
  GLuint LoadShader(GLenum type, const char* source, bool traced = true);
  void matraix(int32_t frameW, int32_t frameH);
  void SetMatrixElements(float scaleX, float scaleY);
  static const char* MatrixName(colour::YuvMatrix matrix);
  void DeleteTexture();
  bool FailEnvironment();
  void ForgetObjectsOfTerminatedDisplay(const char* operation);
  GLuint LinkProgram(GLuint vertex, GLuint fragment, ProgramKind kind);
  void LookUpLocations();
  void SetConstantState();
  void MatchMinifyingFilters();
  GLint UseProgramForFrame();
  GLint UseBiplanarProgram(bool crFirst);
  void SetColourUniforms(GLint levels, GLint coeffs, bool limited, colour::YuvMatrix coded);
  bool BeginFrame(int32_t frameW, int32_t frameH);
  void EndFrame(int32_t frameW, int32_t frameH, GLint matrixLocation);
  void BuildColourProgram();
  void ReleaseColourProgram();
  void UploadPlane(int unit, GLuint* texture, const char* trace_name, const char* platform_format,
                   const uint8_t* pixels, int32_t plane_width, int32_t plane_height,
                   GLenum format = GL_LUMINANCE);
  bool FitsTextures(int32_t frameW, int32_t frameH);
  const uint8_t* TightPlane(int index, const uint8_t* plane, int32_t stride, int32_t width,
                            int32_t height);
  bool MakeCurrent();
  void ReleaseCurrent();
  void ReleaseObj();
  void DestroyEglObjects();

  // --- State, in declaration order. ---------------------------------------
  int32_t width = 0;             // surface size given to EglContextInit
  int32_t height = 0;
  int32_t frameWidth = 0;        // frame size texMatrix was computed for
  int32_t frameHeight = 0;
  float drawnAspectRatio = 0.0f; // width / height
  float frameAspectRatio = 0.0f; // frameWidth / frameHeight
  GLuint program = 0;            // the YUV program; 0 = none
  GLint m_positionHandle = 0;    // attribute in_pos
  GLint matrixHandle = 0;        // uniform texMatrix
  GLint coordHandle = 0;         // attribute in_tc
  GLint yhandle = 0;             // uniform y_tex
  GLint uhandle = 0;             // uniform u_tex
  GLint vhandle = 0;             // uniform v_tex
  GLuint _ytid = 0;              // plane textures; 0 = not yet created
  GLuint _utid = 0;
  GLuint _vtid = 0;
  int32_t textureWidth[3] = {};   // the size each plane texture's storage has
  int32_t textureHeight[3] = {};
  bool minifiesLinearly[3] = {};  // each texture's GL_TEXTURE_MIN_FILTER is GL_LINEAR
  GLenum textureFormat[3] = {};   // the format each plane texture's storage has
  void* nativeWindow = nullptr;  // borrowed from the XComponent
  EGLDisplay display = nullptr;  // null = no environment
  EGLConfig config = nullptr;
  EGLSurface surface = nullptr;
  EGLContext context = nullptr;
  GLfloat texMatrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  int32_t scaleType = 2;         // the type texMatrix was computed with
  int32_t pendingScaleType = 2;  // the type last asked for

  // Whether this core holds a reference on `display` (see ReleaseDisplay).
  bool displayAcquired = false;
  // The colour description asked for, and the second program drawing it.
  bool limitedRange = false;
  colour::YuvMatrix matrix = colour::YuvMatrix::kBt601;
  struct ColourProgram {
    GLuint id = 0;
    GLint matrix = -1;  // uniform texMatrix
    GLint levels = -1;  // uniform levels
    GLint coeffs = -1;  // uniform coeffs
    bool failed = false;  // not built: frames are drawn with the default program
  } colour;
  GLuint activeProgram = 0;  // the program in use in the context
  // The context's largest texture side (GL_MAX_TEXTURE_SIZE); 0 = no
  // context yet. Frames with a larger side are refused before any work.
  GLint maxTextureSize = 0;
  // Tight copies of padded planes (Y, U, V), kept from frame to frame while
  // the frames' size stays; dropped when frames come tight.
  std::vector<uint8_t> repacked[3];
  // The turn and the mirror texMatrix was computed with, and those last
  // asked for.
  struct Orientation {
    int32_t rotation = 0;  // clockwise degrees: 0, 90, 180 or 270
    bool mirror = false;
    bool operator!=(const Orientation& other) const {
      return rotation != other.rotation || mirror != other.mirror;
    }
  } orientation, pendingOrientation;
  // The frames' own turn (SetFrameRotation).
  int32_t frameRotation = 0;
  Orientation WantedOrientation() const;
  // The frames' own colour description (SetFrameColour).
  struct FrameColour {
    bool set = false;
    bool limitedRange = false;
    colour::YuvMatrix matrix = colour::YuvMatrix::kBt601;
  } frameColour;
  // The two-plane program; built on the first such frame.
  struct BiplanarProgram {
    GLuint id = 0;
    GLint matrix = -1;
    GLint levels = -1;
    GLint coeffs = -1;
    GLint crFirst = -1;
    bool failed = false;
  } biplanar;
  // The fit's scales along the surface's x and y (texMatrix without the
  // turn and the mirror).
  float fitScaleX = 1.0f;
  float fitScaleY = 1.0f;
  // SetBackgroundColour's, as glClearColor takes it.
  GLfloat background[4] = {0.0f, 0.0f, 0.0f, 1.0f};
};

#endif  // QUON_OHOS_NAPI_QUON_EGLCORE_H_
