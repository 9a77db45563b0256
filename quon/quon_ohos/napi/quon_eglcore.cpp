#include "quon_eglcore.h"

#include <stdint.h>
#include <string.h>

#include <map>
#include <mutex>

#include "native_window/external_window.h"
#include "quon_egl_api.h"
#include "quon_platform_log.h"
#include "rtc_base/logging.h"

namespace {

using namespace platform_log;  // the domain, tags and TruncatedToInt


const EGLint kConfigAttribs[] = {
    EGL_SURFACE_TYPE, EGL_WINDOW_BIT,
    EGL_RED_SIZE, 8,
    EGL_GREEN_SIZE, 8,
    EGL_BLUE_SIZE, 8,
    EGL_ALPHA_SIZE, 8,
    EGL_RENDERABLE_TYPE, EGL_OPENGL_ES2_BIT,
    EGL_NONE,
};
const EGLint kContextAttribs[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};

// A full-surface quad as a triangle strip; t = 0 (the planes' first row) is
// at the top.
const GLfloat kVertices[] = {-1.0f, 1.0f, 1.0f, 1.0f, -1.0f, -1.0f, 1.0f, -1.0f};
const GLfloat kTexCoords[] = {0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f};

bool NativeWindowExists(void* window) {
  int32_t height = 0;
  int32_t width = 0;
  return OH_NativeWindow_NativeWindowHandleOpt(static_cast<OHNativeWindow*>(window),
                                               GET_BUFFER_GEOMETRY, &height, &width) == 0;
}

// Every core gets the same display from eglGetDisplay(EGL_DEFAULT_DISPLAY),
// and eglTerminate would pull it from under every other core still drawing.
// So each core that initialised the display holds a reference, and only the
// last one out terminates it.
std::mutex g_displays_mutex;
std::map<EGLDisplay, int>& DisplayReferences() {
  static auto* references = new std::map<EGLDisplay, int>;
  return *references;
}

void AcquireDisplay(EGLDisplay display) {
  std::lock_guard<std::mutex> lock(g_displays_mutex);
  ++DisplayReferences()[display];
}

// Drops this core's reference (if it holds one) and says whether the display
// is now unused, so that it may be terminated.
bool ReleaseDisplay(EGLDisplay display, bool held) {
  std::lock_guard<std::mutex> lock(g_displays_mutex);
  auto& references = DisplayReferences();
  auto it = references.find(display);
  if (it == references.end())
    return true;
  if (held && --it->second == 0) {
    references.erase(it);
    return true;
  }
  return false;
}

}  // namespace

// The object's address, the operation, then the text.
#define TRACE(severity, operation) \
  LOG(severity) << static_cast<const void*>(this) << ": " << operation << ": "

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
#define YUV_FRAGMENT_INPUTS                 \
  "precision mediump float;\n"              \
  "varying vec2 interp_tc;\n"               \
  "\n"                                      \
  "uniform sampler2D y_tex;\n"              \
  "uniform sampler2D u_tex;\n"              \
  "uniform sampler2D v_tex;\n"

const char EGLCore::kFragmentShader[] =
    YUV_FRAGMENT_INPUTS
    "\n"
    "void main() {\n"
    "  float y = texture2D(y_tex, interp_tc).r;\n"
    "  float u = texture2D(u_tex, interp_tc).r - 0.5;\n"
    "  float v = texture2D(v_tex, interp_tc).r - 0.5;\n"
    "  gl_FragColor = vec4(y + 1.403 * v,"
    "                       y - 0.344 * u - 0.714 * v,"
    "                       y + 1.77 * u, 1);\n"
    "}\n";

const char EGLCore::kColourFragmentShader[] =
    YUV_FRAGMENT_INPUTS
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
    TRACE(Error, "EglContextInit") << "window=nullptr";
    PLATFORM(LOG_ERROR, kNativeTag, "GLCore::EglContextInit window=nullptr");
  } else if (w >= 1 && h >= 1) {
    nativeWindow = window;
    width = w;
    height = h;
    drawnAspectRatio = static_cast<float>(w) / static_cast<float>(h);
    TRACE(Info, "EglContextInit") << "w,h=" << width << "," << height << ","
                                  << drawnAspectRatio;
    PLATFORM(LOG_ERROR, kNativeTag, "EGLCore::EglContextInit 1 %{public}d,%{public}d,", width,
             height);
    return CreateEnvironment();
  }
  TRACE(Error, "EglContextInit") << " param error";
  PLATFORM(LOG_ERROR, kNativeTag, "EGLCore::EglContextInit: param error");
  return false;
}

bool EGLCore::CreateEnvironment() {
  display = Api().eglGetDisplay(EGL_DEFAULT_DISPLAY);
  if (display == EGL_NO_DISPLAY) {
    TRACE(Error, "ContextInit") << "eglDisplay error";
    PLATFORM(LOG_ERROR, kNativeTag, "EGLCore:: eglGetDisplay: unable to get EGL display");
    return false;
  }
  EGLint major = 0;
  EGLint minor = 0;
  if (!Api().eglInitialize(display, &major, &minor)) {
    TRACE(Error, "ContextInit") << "eglInitialize failed";
    PLATFORM(LOG_ERROR, kNativeTag,
             "EGLCore:: eglInitialize: unable to get initialize EGL display");
    return false;
  }
  if (!displayAcquired) {
    AcquireDisplay(display);
    displayAcquired = true;
  }
  EGLint count = 0;
  if (!Api().eglChooseConfig(display, kConfigAttribs, &config, 1, &count)) {
    TRACE(Error, "ContextInit") << "eglChooseConfig failed";
    PLATFORM(LOG_ERROR, kNativeTag, "EGLCore::eglChooseConfig: unable to choose configs");
    return false;
  }
  // A window the platform does not know is refused here: some EGL
  // implementations crash instead of failing when handed one.
  if (NativeWindowExists(nativeWindow)) {
    surface = Api().eglCreateWindowSurface(
        display, config,
        static_cast<EGLNativeWindowType>(reinterpret_cast<uintptr_t>(nativeWindow)), nullptr);
  }
  if (surface == EGL_NO_SURFACE) {
    TRACE(Error, "CreateEnvironment") << "surface is null";
    PLATFORM(LOG_ERROR, kNativeTag, "EGLCore:: eglCreateWindowSurface: unable to create surface");
    return FailEnvironment();
  }
  // A failed context shows up as a failure to make it current.
  context = Api().eglCreateContext(display, config, EGL_NO_CONTEXT, kContextAttribs);
  if (!Api().eglMakeCurrent(display, surface, surface, context)) {
    TRACE(Error, "CreateEnvironment") << "eglMakeCurrent failed";
    PLATFORM(LOG_ERROR, kNativeTag, "EGLCore::eglMakeCurrent failed");
    return FailEnvironment();
  }
  TRACE(Info, "CreateEnvironment") << "context:" << context << ",suface:" << surface;
  PLATFORM(LOG_ERROR, kNativeTag, "EGLCore:: CreateEnvironment= %{public}d", TruncatedToInt(context));
  program = CreateProgram();
  if (program == 0) {
    TRACE(Error, "CreateEnvironment") << "CreateProgram failed";
    PLATFORM(LOG_ERROR, kNativeTag, "EGLCore::CreateProgram: unable to create program");
    return FailEnvironment();
  }
  LookUpLocations();
  SetConstantState();
  ReleaseCurrent();
  return true;
}

// Leaves every handle made so far for Release() to destroy.
bool EGLCore::FailEnvironment() {
  program = 0;
  ReleaseCurrent();
  return false;
}

// Our cores keep the shared display initialised while any of them holds it,
// but code outside the module may still terminate it. Every object made on
// it died then, and the driver may hand out their addresses again to the
// next core: destroying them at Release would destroy that core's objects.
// So they are forgotten, and only the display reference stays for Release.
void EGLCore::ForgetObjectsOfTerminatedDisplay(const char* operation) {
  // Only a display that is no longer initialised fails this query.
  if (display == EGL_NO_DISPLAY || Api().eglQueryString(display, EGL_VENDOR) != nullptr)
    return;
  TRACE(Error, operation) << "the display was terminated; surface " << surface << " and context "
                          << context << " are gone";
  surface = nullptr;
  context = nullptr;
  program = 0;
  _ytid = _utid = _vtid = 0;
  colour = ColourProgram();
  activeProgram = 0;
}

// Without a surface and a context there is nothing to draw to, whatever the
// driver would say to making "nothing" current.
bool EGLCore::MakeCurrent() {
  return surface != EGL_NO_SURFACE && context != EGL_NO_CONTEXT &&
         Api().eglMakeCurrent(display, surface, surface, context);
}

void EGLCore::ReleaseCurrent() {
  Api().eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

void EGLCore::Release() {
  TRACE(Info, "Release") << "begine.";
  ReleaseObj();
  DeleteTexture();
  if (display == nullptr) {
    PLATFORM(LOG_ERROR, kNativeTag, "no again");
    TRACE(Info, "Release") << "no again.";
    return;
  }
  PLATFORM(LOG_ERROR, kNativeTag, "egl Release begin");
  DestroyEglObjects();
  PLATFORM(LOG_ERROR, kNativeTag, "egl Release end");
  TRACE(Info, "Release") << "end.";
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

// Each destruction is attempted on its own and each field cleared whatever
// the outcome, so a half-built environment is torn down as far as it exists.
void EGLCore::DestroyEglObjects() {
  if (surface == nullptr || !Api().eglDestroySurface(display, surface)) {
    TRACE(Info, "Release");
    PLATFORM(LOG_ERROR, kEglTag, "Release eglDestroySurface failed");
  }
  surface = nullptr;
  if (context == nullptr || !Api().eglDestroyContext(display, context)) {
    TRACE(Info, "Release") << " Release eglDestroyContext failed";
    PLATFORM(LOG_ERROR, kEglTag, "Release eglDestroyContext failed");
  }
  context = nullptr;
  ReleaseCurrent();
  const bool last_user = ReleaseDisplay(display, displayAcquired);
  displayAcquired = false;
  if (last_user && !Api().eglTerminate(display)) {
    TRACE(Info, "Release");
    TRACE(Info, "Release") << " Release eglTerminate failed";
    PLATFORM(LOG_ERROR, kEglTag, "Release eglTerminate failed");
  }
  display = nullptr;
  if (!Api().eglReleaseThread()) {
    TRACE(Info, "Release") << " eglReleaseThread failed";
    PLATFORM(LOG_ERROR, kEglTag, "eglReleaseThread failed");
  }
}

// --- Program -------------------------------------------------------------------

GLuint EGLCore::LoadShader(GLenum type, const char* source) {
  const GLuint shader = Api().glCreateShader(type);
  if (shader == 0) {
    TRACE(Error, "LoadShader") << "glCreateShader unable to load shader";
    PLATFORM(LOG_ERROR, kNativeTag, "EGLCore:: glCreateShader unable to load shader");
    return 0;
  }
  Api().glShaderSource(shader, 1, &source, nullptr);
  Api().glCompileShader(shader);
  return shader;
}

GLuint EGLCore::CreateProgram() {
  const GLuint vertex = LoadShader(GL_VERTEX_SHADER, kVertexShader);
  if (vertex == 0) {
    TRACE(Error, "CreateProgram") << "vertex_shader error";
    PLATFORM(LOG_ERROR, kNativeTag, "EGLCore1:: createProgram vertex error");
    return 0;
  }
  const GLuint fragment = LoadShader(GL_FRAGMENT_SHADER, kFragmentShader);
  if (fragment == 0) {
    TRACE(Error, "CreateProgram") << "fragment_shader error";
    PLATFORM(LOG_ERROR, kNativeTag, "EGLCore1:: createProgram fragment error");
    Api().glDeleteShader(vertex);
    return 0;
  }
  const GLuint created = LinkProgram(vertex, fragment);
  // Whatever the outcome the shaders go now: a linked program keeps what it
  // needs of them, and a failed one must not leave them behind in the
  // context for every later attempt.
  Api().glDeleteShader(vertex);
  Api().glDeleteShader(fragment);
  return created;
}

GLuint EGLCore::LinkProgram(GLuint vertex, GLuint fragment) {
  GLint compiled = 0;
  Api().glGetShaderiv(vertex, GL_COMPILE_STATUS, &compiled);
  if (compiled != 1) {
    TRACE(Error, "CreateProgram") << "vertex_shader1 error";
    PLATFORM(LOG_ERROR, kNativeTag, "EGLCore1:: createProgram vertex_shader error");
    return 0;
  }
  Api().glGetShaderiv(fragment, GL_COMPILE_STATUS, &compiled);
  if (compiled != 1) {
    TRACE(Error, "CreateProgram") << "fragment_shader1 error";
    PLATFORM(LOG_ERROR, kNativeTag, "EGLCore1:: createProgram fragment_shader error");
    return 0;
  }
  const GLuint created = Api().glCreateProgram();
  if (created == 0) {
    TRACE(Error, "CreateProgram") << "createProgram program error";
    PLATFORM(LOG_ERROR, kNativeTag, "EGLCore1:: createProgram program error");
    return 0;
  }
  TRACE(Info, "CreateProgram") << "createProgram program success!!!";
  PLATFORM(LOG_ERROR, kNativeTag, "EGLCore1:: createProgram successs");
  Api().glAttachShader(created, vertex);
  Api().glAttachShader(created, fragment);
  Api().glLinkProgram(created);
  GLint linked = 0;
  Api().glGetProgramiv(created, GL_LINK_STATUS, &linked);
  if (linked != 1) {
    TRACE(Error, "CreateProgram") << "linkedStatus==error!!!";
    PLATFORM(LOG_ERROR, kNativeTag, "EGLCore1:: createProgram linkedStatus==error=linkedStatus[0]");
    Api().glDeleteProgram(created);
    return 0;
  }
  Api().glUseProgram(created);
  TRACE(Info, "CreateProgram") << "linked success!!!";
  PLATFORM(LOG_ERROR, kNativeTag, "EGLCore1:: createProgram linked success");
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

// --- Drawing -------------------------------------------------------------------

namespace {

// A chroma plane's side for a luma side of at least 1: half, rounded up, as
// the planes are laid out ((size + 1) / 2), without the sum that overflows
// for the largest int.
int32_t ChromaSize(int32_t lumaSize) {
  return lumaSize / 2 + lumaSize % 2;
}

}  // namespace

void EGLCore::onRenderData(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t frameW,
                           int32_t frameH) {
  // Checked before anything else so that a bad frame changes no state.
  if (y == nullptr || u == nullptr || v == nullptr || frameW < 1 || frameH < 1) {
    TRACE(Error, "onRenderData") << "invalid frame: planes " << static_cast<const void*>(y)
                                 << "," << static_cast<const void*>(u) << ","
                                 << static_cast<const void*>(v) << " size " << frameW << "x"
                                 << frameH;
    return;
  }
  if (!FitsTextures(frameW, frameH))
    return;
  if (!MakeCurrent()) {
    TRACE(Error, "onRenderData") << "makecureent failed";
    PLATFORM(LOG_ERROR, kNativeTag, "EGLCore shard contxt makecureent failed!!!");
    ForgetObjectsOfTerminatedDisplay("onRenderData");
    return;
  }
  Api().glViewport(0, 0, width, height);
  Api().glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  Api().glClear(GL_COLOR_BUFFER_BIT);

  const int32_t chromaW = ChromaSize(frameW);
  const int32_t chromaH = ChromaSize(frameH);
  UploadPlane(0, &_ytid, "ytid:", "EGLCore _ytid :  %{public}d", y, frameW, frameH);
  UploadPlane(1, &_utid, "utid:", "EGLCore  _utid :  %{public}d", u, chromaW, chromaH);
  UploadPlane(2, &_vtid, "vtid:", "EGLCore  _vtid :  %{public}d", v, chromaW, chromaH);

  if (frameW != frameWidth || frameH != frameHeight || scaleType != pendingScaleType)
    matraix(frameW, frameH);
  MatchMinifyingFilters();
  Api().glUniformMatrix4fv(UseProgramForFrame(), 1, GL_FALSE, texMatrix);
  Api().glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);

  // No glFinish: the swap flushes, and waiting here for the whole frame
  // would hold the engine's thread for as long as the GPU draws.
  Api().glFlush();
  Api().eglSwapBuffers(display, surface);
  ReleaseCurrent();
}

void EGLCore::onRenderData(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t frameW,
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
    return;
  }
  if (!FitsTextures(frameW, frameH))
    return;  // before anything is copied
  onRenderData(TightPlane(0, y, ys, frameW, frameH), TightPlane(1, u, us, chromaW, chromaH),
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
  GLint matrix = matrixHandle;
  if (limitedRange || bt709) {
    if (colour.id == 0 && !colour.failed)
      BuildColourProgram();
    if (colour.id != 0) {
      wanted = colour.id;
      matrix = colour.matrix;
    }
  }
  if (wanted != activeProgram) {
    Api().glUseProgram(wanted);
    activeProgram = wanted;
  }
  if (wanted == colour.id && wanted != 0) {
    if (limitedRange)
      Api().glUniform3f(colour.levels, 16.0f / 255.0f, 255.0f / 219.0f, 255.0f / 224.0f);
    else
      Api().glUniform3f(colour.levels, 0.0f, 1.0f, 1.0f);
    if (bt709)
      Api().glUniform4f(colour.coeffs, 1.5748f, 0.187324f, 0.468124f, 1.8556f);
    else
      Api().glUniform4f(colour.coeffs, 1.402f, 0.344136f, 0.714136f, 1.772f);
  }
  return matrix;
}

// Built with the context current. The attributes are bound to the default
// program's locations, so the arrays set once serve both programs.
void EGLCore::BuildColourProgram() {
  const GLuint shaders[2] = {Api().glCreateShader(GL_VERTEX_SHADER),
                             Api().glCreateShader(GL_FRAGMENT_SHADER)};
  const char* sources[2] = {kVertexShader, kColourFragmentShader};
  bool compiled = shaders[0] != 0 && shaders[1] != 0;
  for (int i = 0; i < 2 && compiled; ++i) {
    Api().glShaderSource(shaders[i], 1, &sources[i], nullptr);
    Api().glCompileShader(shaders[i]);
    GLint status = 0;
    Api().glGetShaderiv(shaders[i], GL_COMPILE_STATUS, &status);
    compiled = status == 1;
  }
  GLuint built = compiled ? Api().glCreateProgram() : 0;
  if (built != 0) {
    Api().glAttachShader(built, shaders[0]);
    Api().glAttachShader(built, shaders[1]);
    Api().glBindAttribLocation(built, static_cast<GLuint>(m_positionHandle), "in_pos");
    Api().glBindAttribLocation(built, static_cast<GLuint>(coordHandle), "in_tc");
    Api().glLinkProgram(built);
    GLint linked = 0;
    Api().glGetProgramiv(built, GL_LINK_STATUS, &linked);
    if (linked != 1) {
      Api().glDeleteProgram(built);
      built = 0;
    }
  }
  for (GLuint shader : shaders) {
    if (shader != 0)
      Api().glDeleteShader(shader);
  }
  if (built == 0) {
    colour.failed = true;
    TRACE(Error, "onRenderData") << "the colour program could not be built; frames are drawn "
                                    "as full range BT.601";
    return;
  }
  Api().glUseProgram(built);
  activeProgram = built;
  Api().glUniform1i(Api().glGetUniformLocation(built, "y_tex"), 0);
  Api().glUniform1i(Api().glGetUniformLocation(built, "u_tex"), 1);
  Api().glUniform1i(Api().glGetUniformLocation(built, "v_tex"), 2);
  colour.id = built;
  colour.matrix = Api().glGetUniformLocation(built, "texMatrix");
  colour.levels = Api().glGetUniformLocation(built, "levels");
  colour.coeffs = Api().glGetUniformLocation(built, "coeffs");
  TRACE(Info, "onRenderData") << "colour program " << built << (limitedRange ? " limited" : " full")
                              << (bt709 ? " BT.709" : " BT.601");
}

void EGLCore::ReleaseColourProgram() {
  if (colour.id != 0)
    Api().glDeleteProgram(colour.id);
  colour = ColourProgram();
  activeProgram = 0;
}

void EGLCore::SetColorDescription(bool limited, bool matrix709) {
  TRACE(Info, "SetColorDescription") << "range:" << (limited ? "limited" : "full")
                                     << ",matrix:" << (matrix709 ? "BT.709" : "BT.601");
  limitedRange = limited;
  bt709 = matrix709;
}

// Plane `unit` into its texture on texture unit `unit`: the texture and its
// storage are made when missing or when the plane's size changed, and
// otherwise only its pixels are replaced.
void EGLCore::UploadPlane(int unit, GLuint* texture, const char* trace_name,
                          const char* platform_format, const uint8_t* pixels,
                          int32_t plane_width, int32_t plane_height) {
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
  if (plane_width != textureWidth[unit] || plane_height != textureHeight[unit]) {
    Api().glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE, plane_width, plane_height, 0, GL_LUMINANCE,
                       GL_UNSIGNED_BYTE, pixels);
    textureWidth[unit] = plane_width;
    textureHeight[unit] = plane_height;
  } else {
    Api().glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, plane_width, plane_height, GL_LUMINANCE,
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
  // The quad spans the viewport, scaled by the matrix's diagonal; the slack
  // absorbs the rounding of the fit and fill scales, far below what moves a
  // sample by a visible fraction of a texel.
  const float drawnW = static_cast<float>(width) * texMatrix[0] + 1e-3f;
  const float drawnH = static_cast<float>(height) * texMatrix[5] + 1e-3f;
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
  frameAspectRatio = static_cast<float>(frameW) / static_cast<float>(frameH);
  TRACE(Info, "matraix") << "type = " << scaleType;

  const float f = frameAspectRatio;
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
  texMatrix[0] = scaleX;
  texMatrix[5] = scaleY;
  TRACE(Info, "matraix") << "scaleX:" << scaleX << ",scaleY:" << scaleY
                         << ",frameAspectRatio:" << f << ",drawnAspectRatio:" << d
                         << ",type=" << scaleType;
  PLATFORM(LOG_ERROR, kNativeTag, "matraix scaleX: scaleY  %{public}f,%{public}f,%{public}f,%{public}f,",
           static_cast<double>(scaleX), static_cast<double>(scaleY), static_cast<double>(f),
           static_cast<double>(d));
}

void EGLCore::FillBlack() {
  TRACE(Info, "FillBlack") << ".";
  if (!MakeCurrent()) {
    TRACE(Error, "FillBlack") << "makecureent failed";
    PLATFORM(LOG_ERROR, kNativeTag, "EGLCore shard1 contxt makecureent failed!!!");
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
