// The player end to end: the real binary, the real module, real windows on
// the test display; its files checked with independent decoders.

#include <dirent.h>
#include <png.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tools/player/frame_schedule.h"
#ifdef NATIVERENDER_TEST_FFMPEG
#include "support/media_clip.h"
#endif

// After the test framework: Xlib's macros (None, Bool, Status) clash with it.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#undef None
#undef Bool
#undef Status

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct PlayerRun {
  int status = -1;
  std::string output;  // stdout and stderr together
};

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "player_test_" + name;
}

std::string PlayerCommand(const std::string& args, bool quiet = true) {
#ifdef NATIVERENDER_EMULATOR
  const std::string program = NATIVERENDER_EMULATOR " " NATIVERENDER_PLAYER_PATH;
#else
  const std::string program = NATIVERENDER_PLAYER_PATH;
#endif
  return program + (quiet ? " --quiet " : " ") + args + " 2>&1";
}

// `input`, when given, is a shell command whose output is piped to the
// player's standard input.
PlayerRun Player(const std::string& args, const std::string& environment = "",
                 const std::string& input = "") {
  const std::string command = (input.empty() ? "" : input + " | ") + "env " + environment +
                              " OHOS_DESKTOP_HILOG_QUIET=1 " + PlayerCommand(args);
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

// A player running in the background, for tests that act on it while it
// plays: its process id and the read end of its output. One that a failed
// test leaves running is killed.
struct Background {
  Background() = default;
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  ~Background() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (output >= 0)
      close(output);
  }
  pid_t pid = -1;
  int output = -1;
};

// Starts the player in `dir`.
void StartPlayer(const std::string& args, const std::string& dir, Background* started) {
  Background& player = *started;
  int fds[2];
  if (pipe(fds) != 0)
    return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  // exec: the process id is the player's own.
  const std::string command = "cd '" + dir + "' && exec " + PlayerCommand(args);
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  if (posix_spawn(&player.pid, "/bin/sh", &actions, nullptr, const_cast<char**>(argv), environ) != 0)
    player.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  player.output = fds[0];
}

// Waits for the player's end. A status of 128 + N: killed by signal N.
PlayerRun Finish(Background& player) {
  PlayerRun run;
  char buffer[4096];
  for (ssize_t n; (n = read(player.output, buffer, sizeof(buffer))) > 0;)
    run.output.append(buffer, static_cast<size_t>(n));
  close(player.output);
  player.output = -1;
  int status = 0;
  if (player.pid > 0 && waitpid(player.pid, &status, 0) == player.pid)
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  player.pid = -1;
  return run;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Another program on the same display: finds the player's windows by their
// titles (the XComponent ids) and does to them what a user or a window
// manager does.
class Desktop {
 public:
  // A window may go away under the test's requests: that is for the
  // expectations to judge, not a reason to end the test program.
  Desktop() {
    // A server busy with the player's own connections may turn one away
    // for a moment.
    for (int attempt = 0; attempt < 50 && display_ == nullptr; ++attempt) {
      display_ = XOpenDisplay(nullptr);
      if (display_ == nullptr)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  }
  ~Desktop() {
    if (display_ != nullptr)
      XCloseDisplay(display_);
  }
  bool ok() const { return display_ != nullptr; }

  // The top-level window titled `title`, once it is mapped (0 after 30 s).
  Window WaitForWindow(const std::string& title) {
    for (int attempt = 0; attempt < 600; ++attempt) {
      if (Window window = FindMapped(title))
        return window;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
  }
  // Waits (30 s at most) until the pixel at (x, y) is not black: the play
  // has begun, and the player takes keys.
  bool WaitForPicture(Window window, int x, int y) {
    for (int attempt = 0; attempt < 600; ++attempt) {
      if (Pixel(window, x, y) != 0)
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  // The top-level window whose WM_NAME, decoded to UTF-8, is `title`, once
  // it is mapped (0 after 30 s).
  Window WaitForTitle(const std::string& title) {
    for (int attempt = 0; attempt < 600; ++attempt) {
      if (Window window = FindMapped(title, /*decode=*/true))
        return window;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
  }
  bool ClassHint(Window window, XClassHint* hint) {
    return XGetClassHint(display_, window, hint) != 0;
  }
  void Key(Window window, KeySym key) {
    XEvent event = {};
    event.xkey.type = KeyPress;
    event.xkey.display = display_;
    event.xkey.window = window;
    event.xkey.root = DefaultRootWindow(display_);
    event.xkey.keycode = XKeysymToKeycode(display_, key);
    event.xkey.same_screen = True;
    XSendEvent(display_, window, True, KeyPressMask, &event);
    XSync(display_, False);
  }
  // What a window manager sends when the user closes the window.
  void RequestClose(Window window) {
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window, False, NoEventMask, &event);
    XSync(display_, False);
  }
  void Resize(Window window, int width, int height) {
    XResizeWindow(display_, window, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XSync(display_, False);
  }
  void Destroy(Window window) {
    XDestroyWindow(display_, window);
    XSync(display_, False);
  }
  int screen_width() { return DisplayWidth(display_, DefaultScreen(display_)); }
  // The window's top-left corner on the screen.
  void Position(Window window, int* x, int* y) {
    Window child = 0;
    XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, x, y, &child);
  }
  // The pixel at (x, y) of the window, 0xRRGGBB.
  uint32_t Pixel(Window window, int x, int y) {
    XImage* image = XGetImage(display_, window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr)
      return 0xffffffff;
    const uint32_t pixel = static_cast<uint32_t>(XGetPixel(image, 0, 0)) & 0xffffff;
    XDestroyImage(image);
    return pixel;
  }

 private:
  // WM_NAME as it is stored, or decoded from its encoding to UTF-8.
  std::string Name(Window window, bool decode) {
    std::string name;
    if (!decode) {
      char* stored = nullptr;
      if (XFetchName(display_, window, &stored) && stored != nullptr) {
        name = stored;
        XFree(stored);
      }
      return name;
    }
    XTextProperty property{};
    char** list = nullptr;
    int count = 0;
    if (XGetWMName(display_, window, &property) &&
        Xutf8TextPropertyToTextList(display_, &property, &list, &count) >= Success && count > 0)
      name = list[0];
    if (list != nullptr)
      XFreeStringList(list);
    if (property.value != nullptr)
      XFree(property.value);
    return name;
  }

  Window FindMapped(const std::string& title, bool decode = false) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (!XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count))
      return 0;
    for (unsigned i = 0; i < count && found == 0; ++i) {
      XWindowAttributes attributes;
      if (Name(children[i], decode) == title &&
          XGetWindowAttributes(display_, children[i], &attributes) &&
          attributes.map_state == IsViewable)
        found = children[i];
    }
    if (children != nullptr)
      XFree(children);
    return found;
  }

  Display* display_ = nullptr;
};

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
  // and below. The last frame's luma is 200 in limited range, the y4m
  // default: (200 - 16) * 255 / 219 = 214 on the window.
  EXPECT_EQ(pixels[5 * 160 + 80], 0u);
  EXPECT_EQ(pixels[114 * 160 + 80], 0u);
  const uint32_t centre = pixels[60 * 160 + 80];
  EXPECT_NEAR(static_cast<int>(centre >> 8 & 0xff), 214, 3);

  // On a terminal the progress is one line rewritten in place: a note (the
  // first frame on show) clears it first, never glued to its end.
  FILE* terminal = popen(("script -qec 'env OHOS_DESKTOP_HILOG_QUIET=1 " +
                          PlayerCommand(input + " --fps 10", /*quiet=*/false) + "' /dev/null")
                             .c_str(),
                         "r");
  ASSERT_NE(terminal, nullptr);
  std::string shown;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof(buffer), terminal)) > 0;)
    shown.append(buffer, n);
  EXPECT_EQ(pclose(terminal), 0) << shown;
  EXPECT_THAT(shown, HasSubstr("\r\x1b[Kplayer: first frame on show (64x36)"));
  EXPECT_THAT(shown, Not(HasSubstr("dropped 0player")));

  // Told the samples are full range, the window shows them as they are.
  ASSERT_EQ(Player(input + " --fps 0 --surface 160x120 --range=full --screenshot " + png).status, 0);
  ASSERT_TRUE(ReadPng(png, &w, &h, &pixels));
  EXPECT_NEAR(static_cast<int>(pixels[60 * 160 + 80] >> 8 & 0xff), 200, 3);

  // Odd sides are played whole (chroma rounded up): every pixel of 3x5,
  // the last column and row too, shows the frame's grey.
  ASSERT_EQ(Player(WriteY4m("odd.y4m", 3, 5, 1) + " --fps 0 --screenshot " + png).status, 0);
  ASSERT_TRUE(ReadPng(png, &w, &h, &pixels));
  ASSERT_EQ(w * 100 + h, 305);
  for (const uint32_t pixel : pixels)
    EXPECT_NEAR(static_cast<int>(pixel >> 8 & 0xff), (40 - 16) * 255 / 219, 3);
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

// A cut input stops at its last whole frame, or loops its whole frames,
// and is reported either way; a FRAME line too long to read is named; a
// rate that cannot be paced plays as fast as possible, an unknown one at
// 30 fps, and the rate shown is the window's own.
TEST(PlayerTest, InputsEndingBadlyOrAtOddRatesAreReportedAndPlayed) {
  const std::string cut = WriteY4m("cut.y4m", 32, 32, 2, 700);
  const std::string long_line = WriteY4m("long_frame_line.y4m", 16, 16, 1);
  std::ofstream(long_line, std::ios::app) << "FRAME X" << std::string(4100, 'x') << "\n"
                                          << std::string(16 * 16 * 3 / 2, '\x80');
  const struct {
    std::string args;
    int status;
    std::vector<std::string> messages;
    const char* rate = nullptr;  // shown when nothing was dropped; never exceeded
    long long frames = 0;        // played and dropped, for a paced case
  } cases[] = {
      {cut + " --fps 0",
       3,
       {"input ends inside frame 3: stopped after 2 whole frames", "played 2 frames"}},
      {cut + " --fps 0 --loop --frames 7",
       3,
       {"input ends inside frame 3: looping its 2 whole frames", "played 7 frames"}},
      {long_line + " --fps 0",
       3,
       {"the FRAME line of frame 2 is longer than 4096 bytes", "played 1 frame "}},
      {WriteY4m("fast.y4m", 16, 16, 5, 0, "F1000000:1"),
       0,
       {"1000000 fps is faster than the player paces (1000): played as fast as possible",
        "played 5 frames", " 0 dropped)"}},
      // Paced: a slow (sanitizer) build may drop a late frame, which counts.
      {WriteY4m("unknown_rate.y4m", 16, 16, 3, 0, "F0:0"), 0, {"played "}, "30.00", 3},
      {WriteY4m("ntsc.y4m", 16, 16, 4, 0, "F30000:1001"), 0, {"played "}, "29.97", 4},
  };
  for (const auto& c : cases) {
    const PlayerRun run = Player(c.args);
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.output;
    for (const std::string& message : c.messages)
      EXPECT_THAT(run.output, HasSubstr(message)) << c.args;
    if (c.rate == nullptr)
      continue;
    double fps = 0;
    long long played = 0, dropped = 0;
    const size_t summary = run.output.find(" s (");
    ASSERT_NE(summary, std::string::npos) << run.output;
    ASSERT_EQ(sscanf(run.output.c_str() + summary, " s (%lf fps, 1 window, %lld dropped", &fps,
                     &dropped),
              2)
        << run.output;
    ASSERT_EQ(sscanf(run.output.c_str() + run.output.find("played "), "played %lld", &played), 1);
    EXPECT_EQ(played + dropped, c.frames) << run.output;
    EXPECT_LE(fps, atof(c.rate) + 0.005) << run.output;
    if (run.output.find(" 0 dropped)") != std::string::npos) {
      EXPECT_THAT(run.output, HasSubstr(std::string("(") + c.rate + " fps, "));
    }
  }

  // Frames that come late through a pipe at 25 fps. A first frame that
  // takes a second and a half to come starts the play: the rest are not
  // dropped for it. Frames that a stall makes late are shown with their
  // captures, and the rate reported is the one shown, not the one planned.
  const std::string six = WriteY4m("six.y4m", 32, 32, 6);
  const size_t header = ReadFile(six).find('\n') + 1, frame = 6 + 32 * 32 * 3 / 2;
  auto stalled_at = [&](size_t bytes) {
    return "{ head -c " + std::to_string(bytes) + " " + six + "; sleep 1.5; tail -c +" +
           std::to_string(bytes + 1) + " " + six + "; }";
  };
  const std::string dir = TempPath("late_captures");
  mkdir(dir.c_str(), 0755);
  const struct {
    std::string args;
    size_t stall_at;
    double most_fps;
  } late[] = {{"-", header + 100, 25.005}, {"- --capture-every 1:" + dir, header + 2 * frame, 10}};
  for (const auto& c : late) {
    const PlayerRun run = Player(c.args, "", stalled_at(c.stall_at));
    EXPECT_EQ(run.status, 0) << c.args << "\n" << run.output;
    long long played = 0, dropped = 0;
    double seconds = 0, fps = 0;
    ASSERT_EQ(sscanf(run.output.c_str() + run.output.find("played "),
                     "played %lld frames in %lf s (%lf fps, 1 window, %lld dropped", &played,
                     &seconds, &fps, &dropped),
              4)
        << run.output;
    EXPECT_EQ(played + dropped, 6) << run.output;
    EXPECT_GE(played, 1) << run.output;
    // A player slow to start (an emulated build) may take a later stall
    // before its first frame is shown, where it delays nothing counted.
    const bool stall_before_first_frame = c.stall_at < header + frame;
    if (stall_before_first_frame || seconds >= 1.5) {
      EXPECT_LE(fps, c.most_fps) << c.args << "\n" << run.output;
    }
  }
}

// The schedule alone, on a clock of its own: 40 ms frames, times in ms.
// A first frame that took a second starts the times; a rewind whose first
// frame came late starts them again, so that the pass after it is not
// taken for a jump back (which would hold it for a whole pass); a late
// frame shown after the most drops in a row starts them again too.
TEST(PlayerTest, TheScheduleStartsAtTheFirstFrameShownAndAgainAtEachRewind) {
  constexpr int64_t kMs = 1000000;
  player::FrameSchedule schedule(40 * kMs);
  EXPECT_EQ(schedule.Next(0, 0.04, 0), 0);
  EXPECT_FALSE(schedule.TooLate(1000 * kMs)) << "the first frame is never dropped";
  schedule.Shown(1000 * kMs);
  for (int n = 1; n < 5; ++n) {
    EXPECT_EQ(schedule.Next(0.04 * n, 0.04, 1000 * kMs), 0);
    EXPECT_EQ(schedule.due_ns(), (1000 + 40 * n) * kMs);
    schedule.Shown((1000 + 40 * n) * kMs);
  }
  // The rewind's first frame comes 100 ms after the last one's end.
  schedule.Restart(/*at_once=*/false);
  EXPECT_EQ(schedule.Next(0, 0.04, 1300 * kMs), 0) << "a rewind is no jump";
  EXPECT_EQ(schedule.due_ns(), 1300 * kMs);
  EXPECT_FALSE(schedule.TooLate(1330 * kMs));
  EXPECT_TRUE(schedule.TooLate(1350 * kMs));
  schedule.Dropped();
  EXPECT_EQ(schedule.Next(0.04, 0.04, 1350 * kMs), 0) << "taken for a jump back";
  EXPECT_EQ(schedule.due_ns(), 1340 * kMs);
  schedule.Shown(1340 * kMs);
  // A stall: the frames behind it are dropped, at most five in a row; the
  // next is shown, and the times start from it.
  int n = 2, dropped = 0;
  for (schedule.Next(0.04 * n, 0.04, 5000 * kMs); schedule.TooLate(5000 * kMs);
       schedule.Next(0.04 * ++n, 0.04, 5000 * kMs)) {
    schedule.Dropped();
    ++dropped;
  }
  EXPECT_EQ(dropped, player::FrameSchedule::kMostDropsInARow);
  schedule.Shown(5000 * kMs);
  EXPECT_EQ(schedule.due_ns(), 5000 * kMs);
  schedule.Next(0.04 * ++n, 0.04, 5001 * kMs);
  EXPECT_EQ(schedule.due_ns(), 5040 * kMs);
  // A jump of an hour: told, and played across at the frame's length.
  EXPECT_NEAR(schedule.Next(3600 + 0.04 * ++n, 0.04, 5040 * kMs), 3600.04, 1e-6);
  EXPECT_EQ(schedule.due_ns(), 5080 * kMs);
}

// Requested captures that cannot happen: the play goes on, each is named,
// and neither the status nor the figures claim success.
TEST(PlayerTest, CapturesThatCannotBeTakenAreReportedAndPlaybackGoesOn) {
  const std::string first = TempPath("twice.jpg"), second = TempPath("twice.bmp"),
                    late = TempPath("late.jpg"), stats = TempPath("captures.stats");
  remove(first.c_str());
  const PlayerRun run = Player("--frames 6 --fps 0 --capture 2:" + first + " --capture 2:" + second +
                               " --capture 9:" + late + " --stats=" + stats);
  EXPECT_EQ(run.status, 3) << run.output;
  EXPECT_THAT(run.output, HasSubstr("played 6 frames"));
  EXPECT_THAT(run.output, HasSubstr("capture " + first + " (frame 2, "));
  EXPECT_THAT(run.output, HasSubstr("capture of frame 2 to " + second + " not taken: frame 2 is captured to " + first));
  EXPECT_THAT(run.output, HasSubstr("capture of frame 9 to " + late + " not taken: the play ended after frame 6"));
  EXPECT_GT(FileSize(first), 0);
  const std::string figures = ReadFile(stats);
  EXPECT_THAT(figures, HasSubstr("player.frames: 6\n"));
  EXPECT_THAT(figures, HasSubstr("player.captures_written: 1\n"));
  EXPECT_THAT(figures, HasSubstr("player.captures_failed: 2\n"));
  EXPECT_THAT(figures, HasSubstr("player.status: 3\n"));

  // An input without a whole frame (a pipe: a file is refused at once)
  // plays nothing, and says so.
  const PlayerRun empty =
      Player("- --capture 1:" + late, "", "cat " + WriteY4m("no_frames.y4m", 16, 16, 0));
  EXPECT_EQ(empty.status, 3) << empty.output;
  EXPECT_THAT(empty.output, HasSubstr("not taken: no frame was played"));
  EXPECT_THAT(empty.output, HasSubstr("nothing was played"));
}

// Inputs, options and output paths the player cannot honour are refused
// before anything plays, with one line that names the fault.
TEST(PlayerTest, BadInputGetsOneClearLineAndStatusTwo) {
  const std::string mono = WriteY4m("mono.y4m", 16, 16, 1, 0, "F25:1 C420mono");
  const std::string bad_size = WriteY4m("bad_size.y4m", 0, 16, 1);
  const std::string bad_interlacing = WriteY4m("bad_i.y4m", 16, 16, 1, 0, "F25:1 Ix");
  const std::string not_y4m = TempPath("not.y4m");
  std::ofstream(not_y4m) << "RIFF this is something else\n";
  const std::string letters = TempPath("letters.y4m");
  std::ofstream(letters) << "YUV4MPEG2 Wabc H16\n";
  const std::string empty = TempPath("empty.y4m");
  std::ofstream{empty};
  const std::string raw = TempPath("odd.yuv");
  std::ofstream(raw) << std::string(16 * 16 * 3 / 2 + 5, '\x80');
  const std::string dir = TempPath("dir");
  mkdir(dir.c_str(), 0755);
  const std::string fifo = TempPath("fifo");
  mkfifo(fifo.c_str(), 0600);
  const std::string in_dir = dir + "/in.jpg";
  mkdir(in_dir.c_str(), 0755);
  const std::string device = TempPath("device.bmp");  // the player removes a capture's file first
  mkfifo(device.c_str(), 0600);
  const std::string header_only = WriteY4m("header_only.y4m", 16, 16, 0);
  // 1 KiB that claims 400 MB frames: refused before 16 windows allocate them.
  const std::string huge = TempPath("huge.y4m");
  std::ofstream(huge) << "YUV4MPEG2 W16384 H16384\n" << std::string(1000, 'x');
  const std::string shared = TempPath("shared.out");
  // Not a video: refused as a y4m where the build reads nothing else.
  const std::string text = TempPath("notes.mp4");
  std::ofstream(text) << "these are notes, not a video\n";
  struct Case {
    std::string args, message;
  };
  std::vector<Case> cases = {
      {TempPath("missing.y4m"), "cannot open"},
      {mono, "unsupported chroma layout C420mono"},
      {bad_size, "bad frame size 0x16"},
      {bad_interlacing, "bad interlacing 'Ix'"},
      {letters, "bad width 'abc'"},
      {not_y4m, "not a YUV4MPEG2 file"},
      {empty, empty + " is empty"},
      {dir, dir + " is a directory"},
      {raw + " --size 16x16",
       "389 bytes is not a whole number of 16x16 I420 frames (384 bytes each)"},
      {"--format i420 " + fifo + " --size 16x16 --loop",
       "is a pipe, which can be read only once: --loop"},
      {fifo + " --windows 2", "is a pipe, which can be read only once: --windows above 1"},
      {"--windows 17", "bad value '17' for --windows (1..16)"},
      {"--capture 2:x.png", "bad value '2:x.png' for --capture"},
      {"--screenshot shot.jpg", "bad value 'shot.jpg' for --screenshot (a path ending in .png)"},
      {"--capture 2:" + in_dir, "--capture " + in_dir + ": " + in_dir + " is a directory"},
      {"--capture=2:/proc/no/such/dir/x.jpg", "no directory /proc/no/such/dir"},
      {"--log /nonexistent/x.log", "--log /nonexistent/x.log: no directory /nonexistent"},
      {"--capture 2:" + device, device + " exists and is not a regular file"},
      {"--bogus", "unknown option --bogus"},
      {"--scale sideways", "bad value 'sideways' for --scale"},
      {TempPath("raw.yuv"), "a raw .yuv input needs --size WxH"},
      {"--frames", "option --frames needs a value"},
      {"--capture-every 10", "bad value '10' for --capture-every"},
      {"--capture-every 0:/tmp", "bad value '0:/tmp' for --capture-every"},
      {"--recreate-every 0", "bad value '0' for --recreate-every"},
      {"--duration -1", "bad value '-1' for --duration"},
      {"''", "an empty INPUT names no file"},
      {header_only, "too short for its header and one 16x16 frame"},
      {huge + " --windows 16", "1024 bytes, too short for its header and one 16384x16384 frame"},
      {"--log " + shared + " --stats " + shared,
       "--stats " + shared + ": the same file as --log " + shared},
      {"--capture 2:" + TempPath("same.jpg") + " --capture 3:" + ::testing::TempDir() +
           "./player_test_same.jpg",
       "./player_test_same.jpg: the same file as --capture " + TempPath("same.jpg")},
      {WriteY4m("unseekable.y4m", 16, 16, 2) + " --start 1", "unseekable.y4m cannot seek"},
      {"--start 1:75", "bad value '1:75' for --start"},
  };
#ifdef NATIVERENDER_TEST_FFMPEG
  // Containers that cannot play: no video in one, an mp4 whose recording
  // stopped before its index (moov) was written.
  const std::string audio_only = TempPath("audio.mka");
  Clip audio{"matroska", nullptr};
  audio.audio = true;
  ASSERT_EQ(WriteClip(audio_only, audio), "");
  const std::string whole = TempPath("whole.mp4"), cut = TempPath("cut.mp4");
  ASSERT_EQ(WriteClip(whole, Clip{"mp4", "libx264"}), "");
  const std::string bytes = ReadFile(whole);
  std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  cases.push_back({text, text + ": not a video file of any format this build reads"});
  cases.push_back({audio_only, "no video stream in this Matroska / WebM file (audio only)"});
  cases.push_back({cut, cut + ": cannot read this QuickTime / MOV file: moov atom not found"});
  cases.push_back(
      {whole + " --start 5", "--start: 5.00 s is past the end of " + whole + " (0.20 s long)"});
#else
  cases.push_back({text,
                   "not a YUV4MPEG2 file (the header must start with YUV4MPEG2); this "
                   "build reads no other format"});
#endif
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
  for (const char* option : {"--size",
                             "--fps",
                             "--frames",
                             "--loop",
                             "--surface",
                             "--scale",
                             "--id",
                             "--windows",
                             "--capture",
                             "--quality",
                             "--screenshot",
                             "--log",
                             "--log-append",
                             "--stats",
                             "--format",
                             "--verbose",
                             "--version",
                             "--duration",
                             "--recreate-every",
                             "--capture-every",
                             "--cycle-scale",
                             "--slow-listener",
                             "--rotate",
                             "--mirror",
                             "2020",
                             "OHOS_DESKTOP_HILOG_QUIET",
                             "130",
                             "143"})
    EXPECT_THAT(run.output, HasSubstr(option));
  EXPECT_THAT(run.output, HasSubstr("--start TIME"));
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
  // A link planted at a capture's name is replaced, never written through.
  const std::string outside = TempPath("soak-outside.txt");
  std::ofstream(outside) << "not the player's";
  ASSERT_EQ(symlink(outside.c_str(), (dir + "/soak-1.jpg").c_str()), 0);
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
  EXPECT_THAT(run.output, ::testing::ContainsRegex("[1-9][0-9]* log lines delivered"));

  // One file of each kind per window, the scratch names gone.
  EXPECT_THAT(FilesIn(dir), ::testing::ElementsAre("soak-1.bmp", "soak-1.jpg", "soak-2.bmp", "soak-2.jpg"));
  EXPECT_EQ(ReadFile(outside), "not the player's");
  struct stat link_target;
  ASSERT_EQ(lstat((dir + "/soak-1.jpg").c_str(), &link_target), 0);
  EXPECT_TRUE(S_ISREG(link_target.st_mode));
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
// --rotate and --mirror on the colour bars (light on the frame's left, black
// on its right): the default window takes the turned picture's shape, and
// the bars lie where the turn and then the mirror put them. The module's
// figures and the first-frame event reach --stats.
TEST(PlayerTest, TurnedAndMirroredPicturesAreShownSo) {
  const struct {
    const char* args;
    int width, height;
    int light_x, light_y, dark_x, dark_y;
  } cases[] = {
      {"", 64, 36, 2, 18, 61, 18},
      {"--mirror", 64, 36, 61, 18, 2, 18},
      {"--rotate 90", 36, 64, 18, 2, 18, 61},
      {"--rotate 180", 64, 36, 61, 18, 2, 18},
      {"--rotate 270 --mirror", 36, 64, 18, 61, 18, 2},
  };
  const std::string png = TempPath("turned.png"), stats = TempPath("turned.txt");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const PlayerRun run = Player(std::string("--size 64x36 --frames 3 --fps 0 ") + c.args +
                                 " --screenshot " + png + " --stats " + stats);
    ASSERT_EQ(run.status, 0) << run.output;
    int w = 0, h = 0;
    std::vector<uint32_t> pixels;
    ASSERT_TRUE(ReadPng(png, &w, &h, &pixels));
    ASSERT_EQ(w, c.width);
    ASSERT_EQ(h, c.height);
    const auto level = [&](int x, int y) {
      const uint32_t p = pixels[static_cast<size_t>(y) * w + x];
      return std::min({p >> 16 & 0xff, p >> 8 & 0xff, p & 0xff});
    };
    EXPECT_GT(level(c.light_x, c.light_y), 150u) << "the white bar";
    EXPECT_LT(level(c.dark_x, c.dark_y), 40u) << "the black bar";
    const std::string figures = ReadFile(stats);
    EXPECT_THAT(figures, HasSubstr("player.renderer_frames_drawn: 3\n"));
    EXPECT_THAT(figures, HasSubstr("player.first_frames: 1\n"));
  }
}

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

// --- Window and signals ----------------------------------------------------

// A user closes one window: only its engine ends. Another program destroys
// the last one: the play ends cleanly, as a close would, with nothing left
// to take a screenshot of. Without this the engines would play on to the
// end of the time limit, and the teardown would die on an X error. Two
// windows wider together than the screen go on two rows.
TEST(PlayerTest, ClosedOrDestroyedWindowsEndTheirEnginesAndTheLastEndsThePlay) {
  Desktop desktop;
  ASSERT_TRUE(desktop.ok());
  const std::string png = TempPath("closed.png");
  const int width = desktop.screen_width() / 2 + 8;
  Background player;
  StartPlayer("--duration 60 --windows 2 --surface " + std::to_string(width) +
              "x48 --id closing --screenshot " + png, ::testing::TempDir(), &player);
  const Window first = desktop.WaitForWindow("closing-1");
  const Window second = desktop.WaitForWindow("closing-2");
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  ASSERT_TRUE(desktop.WaitForPicture(first, width / 2, 24));
  ASSERT_TRUE(desktop.WaitForPicture(second, width / 2, 24));
  int x = -1, y = -1;  // placed before the play began
  desktop.Position(second, &x, &y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 48);
  desktop.RequestClose(first);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(waitpid(player.pid, nullptr, WNOHANG), 0) << "one window closed ended the play";
  desktop.Destroy(second);
  const PlayerRun run = Finish(player);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_THAT(run.output, HasSubstr("2 windows"));
  EXPECT_THAT(run.output, HasSubstr("screenshot " + png + " skipped: every window was closed"));
}

// A window resized by its user: the picture follows at once (fit: the 4:3
// pattern in an 8:3 window gets bars left and right instead of none), and
// the screenshot has the window's new size.
TEST(PlayerTest, AResizedWindowIsDrawnAndShotAtItsNewSize) {
  Desktop desktop;
  ASSERT_TRUE(desktop.ok());
  const std::string png = TempPath("resized.png");
  Background player;
  StartPlayer("--loop --surface 160x120 --id resizing --screenshot " + png, ::testing::TempDir(),
              &player);
  const Window window = desktop.WaitForWindow("resizing");
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(desktop.WaitForPicture(window, 80, 60));
  desktop.Resize(window, 240, 90);
  bool followed = false;
  for (int attempt = 0; attempt < 100 && !followed; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    followed = desktop.Pixel(window, 20, 45) == 0 && desktop.Pixel(window, 120, 45) != 0 &&
               desktop.Pixel(window, 120, 85) != 0;
  }
  EXPECT_TRUE(followed) << "the picture did not follow the window to 240x90";
  kill(player.pid, SIGINT);
  const PlayerRun run = Finish(player);
  EXPECT_EQ(run.status, 130) << run.output;
  int w = 0, h = 0;
  std::vector<uint32_t> pixels;
  ASSERT_TRUE(ReadPng(png, &w, &h, &pixels));
  EXPECT_EQ(w, 240);
  EXPECT_EQ(h, 90);
}

// SIGINT, SIGTERM and SIGHUP end the play as closing it does: the summary,
// the log and the figures are written, and the status is the conventional
// one. A signal, q or a close ends the play at once, also in the middle of
// a frame interval of a minute (a rate that asks for years or 100 s is
// capped, and said so), draws no further frame, and the time reported is
// the time played. Behind a slow listener the log still gets every line,
// the teardown's too, and holds what was counted; with the reader of the
// player's output gone (a terminal's pipeline closed) the play still ends
// with its reports.
TEST(PlayerTest, StopsEndThePlayAtOnceWithItsReportsAndTheConventionalStatus) {
  Desktop desktop;
  ASSERT_TRUE(desktop.ok());
  enum class Stop { kSignal, kKey, kClose };
  const struct {
    Stop how;
    int signal;
    std::string args, warning;
    int status;
    bool reader_gone;
  } cases[] = {
      {Stop::kSignal, SIGINT, "--loop --slow-listener 20", "", 130, false},
      {Stop::kSignal, SIGTERM, "--fps 1/1000000000",
       "warning: frames 1000000000 s apart are shown 60 s apart", 143, false},
      {Stop::kKey, 0, WriteY4m("hundred_s.y4m", 64, 48, 3, 0, "F1:100"),
       "warning: frames 100 s apart are shown 60 s apart", 0, false},
      {Stop::kClose, 0, "--fps 0.1", "", 0, false},
      {Stop::kSignal, SIGHUP, "--loop --slow-listener 20", "", 129, true},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    const std::string id = "stop" + std::to_string(i);
    const std::string log = TempPath(id + ".log"), stats = TempPath(id + ".stats");
    std::ofstream(log) << "an earlier run's line\n";  // --log starts the file afresh
    remove(stats.c_str());
    Background player;
    StartPlayer(c.args + " --surface 64x48 --id " + id + " --log " + log + " --stats " + stats,
                ::testing::TempDir(), &player);
    // A file's window is titled with its name; the pattern's keeps its id.
    const std::string input = c.args.substr(0, c.args.find(' '));
    const Window window =
        desktop.WaitForWindow(input[0] == '/' ? input.substr(input.rfind('/') + 1) : id);
    ASSERT_NE(window, 0u) << c.args;
    ASSERT_TRUE(desktop.WaitForPicture(window, 32, 24)) << c.args;
    if (c.reader_gone) {
      close(player.output);
      player.output = -1;
    }
    const auto asked = std::chrono::steady_clock::now();
    if (c.how == Stop::kSignal)
      kill(player.pid, c.signal);
    else if (c.how == Stop::kKey)
      desktop.Key(window, XK_q);
    else
      desktop.RequestClose(window);
    const PlayerRun run = Finish(player);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - asked;
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.output;
    EXPECT_LT(took.count(), 20) << c.args << ": the stop waited out the frame's interval";
    const std::string lines = ReadFile(log);
    EXPECT_THAT(lines, HasSubstr("Export: ."));
    EXPECT_THAT(lines, HasSubstr("~PluginRender"));  // the teardown's lines too
    EXPECT_THAT(lines, Not(HasSubstr("an earlier run's line")));
    const std::string figures = ReadFile(stats);
    EXPECT_THAT(figures, HasSubstr("player.status: " + std::to_string(c.status) + "\n"));
    // What the file holds is what was counted.
    const long long in_file = std::count(lines.begin(), lines.end(), '\n');
    EXPECT_THAT(figures, HasSubstr("player.log_lines: " + std::to_string(in_file) + "\n"));
    if (c.reader_gone)
      continue;
    EXPECT_THAT(run.output, HasSubstr(c.warning));
    // (A line the runtime logs as the last delivery ends, a slow-dispatch
    // warning, may be reported as still queued.)
    EXPECT_THAT(run.output, HasSubstr("(" + std::to_string(in_file) + " lines delivered"));
    const size_t summary = run.output.find("played ");
    ASSERT_NE(summary, std::string::npos) << run.output;
    const size_t in = run.output.find(" in ", summary);
    long long frames = 0;
    double seconds = 0;
    ASSERT_EQ(sscanf(run.output.c_str() + summary, "played %lld", &frames), 1) << run.output;
    ASSERT_EQ(sscanf(run.output.c_str() + in, " in %lf s", &seconds), 1) << run.output;
    if (c.args.find("--loop") == std::string::npos) {
      EXPECT_EQ(frames, 1) << c.args << "\n" << run.output;
      EXPECT_LT(seconds, 15) << c.args << ": frame time reported, not the time played";
    }
  }
}

// Space pauses and resumes: the frames that fell due during the pause are
// not dropped on resuming. While paused, a scale key redraws the held frame
// at once (fill: the black bars of fit go), c captures it at once and says
// where it went, and a resize draws it again.
TEST(PlayerTest, PauseHoldsTheFrameTakesKeysAtOnceAndResumesWhereItStopped) {
  Desktop desktop;
  ASSERT_TRUE(desktop.ok());
  const std::string dir = TempPath("keys");
  mkdir(dir.c_str(), 0755);
  for (const std::string& name : FilesIn(dir))
    remove((dir + "/" + name).c_str());
  Background player;
  StartPlayer("--frames 20 --fps 10 --surface 160x120 --id keys", dir, &player);
  const Window window = desktop.WaitForWindow("keys");
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(desktop.WaitForPicture(window, 80, 60));
  desktop.Key(window, XK_space);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(desktop.Pixel(window, 80, 2), 0u) << "fit leaves a black bar above 16:9 in 4:3";
  // Turned a quarter, the held frame stands 9:16 in the middle of the 4:3
  // window, reaching its top.
  desktop.Key(window, XK_r);
  uint32_t top = 0;
  for (int attempt = 0; attempt < 100 && top == 0; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    top = desktop.Pixel(window, 80, 2);
  }
  EXPECT_NE(top, 0u) << "the held frame was not drawn again turned";
  EXPECT_EQ(desktop.Pixel(window, 20, 60), 0u) << "a turned 16:9 frame leaves bars at the sides";
  desktop.Key(window, XK_3);
  uint32_t bar = 0;
  for (int attempt = 0; attempt < 100 && bar == 0; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    bar = desktop.Pixel(window, 40, 2);
  }
  EXPECT_NE(bar, 0u) << "the held frame was not drawn again with fill";
  // The held frame is captured at once, not the next one after resuming.
  desktop.Key(window, XK_c);
  std::vector<std::string> files;
  for (int attempt = 0; attempt < 200 && files.empty(); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    files = FilesIn(dir);
  }
  ASSERT_EQ(files.size(), 1u) << "no capture while paused: " << ::testing::PrintToString(files);
  // A capture the module could not write is reported as failed, with the
  // system's reason, whatever stands at its path: here the full device.
  const std::string shot = files[0].substr(0, files[0].rfind('.'));
  ASSERT_EQ(symlink("/dev/full", (dir + "/" + shot + ".bmp").c_str()), 0);
  desktop.Key(window, XK_b);
  // Resized while paused, the window shows the held frame at its new size
  // (fill: no bars), not black.
  desktop.Resize(window, 240, 90);
  uint32_t right = 0;
  for (int attempt = 0; attempt < 100 && right == 0; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    right = desktop.Pixel(window, 220, 45);
  }
  EXPECT_NE(right, 0u) << "the held frame was not drawn again after a resize";
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));  // 20 frames fall due
  desktop.Key(window, XK_space);
  const PlayerRun run = Finish(player);
  EXPECT_EQ(run.status, 3) << run.output;  // the BMP's capture failed
  EXPECT_THAT(run.output, HasSubstr(" to " + shot + ".bmp failed: No space left on device"));
  long long played = 0, dropped = -1;
  const size_t summary = run.output.find("played ");
  ASSERT_NE(summary, std::string::npos) << run.output;
  ASSERT_EQ(sscanf(run.output.c_str() + summary, "played %lld frames in %*f s (%*f fps, 1 window, %lld",
                   &played, &dropped), 2) << run.output;
  EXPECT_LT(dropped, 10) << run.output;
  EXPECT_EQ(played + dropped, 20) << run.output;
  EXPECT_THAT(run.output, ::testing::ContainsRegex("capture capture-keys-[0-9]+\\.jpg \\(frame "));
  EXPECT_EQ(FilesIn(dir).size(), 2u);  // the JPEG and the link, no temporary file
}

// --- Inputs ---------------------------------------------------------------

// A pipe on standard input, read as y4m or, with --format, as raw I420; the
// y4m tags the player acts on: non-square pixels size the window (480x360
// at 4:3 pixels shows as 640x360, the frame stretched into it), and an
// interlaced input is named once.
TEST(PlayerTest, StandardInputAndTheY4mTagsArePlayed) {
  const std::string y4m = WriteY4m("stdin.y4m", 24, 18, 3);
  const PlayerRun piped = Player("- --fps 0", "", "cat " + y4m);
  EXPECT_EQ(piped.status, 0) << piped.output;
  EXPECT_THAT(piped.output, HasSubstr("played 3 frames"));

  const std::string raw = TempPath("stdin.i420");
  std::ofstream(raw) << std::string(2 * 16 * 16 * 3 / 2, '\x80');
  const PlayerRun raw_run = Player("--format=i420 --size 16x16 --fps 0 -", "", "cat " + raw);
  EXPECT_EQ(raw_run.status, 0) << raw_run.output;
  EXPECT_THAT(raw_run.output, HasSubstr("played 2 frames"));

  const std::string png = TempPath("anamorphic.png");
  const std::string tagged = WriteY4m("anamorphic.y4m", 48, 36, 2, 0, "F25:1 It A4:3 C420jpeg");
  const PlayerRun run = Player(tagged + " --fps 0 --screenshot " + png);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_THAT(run.output, HasSubstr("is interlaced (It): its frames are played as progressive"));
  int w = 0, h = 0;
  std::vector<uint32_t> pixels;
  ASSERT_TRUE(ReadPng(png, &w, &h, &pixels));
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 36);
  EXPECT_NE(pixels[18 * 64 + 1], 0u) << "the frame was not stretched to the window";
  // Fitted into a wider window, it keeps that shape: 64x36 in the middle
  // of 128x36, not its stored 48x36.
  ASSERT_EQ(Player(tagged + " --fps 0 --surface 128x36 --scale fit --screenshot " + png).status, 0);
  ASSERT_TRUE(ReadPng(png, &w, &h, &pixels));
  ASSERT_EQ(w, 128);
  EXPECT_EQ(pixels[18 * 128 + 31], 0u);
  EXPECT_NE(pixels[18 * 128 + 34], 0u) << "fitted in its stored shape, not its display shape";
  EXPECT_NE(pixels[18 * 128 + 93], 0u);
  EXPECT_EQ(pixels[18 * 128 + 96], 0u);

#ifdef NATIVERENDER_TEST_FFMPEG
  // Layouts other than 8-bit 4:2:0 play converted, with a note that names
  // the conversion.
  const struct {
    const char* tag;
    const char* note;
  } layouts[] = {{"C444", "converting yuv444p to yuv420p"},
                 {"C420p10", "converting yuv420p10le to yuv420p"}};
  for (const auto& layout : layouts) {
    const std::string path = TempPath(std::string("layout_") + layout.tag + ".y4m");
    std::ofstream out(path, std::ios::binary);
    out << "YUV4MPEG2 W16 H16 F25:1 " << layout.tag << "\n";
    for (int n = 0; n < 2; ++n)  // 768 bytes each way: 10-bit samples of 257
      out << "FRAME\n" << std::string(16 * 16 * 3, '\x01');
    out.close();
    const PlayerRun converted = Player(path + " --fps 0");
    EXPECT_EQ(converted.status, 0) << converted.output;
    EXPECT_THAT(converted.output, HasSubstr(path + ": " + layout.note));
    EXPECT_THAT(converted.output, HasSubstr("played 2 frames"));
  }

  // Read once, as it comes, from its first byte: a container on standard
  // input and through /dev/stdin, a y4m file through a FIFO (longer than a
  // first read takes). A pipe cannot seek.
  const std::string mkv = TempPath("piped.mkv");
  ASSERT_EQ(WriteClip(mkv, Clip{"matroska", "libx264"}), "");
  const std::string fifo = TempPath("input.fifo");
  remove(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string frames = WriteY4m("fifo.y4m", 64, 48, 6);
  const struct {
    std::string args, input;
    int status;
    std::string message;
  } pipes[] = {
      {"- --fps 0", "cat " + mkv, 0, "played 5 frames"},
      {"/dev/stdin --fps 0", "cat " + mkv, 0, "played 5 frames"},
      {fifo + " --fps 0", "cat " + frames + " > " + fifo + " & true", 0, "played 6 frames"},
      {"- --start 0.1", "cat " + mkv, 2, "--start: standard input cannot seek"},
  };
  for (const auto& c : pipes) {
    const PlayerRun run = Player(c.args, "", c.input);
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.output;
    EXPECT_THAT(run.output, HasSubstr(c.message)) << c.args;
  }
#endif

  // Wider than the screen: the window shrinks to fit it, keeping its shape.
  Desktop desktop;
  ASSERT_TRUE(desktop.ok());

  // A title outside ASCII: WM_NAME in an encoding X names (Latin-1 or
  // compound text), not raw UTF-8; the window has a class.
  const std::string accented = WriteY4m("caf\xc3\xa9.y4m", 16, 16, 1);
  Background titled;
  StartPlayer(accented + " --frames 10 --fps 10 --loop", ::testing::TempDir(), &titled);
  const Window named = desktop.WaitForTitle("player_test_caf\xc3\xa9.y4m");
  EXPECT_NE(named, 0u) << "no window of that WM_NAME, decoded";
  XClassHint hint{};
  if (named != 0 && desktop.ClassHint(named, &hint)) {
    EXPECT_STREQ(hint.res_name, "nativerender-player");
    EXPECT_STREQ(hint.res_class, "Nativerender-player");
    XFree(hint.res_name);
    XFree(hint.res_class);
  } else {
    ADD_FAILURE() << "no WM_CLASS";
  }
  EXPECT_EQ(Finish(titled).status, 0);
  const int screen = desktop.screen_width();
  const PlayerRun wide = Player(WriteY4m("wide.y4m", 2 * screen, 16, 1) + " --screenshot " + png);
  EXPECT_EQ(wide.status, 0) << wide.output;
  ASSERT_TRUE(ReadPng(png, &w, &h, &pixels));
  EXPECT_EQ(w, screen);
  EXPECT_EQ(h, 8);
}

#ifdef NATIVERENDER_TEST_FFMPEG
// --- Containers --------------------------------------------------------------

// Frame n of a clip is flat: Y 16 + 4n, Cb 96, Cr 160 (support/media_clip.h).
// Its red on the window, limited range: 1.164 (Y - 16) + 1.596 (Cr - 128)
// by BT.601, + 1.793 (Cr - 128) by BT.709.
double Red601(int n) {
  return 1.164 * (Luma(n) - 16) + 1.596 * 32;
}

// An H.264 mp4 with padded rows (98 samples a row) and BT.709 tags plays as
// the decoder made it, in the stream's colours, and the figures name what
// played. Damaged files play what they can, say what was wrong in one line
// and end with status 3: one whose data stops early (its index first), one
// with packets overwritten in the middle.
TEST(PlayerTest, ContainerFilesPlayInTheirColoursAndDamageIsReported) {
  Clip tagged{"mp4", "libx264"};
  tagged.width = 98;
  tagged.height = 56;
  tagged.colorspace = AVCOL_SPC_BT709;
  const std::string mp4 = TempPath("h264.mp4"), png = TempPath("h264.png"),
                    stats = TempPath("h264.stats");
  ASSERT_EQ(WriteClip(mp4, tagged), "");
  const PlayerRun run = Player(mp4 + " --fps 0 --screenshot " + png + " --stats " + stats);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_THAT(run.output, HasSubstr("played 5 frames"));
  int w = 0, h = 0;
  std::vector<uint32_t> pixels;
  ASSERT_TRUE(ReadPng(png, &w, &h, &pixels));
  ASSERT_EQ(w, 98);
  const int red = static_cast<int>(pixels[28 * 98 + 49] >> 16);
  EXPECT_NEAR(red, 1.164 * (Luma(4) - 16) + 1.793 * 32, 3) << "not drawn by BT.709, as tagged";
  const std::string figures = ReadFile(stats);
  for (const char* line :
       {"player.input: player_test_h264.mp4\n", "player.codec: h264\n", "player.size: 98x56\n"})
    EXPECT_THAT(figures, HasSubstr(line));
  EXPECT_THAT(figures, ::testing::ContainsRegex("player.first_frame_ms: [1-9][0-9]*\\.[0-9]\n"));
  EXPECT_THAT(figures, ::testing::ContainsRegex("player.frame_jitter_ms: [0-9]+\\.[0-9]+\n"));

  // NV12 and NV21 as hardware-style decoders hand them over (raw video in
  // Matroska): pushed as they are, with no conversion and no note, drawn
  // and captured in their colours (untagged, below HD: BT.601).
  for (const AVPixelFormat format : {AV_PIX_FMT_NV12, AV_PIX_FMT_NV21}) {
    const std::string mkv = TempPath("pairs.mkv"), bmp = TempPath("pairs.bmp");
    ASSERT_EQ(WriteClip(mkv, Clip{"matroska", "rawvideo", format}), "");
    const PlayerRun pairs = Player(mkv + " --fps 0 --capture 5:" + bmp + " --screenshot " + png);
    ASSERT_EQ(pairs.status, 0) << pairs.output;
    EXPECT_THAT(pairs.output, HasSubstr("played 5 frames"));
    EXPECT_THAT(pairs.output, Not(HasSubstr("converting")));
    ASSERT_TRUE(ReadPng(png, &w, &h, &pixels));
    ASSERT_EQ(w * 100 + h, 6448);
    EXPECT_NEAR(static_cast<int>(pixels[24 * 64 + 32] >> 16), Red601(4), 3)
        << (format == AV_PIX_FMT_NV12 ? "NV12" : "NV21");
    EXPECT_EQ(FileSize(bmp), 58 + 64 * 48 * 4);
  }

  // Cut short, and damaged in the middle (WriteDamagedClips).
  const std::string early = TempPath("early.mp4"), damaged = TempPath("damaged.mp4");
  ASSERT_EQ(WriteDamagedClips(TempPath("intact.mp4"), early, damaged), "");
  for (const std::string& path : {early, damaged}) {
    const PlayerRun played = Player(path + " --fps 0");
    EXPECT_EQ(played.status, 3) << played.output;
    EXPECT_THAT(played.output, ::testing::ContainsRegex(
                                   path == early ? ": (the file is cut short|its frames stop at)"
                                                 : ": the decoder failed .* in all, skipped\\)"));
    size_t lines = 0;
    for (size_t at = 0; (at = played.output.find(path + ": ", at)) != std::string::npos; ++at)
      ++lines;
    EXPECT_EQ(lines, 1u) << played.output;
  }
}

// A variable-rate file shows its frames at their own times, also from
// --start (the frames of 0.2, 0.22 and 0.5 s: at least 0.3 s from the
// first to the last), and a file loops, by frames or for a time. Its audio
// is named and left out.
TEST(PlayerTest, ContainerFramesPlayAtTheirOwnTimesFromAStartAndLoop) {
  Clip variable{"matroska", "libx264"};
  variable.times_ms = {0, 40, 80, 200, 220, 500};
  variable.audio = true;
  const std::string mkv = TempPath("vfr.mkv");
  ASSERT_EQ(WriteClip(mkv, variable), "");
  const struct {
    std::string args, played;
    double min_seconds;
    long long min_frames;  // played and dropped
  } cases[] = {{" --start 0.1", "played 3 frames", 0.29, 3},
               {" --fps 0 --loop --frames 14", "played 14 frames", 0, 14},
               {" --duration 1.2", "played ", 0, 7}};
  for (const auto& c : cases) {
    const PlayerRun run = Player(mkv + c.args);
    EXPECT_EQ(run.status, 0) << c.args << "\n" << run.output;
    EXPECT_THAT(run.output, HasSubstr(mkv + ": audio ignored: the pcm_s16le stream is not played"));
    EXPECT_THAT(run.output, HasSubstr(c.played)) << c.args;
    long long frames = 0, dropped = 0;
    double seconds = 0;
    const size_t summary = run.output.find("played ");
    const size_t counts = run.output.find(" window, ", summary);
    ASSERT_NE(counts, std::string::npos) << run.output;
    ASSERT_EQ(
        sscanf(run.output.c_str() + summary, "played %lld frames in %lf s", &frames, &seconds), 2)
        << run.output;
    ASSERT_EQ(sscanf(run.output.c_str() + counts, " window, %lld dropped", &dropped), 1);
    EXPECT_GE(seconds, c.min_seconds) << c.args << ": frames not held to their times";
    EXPECT_GE(frames + dropped, c.min_frames) << c.args << "\n" << run.output;
  }

  // The last frame is held for its length: a still image (no length
  // stated) a second, a frame of a 1 fps clip its second. A one-frame file
  // loops at its frame's length (40 ms), not as fast as it decodes. A jump
  // of an hour in a transport stream's times is said once and played
  // across at the frames' pace.
  Clip image{"mjpeg", "mjpeg", AV_PIX_FMT_YUVJ420P};
  image.times_ms = {0};
  Clip slow{"mp4", "libx264"};
  slow.times_ms = {0, 1000};
  slow.last_ms = 1000;
  Clip one{"mp4", "libx264"};
  one.times_ms = {0};
  Clip jumping{"mpegts", "libx264"};
  jumping.times_ms = {0, 40, 80, 3600080, 3600120, 3600160};
  const struct {
    Clip clip;
    const char* name;
    std::string args, played;
    double min_seconds, max_seconds;
    const char* said;
  } timed[] = {
      {image, "still.mjpeg", "", "played 1 frame ", 0.95, 1e9, nullptr},
      {slow, "slow.mp4", "", "played 2 frames", 1.95, 1e9, nullptr},
      {one, "one.mp4", " --loop --frames 25", "played ", 0.9, 1e9, nullptr},
      {jumping, "jump.ts", "", "played ", 0, 30, ": timestamps jump by 3600 s after frame 3"},
  };
  for (const auto& c : timed) {
    const std::string path = TempPath(c.name);
    ASSERT_EQ(WriteClip(path, c.clip), "") << c.name;
    const PlayerRun run = Player(path + c.args);
    EXPECT_EQ(run.status, 0) << c.name << "\n" << run.output;
    EXPECT_THAT(run.output, HasSubstr(c.played)) << c.name;
    if (c.said != nullptr) {
      EXPECT_THAT(run.output, HasSubstr(c.said)) << c.name;
    }
    double seconds = 0;
    const size_t summary = run.output.find(" in ", run.output.find("played "));
    ASSERT_NE(summary, std::string::npos) << run.output;
    ASSERT_EQ(sscanf(run.output.c_str() + summary, " in %lf s", &seconds), 1) << run.output;
    EXPECT_GE(seconds, c.min_seconds) << c.name << "\n" << run.output;
    EXPECT_LT(seconds, c.max_seconds) << c.name << "\n" << run.output;
  }
}

// Keys move through a file while it is paused, and each new frame shows at
// once: p pauses, right goes 5 s on, . shows the next frame, left goes 5 s
// back, down 60 s back (to the start); nothing moves on by itself until
// Esc ends the play. The window is titled with the file's name.
TEST(PlayerTest, SeekAndStepKeysMoveThroughAPausedFile) {
  Desktop desktop;
  ASSERT_TRUE(desktop.ok());
  Clip seconds{"mp4", "libx264"};  // a frame a second, 13 s
  seconds.times_ms.clear();
  for (int n = 0; n < 13; ++n)
    seconds.times_ms.push_back(int64_t{1000} * n);
  seconds.key_interval = 4;
  const std::string mp4 = TempPath("seek.mp4");
  ASSERT_EQ(WriteClip(mp4, seconds), "");
  Background player;
  StartPlayer(mp4 + " --surface 64x48", ::testing::TempDir(), &player);
  const Window window = desktop.WaitForWindow("player_test_seek.mp4");
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(desktop.WaitForPicture(window, 32, 24));
  desktop.Key(window, XK_p);
  auto frame_on_show = [&] {
    const double red = desktop.Pixel(window, 32, 24) >> 16 & 0xff;
    return lround((red - Red601(0)) / (Red601(1) - Red601(0)));
  };
  auto shows = [&](long frame) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      if (frame_on_show() == frame)
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  };
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const long paused_at = frame_on_show();
  ASSERT_LE(paused_at, 6);
  const struct {
    KeySym key;
    long frame;
  } steps[] = {{XK_Right, paused_at + 5},
               {XK_period, paused_at + 6},
               {XK_Left, paused_at + 1},
               {XK_Down, 0}};
  for (const auto& step : steps) {
    desktop.Key(window, step.key);
    EXPECT_TRUE(shows(step.frame)) << XKeysymToString(step.key) << ": frame " << frame_on_show()
                                   << " on show, not " << step.frame;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(frame_on_show(), 0) << "the play moved on while paused";
  desktop.Key(window, XK_Escape);
  const PlayerRun run = Finish(player);
  EXPECT_EQ(run.status, 0) << run.output;
}
#endif  // NATIVERENDER_TEST_FFMPEG

}  // namespace
