#include "quon_eglcore_programs.h"

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

const char YuvPrograms::kVertexShader[] =
    "varying vec2 interp_tc;\n"
    "attribute vec4 in_pos;\n"
    "attribute vec4 in_tc;\n"
    "\n"
    "uniform mat4 texMatrix;\n"
    "\n"
    "void main() {\n"
    "    gl_Position = texMatrix*in_pos;\n"
    "    interp_tc = in_tc.xy;\n"
    "}\n";

// The inputs both fragment shaders open with.
#define YUV_FRAGMENT_INPUTS    \
  "precision mediump float;\n" \
  "varying vec2 interp_tc;\n"  \
  "\n"                         \
  "uniform sampler2D y_tex;\n" \
  "uniform sampler2D u_tex;\n" \
  "uniform sampler2D v_tex;\n"

const char YuvPrograms::kFragmentShader[] = YUV_FRAGMENT_INPUTS
    "\n"
    "void main() {\n"
    "  float y = texture2D(y_tex, interp_tc).r;\n"
    "  float u = texture2D(u_tex, interp_tc).r - 0.5;\n"
    "  float v = texture2D(v_tex, interp_tc).r - 0.5;\n"
    "  gl_FragColor = vec4(y + 1.403 * v,"
    "                       y - 0.344 * u - 0.714 * v,"
    "                       y + 1.77 * u, 1);\n"
    "}\n";

const char YuvPrograms::kColourFragmentShader[] = YUV_FRAGMENT_INPUTS
    "uniform vec3 levels;  // luma offset, luma scale, chroma scale\n"
    "uniform vec4 coeffs;  // v to red, u to green, v to green, u to blue\n"
    "\n"
    "void main() {\n"
    "  float y = (texture2D(y_tex, interp_tc).r - levels.x) * levels.y;\n"
    "  float u = (texture2D(u_tex, interp_tc).r - 0.5) * levels.z;\n"
    "  float v = (texture2D(v_tex, interp_tc).r - 0.5) * levels.z;\n"
    "  gl_FragColor = vec4(y + coeffs.x * v, y - coeffs.y * u - coeffs.z * v,"
    " y + coeffs.w * u, 1.0);\n"
    "}\n";

const char YuvPrograms::kBiplanarFragmentShader[] =
    "precision mediump float;\n"
    "varying vec2 interp_tc;\n"
    "\n"
    "uniform sampler2D y_tex;\n"
    "uniform sampler2D uv_tex;  // the pairs: luminance first, alpha second\n"
    "uniform float cr_first;    // 1.0 for Cr Cb pairs\n"
    "uniform vec3 levels;  // luma offset, luma scale, chroma scale\n"
    "uniform vec4 coeffs;  // v to red, u to green, v to green, u to blue\n"
    "\n"
    "void main() {\n"
    "  vec4 pair = texture2D(uv_tex, interp_tc);\n"
    "  float y = (texture2D(y_tex, interp_tc).r - levels.x) * levels.y;\n"
    "  float u = (mix(pair.r, pair.a, cr_first) - 0.5) * levels.z;\n"
    "  float v = (mix(pair.a, pair.r, cr_first) - 0.5) * levels.z;\n"
    "  gl_FragColor = vec4(y + coeffs.x * v, y - coeffs.y * u - coeffs.z * v,"
    " y + coeffs.w * u, 1.0);\n"
    "}\n";

// --- Building ----------------------------------------------------------------

GLuint YuvPrograms::LoadShader(GLenum type, const char* source, bool traced) {
  const GLuint shader = Api().glCreateShader(type);
  if (shader == 0) {
    if (traced)
      TRACE_FAILURE(kCreateShader);
    return 0;
  }
  Api().glShaderSource(shader, 1, &source, nullptr);
  Api().glCompileShader(shader);
  return shader;
}

// Every program is built here, step for step alike. The default program,
// built with the environment, writes each step's lines; the others, built
// while frames are drawn, say once at their caller that they could not be
// built.
GLuint YuvPrograms::CreateProgram(ProgramKind kind) {
  const bool traced = kind == ProgramKind::kDefault;
  const GLuint vertex = LoadShader(GL_VERTEX_SHADER, kVertexShader, traced);
  if (vertex == 0) {
    if (traced)
      TRACE_FAILURE(kVertexShader);
    return 0;
  }
  const char* const source = kind == ProgramKind::kDefault  ? kFragmentShader
                             : kind == ProgramKind::kColour ? kColourFragmentShader
                                                            : kBiplanarFragmentShader;
  const GLuint fragment = LoadShader(GL_FRAGMENT_SHADER, source, traced);
  if (fragment == 0) {
    if (traced)
      TRACE_FAILURE(kFragmentShader);
    Api().glDeleteShader(vertex);
    return 0;
  }
  const GLuint created = LinkProgram(vertex, fragment, kind);
  // Whatever the outcome the shaders go now: a linked program keeps what it
  // needs of them, and a failed one must not leave them behind in the
  // context for every later attempt.
  Api().glDeleteShader(vertex);
  Api().glDeleteShader(fragment);
  return created;
}

GLuint YuvPrograms::LinkProgram(GLuint vertex, GLuint fragment, ProgramKind kind) {
  const bool traced = kind == ProgramKind::kDefault;
  GLint compiled = 0;
  Api().glGetShaderiv(vertex, GL_COMPILE_STATUS, &compiled);
  if (compiled != 1) {
    if (traced)
      TRACE_FAILURE(kCompileVertexShader);
    return 0;
  }
  Api().glGetShaderiv(fragment, GL_COMPILE_STATUS, &compiled);
  if (compiled != 1) {
    if (traced)
      TRACE_FAILURE(kCompileFragmentShader);
    return 0;
  }
  const GLuint created = Api().glCreateProgram();
  if (created == 0) {
    if (traced)
      TRACE_FAILURE(kCreateProgramObject);
    return 0;
  }
  if (traced) {
    TRACE(Info, "CreateProgram") << "createProgram program success!!!";
    PLATFORM(LOG_ERROR, kNativeTag, "EGLCore1:: createProgram successs");
  }
  Api().glAttachShader(created, vertex);
  Api().glAttachShader(created, fragment);
  if (kind != ProgramKind::kDefault) {
    // Bound to the default program's locations, so that the attribute
    // arrays set once serve every program.
    Api().glBindAttribLocation(created, static_cast<GLuint>(default_.position), "in_pos");
    Api().glBindAttribLocation(created, static_cast<GLuint>(default_.coord), "in_tc");
  }
  Api().glLinkProgram(created);
  GLint linked = 0;
  Api().glGetProgramiv(created, GL_LINK_STATUS, &linked);
  if (linked != 1) {
    if (traced)
      TRACE_FAILURE(kLinkProgram);
    Api().glDeleteProgram(created);
    return 0;
  }
  Api().glUseProgram(created);
  if (traced) {
    TRACE(Info, "CreateProgram") << "linked success!!!";
    PLATFORM(LOG_ERROR, kNativeTag, "EGLCore1:: createProgram linked success");
  }
  return created;
}

bool YuvPrograms::BuildDefault() {
  default_.id = CreateProgram(ProgramKind::kDefault);
  return default_.id != 0;
}

void YuvPrograms::LookUpLocations() {
  const GLuint program = default_.id;
  default_.position = Api().glGetAttribLocation(program, "in_pos");
  default_.matrix = Api().glGetUniformLocation(program, "texMatrix");
  default_.coord = Api().glGetAttribLocation(program, "in_tc");
  default_.y = Api().glGetUniformLocation(program, "y_tex");
  default_.u = Api().glGetUniformLocation(program, "u_tex");
  default_.v = Api().glGetUniformLocation(program, "v_tex");
  TRACE(Info, "CreateEnvironment")
      << "m_positionHandle:" << default_.position << ",matrixHandle:" << default_.matrix
      << ",coordHandle:" << default_.coord << ",yhandle:" << default_.y << ",uhandle:" << default_.u
      << ",vhandle:" << default_.v;
  PLATFORM(LOG_ERROR, kNativeTag,
           "EGLCore::CreateProgram: %{public}d,%{public}d,%{public}d,== %{public}d, %{public}d, "
           "%{public}d",
           default_.position, default_.matrix, default_.coord, default_.y, default_.u, default_.v);
}

void YuvPrograms::UseDefault() {
  Api().glUseProgram(default_.id);
  activeProgram_ = default_.id;
  colour_ = ColourProgram();  // a new context: the other programs are made again when needed
  biplanar_ = BiplanarProgram();
}

void YuvPrograms::SetDefaultInputs() {
  Api().glUniform1i(default_.y, 0);
  Api().glUniform1i(default_.u, 1);
  Api().glUniform1i(default_.v, 2);
  Api().glVertexAttribPointer(default_.position, 2, GL_FLOAT, GL_FALSE, 8, kVertices);
  Api().glEnableVertexAttribArray(default_.position);
  Api().glVertexAttribPointer(default_.coord, 2, GL_FLOAT, GL_FALSE, 8, kTexCoords);
  Api().glEnableVertexAttribArray(default_.coord);
}

// Built with the context current, on the first frame that needs it.
void YuvPrograms::BuildColourProgram() {
  const GLuint built = CreateProgram(ProgramKind::kColour);
  if (built == 0) {
    colour_.failed = true;
    TRACE(Error, "onRenderData") << "the colour program could not be built; frames are drawn "
                                    "as full range BT.601";
    return;
  }
  activeProgram_ = built;  // CreateProgram put it in use
  Api().glUniform1i(Api().glGetUniformLocation(built, "y_tex"), 0);
  Api().glUniform1i(Api().glGetUniformLocation(built, "u_tex"), 1);
  Api().glUniform1i(Api().glGetUniformLocation(built, "v_tex"), 2);
  colour_.id = built;
  colour_.matrix = Api().glGetUniformLocation(built, "texMatrix");
  colour_.levels = Api().glGetUniformLocation(built, "levels");
  colour_.coeffs = Api().glGetUniformLocation(built, "coeffs");
  TRACE(Info, "onRenderData") << "colour program " << built
                              << (limitedRange_ ? " limited" : " full") << " "
                              << MatrixName(matrix_);
}

GLint YuvPrograms::UseForFrame() {
  GLuint wanted = default_.id;
  GLint location = default_.matrix;
  const bool limited = FrameLimitedRange();
  const colour::YuvMatrix coded = FrameMatrix();
  if (limited || coded != colour::YuvMatrix::kBt601) {
    if (colour_.id == 0 && !colour_.failed)
      BuildColourProgram();
    if (colour_.id != 0) {
      wanted = colour_.id;
      location = colour_.matrix;
    }
  }
  if (wanted != activeProgram_) {
    Api().glUseProgram(wanted);
    activeProgram_ = wanted;
  }
  if (wanted == colour_.id && wanted != 0)
    SetColourUniforms(colour_.levels, colour_.coeffs, limited, coded);
  return location;
}

GLint YuvPrograms::UseBiplanar(bool crFirst) {
  if (biplanar_.id == 0 && !biplanar_.failed) {
    const GLuint built = CreateProgram(ProgramKind::kBiplanar);
    if (built == 0) {
      biplanar_.failed = true;
      TRACE(Error, "onRenderData") << "the two-plane program could not be built; such frames "
                                      "are not drawn";
      return -1;
    }
    activeProgram_ = built;
    Api().glUniform1i(Api().glGetUniformLocation(built, "y_tex"), 0);
    Api().glUniform1i(Api().glGetUniformLocation(built, "uv_tex"), 1);
    biplanar_.id = built;
    biplanar_.matrix = Api().glGetUniformLocation(built, "texMatrix");
    biplanar_.levels = Api().glGetUniformLocation(built, "levels");
    biplanar_.coeffs = Api().glGetUniformLocation(built, "coeffs");
    biplanar_.crFirst = Api().glGetUniformLocation(built, "cr_first");
    TRACE(Info, "onRenderData") << "two-plane program " << built;
  }
  if (biplanar_.id == 0)
    return -1;
  if (activeProgram_ != biplanar_.id) {
    Api().glUseProgram(biplanar_.id);
    activeProgram_ = biplanar_.id;
  }
  Api().glUniform1f(biplanar_.crFirst, crFirst ? 1.0f : 0.0f);
  SetColourUniforms(biplanar_.levels, biplanar_.coeffs, FrameLimitedRange(), FrameMatrix());
  return biplanar_.matrix;
}

void YuvPrograms::SetColourUniforms(GLint levels, GLint coeffs, bool limited,
                                    colour::YuvMatrix coded) {
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

// The programs go without making the context current: on the calling
// thread, exactly as the owner's teardown has always done.
void YuvPrograms::Release() {
  ReleaseColourPrograms();
  if (default_.id == 0)
    return;
  TRACE(Info, "ReleaseObj") << "delete program.";
  PLATFORM(LOG_INFO, kNativeTag, "delete program.");
  Api().glDeleteProgram(default_.id);
  default_ = DefaultProgram();
}

void YuvPrograms::ReleaseColourPrograms() {
  if (colour_.id != 0)
    Api().glDeleteProgram(colour_.id);
  colour_ = ColourProgram();
  if (biplanar_.id != 0)
    Api().glDeleteProgram(biplanar_.id);
  biplanar_ = BiplanarProgram();
  activeProgram_ = 0;
}

void YuvPrograms::Forget() {
  default_.id = 0;
  colour_ = ColourProgram();
  biplanar_ = BiplanarProgram();
  activeProgram_ = 0;
}

// --- Colour description ------------------------------------------------------

void YuvPrograms::SetColourDescription(bool limited, colour::YuvMatrix coded) {
  limitedRange_ = limited;
  matrix_ = coded;
}

void YuvPrograms::SetFrameColour(bool own, bool limited, colour::YuvMatrix coded) {
  frameColour_.set = !own;
  frameColour_.limitedRange = limited;
  frameColour_.matrix = coded;
}

bool YuvPrograms::FrameLimitedRange() const {
  return frameColour_.set ? frameColour_.limitedRange : limitedRange_;
}

colour::YuvMatrix YuvPrograms::FrameMatrix() const {
  return frameColour_.set ? frameColour_.matrix : matrix_;
}

const char* YuvPrograms::MatrixName(colour::YuvMatrix matrix) {
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
