#ifndef QUON_OHOS_NAPI_QUON_EGLCORE_PROGRAMS_H_
#define QUON_OHOS_NAPI_QUON_EGLCORE_PROGRAMS_H_

#include <GLES2/gl2.h>

#include "quon_colour.h"

// A drawing core's programs, all of one vertex shader (the quad, placed by
// texMatrix) and each of its own fragment shader:
//  - the default program: three planes, Y, U and V on texture units 0, 1
//    and 2, drawn as full range BT.601; built with the environment, each of
//    its steps logged;
//  - the colour program: the same planes in any other range and matrix,
//    given as uniforms; built on the first frame that needs it;
//  - the two-plane program: Y on unit 0 and the chroma pairs (NV12, NV21)
//    on unit 1; built on the first such frame.
// The programs that come later bind their attributes to the default
// program's locations, so that the quad's arrays, set once, serve all.
//
// Also the colour description the frames are drawn with: the one set for
// the frames (SetColourDescription), or a frame's own in its place.
//
// Programs are built and put in use with the core's context current;
// Release, Forget and the colour setters need none. Not thread-safe: the
// core serialises calls. Its lines carry the address of the core it was
// made for.
class YuvPrograms {
 public:
  explicit YuvPrograms(const void* core) : core_(core) {}
  YuvPrograms(const YuvPrograms&) = delete;
  YuvPrograms& operator=(const YuvPrograms&) = delete;

  // The shader texts, byte for byte.
  static const char kVertexShader[];
  static const char kFragmentShader[];
  // The colour program's fragment shader: range and matrix as uniforms.
  static const char kColourFragmentShader[];
  // The two-plane program's: Y, and the chroma pairs in luminance (first)
  // and alpha (second).
  static const char kBiplanarFragmentShader[];

  // Builds the default program and puts it in use; false when a step
  // failed (said with its lines), nothing left behind in the context.
  bool BuildDefault();
  // Looks up the default program's attribute and uniform locations, and
  // says them.
  void LookUpLocations();
  // For a new context: the default program in use, the others to be made
  // again when needed.
  void UseDefault();
  // What stays the same from frame to frame: each sampler's texture unit
  // and the quad's attribute arrays.
  void SetDefaultInputs();

  // Puts in use the program for a three-plane frame's colour description
  // and returns its matrix location. The colour program is built on first need; if it
  // cannot be (said once), frames go on with the default one.
  GLint UseForFrame();
  // Puts the two-plane program in use, built on first need, with the
  // frame's colour description and chroma order; its matrix location, or
  // -1 when it cannot be built (said once).
  GLint UseBiplanar(bool crFirst);

  // Deletes every program on the calling thread, without making the context
  // current (the default one said with a line).
  void Release();
  // The programs died with the display: their names are dropped, nothing
  // is deleted.
  void Forget();

  // How the frames encode colour: limited range (Y 16..235, chroma 16..240)
  // or full, and their matrix.
  void SetColourDescription(bool limitedRange, colour::YuvMatrix matrix);
  // A description for the next frames alone, in place of the one above
  // (`own` true: back to that one).
  void SetFrameColour(bool own, bool limitedRange, colour::YuvMatrix matrix);
  bool limitedRange() const { return limitedRange_; }
  colour::YuvMatrix matrix() const { return matrix_; }

  static const char* MatrixName(colour::YuvMatrix matrix);

  // The default program and its locations; 0 = none.
  struct DefaultProgram {
    GLuint id = 0;
    GLint position = 0;  // attribute in_pos
    GLint matrix = 0;    // uniform texMatrix
    GLint coord = 0;     // attribute in_tc
    GLint y = 0;         // uniform y_tex
    GLint u = 0;         // uniform u_tex
    GLint v = 0;         // uniform v_tex
  };
  const DefaultProgram& defaults() const { return default_; }

 private:
  enum class ProgramKind { kDefault, kColour, kBiplanar };

  const void* TracedCore() const { return core_; }
  // Builds and puts in use a program of kVertexShader and the kind's
  // fragment shader; 0 on failure. Only the default program logs its steps
  // (`traced`).
  GLuint CreateProgram(ProgramKind kind);
  GLuint LoadShader(GLenum type, const char* source, bool traced);
  GLuint LinkProgram(GLuint vertex, GLuint fragment, ProgramKind kind);
  void BuildColourProgram();
  void ReleaseColourPrograms();
  void SetColourUniforms(GLint levels, GLint coeffs, bool limited, colour::YuvMatrix coded);
  bool FrameLimitedRange() const;
  colour::YuvMatrix FrameMatrix() const;

  const void* const core_;
  DefaultProgram default_;
  struct ColourProgram {
    GLuint id = 0;
    GLint matrix = -1;    // uniform texMatrix
    GLint levels = -1;    // uniform levels
    GLint coeffs = -1;    // uniform coeffs
    bool failed = false;  // not built: frames are drawn with the default program
  } colour_;
  struct BiplanarProgram {
    GLuint id = 0;
    GLint matrix = -1;
    GLint levels = -1;
    GLint coeffs = -1;
    GLint crFirst = -1;
    bool failed = false;  // not built: such frames are not drawn
  } biplanar_;
  GLuint activeProgram_ = 0;  // the program in use in the context

  // The colour description asked for, and the frames' own (SetFrameColour).
  bool limitedRange_ = false;
  colour::YuvMatrix matrix_ = colour::YuvMatrix::kBt601;
  struct FrameColour {
    bool set = false;
    bool limitedRange = false;
    colour::YuvMatrix matrix = colour::YuvMatrix::kBt601;
  } frameColour_;
};

#endif  // QUON_OHOS_NAPI_QUON_EGLCORE_PROGRAMS_H_
