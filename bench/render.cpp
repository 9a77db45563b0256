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
#include "raw_gl.h"
#include "quon_eglcore.h"

namespace {

using bench::Fps;
using bench::Frames;
using bench::RawContender;

constexpr int kRounds = 3;

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
