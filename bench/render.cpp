// Frames per second through the drawing core, against the same GL work in a
// plain loop written directly against EGL/GLES (the limit of this GL stack)
// and against SDL2's renderer with a streaming IYUV texture.
//
// Each contender draws into its own window of the frame's size, alone on the
// screen. The contenders take turns over several rounds and the best round
// of each is kept, so that a burst of other work on the machine does not
// favour one of them.

#include <EGL/egl.h>
#include <GLES2/gl2.h>
#include <SDL2/SDL.h>

#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "desktop/hilog_records.h"
#include "desktop/x11_surface.h"
#include "harness.h"
#include "quon_eglcore.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFramesInRotation = 4;
constexpr int kRounds = 3;

// A few different I420 frames, so that no layer can skip identical uploads.
struct Frames {
  Frames(int w, int h) : width(w), height(h) {
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    for (int n = 0; n < kFramesInRotation; ++n) {
      std::vector<uint8_t> y(static_cast<size_t>(w) * h), u(static_cast<size_t>(cw) * ch),
          v(u.size());
      for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col)
          y[static_cast<size_t>(row) * w + col] = static_cast<uint8_t>(col + row + 40 * n);
      std::fill(u.begin(), u.end(), static_cast<uint8_t>(100 + 10 * n));
      std::fill(v.begin(), v.end(), static_cast<uint8_t>(160 - 10 * n));
      Y.push_back(std::move(y));
      U.push_back(std::move(u));
      V.push_back(std::move(v));
    }
  }
  int width, height;
  std::vector<std::vector<uint8_t>> Y, U, V;
};

// Frames per second of `draw(frame_index)` over `count` frames.
double Fps(const std::function<void(int)>& draw, int count) {
  draw(0);  // warm-up: first-frame allocations and shader compilation
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i)
    draw(i % kFramesInRotation);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return count / seconds;
}

// --- Ours ----------------------------------------------------------------------

class OursContender {
 public:
  bool Open(const Frames& frames) {
    frames_ = &frames;
    window_ = ohos_desktop::X11Surface::Create(frames.width, frames.height, "render bench: ours");
    return window_ && core_.EglContextInit(window_->NativeWindow(), frames.width, frames.height);
  }
  void Draw(int n) {
    core_.onRenderData(frames_->Y[n].data(), frames_->U[n].data(), frames_->V[n].data(),
                       frames_->width, frames_->height);
  }
  void Begin() {}  // the core makes its context current inside each frame
  void End() {}
  ~OursContender() { core_.Release(); }

 private:
  const Frames* frames_ = nullptr;
  std::unique_ptr<ohos_desktop::X11Surface> window_;
  EGLCore core_;
};

// --- The same GL work, written plainly ------------------------------------------

class RawContender {
 public:
  bool Open(const Frames& frames) {
    frames_ = &frames;
    window_ = ohos_desktop::X11Surface::Create(frames.width, frames.height, "render bench: raw");
    if (!window_)
      return false;
    display_ = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (!eglInitialize(display_, nullptr, nullptr))
      return false;
    const EGLint config_attribs[] = {EGL_SURFACE_TYPE, EGL_WINDOW_BIT, EGL_RED_SIZE, 8,
                                     EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8,
                                     EGL_RENDERABLE_TYPE, EGL_OPENGL_ES2_BIT, EGL_NONE};
    const EGLint context_attribs[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};
    EGLConfig config;
    EGLint count = 0;
    if (!eglChooseConfig(display_, config_attribs, &config, 1, &count) || count < 1)
      return false;
    surface_ = eglCreateWindowSurface(display_, config, window_->WindowId(), nullptr);
    context_ = eglCreateContext(display_, config, EGL_NO_CONTEXT, context_attribs);
    if (!eglMakeCurrent(display_, surface_, surface_, context_))
      return false;
    const bool built = BuildProgram();
    End();
    return built;
  }

  // A thread has one current context across EGL and GLX (SDL2 draws with
  // the latter), so each contender holds its context only for its round.
  void Begin() { eglMakeCurrent(display_, surface_, surface_, context_); }
  void End() { eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT); }

  // Context stays current; textures are made once; per frame: three
  // uploads, one draw, finish and swap.
  void Draw(int n) {
    const int w = frames_->width, h = frames_->height, cw = (w + 1) / 2, ch = (h + 1) / 2;
    glClear(GL_COLOR_BUFFER_BIT);
    Upload(0, textures_[0], frames_->Y[n].data(), w, h);
    Upload(1, textures_[1], frames_->U[n].data(), cw, ch);
    Upload(2, textures_[2], frames_->V[n].data(), cw, ch);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glFlush();
    glFinish();
    eglSwapBuffers(display_, surface_);
  }

  ~RawContender() {
    if (display_ == EGL_NO_DISPLAY)
      return;
    if (context_ != EGL_NO_CONTEXT)
      eglDestroyContext(display_, context_);
    if (surface_ != EGL_NO_SURFACE)
      eglDestroySurface(display_, surface_);
  }

 private:
  static void Upload(int unit, GLuint texture, const uint8_t* pixels, int w, int h) {
    glActiveTexture(GL_TEXTURE0 + unit);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE, w, h, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, pixels);
  }

  bool BuildProgram() {
    static const GLfloat kQuad[] = {-1, 1, 1, 1, -1, -1, 1, -1};
    static const GLfloat kTex[] = {0, 0, 1, 0, 0, 1, 1, 1};
    static const GLfloat kIdentity[] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const GLuint program = glCreateProgram();
    for (auto [type, source] : {std::pair{GL_VERTEX_SHADER, EGLCore::kVertexShader},
                                {GL_FRAGMENT_SHADER, EGLCore::kFragmentShader}}) {
      const GLuint shader = glCreateShader(type);
      glShaderSource(shader, 1, &source, nullptr);
      glCompileShader(shader);
      glAttachShader(program, shader);
    }
    glLinkProgram(program);
    GLint linked = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked != 1)
      return false;
    glUseProgram(program);
    glViewport(0, 0, frames_->width, frames_->height);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    const GLint pos = glGetAttribLocation(program, "in_pos");
    const GLint tc = glGetAttribLocation(program, "in_tc");
    glVertexAttribPointer(pos, 2, GL_FLOAT, GL_FALSE, 8, kQuad);
    glEnableVertexAttribArray(pos);
    glVertexAttribPointer(tc, 2, GL_FLOAT, GL_FALSE, 8, kTex);
    glEnableVertexAttribArray(tc);
    glUniformMatrix4fv(glGetUniformLocation(program, "texMatrix"), 1, GL_FALSE, kIdentity);
    glGenTextures(3, textures_);
    const char* samplers[] = {"y_tex", "u_tex", "v_tex"};
    for (int unit = 0; unit < 3; ++unit) {
      glActiveTexture(GL_TEXTURE0 + unit);
      glBindTexture(GL_TEXTURE_2D, textures_[unit]);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
      glUniform1i(glGetUniformLocation(program, samplers[unit]), unit);
    }
    return true;
  }

  const Frames* frames_ = nullptr;
  std::unique_ptr<ohos_desktop::X11Surface> window_;
  EGLDisplay display_ = EGL_NO_DISPLAY;
  EGLSurface surface_ = EGL_NO_SURFACE;
  EGLContext context_ = EGL_NO_CONTEXT;
  GLuint textures_[3] = {0, 0, 0};
};

// --- SDL2 ------------------------------------------------------------------------

class SdlContender {
 public:
  bool Open(const Frames& frames) {
    frames_ = &frames;
    SDL_SetHint(SDL_HINT_RENDER_VSYNC, "0");
    window_ = SDL_CreateWindow("render bench: SDL2", 0, 0, frames.width, frames.height, 0);
    if (window_ == nullptr)
      return false;
    renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_ACCELERATED);
    if (renderer_ == nullptr)
      return false;
    texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_IYUV, SDL_TEXTUREACCESS_STREAMING,
                                 frames.width, frames.height);
    End();
    return texture_ != nullptr;
  }
  void Begin() {}
  // The renderer makes its context current again on its next call.
  void End() { SDL_GL_MakeCurrent(window_, nullptr); }
  void Draw(int n) {
    const int cw = (frames_->width + 1) / 2;
    SDL_UpdateYUVTexture(texture_, nullptr, frames_->Y[n].data(), frames_->width,
                         frames_->U[n].data(), cw, frames_->V[n].data(), cw);
    SDL_RenderClear(renderer_);
    SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
    SDL_RenderPresent(renderer_);
  }
  ~SdlContender() {
    if (texture_ != nullptr) SDL_DestroyTexture(texture_);
    if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
    if (window_ != nullptr) SDL_DestroyWindow(window_);
  }

 private:
  const Frames* frames_ = nullptr;
  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
};

// Opens a fresh `Contender`, measures it and closes it again, so that it is
// the only window on the screen: the X server clips what a covered window
// presents, which would flatter whichever contender lies underneath.
template <typename Contender>
double MeasureAlone(const Frames& frames, int count) {
  Contender contender;
  if (!contender.Open(frames))
    return 0.0;
  contender.Begin();
  const double fps = Fps([&](int n) { contender.Draw(n); }, count);
  contender.End();
  return fps;
}

bool RunSize(const char* label, int w, int h, int frames_per_round) {
  const Frames frames(w, h);
  double ours = 0, raw = 0, sdl = 0, sdl_gles = 0;
  for (int round = 0; round < kRounds; ++round) {
    ours = std::max(ours, MeasureAlone<OursContender>(frames, frames_per_round));
    raw = std::max(raw, MeasureAlone<RawContender>(frames, frames_per_round));
    SDL_SetHint(SDL_HINT_RENDER_DRIVER, "");
    sdl = std::max(sdl, MeasureAlone<SdlContender>(frames, frames_per_round));
    SDL_SetHint(SDL_HINT_RENDER_DRIVER, "opengles2");
    sdl_gles = std::max(sdl_gles, MeasureAlone<SdlContender>(frames, frames_per_round));
  }
  if (ours == 0 || raw == 0 || sdl == 0) {
    fprintf(stderr, "render bench: could not set up the %s contenders\n", label);
    return false;
  }
  const std::string prefix = std::string("render.") + label + ".";
  bench::Report((prefix + "fps").c_str(), ours, "fps");
  bench::Report((prefix + "raw_fps").c_str(), raw, "fps");
  bench::Report((prefix + "ratio_raw").c_str(), ours / raw, "x");
  bench::Report((prefix + "sdl2_fps").c_str(), sdl, "fps");
  bench::Report((prefix + "ratio_sdl2").c_str(), ours / sdl, "x");
  // SDL2 forced onto its OpenGL ES 2 renderer, which presents through EGL
  // like we do: the same stack, so the fair comparison of the two designs.
  bench::Report((prefix + "sdl2_gles_fps").c_str(), sdl_gles, "fps");
  bench::Report((prefix + "ratio_sdl2_gles").c_str(), sdl_gles > 0 ? ours / sdl_gles : 0.0, "x");
  return true;
}

}  // namespace

int main() {
  ohos_desktop::SetHilogStderrEnabled(false);
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    fprintf(stderr, "render bench: SDL_Init failed: %s\n", SDL_GetError());
    return 1;
  }
  bool ok = RunSize("720p", 1280, 720, 60);
  ok = RunSize("1080p", 1920, 1080, 30) && ok;
  SDL_Quit();
  return ok ? 0 : 1;
}
