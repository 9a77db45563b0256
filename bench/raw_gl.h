#ifndef BENCH_RAW_GL_H_
#define BENCH_RAW_GL_H_

// Shared by the benchmarks that draw: a rotation of I420 frames, a frames
// per second measurement, and the plain EGL/GLES loop that does the drawing
// core's per-frame GL work with nothing around it (the limit of the GL
// stack, against which our figures are read).

#include <EGL/egl.h>
#include <GLES2/gl2.h>
#include <stdint.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "desktop/x11_surface.h"
#include "quon_eglcore.h"

namespace bench {

constexpr int kFramesInRotation = 4;

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
inline double Fps(const std::function<void(int)>& draw, int count) {
  draw(0);  // warm-up: first-frame allocations and shader compilation
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i)
    draw(i % kFramesInRotation);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return count / seconds;
}

// Asks for `wanted` display refreshes between presentations on `surface`
// (0: present as soon as drawn) and returns the interval the driver settled
// on: EGL clamps the request to the configuration's range, and Mesa's
// software path on X11 offers 1 only, without ever waiting for a refresh.
// The interval belongs to the surface; `context` is current only for the call.
inline int SetSwapInterval(EGLDisplay display, EGLSurface surface, EGLContext context, int wanted) {
  if (!eglMakeCurrent(display, surface, surface, context))
    return -1;
  eglSwapInterval(display, wanted);
  eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  EGLint id = 0, count = 0, low = wanted, high = wanted;
  EGLConfig config;
  eglQuerySurface(display, surface, EGL_CONFIG_ID, &id);
  const EGLint by_id[] = {EGL_CONFIG_ID, id, EGL_NONE};
  if (eglChooseConfig(display, by_id, &config, 1, &count) && count == 1) {
    eglGetConfigAttrib(display, config, EGL_MIN_SWAP_INTERVAL, &low);
    eglGetConfigAttrib(display, config, EGL_MAX_SWAP_INTERVAL, &high);
  }
  return std::clamp<int>(wanted, low, high);
}

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

  // Left alone, the surface keeps the driver's default interval, 1.
  int SetSwapInterval(int wanted) {
    return bench::SetSwapInterval(display_, surface_, context_, wanted);
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

}  // namespace bench

#endif  // BENCH_RAW_GL_H_
