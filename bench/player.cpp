// The player end to end, as fast as it can go: one 1280x720 window, and
// four 640x360 windows together, against the plain EGL/GLES loop of the
// render benchmark at 720p (what the GL stack can do with the same per-frame
// work and nothing around it). Both present at the driver's default swap
// interval, the one the module leaves in place, so on a display that waits
// for its refresh both are held to the same pace.

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "desktop/hilog_records.h"
#include "engine/frame_generator.h"
#include "harness.h"
#include "raw_gl.h"

namespace {

constexpr int kClipFrames = 30;
constexpr int kRounds = 3;

// Writes a YUV4MPEG2 clip of the colour-bar pattern.
std::string WriteClip(int width, int height) {
  const char* tmp = getenv("TMPDIR");
  const std::string path = std::string(tmp != nullptr ? tmp : "/tmp") + "/nativerender_bench_" +
                           std::to_string(width) + "x" + std::to_string(height) + ".y4m";
  std::ofstream out(path, std::ios::binary);
  out << "YUV4MPEG2 W" << width << " H" << height << " F30:1 Ip A1:1 C420jpeg\n";
  engine::FrameGenerator generator(width, height, engine::FrameGenerator::Pattern::kMovingMarker);
  for (int n = 0; n < kClipFrames; ++n) {
    auto frame = generator.Generate(n);
    out << "FRAME\n";
    const uint8_t* planes[] = {frame->YPlane(), frame->UPlane(), frame->VPlane()};
    const int strides[] = {frame->EffectiveStrideY(), frame->EffectiveStrideU(), frame->EffectiveStrideV()};
    const int widths[] = {width, (width + 1) / 2, (width + 1) / 2};
    const int heights[] = {height, (height + 1) / 2, (height + 1) / 2};
    for (int p = 0; p < 3; ++p)
      for (int row = 0; row < heights[p]; ++row)
        out.write(reinterpret_cast<const char*>(planes[p] + static_cast<size_t>(row) * strides[p]),
                  widths[p]);
  }
  return path;
}

// The frames per second of a run, every window's frames together, or 0.
double PlayerFps(const std::string& args) {
  const std::string command = std::string("OHOS_DESKTOP_HILOG_QUIET=1 ") + NATIVERENDER_PLAYER_PATH +
                              " --quiet --fps 0 --loop " + args;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr)
    return 0;
  char line[512];
  double fps = 0;
  while (fgets(line, sizeof(line), pipe) != nullptr) {
    long long frames = 0;
    double seconds = 0;
    // The summary's own fps is per window; the sum is what this compares.
    if (sscanf(line, "played %lld frames in %lf s", &frames, &seconds) == 2 && seconds > 0)
      fps = frames / seconds;
  }
  return pclose(pipe) == 0 ? fps : 0;
}

double RawFps(const bench::Frames& frames, int count) {
  bench::RawContender raw;
  if (!raw.Open(frames))
    return 0;
  raw.Begin();
  const double fps = bench::Fps([&](int n) { raw.Draw(n); }, count);
  raw.End();
  return fps;
}

}  // namespace

int main() {
  ohos_desktop::SetHilogStderrEnabled(false);
  const std::string clip720 = WriteClip(1280, 720);
  const std::string clip360 = WriteClip(640, 360);
  const bench::Frames frames720(1280, 720);
  double one = 0, four = 0, raw = 0;
  for (int round = 0; round < kRounds; ++round) {
    one = std::max(one, PlayerFps(clip720 + " --frames 120"));
    four = std::max(four, PlayerFps(clip360 + " --frames 60 --windows 4"));
    raw = std::max(raw, RawFps(frames720, 60));
  }
  remove(clip720.c_str());
  remove(clip360.c_str());
  if (one == 0 || four == 0 || raw == 0) {
    fprintf(stderr, "player bench: a run failed (player %.1f, four windows %.1f, raw %.1f)\n", one,
            four, raw);
    return 1;
  }
  bench::Report("player.720p.fps", one, "fps");
  bench::Report("player.4x360p.fps", four, "fps");
  bench::ReportPeer("player.720p.", "raw_fps", raw, "ratio_raw", one, "fps");
  return 0;
}
