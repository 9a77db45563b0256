// Frames per second through the drawing core, against the same GL work in a
// plain loop written directly against EGL/GLES (the specified per-frame
// work, done plainly) and against SDL2's renderer with a streaming IYUV
// texture; the process's CPU time per frame for ours and SDL2's OpenGL ES
// renderer; and a frame with 64-byte-aligned rows against the same frame
// with tight rows.
//
// The renderer keeps figures of every frame it draws (RenderStatistics):
// "ours" is measured again with that bookkeeping around each draw, exactly
// as RenderFrame does it, and the bookkeeping alone is timed per frame.
//
// On X11 SDL2 presents through GLX unless told to use EGL, and Mesa's
// software rasteriser serves the two paths differently; ours presents
// through EGL. So its OpenGL ES renderer is measured on both, and the EGL
// one (SDL_VIDEO_X11_FORCE_EGL) is the like-for-like figure.
//
// SDL2 samples its textures with GL_NEAREST unless told otherwise, which
// repeats each chroma sample over two pixels where we interpolate it. Its
// OpenGL ES renderer is therefore measured twice: with linear scaling, the
// same picture as ours and the figure our goals are set against, and with
// its default, a cheaper and blockier picture, for reference.
//
// Every contender presents at the same swap interval, 0, so that the figures
// are drawing throughput and never the display's pace: at 1 a driver that
// waits for the refresh would cap whoever it applies to. Each contender
// reports the interval its driver settled on, since a driver may refuse 0
// (Mesa's software path on X11 keeps EGL surfaces at 1 but never waits).
//
// Each contender draws into its own window of the frame's size, alone on the
// screen. The contenders take turns over several rounds and the best round
// of each is kept, so that a burst of other work on the machine does not
// favour one of them.
//
// NV12: the same frames as decoders and cameras hand them over, drawn as
// they come (two textures), against what an engine does without that:
// convert each frame to I420 with libyuv, then draw it.

#include <EGL/egl.h>
#include <GLES2/gl2.h>
#include <SDL2/SDL.h>
#include <libyuv/convert.h>
#include <libyuv/convert_from.h>

#include <stdint.h>
#include <stdio.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "desktop/hilog_records.h"
#include "desktop/x11_surface.h"
#include "harness.h"
#include "quon_eglcore.h"
#include "quon_render_statistics.h"
#include "raw_gl.h"
#include "rtc_base/timeutils.h"
#include "support/eglcore_peer.h"

namespace {

using bench::Fps;
using bench::Frames;
using bench::RawContender;

constexpr int kRounds = 3;
constexpr int kSwapInterval = 0;

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
  // The core leaves its surface at the driver's default; the bench sets the
  // interval from outside, as a host holding the surface could.
  int SetSwapInterval(int wanted) {
    const EGLCoreTestPeer core = Peek(core_);
    return bench::SetSwapInterval(core.display(), core.surface(), core.context(), wanted);
  }
  void Begin() {}  // the core makes its context current inside each frame
  void End() {}
  ~OursContender() { core_.Release(); }

 protected:
  const Frames* frames_ = nullptr;
  std::unique_ptr<ohos_desktop::X11Surface> window_;
  EGLCore core_;
};

// The same frames with every row padded to a multiple of 64 bytes, as
// decoders hand them over.
class OursPaddedContender : public OursContender {
 public:
  bool Open(const Frames& frames) {
    const int cw = (frames.width + 1) / 2, ch = (frames.height + 1) / 2;
    y_stride_ = (frames.width + 63) / 64 * 64;
    c_stride_ = (cw + 63) / 64 * 64;
    for (size_t n = 0; n < frames.Y.size(); ++n) {
      Y_.push_back(Pad(frames.Y[n], frames.width, frames.height, y_stride_));
      U_.push_back(Pad(frames.U[n], cw, ch, c_stride_));
      V_.push_back(Pad(frames.V[n], cw, ch, c_stride_));
    }
    return OursContender::Open(frames);
  }
  void Draw(int n) {
    core_.onRenderData(Y_[n].data(), U_[n].data(), V_[n].data(), frames_->width, frames_->height,
                       y_stride_, c_stride_, c_stride_);
  }

 private:
  static std::vector<uint8_t> Pad(const std::vector<uint8_t>& tight, int w, int h, int stride) {
    std::vector<uint8_t> padded(static_cast<size_t>(stride) * h);
    for (int row = 0; row < h; ++row)
      std::copy_n(&tight[static_cast<size_t>(row) * w], w, &padded[static_cast<size_t>(row) * stride]);
    return padded;
  }

  int y_stride_ = 0, c_stride_ = 0;
  std::vector<std::vector<uint8_t>> Y_, U_, V_;
};

// The same draws with the renderer's figures kept around each, as
// PluginRender::RenderFrame keeps them.
class OursWithStatisticsContender : public OursContender {
 public:
  void Draw(int n) {
    const int64_t arrival = rtc::MonotonicNanos();
    statistics_.Received();
    const int64_t start = rtc::MonotonicNanos();
    if (core_.onRenderData(frames_->Y[n].data(), frames_->U[n].data(), frames_->V[n].data(),
                           frames_->width, frames_->height))
      statistics_.Drawn(frames_->width, frames_->height, arrival, start, rtc::MonotonicNanos());
    else
      statistics_.Dropped();
  }

 private:
  RenderStatisticsRecorder statistics_;
};

// The frames in NV12, converted once before the clock starts.
class OursNv12Contender : public OursContender {
 public:
  bool Open(const Frames& frames) {
    const int w = frames.width, h = frames.height, cw = (w + 1) / 2, ch = (h + 1) / 2;
    std::vector<uint8_t> y(static_cast<size_t>(w) * h);  // the Y plane stays the I420 one
    for (size_t n = 0; n < frames.Y.size(); ++n) {
      Uv_.emplace_back(static_cast<size_t>(cw) * 2 * ch);
      libyuv::I420ToNV12(frames.Y[n].data(), w, frames.U[n].data(), cw, frames.V[n].data(), cw,
                         y.data(), w, Uv_.back().data(), cw * 2, w, h);
    }
    return OursContender::Open(frames);
  }
  void Draw(int n) {
    core_.onRenderBiplanar(frames_->Y[n].data(), Uv_[n].data(), frames_->width, frames_->height, 0,
                           0, false);
  }

 protected:
  std::vector<std::vector<uint8_t>> Uv_;
};

// The same NV12 frames converted to I420 by libyuv on the drawing thread,
// then drawn: the path an engine takes without the two-plane call.
class OursConvertThenDrawContender : public OursNv12Contender {
 public:
  bool Open(const Frames& frames) {
    const size_t chroma = static_cast<size_t>((frames.width + 1) / 2) * ((frames.height + 1) / 2);
    y_.resize(static_cast<size_t>(frames.width) * frames.height);
    u_.resize(chroma);
    v_.resize(chroma);
    return OursNv12Contender::Open(frames);
  }
  void Draw(int n) {
    const int w = frames_->width, h = frames_->height, cw = (w + 1) / 2;
    libyuv::NV12ToI420(frames_->Y[n].data(), w, Uv_[n].data(), cw * 2, y_.data(), w, u_.data(), cw,
                       v_.data(), cw, w, h);
    core_.onRenderData(y_.data(), u_.data(), v_.data(), w, h);
  }

 private:
  std::vector<uint8_t> y_, u_, v_;
};

// --- SDL2 ------------------------------------------------------------------------

class SdlContender {
 public:
  bool Open(const Frames& frames) {
    frames_ = &frames;
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, scale_quality_);
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
  // What the renderer's GL context reports after asking for `wanted`.
  int SetSwapInterval(int wanted) {
    SDL_RenderSetVSync(renderer_, wanted);
    const int settled = SDL_GL_GetSwapInterval();
    End();
    return settled;
  }
  bool through_egl() const { return through_egl_; }
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
    // The renderer's context is current now: through EGL exactly when EGL
    // knows it.
    through_egl_ = eglGetCurrentContext() != EGL_NO_CONTEXT;
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
  bool through_egl_ = false;

 protected:
  const char* scale_quality_ = "nearest";  // SDL2's default
};

class SdlLinearContender : public SdlContender {
 public:
  SdlLinearContender() { scale_quality_ = "linear"; }
};

double ProcessCpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// A contender's best round: frames per second, and the process's CPU time
// per frame (its driver threads included); and the swap interval it ran at.
struct Measured {
  double fps = 0;
  double cpu_ms_per_frame = 0;
  int swap_interval = -1;
  bool through_egl = false;  // SDL2's contenders: presented through EGL

  void Keep(const Measured& round) {
    fps = std::max(fps, round.fps);
    swap_interval = std::max(swap_interval, round.swap_interval);
    through_egl = through_egl || round.through_egl;
    if (round.cpu_ms_per_frame > 0 &&
        (cpu_ms_per_frame == 0 || round.cpu_ms_per_frame < cpu_ms_per_frame))
      cpu_ms_per_frame = round.cpu_ms_per_frame;
  }
};

// Opens a fresh `Contender`, measures it and closes it again, so that it is
// the only window on the screen: the X server clips what a covered window
// presents, which would flatter whichever contender lies underneath.
template <typename Contender>
Measured MeasureAlone(const Frames& frames, int count) {
  Contender contender;
  if (!contender.Open(frames))
    return {};
  Measured measured;
  measured.swap_interval = contender.SetSwapInterval(kSwapInterval);
  contender.Begin();
  const double cpu_start = ProcessCpuSeconds();
  measured.fps = Fps([&](int n) { contender.Draw(n); }, count);
  if constexpr (std::is_base_of_v<SdlContender, Contender>)
    measured.through_egl = contender.through_egl();
  // Fps draws one warm-up frame before it counts.
  measured.cpu_ms_per_frame = (ProcessCpuSeconds() - cpu_start) * 1000.0 / (count + 1);
  contender.End();
  return measured;
}

bool RunSize(const char* label, int w, int h, int frames_per_round) {
  const Frames frames(w, h);
  Measured ours, with_statistics, padded, raw, sdl, sdl_gles, sdl_gles_nearest, sdl_gles_egl;
  Measured nv12, convert_then_draw;
  for (int round = 0; round < kRounds; ++round) {
    ours.Keep(MeasureAlone<OursContender>(frames, frames_per_round));
    nv12.Keep(MeasureAlone<OursNv12Contender>(frames, frames_per_round));
    convert_then_draw.Keep(MeasureAlone<OursConvertThenDrawContender>(frames, frames_per_round));
    with_statistics.Keep(MeasureAlone<OursWithStatisticsContender>(frames, frames_per_round));
    padded.Keep(MeasureAlone<OursPaddedContender>(frames, frames_per_round));
    raw.Keep(MeasureAlone<RawContender>(frames, frames_per_round));
    SDL_SetHint(SDL_HINT_RENDER_DRIVER, "");
    sdl.Keep(MeasureAlone<SdlContender>(frames, frames_per_round));
    SDL_SetHint(SDL_HINT_RENDER_DRIVER, "opengles2");
    sdl_gles.Keep(MeasureAlone<SdlLinearContender>(frames, frames_per_round));
    sdl_gles_nearest.Keep(MeasureAlone<SdlContender>(frames, frames_per_round));
    // Read when SDL2 loads its GL library, which it does again for each
    // window: each contender closes its window before the next one opens.
    // Once on EGL, SDL2 stays there for OpenGL ES until a desktop GL
    // renderer (the first SDL2 contender of a round) takes it back to GLX;
    // `..._presents_through_egl` shows the path each one took.
    SDL_SetHint(SDL_HINT_VIDEO_X11_FORCE_EGL, "1");
    sdl_gles_egl.Keep(MeasureAlone<SdlLinearContender>(frames, frames_per_round));
    SDL_SetHint(SDL_HINT_VIDEO_X11_FORCE_EGL, "0");
  }
  if (ours.fps == 0 || raw.fps == 0 || sdl.fps == 0) {
    fprintf(stderr, "render bench: could not set up the %s contenders\n", label);
    return false;
  }
  const std::string prefix = std::string("render.") + label + ".";
  bench::Report((prefix + "fps").c_str(), ours.fps, "fps");
  bench::ReportPeer(prefix, "raw_fps", raw.fps, "ratio_raw", ours.fps, "fps");
  bench::ReportPeer(prefix, "sdl2_fps", sdl.fps, "ratio_sdl2", ours.fps, "fps");
  // SDL2 forced onto its OpenGL ES 2 renderer, on the same GL stack as ours
  // and drawing the same picture: the fair comparison of the two designs.
  bench::ReportPeer(prefix, "sdl2_gles_fps", sdl_gles.fps, "ratio_sdl2_gles", ours.fps, "fps");
  bench::ReportPeer(prefix, "sdl2_gles_nearest_fps", sdl_gles_nearest.fps,
                    "ratio_sdl2_gles_nearest", ours.fps, "fps");
  // The same, presenting through EGL as ours does: the like-for-like one.
  bench::ReportPeer(prefix, "sdl2_gles_egl_fps", sdl_gles_egl.fps, "ratio_sdl2_gles_egl", ours.fps,
                    "fps");
  bench::Report((prefix + "sdl2_gles_egl_presents_through_egl").c_str(),
                sdl_gles_egl.through_egl ? 1 : 0, "bool");
  bench::Report((prefix + "sdl2_gles_presents_through_egl").c_str(), sdl_gles.through_egl ? 1 : 0,
                "bool");
  bench::Report((prefix + "cpu_ms_per_frame").c_str(), ours.cpu_ms_per_frame, "ms");
  bench::Report((prefix + "sdl2_gles_cpu_ms_per_frame").c_str(), sdl_gles.cpu_ms_per_frame, "ms");
  bench::Report((prefix + "sdl2_gles_egl_cpu_ms_per_frame").c_str(), sdl_gles_egl.cpu_ms_per_frame,
                "ms");
  bench::Report((prefix + "statistics_fps").c_str(), with_statistics.fps, "fps");
  bench::Report((prefix + "statistics_ratio").c_str(), with_statistics.fps / ours.fps, "x");
  bench::Report((prefix + "statistics_cpu_ms_per_frame").c_str(), with_statistics.cpu_ms_per_frame,
                "ms");
  bench::Report((prefix + "nv12_fps").c_str(), nv12.fps, "fps");
  bench::Report((prefix + "nv12_cpu_ms_per_frame").c_str(), nv12.cpu_ms_per_frame, "ms");
  bench::Report((prefix + "nv12_convert_then_draw_fps").c_str(), convert_then_draw.fps, "fps");
  bench::Report((prefix + "nv12_convert_then_draw_cpu_ms_per_frame").c_str(),
                convert_then_draw.cpu_ms_per_frame, "ms");
  bench::Report((prefix + "nv12_cpu_ratio").c_str(),
                nv12.cpu_ms_per_frame / convert_then_draw.cpu_ms_per_frame, "x");
  bench::Report((prefix + "padded_fps").c_str(), padded.fps, "fps");
  bench::Report((prefix + "padded_ratio").c_str(), padded.fps / ours.fps, "x");
  bench::Report((prefix + "swap_interval").c_str(), ours.swap_interval, "frames");
  bench::Report((prefix + "raw_swap_interval").c_str(), raw.swap_interval, "frames");
  bench::Report((prefix + "sdl2_gles_swap_interval").c_str(), sdl_gles.swap_interval, "frames");
  bench::Report((prefix + "sdl2_gles_egl_swap_interval").c_str(), sdl_gles_egl.swap_interval,
                "frames");
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
  // The figures' own cost per frame: counted, timed by two clock readings,
  // recorded (draw time, freezes, latency), as RenderFrame keeps them.
  RenderStatisticsRecorder statistics;
  bench::Report("render.statistics_ns_per_frame",
                bench::NanosPerOp(
                    [&](int64_t) {
                      statistics.Received();
                      const int64_t start = rtc::MonotonicNanos();
                      statistics.Drawn(1280, 720, start, start, rtc::MonotonicNanos());
                    },
                    1000000),
                "ns");
  // The recorder alone, on times given (no clock read): a frame every
  // 16.7 ms with a freeze now and then, so that every branch is taken.
  RenderStatisticsRecorder alone;
  int64_t at = 0;
  bench::Report("render.statistics_recorder_ns_per_frame",
                bench::NanosPerOp(
                    [&](int64_t i) {
                      at += i % 97 == 0 ? 400000000 : 16666667;
                      alone.Received();
                      alone.Drawn(1280, 720, at - 30000000, at - 2000000, at);
                    },
                    1000000),
                "ns");
  // A snapshot of full recent frames, as a call-quality panel asks for it.
  bench::Report("render.statistics_snapshot_ns",
                bench::NanosPerOp([&](int64_t) { alone.Snapshot(at); }, 20000), "ns");
  SDL_Quit();
  return ok ? 0 : 1;
}
