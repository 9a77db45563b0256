// A media engine built against the installed package only. It loads the
// module through the installed desktop host shell, as the UI runtime does,
// binds a window, takes the renderer as an engine must, pushes frames from
// two threads, and checks the window's pixels, the picture events, the
// statistics and the layout it sees of the module's objects. Prints one
// "layout:" line (the same whatever this engine's own headers are) and exits
// 0 when every check held.

#if defined(CONSUMER_OWN_RUNTIME)
// The engine's own runtime, included first, as an engine declaring the same
// interfaces on its side would: its rtc::Mutex and RTC_ macros must change
// nothing of what the module's headers declare.
#include "rtc_base/mutex.h"
#include "rtc_base/thread_annotations.h"
#endif

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "desktop/host_shell.h"
#include "quon_renderManager.h"

namespace {

int g_failures = 0;

void Check(bool ok, const std::string& what) {
  if (!ok) {
    fprintf(stderr, "consumer: FAILED: %s\n", what.c_str());
    ++g_failures;
  }
}

// A solid I420 frame of the engine's own.
class SolidFrame : public rtc::IVideoFrame {
 public:
  SolidFrame(int width, int height, uint8_t y, uint8_t u, uint8_t v)
      : width_(width),
        height_(height),
        y_(static_cast<size_t>(width) * height, y),
        u_(static_cast<size_t>((width + 1) / 2) * ((height + 1) / 2), u),
        v_(u_.size(), v) {}

  int32_t Width() const override { return width_; }
  int32_t Height() const override { return height_; }
  void EngineOperation5() override {}
  const uint8_t* YPlane() const override { return y_.data(); }
  const uint8_t* UPlane() const override { return u_.data(); }
  const uint8_t* VPlane() const override { return v_.data(); }
  void EngineOperation9() override {}
  void EngineOperation10() override {}
  void EngineOperation11() override {}
  int32_t YStride() const override { return width_; }
  int32_t UStride() const override { return (width_ + 1) / 2; }
  int32_t VStride() const override { return (width_ + 1) / 2; }
  void EngineOperation15() override {}
  IVideoFrame* Clone() const override { return new SolidFrame(*this); }
  int ExportArgb(uint32_t, uint8_t*, size_t, int32_t) const override { return -1; }

 private:
  int width_;
  int height_;
  std::vector<uint8_t> y_, u_, v_;
};

class Observer : public rtc::DestroyObserver {
 public:
  void OnDestroy(rtc::DestroyNotify*) override { ++destroyed; }
  std::atomic<int> destroyed{0};
};

class Events : public IRenderEventListener {
 public:
  void OnFirstFrame(const std::string&, int width, int height) override {
    std::lock_guard<std::mutex> hold(lock);
    ++first;
    firstWidth = width;
    firstHeight = height;
  }
  void OnFrameSizeChanged(const std::string&, int, int) override {
    std::lock_guard<std::mutex> hold(lock);
    ++sizeChanges;
  }
  void OnSurfaceSizeChanged(const std::string&, int, int) override {}

  std::mutex lock;
  int first = 0, firstWidth = 0, firstHeight = 0, sizeChanges = 0;
};

// An engine's own renderer, a test double of rtc::IVideoRender: it links
// against the module's exported DestroyNotify.
class FakeRender : public rtc::IVideoRender {
 public:
  void SetSize(int, int) override {}
  void RenderFrame(rtc::IVideoFrame*) override { ++frames; }
  int EnableCapture(bool) override { return 0; }
  int CaptureImage(const std::string&, int) override { return 0; }
  int ReservedOp1(...) override { return rtc::kNotSupported; }
  int ReservedOp2(...) override { return rtc::kNotSupported; }
  int ReservedOp3(...) override { return rtc::kNotSupported; }
  int ReservedOp4(...) override { return rtc::kNotSupported; }
  int ReservedOp5(...) override { return rtc::kNotSupported; }
  int ReservedOp6(...) override { return rtc::kNotSupported; }
  int FillBlack() override { return 0; }
  int ReservedOp7(...) override { return rtc::kNotSupported; }
  int frames = 0;
};

bool Near(uint32_t pixel, int r, int g, int b) {
  const int pr = (pixel >> 16) & 0xff, pg = (pixel >> 8) & 0xff, pb = pixel & 0xff;
  return abs(pr - r) <= 3 && abs(pg - g) <= 3 && abs(pb - b) <= 3;
}

}  // namespace

int main() {
  // The test double first: built, observed and destroyed on this side.
  {
    Observer observer;
    {
      FakeRender fake;
      rtc::IVideoRender* render = &fake;
      render->AddObserver(&observer);
      render->AddObserver(&observer);
      SolidFrame frame(2, 2, 0, 0, 0);
      render->RenderFrame(&frame);
      Check(fake.frames == 1, "test double draws through its own vtable");
    }
    Check(observer.destroyed == 1, "test double tells its observer once");
  }

  std::string error;
  std::unique_ptr<ohos_desktop::HostShell> shell =
      ohos_desktop::HostShell::Load(CONSUMER_MODULE_PATH, "nativerender", &error);
  if (!shell) {
    fprintf(stderr, "consumer: cannot load the module: %s\n", error.c_str());
    return 1;
  }
  std::string id = "consumer";
  if (!shell->AddXComponent(id, 320, 240, &error)) {
    fprintf(stderr, "consumer: cannot bind a window: %s\n", error.c_str());
    return 1;
  }

  PluginManager* manager = PluginManager::GetInstance();
  Observer observer;
  PluginRender* render = manager->FindRenderAndObserve(id, &observer);
  if (render == nullptr) {
    fprintf(stderr, "consumer: no renderer for the bound window\n");
    return 1;
  }
  // The fields the inline accessors read, where the module wrote them.
  Check(render->id() == id, "id() reads the renderer's id");
  Check(render->width() == 320 && render->height() == 240,
        "width()/height() read the surface's size: " + std::to_string(render->width()) + "x" +
            std::to_string(render->height()));
  Check(render->window() != nullptr && render->window() == manager->GetNativeWindow(id),
        "window() reads the native window");
  Check(render->eglCore() != nullptr, "eglCore() reads the drawing core");

  Events events;
  Check(manager->SetRenderEventListener(id, &events), "listener installed");

  // Two engine threads, each with frames of its own size, into one renderer.
  constexpr int kFramesEach = 20;
  auto push = [render](int width, int height) {
    SolidFrame frame(width, height, 128, 128, 128);
    for (int i = 0; i < kFramesEach; ++i)
      render->RenderFrame(&frame);
  };
  std::thread first(push, 64, 48);
  std::thread second(push, 32, 32);
  first.join();
  second.join();
  // Then a red frame (full range BT.601: about 238, 14, 14) from this one.
  SolidFrame red(64, 48, 81, 90, 240);
  render->RenderFrame(&red);

  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  bool red_seen = false;
  for (int attempt = 0; attempt < 50 && !red_seen; ++attempt) {  // the server may lag a swap
    pixels = shell->ReadPixels(id, &width, &height);
    red_seen = !pixels.empty() && Near(pixels[(height / 2) * width + width / 2], 238, 14, 14);
    if (!red_seen)
      usleep(20 * 1000);
  }
  Check(red_seen, "the window shows the last frame's colour");

  RenderStatistics stats;
  Check(manager->GetRenderStatistics(id, &stats), "statistics read");
  Check(stats.framesReceived == 2 * kFramesEach + 1, "every frame counted received");
  Check(stats.framesDrawn + stats.framesDropped == stats.framesReceived,
        "drawn + dropped = received");
  Check(stats.framesDrawn >= 1 && stats.lastFrameWidth == 64 && stats.lastFrameHeight == 48,
        "the last frame drawn is the red one");
  Check(stats.latencyFrames >= 1 && stats.framesDroppedByRate == 0,
        "the later fields reach a struct of this layout");

  // The background colour in the clear, a rate below 0 refused.
  Check(manager->SetBackgroundColor(id, 0xFF0000FFu) && manager->ClearSurface(id),
        "background colour set and the surface cleared to it");
  bool blue_seen = false;
  for (int attempt = 0; attempt < 50 && !blue_seen; ++attempt) {
    pixels = shell->ReadPixels(id, &width, &height);
    blue_seen = !pixels.empty() && Near(pixels[(height / 2) * width + width / 2], 0, 0, 255);
    if (!blue_seen)
      usleep(20 * 1000);
  }
  Check(blue_seen, "the window shows the background colour");
  Check(!manager->SetMaxFrameRate(id, -1) && manager->SetMaxFrameRate(id, 0),
        "frame-rate limit checked");
  {
    std::lock_guard<std::mutex> hold(events.lock);
    Check(events.first == 1, "one first-frame event");
    Check((events.firstWidth == 64 && events.firstHeight == 48) ||
              (events.firstWidth == 32 && events.firstHeight == 32),
          "the first frame's size");
    Check(events.sizeChanges >= 1, "frame size changes told");
  }
  Check(manager->SetRenderEventListener(id, nullptr), "listener removed");

  printf("layout: DestroyNotify %zu, IVideoRender %zu, PluginRender %zu, RenderStatistics %zu\n",
         sizeof(rtc::DestroyNotify), sizeof(rtc::IVideoRender), sizeof(PluginRender),
         sizeof(RenderStatistics));
  shell->Shutdown();
  Check(observer.destroyed == 1, "the renderer's end told once");
  if (g_failures == 0)
    printf("consumer: all checks passed\n");
  return g_failures == 0 ? 0 : 1;
}
