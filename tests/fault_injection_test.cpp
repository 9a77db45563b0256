// Faults from outside the module: the graphics stack failing at each step
// of building a drawing environment, a display terminated under a core, an
// engine thread inside a frame call while the UI thread destroys the
// surface, and a host log listener that blocks. Each must end with a clear
// log line and a module that goes on working.

#include <EGL/egl.h>
#include <GLES2/gl2.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "desktop/x11_surface.h"
#include "desktop/xcomponent_host.h"
#include "quon_eglcore.h"
#include "quon_render.h"
#include "quon_render_logfile.h"
#include "rtc_base/logging.h"
#include "support/egl_faults.h"
#include "support/eglcore_peer.h"
#include "support/log_capture.h"
#include "support/module_fixture.h"
#include "support/test_frame.h"

namespace {

using ohos_desktop::X11Surface;
using test_support::AnyContains;
using ::testing::Contains;

// A one-shot gate: threads wait until it opens.
class Gate {
 public:
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    cv_.notify_all();
  }
  // False when it stayed closed for `limit`.
  bool Wait(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, limit, [&] { return open_; });
  }
  bool IsOpen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
};

class FaultTest : public test_support::ModuleFixture {
 protected:
  void TearDown() override {
    FailStep(EglStep::kNone);
    ModuleFixture::TearDown();
  }
};

class GraphicsFaultTest : public FaultTest {
 protected:
  void SetUp() override {
    FaultTest::SetUp();
    test_support::RequireDisplay();
  }

  // Windows of one test are placed side by side: pixels of a covered
  // window cannot be read back.
  std::unique_ptr<X11Surface> Window(int w, int h, int x = 0) {
    auto surface = X11Surface::Create(w, h, "fault test", x, 0);
    EXPECT_NE(surface, nullptr);
    return surface;
  }

  // Draws a flat frame and waits until the window's centre shows its luma
  // as grey; false when it never does.
  static bool DrawsGrey(EGLCore& core, X11Surface& window, uint8_t luma) {
    const int w = window.width(), h = window.height();
    std::vector<uint8_t> y(static_cast<size_t>(w) * h, luma);
    std::vector<uint8_t> uv(static_cast<size_t>((w + 1) / 2) * ((h + 1) / 2), 128);
    core.onRenderData(y.data(), uv.data(), uv.data(), w, h);
    const auto grey = [&](const std::vector<uint32_t>& pixels) {
      const uint32_t centre = pixels[static_cast<size_t>(h / 2) * w + w / 2];
      return std::abs(static_cast<int>(centre >> 8 & 0xff) - luma) <= test_support::kShaderRounding;
    };
    const std::vector<uint32_t> pixels = test_support::PixelsWhen(window, grey);
    return !pixels.empty() && grey(pixels);
  }
};

// --- The graphics stack failing at each step of environment creation -----------

struct StepCase {
  EglStep step;
  const char* name;
  const char* platform_line;  // the step's own line
};

const StepCase kStepCases[] = {
    {EglStep::kGetDisplay, "GetDisplay", "[NATIVE] EGLCore:: eglGetDisplay: unable to get EGL display"},
    {EglStep::kInitialize, "Initialize",
     "[NATIVE] EGLCore:: eglInitialize: unable to get initialize EGL display"},
    {EglStep::kChooseConfig, "ChooseConfig", "[NATIVE] EGLCore::eglChooseConfig: unable to choose configs"},
    {EglStep::kCreateSurface, "CreateSurface",
     "[NATIVE] EGLCore:: eglCreateWindowSurface: unable to create surface"},
    {EglStep::kCreateContext, "CreateContext", "[NATIVE] EGLCore::eglMakeCurrent failed"},
    {EglStep::kMakeCurrent, "MakeCurrent", "[NATIVE] EGLCore::eglMakeCurrent failed"},
    {EglStep::kCreateVertexShader, "CreateVertexShader",
     "[NATIVE] EGLCore1:: createProgram vertex error"},
    {EglStep::kCreateFragmentShader, "CreateFragmentShader",
     "[NATIVE] EGLCore1:: createProgram fragment error"},
    {EglStep::kCompileVertexShader, "CompileVertexShader",
     "[NATIVE] EGLCore1:: createProgram vertex_shader error"},
    {EglStep::kCompileFragmentShader, "CompileFragmentShader",
     "[NATIVE] EGLCore1:: createProgram fragment_shader error"},
    {EglStep::kCreateProgram, "CreateProgram", "[NATIVE] EGLCore1:: createProgram program error"},
    {EglStep::kLinkProgram, "LinkProgram",
     "[NATIVE] EGLCore1:: createProgram linkedStatus==error=linkedStatus[0]"},
};

// For every step: the init fails with the step's line, drawing on the
// half-built core does no harm, release tears down what exists, and once the
// fault is gone the same core builds and draws.
TEST_F(GraphicsFaultTest, EveryEnvironmentStepCanFailAndTheCoreRecovers) {
  auto window = Window(24, 24);
  ASSERT_NE(window, nullptr);
  const std::vector<uint8_t> y(24 * 24, 30), uv(12 * 12, 128);
  for (const StepCase& c : kStepCases) {
    SCOPED_TRACE(c.name);
    EGLCore core;
    FailStep(c.step);
    EXPECT_FALSE(core.EglContextInit(window->NativeWindow(), 24, 24));
    FailStep(EglStep::kNone);
    const auto lines = PlatformLines();
    EXPECT_THAT(lines, Contains(c.platform_line));
    if (c.step >= EglStep::kCreateVertexShader) {
      EXPECT_THAT(lines, Contains("[NATIVE] EGLCore::CreateProgram: unable to create program"));
    }
    EXPECT_EQ(Peek(core).program(), 0u);

    core.onRenderData(y.data(), uv.data(), uv.data(), 24, 24);
    core.FillBlack();
    core.Release();
    EXPECT_EQ(Peek(core).display(), nullptr);
    EXPECT_EQ(Peek(core).surface(), nullptr);
    EXPECT_EQ(Peek(core).context(), nullptr);

    ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 24, 24));
    EXPECT_TRUE(DrawsGrey(core, *window, static_cast<uint8_t>(60 + 10 * static_cast<int>(c.step))));
  }
}

// A program that fails to build must not leave its shaders in the context:
// every later attempt would add two more.
TEST_F(GraphicsFaultTest, FailedProgramLeavesNoShadersBehind) {
  auto window = Window(16, 16);
  ASSERT_NE(window, nullptr);
  for (EglStep step : {EglStep::kCreateFragmentShader, EglStep::kCompileVertexShader,
                       EglStep::kCompileFragmentShader, EglStep::kCreateProgram,
                       EglStep::kLinkProgram}) {
    EGLCore core;
    FailStep(step);
    EXPECT_FALSE(core.EglContextInit(window->NativeWindow(), 16, 16));
    FailStep(EglStep::kNone);
    ASSERT_NE(Peek(core).context(), nullptr);
    const EGLCoreTestPeer state = Peek(core);
    ASSERT_TRUE(eglMakeCurrent(state.display(), state.surface(), state.surface(), state.context()));
    for (GLuint name = 1; name <= 16; ++name)
      EXPECT_FALSE(glIsShader(name)) << "shader " << name << " after step "
                                     << static_cast<int>(step);
    eglMakeCurrent(Peek(core).display(), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    core.Release();
  }
}

// The colour program is built by the default program's steps, on the first
// frame that needs it. When a step fails, frames go on with the default
// program, one line says so, none of the default program's step lines is
// written, and no shader is left behind.
TEST_F(GraphicsFaultTest, ColourProgramThatCannotBeBuiltFallsBackToTheDefault) {
  auto window = Window(16, 16);
  ASSERT_NE(window, nullptr);
  for (EglStep step :
       {EglStep::kCreateFragmentShader, EglStep::kCompileVertexShader, EglStep::kLinkProgram}) {
    SCOPED_TRACE(static_cast<int>(step));
    EGLCore core;
    ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 16, 16));
    const auto shaders = [&core] {  // the default program's stay while it lives
      const EGLCoreTestPeer state = Peek(core);
      std::vector<GLuint> names;
      eglMakeCurrent(state.display(), state.surface(), state.surface(), state.context());
      for (GLuint name = 1; name <= 16; ++name)
        if (glIsShader(name))
          names.push_back(name);
      eglMakeCurrent(state.display(), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
      return names;
    };
    const std::vector<GLuint> before = shaders();
    core.SetColorDescription(/*limitedRange=*/true, /*bt709=*/false);
    PlatformLines();
    sink_.TakeLines();
    FailStep(step);
    // Full range draws luma 200 as 200; the limited-range program would
    // stretch it to 214.
    EXPECT_TRUE(DrawsGrey(core, *window, 200));
    FailStep(EglStep::kNone);
    EXPECT_FALSE(AnyContains(PlatformLines(), "EGLCore1::"));
    EXPECT_TRUE(
        AnyContains(sink_.TakeLines(), ": onRenderData: the colour program could not be built"));
    EXPECT_EQ(shaders(), before);
    core.Release();
  }
}

// Someone terminates the display every core shares: the core that was
// drawing reports each failed operation and forgets the objects that died
// with the display, and a core built afterwards draws, untouched by the
// stale core's release (the driver may give the new core's objects the
// addresses of the dead ones).
TEST_F(GraphicsFaultTest, DisplayTerminatedUnderACore) {
  auto first_window = Window(20, 20);
  auto second_window = Window(20, 20, 100);
  ASSERT_NE(first_window, nullptr);
  ASSERT_NE(second_window, nullptr);
  EGLCore stale;
  ASSERT_TRUE(stale.EglContextInit(first_window->NativeWindow(), 20, 20));
  ASSERT_TRUE(DrawsGrey(stale, *first_window, 90));

  ASSERT_TRUE(eglTerminate(eglGetDisplay(EGL_DEFAULT_DISPLAY)));
  PlatformLines();
  sink_.TakeLines();
  const std::vector<uint8_t> y(20 * 20, 200), uv(10 * 10, 128);
  stale.onRenderData(y.data(), uv.data(), uv.data(), 20, 20);
  stale.FillBlack();
  EXPECT_THAT(PlatformLines(), Contains("[NATIVE] EGLCore shard contxt makecureent failed!!!"));
  const auto traces = sink_.TakeLines();
  EXPECT_TRUE(AnyContains(traces, ": onRenderData: makecureent failed"));
  EXPECT_TRUE(AnyContains(traces, ": FillBlack: makecureent failed"));
  EXPECT_TRUE(AnyContains(traces, ": onRenderData: the display was terminated; surface "));
  EXPECT_EQ(Peek(stale).surface(), nullptr);
  EXPECT_EQ(Peek(stale).context(), nullptr);

  EGLCore fresh;
  ASSERT_TRUE(fresh.EglContextInit(second_window->NativeWindow(), 20, 20));
  ASSERT_TRUE(DrawsGrey(fresh, *second_window, 150));
  stale.Release();  // its objects died with the display; the display stays
  const auto platform = PlatformLines();
  EXPECT_THAT(platform, Contains("EGLCore Release eglDestroySurface failed"));
  EXPECT_THAT(platform, Contains("[NATIVE] egl Release end"));
  EXPECT_TRUE(DrawsGrey(fresh, *second_window, 60));
}

// --- An engine thread inside a frame call while the surface goes ---------------------

// A frame whose planes or copy are handed out only when the test says so:
// the engine thread is held inside RenderFrame at a chosen point.
class HeldFrame : public TestFrame {
 public:
  enum class HoldIn { kPlanes, kClone };
  HeldFrame(HoldIn where, Counters* counters) : TestFrame(32, 32, counters, 100), where_(where) {}

  const uint8_t* YPlane() const override {
    if (where_ == HoldIn::kPlanes)
      Hold();
    return TestFrame::YPlane();
  }
  rtc::IVideoFrame* Clone() const override {
    if (where_ == HoldIn::kClone)
      Hold();
    return TestFrame::Clone();
  }

  Gate entered;  // the engine thread is inside the call
  Gate release;  // lets it go on

 private:
  void Hold() const {
    auto* self = const_cast<HeldFrame*>(this);
    self->entered.Open();
    self->release.Wait();
  }
  HoldIn where_;
};

class DestroyRecorder : public rtc::DestroyObserver {
 public:
  void OnDestroy(rtc::DestroyNotify*) override { ++told; }
  std::atomic<int> told{0};
};

void PrintTo(HeldFrame::HoldIn where, std::ostream* out) {
  *out << (where == HeldFrame::HoldIn::kPlanes ? "held in the planes" : "held in the copy");
}

// Processor time the calling thread has used, in milliseconds.
int64_t ThreadCpuMs() {
  timespec used{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
  return static_cast<int64_t>(used.tv_sec) * 1000 + used.tv_nsec / 1000000;
}

class InFlightTest : public GraphicsFaultTest,
                     public ::testing::WithParamInterface<HeldFrame::HoldIn> {};

// The UI thread's destroy waits for the frame call to leave, wherever in
// the call the engine thread is; the engine is told once and nothing is
// touched after it is gone (ASan would see it).
TEST_P(InFlightTest, DestroyWaitsForTheFrameCallInProgress) {
  auto window = Window(32, 32);
  ASSERT_NE(window, nullptr);
  const std::string id = "in-flight";
  ohos_desktop::ScopedXComponent component(
      ohos_desktop::CreateXComponent(id, 32, 32, window->NativeWindow()));
  std::string name = id;
  PluginRender* render = PluginRender::GetInstance(name);
  render->SetNativeXComponent(component.get());
  ohos_desktop::DispatchSurfaceCreated(component.get());
  DestroyRecorder engine;
  render->AddObserver(&engine);
  const std::string capture = ::testing::TempDir() + "in_flight_capture.jpg";
  remove(capture.c_str());
  render->EnableCapture(true);
  render->CaptureImage(capture, 80);

  TestFrame::Counters counters;
  HeldFrame frame(GetParam(), &counters);
  std::thread engine_thread([&] { render->RenderFrame(&frame); });
  ASSERT_TRUE(frame.entered.Wait());

  std::atomic<bool> destroyed{false};
  int64_t ui_cpu_ms = 0;
  std::thread ui_thread([&] {
    const int64_t before = ThreadCpuMs();
    ohos_desktop::DispatchSurfaceDestroyed(component.get());
    ui_cpu_ms = ThreadCpuMs() - before;
    destroyed = true;
  });
  // However long the engine stays inside, the destroy does not finish; and
  // it sleeps meanwhile (a capture write can take a while).
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(destroyed.load());
  frame.release.Open();
  engine_thread.join();
  ui_thread.join();

  EXPECT_TRUE(destroyed.load());
  EXPECT_LT(ui_cpu_ms, 100) << "milliseconds of processor time the waiting destroy used";
  EXPECT_EQ(engine.told.load(), 1);
  EXPECT_EQ(PluginRender::FindInstance(id), nullptr);
  // A capture that was under way when the destroy came completed.
  if (GetParam() == HeldFrame::HoldIn::kClone) {
    EXPECT_EQ(counters.copies_destroyed.load(), 1);
    EXPECT_EQ(access(capture.c_str(), F_OK), 0);
  }

  // The host goes on: the surface comes back and frames are drawn again.
  PluginRender* again = PluginRender::GetInstance(name);
  again->SetNativeXComponent(component.get());
  ohos_desktop::DispatchSurfaceCreated(component.get());
  TestFrame plain(32, 32, &counters, 235);
  again->RenderFrame(&plain);
  const auto white = [](const std::vector<uint32_t>& pixels) {
    return (pixels[16 * 32 + 16] >> 8 & 0xff) > 200;
  };
  const std::vector<uint32_t> pixels = test_support::PixelsWhen(*window, white);
  EXPECT_TRUE(!pixels.empty() && white(pixels));
  ohos_desktop::DispatchSurfaceDestroyed(component.get());
}

INSTANTIATE_TEST_SUITE_P(HeldInside, InFlightTest,
                         ::testing::Values(HeldFrame::HoldIn::kPlanes, HeldFrame::HoldIn::kClone),
                         [](const auto& info) {
                           return info.param == HeldFrame::HoldIn::kPlanes ? std::string("Planes")
                                                                           : std::string("Clone");
                         });

// --- A host log listener that blocks ---------------------------------------------------

// Blocks for a second in its first call; records every line.
class BlockingListener : public ILogRenderListener {
 public:
  void OnRenderLog(std::string line) override {
    if (!blocked_once_.exchange(true)) {
      in_call.Open();
      std::this_thread::sleep_for(std::chrono::seconds(1));
      returned = true;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(std::move(line));
  }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

  Gate in_call;
  std::atomic<bool> returned{false};

 private:
  std::atomic<bool> blocked_once_{false};
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Records lines; signals when a line with `awaited` text arrives.
class CountingListener : public ILogRenderListener {
 public:
  void OnRenderLog(std::string line) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (line.find("blocked ") != std::string::npos)
      lines_.push_back(line);
    if (line.find("last line") != std::string::npos)
      last.Open();
  }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  Gate last;

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

// While the listener blocks, two threads keep logging without waiting for
// it; replacing the listener waits for the blocked call, after which the old
// one is never called and the new one receives every line, in order.
TEST_F(FaultTest, ListenerBlockingForASecondHoldsUpNoLogger) {
  CountingListener next;
  BlockingListener blocking;
  auto sink = std::make_unique<CallbLogSink>();
  sink->Init();
  sink->SetListener("", &blocking);
  LOG(Info) << "first line";
  ASSERT_TRUE(blocking.in_call.Wait());

  constexpr int kPerThread = 1000;
  std::vector<std::thread> loggers;
  for (int t = 0; t < 2; ++t)
    loggers.emplace_back([t] {
      for (int i = 0; i < kPerThread; ++i)
        LOG(Info) << "blocked " << t << " " << i;
    });
  for (auto& logger : loggers)
    logger.join();
  EXPECT_FALSE(blocking.returned.load()) << "the loggers waited for the listener";

  sink->SetListener("", &next);
  EXPECT_TRUE(blocking.returned.load()) << "replaced while its call was in progress";
  const std::vector<std::string> before_swap = blocking.lines();
  LOG(Info) << "last line";
  ASSERT_TRUE(next.last.Wait());
  EXPECT_EQ(blocking.lines().size(), before_swap.size());

  // The old listener's lines, then the new one's: every line once, in order.
  std::vector<std::string> lines;
  for (const std::string& line : before_swap)
    if (line.find("blocked ") != std::string::npos)
      lines.push_back(line);
  for (const std::string& line : next.lines())
    lines.push_back(line);
  EXPECT_EQ(lines.size(), 2u * kPerThread);
  std::vector<int> next_index(2, 0);
  for (const std::string& line : lines) {
    const size_t at = line.find("blocked ");
    const int thread = line[at + 8] - '0';
    ASSERT_TRUE(thread == 0 || thread == 1) << line;
    EXPECT_EQ(line.substr(at), "blocked " + std::to_string(thread) + " " +
                                   std::to_string(next_index[thread]++) + "\n");
  }
  sink.reset();
}

// The sink goes while its listener is blocked: destruction waits for the
// call, and no call follows.
TEST_F(FaultTest, SinkDestroyedWhileListenerBlocks) {
  BlockingListener blocking;
  auto sink = std::make_unique<CallbLogSink>();
  sink->Init();
  sink->SetListener("", &blocking);
  LOG(Info) << "first line";
  ASSERT_TRUE(blocking.in_call.Wait());
  for (int i = 0; i < 100; ++i)
    LOG(Info) << "queued " << i;
  sink.reset();
  EXPECT_TRUE(blocking.returned.load());
  const size_t received = blocking.lines().size();
  LOG(Info) << "after the sink";
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(blocking.lines().size(), received);
}

}  // namespace
