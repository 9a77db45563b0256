// The drawing core's two programs: the fixed shader texts, the default
// YUV program built with the environment, and the second program that draws
// other colour descriptions, built when first needed.

#include "quon_egl_api.h"
#include "quon_eglcore.h"
#include "quon_eglcore_trace.h"
#include "quon_platform_log.h"

namespace {

using namespace platform_log;  // the domain, tags and TruncatedToInt

}  // namespace

const char EGLCore::kVertexShader[] =
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

const char EGLCore::kFragmentShader[] = YUV_FRAGMENT_INPUTS
    "\n"
    "void main() {\n"
    "  float y = texture2D(y_tex, interp_tc).r;\n"
    "  float u = texture2D(u_tex, interp_tc).r - 0.5;\n"
    "  float v = texture2D(v_tex, interp_tc).r - 0.5;\n"
    "  gl_FragColor = vec4(y + 1.403 * v,"
    "                       y - 0.344 * u - 0.714 * v,"
    "                       y + 1.77 * u, 1);\n"
    "}\n";

const char EGLCore::kColourFragmentShader[] = YUV_FRAGMENT_INPUTS
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

const char EGLCore::kBiplanarFragmentShader[] =
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

// --- Program -------------------------------------------------------------------

GLuint EGLCore::LoadShader(GLenum type, const char* source, bool traced) {
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

// Both programs are built here, step for step alike. The default program,
// built with the environment, writes each step's lines; the colour
// program, built while frames are drawn, says once at its caller that it
// could not be built.
GLuint EGLCore::CreateProgram(ProgramKind kind) {
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

GLuint EGLCore::LinkProgram(GLuint vertex, GLuint fragment, ProgramKind kind) {
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
    // arrays set once serve both programs.
    Api().glBindAttribLocation(created, static_cast<GLuint>(m_positionHandle), "in_pos");
    Api().glBindAttribLocation(created, static_cast<GLuint>(coordHandle), "in_tc");
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

void EGLCore::LookUpLocations() {
  m_positionHandle = Api().glGetAttribLocation(program, "in_pos");
  matrixHandle = Api().glGetUniformLocation(program, "texMatrix");
  coordHandle = Api().glGetAttribLocation(program, "in_tc");
  yhandle = Api().glGetUniformLocation(program, "y_tex");
  uhandle = Api().glGetUniformLocation(program, "u_tex");
  vhandle = Api().glGetUniformLocation(program, "v_tex");
  TRACE(Info, "CreateEnvironment")
      << "m_positionHandle:" << m_positionHandle << ",matrixHandle:" << matrixHandle
      << ",coordHandle:" << coordHandle << ",yhandle:" << yhandle << ",uhandle:" << uhandle
      << ",vhandle:" << vhandle;
  PLATFORM(LOG_ERROR, kNativeTag,
           "EGLCore::CreateProgram: %{public}d,%{public}d,%{public}d,== %{public}d, %{public}d, "
           "%{public}d",
           m_positionHandle, matrixHandle, coordHandle, yhandle, uhandle, vhandle);
}

// Built with the context current, on the first frame that needs it.
void EGLCore::BuildColourProgram() {
  const GLuint built = CreateProgram(ProgramKind::kColour);
  if (built == 0) {
    colour.failed = true;
    TRACE(Error, "onRenderData") << "the colour program could not be built; frames are drawn "
                                    "as full range BT.601";
    return;
  }
  activeProgram = built;  // CreateProgram put it in use
  Api().glUniform1i(Api().glGetUniformLocation(built, "y_tex"), 0);
  Api().glUniform1i(Api().glGetUniformLocation(built, "u_tex"), 1);
  Api().glUniform1i(Api().glGetUniformLocation(built, "v_tex"), 2);
  colour.id = built;
  colour.matrix = Api().glGetUniformLocation(built, "texMatrix");
  colour.levels = Api().glGetUniformLocation(built, "levels");
  colour.coeffs = Api().glGetUniformLocation(built, "coeffs");
  TRACE(Info, "onRenderData") << "colour program " << built << (limitedRange ? " limited" : " full")
                              << " " << MatrixName(matrix);
}

void EGLCore::ReleaseColourProgram() {
  if (colour.id != 0)
    Api().glDeleteProgram(colour.id);
  colour = ColourProgram();
  if (biplanar.id != 0)
    Api().glDeleteProgram(biplanar.id);
  biplanar = BiplanarProgram();
  activeProgram = 0;
}

// The program goes without making the context current: on the calling
// thread, exactly as the owner's teardown has always done.
void EGLCore::ReleaseObj() {
  ReleaseColourProgram();
  if (program == 0)
    return;
  TRACE(Info, "ReleaseObj") << "delete program.";
  PLATFORM(LOG_INFO, kNativeTag, "delete program.");
  Api().glDeleteProgram(program);
  program = 0;
  m_positionHandle = matrixHandle = coordHandle = 0;
  yhandle = uhandle = vhandle = 0;
}

// Puts the two-plane program in use, built on first need, with the frame's
// colour description and chroma order; its matrix location, or -1 when it
// cannot be built (said once).
GLint EGLCore::UseBiplanarProgram(bool crFirst) {
  if (biplanar.id == 0 && !biplanar.failed) {
    const GLuint built = CreateProgram(ProgramKind::kBiplanar);
    if (built == 0) {
      biplanar.failed = true;
      TRACE(Error, "onRenderData") << "the two-plane program could not be built; such frames "
                                      "are not drawn";
      return -1;
    }
    activeProgram = built;
    Api().glUniform1i(Api().glGetUniformLocation(built, "y_tex"), 0);
    Api().glUniform1i(Api().glGetUniformLocation(built, "uv_tex"), 1);
    biplanar.id = built;
    biplanar.matrix = Api().glGetUniformLocation(built, "texMatrix");
    biplanar.levels = Api().glGetUniformLocation(built, "levels");
    biplanar.coeffs = Api().glGetUniformLocation(built, "coeffs");
    biplanar.crFirst = Api().glGetUniformLocation(built, "cr_first");
    TRACE(Info, "onRenderData") << "two-plane program " << built;
  }
  if (biplanar.id == 0)
    return -1;
  if (activeProgram != biplanar.id) {
    Api().glUseProgram(biplanar.id);
    activeProgram = biplanar.id;
  }
  Api().glUniform1f(biplanar.crFirst, crFirst ? 1.0f : 0.0f);
  const bool limited = frameColour.set ? frameColour.limitedRange : limitedRange;
  SetColourUniforms(biplanar.levels, biplanar.coeffs, limited,
                    frameColour.set ? frameColour.matrix : matrix);
  return biplanar.matrix;
}
