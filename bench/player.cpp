// The player end to end, as fast as it can go: one 1280x720 window, and
// four 640x360 windows together, against the plain EGL/GLES loop of the
// render benchmark at 720p (what the GL stack can do with the same per-frame
// work and nothing around it). Both present at the driver's default swap
// interval, the one the module leaves in place, so on a display that waits
// for its refresh both are held to the same pace.
//
// Decode and draw: a 720p H.264 file made with the ffmpeg program, played
// untimed by the player and by mpv (--untimed --vo=gpu --no-audio) into
// windows of its size on the same display: frames per second from the first
// frame drawn to the last, and the time from the program's start to its
// first frame, each program's own account of it (the player's --stats, mpv's
// timed log).

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <string>

#include "desktop/hilog_records.h"
#include "engine/frame_generator.h"
#include "harness.h"
#include "raw_gl.h"

namespace {

constexpr int kClipFrames = 30;
constexpr int kRounds = 3;
constexpr int kH264Frames = 300;  // ten seconds at 30 fps

std::string TempFolder() {
  const char* tmp = getenv("TMPDIR");
  return tmp != nullptr ? tmp : "/tmp";
}

// Writes a YUV4MPEG2 clip of the colour-bar pattern.
std::string WriteClip(int width, int height) {
  const std::string path = TempFolder() + "/nativerender_bench_" + std::to_string(width) + "x" +
                           std::to_string(height) + ".y4m";
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

// A 1280x720 H.264 clip of ffmpeg's own moving test picture; "" when the
// ffmpeg program cannot make it.
std::string WriteH264Clip() {
  const std::string path = TempFolder() + "/nativerender_bench_h264_720p.mp4";
  const std::string command =
      "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1280x720:rate=30 -frames:v " +
      std::to_string(kH264Frames) + " -c:v libx264 -preset medium -pix_fmt yuv420p '" + path + "'";
  return system(command.c_str()) == 0 ? path : "";
}

struct DecodeAndDraw {
  double fps = 0;             // first frame drawn to last
  double first_frame_ms = 0;  // from the program's start
};

// The player's own figures (--stats) of an untimed play of `clip`.
DecodeAndDraw PlayerDecodeAndDraw(const std::string& clip) {
  const std::string stats = TempFolder() + "/nativerender_bench_h264.stats";
  const std::string command =
      std::string("OHOS_DESKTOP_HILOG_QUIET=1 ") + NATIVERENDER_PLAYER_PATH +
      " --quiet --fps 0 --surface 1280x720 --stats '" + stats + "' '" + clip + "' >/dev/null";
  DecodeAndDraw result;
  if (system(command.c_str()) != 0)
    return result;
  std::ifstream in(stats);
  std::map<std::string, double> figures;
  for (std::string line; std::getline(in, line);) {
    const size_t colon = line.find(": ");
    if (colon != std::string::npos)
      figures[line.substr(0, colon)] = atof(line.c_str() + colon + 2);
  }
  remove(stats.c_str());
  result.fps = figures["player.fps"];
  result.first_frame_ms = figures["player.first_frame_ms"];
  return result;
}

// mpv's, from its timed log: the first frame shown and the end of the
// video, counted from its start. --gpu-sw lets it draw with a software
// rasteriser (Mesa's, as the player does on a machine without a GPU);
// --framedrop=no keeps it from skipping frames, as the untimed player never
// does; --no-config keeps a user's settings out of it.
DecodeAndDraw MpvDecodeAndDraw(const std::string& clip) {
  const std::string command =
      "mpv --no-config --untimed --vo=gpu --gpu-sw --no-audio --framedrop=no "
      "--geometry=1280x720+0+0 -v --msg-time '" +
      clip + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  DecodeAndDraw result;
  if (pipe == nullptr)
    return result;
  double first = -1, end = -1;
  char line[1024];
  while (fgets(line, sizeof(line), pipe) != nullptr) {
    double at = 0;
    if (sscanf(line, "[%lf]", &at) != 1)
      continue;
    if (first < 0 && strstr(line, "first video frame after restart shown") != nullptr)
      first = at;
    else if (strstr(line, "video EOF reached") != nullptr)
      end = at;
  }
  if (pclose(pipe) != 0 || first < 0 || end <= first)
    return result;
  result.fps = (kH264Frames - 1) / (end - first);
  result.first_frame_ms = first * 1000;
  return result;
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

  const std::string h264 = WriteH264Clip();
  if (h264.empty()) {
    fprintf(stderr, "player bench: the ffmpeg program could not make the H.264 clip\n");
    return 1;
  }
  // The best round of each: the one least disturbed by other work.
  DecodeAndDraw ours, mpv;
  for (int round = 0; round < kRounds; ++round) {
    const DecodeAndDraw player = PlayerDecodeAndDraw(h264);
    const DecodeAndDraw peer = MpvDecodeAndDraw(h264);
    if (player.fps == 0 || peer.fps == 0) {
      fprintf(stderr, "player bench: an H.264 run failed (player %.1f fps, mpv %.1f fps)\n",
              player.fps, peer.fps);
      remove(h264.c_str());
      return 1;
    }
    ours.fps = std::max(ours.fps, player.fps);
    mpv.fps = std::max(mpv.fps, peer.fps);
    ours.first_frame_ms =
        round == 0 ? player.first_frame_ms : std::min(ours.first_frame_ms, player.first_frame_ms);
    mpv.first_frame_ms =
        round == 0 ? peer.first_frame_ms : std::min(mpv.first_frame_ms, peer.first_frame_ms);
  }
  remove(h264.c_str());
  bench::ReportBeside("player.h264_720p.", "fps", ours.fps, "mpv_fps", mpv.fps, "ratio_mpv", "fps");
  bench::ReportBeside("player.h264_720p.", "first_frame_ms", ours.first_frame_ms,
                      "mpv_first_frame_ms", mpv.first_frame_ms, "first_frame_ratio_mpv", "ms");
  return 0;
}
