// The player end to end: the real binary, the real module, real windows on
// the test display; its files checked with independent decoders.

#include <png.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <turbojpeg.h>

#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::HasSubstr;

struct PlayerRun {
  int status = -1;
  std::string output;  // stdout and stderr together
};

PlayerRun Player(const std::string& args, const std::string& environment = "") {
  const std::string command = environment + " OHOS_DESKTOP_HILOG_QUIET=1 " +
                              NATIVERENDER_PLAYER_PATH + " --quiet " + args + " 2>&1";
  PlayerRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr)
    return run;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
    run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "player_test_" + name;
}

// A YUV4MPEG2 file of `frames` flat frames; frame n has luma 40 + 40 n.
// `extra_bytes` of a further, unfinished frame may follow.
std::string WriteY4m(const std::string& name, int w, int h, int frames, size_t extra_bytes = 0,
                     const std::string& header_tail = "F25:1 Ip A1:1 C420jpeg") {
  const std::string path = TempPath(name);
  std::ofstream out(path, std::ios::binary);
  out << "YUV4MPEG2 W" << w << " H" << h << " " << header_tail << "\n";
  const size_t luma = static_cast<size_t>(w) * h;
  const size_t chroma = static_cast<size_t>((w + 1) / 2) * ((h + 1) / 2);
  for (int n = 0; n < frames; ++n) {
    out << "FRAME\n";
    out << std::string(luma, static_cast<char>(40 + 40 * n)) << std::string(2 * chroma, '\x80');
  }
  if (extra_bytes > 0)
    out << "FRAME\n" << std::string(extra_bytes, '\x10');
  return path;
}

bool JpegSize(const std::string& path, int* width, int* height) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  tjhandle handle = tjInitDecompress();
  int subsampling = 0, colourspace = 0;
  const bool ok = !data.empty() && tjDecompressHeader3(handle, data.data(), data.size(), width,
                                                       height, &subsampling, &colourspace) == 0;
  tjDestroy(handle);
  return ok;
}

// Decodes an 8-bit RGB PNG into 0xRRGGBB pixels.
bool ReadPng(const std::string& path, int* width, int* height, std::vector<uint32_t>* pixels) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str()))
    return false;
  image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
    return false;
  *width = static_cast<int>(image.width);
  *height = static_cast<int>(image.height);
  pixels->resize(static_cast<size_t>(*width) * *height);
  for (size_t i = 0; i < pixels->size(); ++i)
    (*pixels)[i] = rgb[i * 3] << 16 | rgb[i * 3 + 1] << 8 | rgb[i * 3 + 2];
  return true;
}

long long FileSize(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

TEST(PlayerTest, PlaysAY4mFileWithCapturesAndAFittedScreenshot) {
  const std::string input = WriteY4m("clip.y4m", 64, 36, 5);
  const std::string jpeg = TempPath("frame2.jpg"), bmp = TempPath("frame3.BMP"),
                    png = TempPath("shot.png"), log = TempPath("render.log");
  remove(log.c_str());
  const PlayerRun run = Player(input + " --fps 0 --surface 160x120 --scale fit --capture 2:" + jpeg +
                         " --capture 3:" + bmp + " --screenshot " + png + " --log " + log);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_THAT(run.output, HasSubstr("played 5 frames"));
  EXPECT_THAT(run.output, HasSubstr("capture " + jpeg + " (frame 2, "));

  // The module's runtime lines, forwarded through the listener.
  std::ifstream log_file(log);
  const std::string lines((std::istreambuf_iterator<char>(log_file)), std::istreambuf_iterator<char>());
  EXPECT_THAT(lines, HasSubstr("(quon_renderManager:35): Export: ."));
  EXPECT_THAT(lines, HasSubstr(": RenderFrame: .copy frame "));
  EXPECT_THAT(run.output, HasSubstr("log " + log + " ("));

  int w = 0, h = 0;
  ASSERT_TRUE(JpegSize(jpeg, &w, &h));
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 36);
  EXPECT_EQ(FileSize(bmp), 58 + 64 * 36 * 4);

  std::vector<uint32_t> pixels;
  ASSERT_TRUE(ReadPng(png, &w, &h, &pixels));
  ASSERT_EQ(w, 160);
  ASSERT_EQ(h, 120);
  // 16:9 in 4:3 with fit: the picture fills rows 15..104, black bars above
  // and below. The last frame's luma is 200.
  EXPECT_EQ(pixels[5 * 160 + 80], 0u);
  EXPECT_EQ(pixels[114 * 160 + 80], 0u);
  const uint32_t centre = pixels[60 * 160 + 80];
  EXPECT_NEAR(static_cast<int>(centre >> 8 & 0xff), 200, 3);
}

TEST(PlayerTest, SeveralWindowsEachGetAnEngine) {
  const PlayerRun run = Player("--frames 10 --fps 0 --windows 3 --surface 64x48 --id multi");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_THAT(run.output, HasSubstr("played 30 frames"));
  EXPECT_THAT(run.output, HasSubstr("3 windows"));
}

// Windows draw on their own engine threads. glibc fills freed blocks when
// MALLOC_PERTURB_ is set, so a GL stack driven into reading freed memory by
// frames drawn at the same time crashes at once instead of now and then.
TEST(PlayerTest, WindowsDrawingTogetherNeverReachFreedMemory) {
  const PlayerRun run = Player("--frames 150 --fps 0 --windows 3 --surface 96x72", "MALLOC_PERTURB_=165");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_THAT(run.output, HasSubstr("played 450 frames"));
}

TEST(PlayerTest, TruncatedFileStopsAtTheLastWholeFrame) {
  const std::string input = WriteY4m("cut.y4m", 32, 32, 2, 700);
  const PlayerRun run = Player(input + " --fps 0");
  EXPECT_EQ(run.status, 3) << run.output;
  EXPECT_THAT(run.output, HasSubstr("input ends inside frame 3: stopped after 2 whole frames"));
  EXPECT_THAT(run.output, HasSubstr("played 2 frames"));
}

TEST(PlayerTest, UnwritableCaptureIsReportedAndPlaybackGoesOn) {
  const PlayerRun run = Player("--frames 6 --fps 0 --capture 2:/proc/no/such/dir/x.jpg");
  EXPECT_EQ(run.status, 3) << run.output;
  EXPECT_THAT(run.output, HasSubstr("capture of frame 2 to /proc/no/such/dir/x.jpg failed"));
  EXPECT_THAT(run.output, HasSubstr("played 6 frames"));
}

TEST(PlayerTest, BadInputGetsOneClearLineAndStatusTwo) {
  const std::string y444 = WriteY4m("y444.y4m", 16, 16, 1, 0, "F25:1 C444");
  const std::string bad_size = WriteY4m("bad_size.y4m", 0, 16, 1);
  const std::string not_y4m = TempPath("not.y4m");
  std::ofstream(not_y4m) << "RIFF this is something else\n";
  const struct {
    std::string args, message;
  } cases[] = {
      {TempPath("missing.y4m"), "cannot open"},
      {y444, "unsupported chroma layout C444"},
      {bad_size, "bad frame size 0x16"},
      {not_y4m, "not a YUV4MPEG2 file"},
      {"--bogus", "unknown option --bogus"},
      {"--scale sideways", "bad value 'sideways' for --scale"},
      {TempPath("raw.yuv"), "a raw .yuv input needs --size WxH"},
      {"--frames", "option --frames needs a value"},
      {"--capture-every 10", "bad value '10' for --capture-every"},
      {"--capture-every 0:/tmp", "bad value '0:/tmp' for --capture-every"},
      {"--recreate-every 0", "bad value '0' for --recreate-every"},
      {"--duration -1", "bad value '-1' for --duration"},
  };
  for (const auto& c : cases) {
    const PlayerRun run = Player(c.args);
    EXPECT_EQ(run.status, 2) << c.args << "\n" << run.output;
    EXPECT_THAT(run.output, HasSubstr(c.message)) << c.args;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
  }
}

TEST(PlayerTest, HelpDocumentsEveryOption) {
  const PlayerRun run = Player("--help");
  EXPECT_EQ(run.status, 0);
  for (const char* option : {"--size", "--fps", "--frames", "--loop", "--surface", "--scale", "--id",
                             "--windows", "--capture", "--quality", "--screenshot", "--log",
                             "--duration", "--recreate-every", "--capture-every", "--cycle-scale",
                             "--slow-listener"})
    EXPECT_THAT(run.output, HasSubstr(option));
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* entry = readdir(d))
      if (entry->d_name[0] != '.')
        names.push_back(entry->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A soak run in small: surfaces torn down and rebuilt under the engines,
// periodic captures of both kinds, scale types cycling, a slow log
// listener. Nothing may crash, and every capture that did not lose its
// surface must be a whole, decodable file.
TEST(PlayerTest, RecreatedSurfacesUnderPlayKeepCapturingBothKinds) {
  const std::string dir = TempPath("soak");
  mkdir(dir.c_str(), 0755);
  for (const std::string& name : FilesIn(dir))
    remove((dir + "/" + name).c_str());
  // Counted frames, not a time, so that a slow (sanitizer) build still
  // makes several captures of each kind; captured frames are never dropped.
  const PlayerRun run = Player("--frames 40 --fps 30 --windows 2 --surface 96x72 --id soak"
                               " --recreate-every 300 --capture-every 4:" + dir +
                               " --cycle-scale 5 --slow-listener 5");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_THAT(run.output, HasSubstr("2 windows"));
  EXPECT_THAT(run.output, ::testing::ContainsRegex("surfaces recreated [1-9]"));
  EXPECT_THAT(run.output, ::testing::ContainsRegex("scale changes [1-9]"));
  EXPECT_THAT(run.output, ::testing::ContainsRegex("periodic captures written [1-9][0-9]*, failed 0, "));
  EXPECT_THAT(run.output, ::testing::ContainsRegex("log lines delivered [1-9]"));

  // One file of each kind per window, the scratch names gone.
  EXPECT_THAT(FilesIn(dir), ::testing::ElementsAre("soak-1.bmp", "soak-1.jpg", "soak-2.bmp", "soak-2.jpg"));
  for (const char* id : {"soak-1", "soak-2"}) {
    int w = 0, h = 0;
    EXPECT_TRUE(JpegSize(dir + "/" + id + ".jpg", &w, &h)) << id;
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 360);
    std::ifstream bmp(dir + "/" + id + ".bmp", std::ios::binary);
    char magic[2] = {};
    bmp.read(magic, 2);
    EXPECT_EQ(std::string(magic, 2), "BM") << id;
    EXPECT_EQ(FileSize(dir + "/" + id + ".bmp"), 58 + 640 * 360 * 4) << id;
  }
}

// A timed play loops its input and ends by itself: without the time limit
// this one would never end.
TEST(PlayerTest, TimedPlayLoopsTheInputUntilTimeIsUp) {
  const std::string input = WriteY4m("short.y4m", 16, 16, 3);
  const PlayerRun run = Player(input + " --duration 1 --fps 0");
  ASSERT_EQ(run.status, 0) << run.output;
  const size_t summary = run.output.find("played ");
  ASSERT_NE(summary, std::string::npos) << run.output;
  long long frames = 0;
  ASSERT_EQ(sscanf(run.output.c_str() + summary, "played %lld frames", &frames), 1) << run.output;
  EXPECT_GT(frames, 3);
}

// A recreated surface gets a fresh renderer; the window must keep the scale
// type it was given, not fall back to the renderer's default (fit, which
// would leave black bars above and below this 16:9 picture in 4:3).
TEST(PlayerTest, ScaleTypeSurvivesSurfaceRecreation) {
  const std::string png = TempPath("recreated_fill.png");
  const PlayerRun run = Player("--frames 45 --fps 30 --surface 160x120 --scale fill"
                               " --recreate-every 100 --screenshot " + png);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_THAT(run.output, ::testing::ContainsRegex("surfaces recreated [1-9]"));
  int w = 0, h = 0;
  std::vector<uint32_t> pixels;
  ASSERT_TRUE(ReadPng(png, &w, &h, &pixels));
  ASSERT_EQ(w, 160);
  ASSERT_EQ(h, 120);
  EXPECT_NE(pixels[2 * 160 + 40], 0u) << "black bar: the window fell back to fit";
  EXPECT_NE(pixels[117 * 160 + 40], 0u) << "black bar: the window fell back to fit";
}

}  // namespace
