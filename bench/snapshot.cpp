// A snapshot of one 720p frame in memory, through the renderer as an app
// asks for it: as shown (read back from the surface after the draw) and
// the frame itself (converted from its planes). Each is the time of a draw
// with the snapshot less the time of the same draw without one, the
// quickest of many of each. The peer
// is what the player did before: reading the window back through X11
// (XGetImage) after the frame reached it.

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
#include "desktop/xcomponent_host.h"
#include "harness.h"
#include "quon_render.h"
#include "quon_renderManager.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

struct Sink : ISnapshotListener {
  void OnSnapshot(const std::string&, const SnapshotImage& image) override {
    if (image.error != 0)
      ++failed;
    else
      benchmark::DoNotOptimize(image.pixels[image.stride * (image.height / 2)]);
  }
  int failed = 0;
};

}  // namespace

int main() {
  ohos_desktop::SetHilogStderrEnabled(false);
  std::string id = "snapshot bench";
  auto window = ohos_desktop::X11Surface::Create(kWidth, kHeight, id.c_str());
  if (window == nullptr) {
    fprintf(stderr, "snapshot bench: no window (is there a display?)\n");
    return 1;
  }
  ohos_desktop::ScopedXComponent component(
      ohos_desktop::CreateXComponent(id, kWidth, kHeight, window->NativeWindow()));
  PluginRender* render = PluginRender::GetInstance(id);
  render->SetNativeXComponent(component.get());
  ohos_desktop::DispatchSurfaceCreated(component.get());

  // A picture with detail in every plane, so that nothing is uniform.
  const int cw = kWidth / 2, ch = kHeight / 2;
  std::vector<uint8_t> y(static_cast<size_t>(kWidth) * kHeight),
      uv(static_cast<size_t>(cw) * ch * 2);
  for (size_t i = 0; i < y.size(); ++i)
    y[i] = static_cast<uint8_t>(i * 7 + i / kWidth);
  for (size_t i = 0; i < uv.size(); ++i)
    uv[i] = static_cast<uint8_t>(64 + i % 128);
  FrameDescription frame;
  frame.layout = kFrameLayoutNv12;
  frame.width = kWidth;
  frame.height = kHeight;
  frame.planes[0] = y.data();
  frame.planes[1] = uv.data();

  PluginManager* manager = PluginManager::GetInstance();
  Sink sink;
  bool drawn = true;
  // Each figure is the quickest single call of many, the variants taking
  // turns: the least disturbed call of each, on a machine whose other work
  // moves a software-rendered draw by more than a snapshot costs.
  const auto quickest = [](double* best, const std::function<void()>& op) {
    const auto start = std::chrono::steady_clock::now();
    op();
    const auto end = std::chrono::steady_clock::now();
    *best = std::min(*best, std::chrono::duration<double, std::nano>(end - start).count());
  };
  double plain = 1e300, shown = 1e300, own = 1e300, x11 = 1e300;
  for (int i = 0; i < 60; ++i) {
    quickest(&plain, [&] { drawn = render->PushFrame(frame) && drawn; });
    quickest(&shown, [&] {
      manager->TakeSnapshot(id, &sink, kSnapshotShown);
      drawn = render->PushFrame(frame) && drawn;
    });
    quickest(&own, [&] {
      manager->TakeSnapshot(id, &sink, kSnapshotFrame);
      drawn = render->PushFrame(frame) && drawn;
    });
    quickest(&x11, [&] { benchmark::DoNotOptimize(window->ReadPixels().size()); });
  }
  if (!drawn || sink.failed != 0) {
    fprintf(stderr, "snapshot bench: a frame was not drawn or a snapshot failed\n");
    return 1;
  }
  bench::Report("snapshot.draw_720p_ms", plain / 1e6, "ms");
  bench::ReportBeside("snapshot.", "shown_720p_ms", (shown - plain) / 1e6, "x11_read_720p_ms",
                      x11 / 1e6, "shown_over_x11", "ms");
  bench::Report("snapshot.frame_720p_ms", (own - plain) / 1e6, "ms");
  ohos_desktop::DispatchSurfaceDestroyed(component.get());
  return 0;
}
