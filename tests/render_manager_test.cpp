// PluginManager: the XComponent and renderer registries, scale types,
// native windows, and binding an XComponent through the module's init
// function with every failure the platform can report.

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "desktop/hilog_records.h"
#include "desktop/napi_host.h"
#include "desktop/xcomponent_host.h"
#include "engine/engine_hold.h"
#include "quon_eglcore.h"
#include "quon_renderManager.h"
#include "quon_render_registry.h"
#include "rtc_base/logging.h"
#include "support/eglcore_peer.h"
#include "support/log_capture.h"
#include "support/module_fixture.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ohos_desktop::NapiFunction;

class ManagerTest : public test_support::ModuleFixture {
 protected:
  void SetUp() override {
    ohos_desktop::SetHilogStderrEnabled(false);
    // Created first: making the manager starts the log sink, whose own lines
    // and logging configuration are not what these tests look at.
    manager_ = PluginManager::GetInstance();
    ModuleFixture::SetUp();
    ohos_desktop::ClearNapiFailures();
  }
  void TearDown() override {
    ohos_desktop::ClearNapiFailures();
    ModuleFixture::TearDown();
  }

  PluginManager* manager_ = nullptr;
};

// --- Registries ----------------------------------------------------------------------------

TEST_F(ManagerTest, SingletonIsCreatedOnceAndExported) {
  EXPECT_EQ(PluginManager::GetInstance(), manager_);
  EXPECT_EQ(PluginManager::m_instance, manager_);
}

TEST_F(ManagerTest, FindNeverCreatesGetDoes) {
  std::string id = "registry-a";
  EXPECT_EQ(manager_->FindRender(id), nullptr);
  EXPECT_EQ(manager_->FindRender(id), nullptr);
  PluginRender* render = manager_->GetRender(id);
  ASSERT_NE(render, nullptr);
  EXPECT_EQ(manager_->FindRender(id), render);
  EXPECT_EQ(manager_->GetRender(id), render);
  std::string empty;
  EXPECT_EQ(manager_->GetRender(empty), nullptr);
  EXPECT_EQ(manager_->FindRender(empty), nullptr);
  EXPECT_EQ(manager_->GetNativeWindow(empty), nullptr);
  EXPECT_EQ(manager_->FindRenderAndObserve(empty, nullptr), nullptr);
  ohos_desktop::ScopedXComponent component(ohos_desktop::CreateXComponent("", 4, 4, nullptr));
  manager_->SetNativeXComponent(empty, component.get());
  EXPECT_EQ(PluginManager::m_nativeXComponentMap.count(empty), 0u);
  for (const char* refused : {"GetRender: refused, the id is empty",
                              "FindRender: refused, the id is empty",
                              "FindRenderAndObserve: refused, the id is empty",
                              "SetNativeXComponent: refused, the id is empty"})
    EXPECT_TRUE(test_support::AnyContains(sink_.lines(), refused)) << refused;
  PluginRender::Release(id);
}

TEST_F(ManagerTest, ScaleTypesOneToThreeOnlyForRegisteredRenderers) {
  std::string id = "scale";
  EXPECT_FALSE(manager_->SetScaleType(id, 2));  // unregistered: no renderer made
  EXPECT_EQ(manager_->FindRender(id), nullptr);
  EXPECT_THAT(sink_.lines().back(),
              HasSubstr("(quon_renderManager:102): SetScaleType: .id=scale,type=2,instance=" +
                        test_support::PointerText(nullptr)));
  PluginRender* render = manager_->GetRender(id);
  for (int type : {0, 4, -1})
    EXPECT_FALSE(manager_->SetScaleType(id, type)) << type;
  EXPECT_EQ(Peek(*render->eglCore()).pendingScaleType(), 2);
  for (int type : {1, 2, 3}) {
    EXPECT_TRUE(manager_->SetScaleType(id, type)) << type;
    EXPECT_EQ(Peek(*render->eglCore()).pendingScaleType(), type);
  }
  std::string empty;
  EXPECT_FALSE(manager_->SetScaleType(empty, 1));
  PluginRender::Release(id);
}

// A colour description needs a renderer and known values; once set it
// stays with the id, so the renderer of the next surface starts with it.
TEST_F(ManagerTest, ColourDescriptionIsCheckedAndKeptForTheId) {
  std::string id = "colour";
  EXPECT_FALSE(manager_->SetColorDescription(id, kColorRangeLimited, kColorMatrixBt709));
  EXPECT_TRUE(test_support::AnyContains(sink_.lines(), "SetColorDescription: refused, no renderer"));
  EXPECT_EQ(manager_->FindRender(id), nullptr);
  PluginRender* render = manager_->GetRender(id);
  for (auto [range, matrix] : {std::pair{2, 601}, {-1, 601}, {0, 0}, {1, 2021}})
    EXPECT_FALSE(manager_->SetColorDescription(id, range, matrix)) << range << "," << matrix;
  EXPECT_FALSE(Peek(*render->eglCore()).limitedRange());
  EXPECT_TRUE(manager_->SetColorDescription(id, kColorRangeLimited, kColorMatrixBt709));
  EXPECT_TRUE(Peek(*render->eglCore()).limitedRange());
  EXPECT_TRUE(Peek(*render->eglCore()).bt709());
  PluginRender::Release(id);
  render = manager_->GetRender(id);  // the next surface's renderer
  EXPECT_TRUE(Peek(*render->eglCore()).limitedRange());
  EXPECT_TRUE(Peek(*render->eglCore()).bt709());
  EXPECT_TRUE(manager_->SetColorDescription(id, kColorRangeFull, kColorMatrixBt601));
  EXPECT_FALSE(Peek(*render->eglCore()).limitedRange());
  EXPECT_TRUE(manager_->SetColorDescription(id, kColorRangeFull, kColorMatrixBt2020));
  EXPECT_EQ(Peek(*render->eglCore()).matrix(), colour::YuvMatrix::kBt2020);
  PluginRender::Release(id);
}

// Mirror and rotation, like the colour description: a renderer needed,
// quarter turns only, and kept for the id's next renderer.
TEST_F(ManagerTest, MirrorAndRotationAreCheckedAndKeptForTheId) {
  std::string id = "orientation";
  EXPECT_FALSE(manager_->SetMirror(id, true));
  EXPECT_FALSE(manager_->SetRotation(id, 90));
  EXPECT_TRUE(test_support::AnyContains(sink_.lines(),
                                        "SetMirror: refused, no renderer for id=orientation"));
  EXPECT_TRUE(test_support::AnyContains(sink_.lines(),
                                        "SetRotation: refused, no renderer for id=orientation"));
  PluginRender* render = manager_->GetRender(id);
  for (int degrees : {-90, 45, 360, 1})
    EXPECT_FALSE(manager_->SetRotation(id, degrees)) << degrees;
  EXPECT_TRUE(test_support::AnyContains(sink_.lines(), "SetRotation: refused degrees=45"));
  EXPECT_TRUE(manager_->SetRotation(id, 270));
  EXPECT_TRUE(manager_->SetMirror(id, true));
  EXPECT_EQ(Peek(*render->eglCore()).pendingRotation(), 270);
  PluginRender::Release(id);
  render = manager_->GetRender(id);  // the next surface's renderer
  EXPECT_EQ(Peek(*render->eglCore()).pendingRotation(), 270);
  EXPECT_TRUE(Peek(*render->eglCore()).pendingMirror());
  EXPECT_TRUE(manager_->SetRotation(id, 0));
  EXPECT_EQ(Peek(*render->eglCore()).pendingRotation(), 0);
  EXPECT_TRUE(Peek(*render->eglCore()).pendingMirror());
  PluginRender::Release(id);
}

// The background colour and the frame-rate limit, like the orientation:
// a renderer needed, any colour taken, a rate below 0 refused, both kept
// for the id's next renderer. Each refusal is one line and a false result.
TEST_F(ManagerTest, BackgroundAndFrameRateAreCheckedAndKeptForTheId) {
  std::string id = "background-rate";
  const std::vector<std::pair<const char*, std::function<bool()>>> without_renderer = {
      {"SetBackgroundColor", [&] { return manager_->SetBackgroundColor(id, 0xFF102030u); }},
      {"ClearSurface", [&] { return manager_->ClearSurface(id); }},
      {"SetMaxFrameRate", [&] { return manager_->SetMaxFrameRate(id, 15); }},
  };
  for (const auto& [name, call] : without_renderer) {
    sink_.TakeLines();
    EXPECT_FALSE(call()) << name;
    EXPECT_THAT(sink_.TakeLines(),
                ElementsAre(HasSubstr(std::string(name) +
                                      ": refused, no renderer for id=background-rate")));
  }
  EXPECT_EQ(manager_->FindRender(id), nullptr);
  PluginRender* render = manager_->GetRender(id);
  sink_.TakeLines();
  EXPECT_FALSE(manager_->SetMaxFrameRate(id, -1));
  EXPECT_THAT(sink_.TakeLines(), ElementsAre(HasSubstr("SetMaxFrameRate: refused fps=-1")));
  EXPECT_FALSE(manager_->ClearSurface(id));  // no surface yet
  EXPECT_TRUE(test_support::AnyContains(sink_.TakeLines(), "ClearSurface: no surface to clear"));
  for (uint32_t argb : {0u, 0xFFFFFFFFu, 0x80FF0000u})
    EXPECT_TRUE(manager_->SetBackgroundColor(id, argb)) << argb;
  EXPECT_TRUE(manager_->SetMaxFrameRate(id, 15));
  PluginRender::Release(id);
  render = manager_->GetRender(id);  // the next surface's renderer
  EXPECT_FLOAT_EQ(Peek(*render->eglCore()).background()[0], 1.0f);
  EXPECT_FLOAT_EQ(Peek(*render->eglCore()).background()[3], 128.0f / 255.0f);
  // The limit is kept too: of two frames 10 ms apart, the second is
  // dropped by it (the first could not be drawn, there is no surface).
  const uint8_t plane[64] = {};
  FrameDescription frame;
  frame.width = frame.height = 4;
  frame.planes[0] = frame.planes[1] = frame.planes[2] = plane;
  frame.captureTimeUs = 1000000;
  EXPECT_FALSE(manager_->PushFrame(id, &frame));
  frame.captureTimeUs += 10000;
  EXPECT_TRUE(manager_->PushFrame(id, &frame));  // dropped by the rate, as asked
  RenderStatistics figures;
  ASSERT_TRUE(manager_->GetRenderStatistics(id, &figures, sizeof figures));
  EXPECT_EQ(figures.framesReceived, 2);
  EXPECT_EQ(figures.framesDropped, 2);
  EXPECT_EQ(figures.framesDroppedByRate, 1);
  PluginRender::Release(id);
}

// A frame pushed by its description: every unsound description refused
// with its one line before anything is drawn or uploaded; a sound one
// passes the checks (and, with no surface yet, is not drawn).
TEST_F(ManagerTest, PushedFramesAreCheckedBeforeAnythingIsDrawn) {
  std::string id = "pushed";
  const uint8_t plane[64] = {};
  FrameDescription sound;
  sound.layout = kFrameLayoutNv12;
  sound.width = 4;
  sound.height = 2;
  sound.planes[0] = sound.planes[1] = plane;
  EXPECT_FALSE(manager_->PushFrame(id, &sound));
  EXPECT_TRUE(
      test_support::AnyContains(sink_.lines(), "PushFrame: refused, no renderer for id=pushed"));
  PluginRender* render = manager_->GetRender(id);
  EXPECT_FALSE(manager_->PushFrame(id, nullptr));
  EXPECT_TRUE(test_support::AnyContains(sink_.lines(), "PushFrame: refused, the frame is null"));
  struct Case {
    const char* fault;
    std::function<void(FrameDescription*)> spoil;
  } const cases[] = {
      {"unknown layout", [](FrameDescription* f) { f->layout = 3; }},
      {"unknown layout", [](FrameDescription* f) { f->layout = -1; }},
      {"size below 1x1", [](FrameDescription* f) { f->width = 0; }},
      {"size below 1x1", [](FrameDescription* f) { f->height = -2; }},
      {"a plane is null", [](FrameDescription* f) { f->planes[1] = nullptr; }},
      {"a plane is null", [](FrameDescription* f) { f->layout = kFrameLayoutI420; }},
      {"a stride is below its plane's width", [](FrameDescription* f) { f->strides[0] = 3; }},
      // Two pairs a row: four bytes, not two.
      {"a stride is below its plane's width", [](FrameDescription* f) { f->strides[1] = 2; }},
      {"a stride is below its plane's width",
       [&](FrameDescription* f) {
         f->layout = kFrameLayoutI420;
         f->planes[2] = plane;
         f->strides[2] = 1;
       }},
      {"a stride is below its plane's width", [](FrameDescription* f) { f->strides[0] = -64; }},
      // Its pairs' row would be 2^31 bytes: beyond what a stride can say.
      {"size too large for its chroma rows", [](FrameDescription* f) { f->width = INT32_MAX; }},
      {"rotation is not a quarter turn", [](FrameDescription* f) { f->rotation = 45; }},
      {"rotation is not a quarter turn", [](FrameDescription* f) { f->rotation = 360; }},
  };
  for (const Case& c : cases) {
    FrameDescription frame = sound;
    c.spoil(&frame);
    sink_.TakeLines();
    EXPECT_FALSE(manager_->PushFrame(id, &frame)) << c.fault;
    const auto lines = sink_.TakeLines();
    EXPECT_EQ(std::count_if(
                  lines.begin(), lines.end(),
                  [](const std::string& l) { return l.find("PushFrame") != std::string::npos; }),
              1)
        << c.fault;
    EXPECT_TRUE(test_support::AnyContains(lines, std::string("PushFrame: refused: ") + c.fault))
        << c.fault;
  }
  EXPECT_EQ(Peek(*render->eglCore())._ytid(), 0u);  // nothing uploaded
  sink_.TakeLines();
  EXPECT_FALSE(manager_->PushFrame(id, &sound));  // sound, but no surface to draw on
  EXPECT_FALSE(test_support::AnyContains(sink_.lines(), "PushFrame: refused"));
  RenderStatistics figures;
  ASSERT_TRUE(manager_->GetRenderStatistics(id, &figures, sizeof figures));
  EXPECT_EQ(figures.framesDrawn, 0);
  EXPECT_EQ(figures.framesDropped, figures.framesReceived);
  PluginRender::Release(id);
}

// An id's record goes with its last renderer unless it keeps a setting the
// app asked for its next one: a colour description, a turn, a mirror, a
// background colour or a frame-rate limit other than the default, or a
// listener. Thousands of ids whose settings changed and went back leave
// nothing behind.
TEST_F(ManagerTest, AnIdsRecordGoesWithItsRendererUnlessItKeepsASetting) {
  rtc::LogLine::RemoveSink(&sink_);  // thousands of lines; not the point here
  RenderRegistry& registry = RenderRegistry::Instance();
  const size_t before = registry.RecordCount();
  struct : IRenderEventListener {
    void OnFirstFrame(const std::string&, int, int) override {}
    void OnFrameSizeChanged(const std::string&, int, int) override {}
    void OnSurfaceSizeChanged(const std::string&, int, int) override {}
  } listener;
  for (int i = 0; i < 2000; ++i) {
    std::string id = "passing-" + std::to_string(i);
    manager_->GetRender(id);
    manager_->SetColorDescription(id, kColorRangeLimited, kColorMatrixBt709);
    manager_->SetRotation(id, 90);
    manager_->SetMirror(id, true);
    manager_->SetRenderEventListener(id, &listener);
    manager_->SetBackgroundColor(id, 0xFFFFFFFFu);
    manager_->SetMaxFrameRate(id, 30);
    manager_->SetColorDescription(id, kColorRangeFull, kColorMatrixBt601);
    manager_->SetRotation(id, 0);
    manager_->SetMirror(id, false);
    manager_->SetRenderEventListener(id, nullptr);
    manager_->SetBackgroundColor(id, 0xFF000000u);
    manager_->SetMaxFrameRate(id, 0);
    PluginRender::Release(id);
  }
  EXPECT_EQ(registry.RecordCount(), before);

  const std::vector<std::function<void(std::string&)>> keeping = {
      [&](std::string& id) { manager_->SetColorDescription(id, kColorRangeLimited, 601); },
      [&](std::string& id) { manager_->SetColorDescription(id, kColorRangeFull, 2020); },
      [&](std::string& id) { manager_->SetRotation(id, 180); },
      [&](std::string& id) { manager_->SetMirror(id, true); },
      [&](std::string& id) { manager_->SetBackgroundColor(id, 0xFF000001u); },
      [&](std::string& id) { manager_->SetMaxFrameRate(id, 1); },
      [&](std::string& id) { manager_->SetRenderEventListener(id, &listener); },
  };
  for (size_t k = 0; k < keeping.size(); ++k) {
    SCOPED_TRACE(k);
    std::string id = "keeping-" + std::to_string(k);
    manager_->GetRender(id);
    keeping[k](id);
    PluginRender::Release(id);
    EXPECT_EQ(registry.RecordCount(), before + 1);
    PluginRender::Release(id);  // a renderer made and released at once
    EXPECT_EQ(registry.RecordCount(), before + 1);
    // Back to the defaults: the record goes with the next renderer, or at
    // once for a listener taken away between two renderers.
    if (k + 1 == keeping.size()) {
      manager_->SetRenderEventListener(id, nullptr);
    } else {
      manager_->GetRender(id);
      manager_->SetColorDescription(id, kColorRangeFull, kColorMatrixBt601);
      manager_->SetRotation(id, 0);
      manager_->SetMirror(id, false);
      manager_->SetBackgroundColor(id, 0xFF000000u);
      manager_->SetMaxFrameRate(id, 0);
      PluginRender::Release(id);
    }
    EXPECT_EQ(registry.RecordCount(), before);
  }
  rtc::LogLine::AddSink(&sink_, rtc::LogSeverity::Verbose);
}

TEST_F(ManagerTest, NativeWindowBeforeTheSurfaceIsNullButRegisters) {
  std::string id = "window-early";
  EXPECT_EQ(manager_->GetNativeWindow(id), nullptr);
  EXPECT_NE(manager_->FindRender(id), nullptr);
  EXPECT_THAT(PlatformLines(), ElementsAre("GetNativeWindow GetNativeWindow id window-early",
                                           "[NATIVE] >>>>>>>>PluginRender111 window-early",
                                           "[NATIVE] PluginRender::SetNativeWindow 0"));
  PluginRender::Release(id);
}

TEST_F(ManagerTest, SecondHandleForAnIdReplacesTheFirst) {
  ohos_desktop::ScopedXComponent first(ohos_desktop::CreateXComponent("handles", 4, 4, nullptr));
  ohos_desktop::ScopedXComponent second(ohos_desktop::CreateXComponent("handles", 4, 4, nullptr));
  std::string id = "handles";
  manager_->SetNativeXComponent(id, first.get());
  manager_->SetNativeXComponent(id, second.get());
  manager_->SetNativeXComponent(id, nullptr);  // ignored
  EXPECT_EQ(PluginManager::m_nativeXComponentMap.count(id), 1u);
  EXPECT_EQ(PluginManager::m_nativeXComponentMap[id], second.get());
}

// --- Engine calls racing the UI thread ----------------------------------------------------

// The UI thread makes and releases the id's renderer 20,000 times while an
// engine thread sets scale types, asks for the window and observes: no call
// may touch a renderer once it is freed (AddressSanitizer watches), and
// every renderer handed to the observer is followed by exactly one OnDestroy.
TEST_F(ManagerTest, EngineCallsSurviveRenderersReleasedUnderThem) {
  rtc::LogLine::RemoveSink(&sink_);  // a hundred thousand lines; not the point here
  const std::string name = "racing";
  engine::EngineHold observer;
  std::atomic<bool> stop{false};
  std::thread engine([&] {
    std::string id = name;
    while (!stop.load()) {
      manager_->SetScaleType(id, 3);
      manager_->GetNativeWindow(id);
      rtc::MutexLock lock(&observer.mutex());
      if (rtc::IVideoRender* render = observer.HeldLocked(id))
        render->SetSize(16, 9);
    }
  });
  std::string id = name;
  for (int i = 0; i < 20000; ++i) {
    PluginRender::GetInstance(id);
    PluginRender::Release(id);
    if (i % 4096 == 0)
      ohos_desktop::ClearHilogRecords();
  }
  stop = true;
  engine.join();
  PluginRender::Release(id);  // one the engine's GetNativeWindow may have made
  rtc::MutexLock lock(&observer.mutex());
  EXPECT_GT(observer.observed(), 0);
  EXPECT_EQ(observer.told(), observer.observed());
  EXPECT_EQ(observer.render(), nullptr);
  rtc::LogLine::AddSink(&sink_, rtc::LogSeverity::Verbose);
}

// Two engine threads set opposite colour descriptions at the same moment
// while the UI thread replaces the id's renderer. Whatever the order, the
// live renderer ends drawing one whole description, the one the id keeps:
// the one its next renderer starts with.
TEST_F(ManagerTest, RacingColourDescriptionsEndAsTheIdKeepsThem) {
  rtc::LogLine::RemoveSink(&sink_);  // thousands of lines; not the point here
  std::string id = "colour-race";
  manager_->GetRender(id);
  for (int round = 0; round < 1000; ++round) {
    std::atomic<int> ready{0};
    const auto together = [&ready] {
      ++ready;
      while (ready.load() < 3)
        std::this_thread::yield();
    };
    const auto set = [&](int range, int matrix) {
      std::string key = id;
      together();
      manager_->SetColorDescription(key, range, matrix);
    };
    std::thread limited709(set, kColorRangeLimited, kColorMatrixBt709);
    std::thread full601(set, kColorRangeFull, kColorMatrixBt601);
    together();
    if (round % 2 == 0) {
      PluginRender::Release(id);
      manager_->GetRender(id);
    }
    limited709.join();
    full601.join();
    const EGLCoreTestPeer live = Peek(*manager_->FindRender(id)->eglCore());
    const bool limited = live.limitedRange(), bt709 = live.bt709();
    ASSERT_EQ(limited, bt709) << "round " << round;
    PluginRender::Release(id);
    const EGLCoreTestPeer next = Peek(*manager_->GetRender(id)->eglCore());
    ASSERT_EQ(next.limitedRange(), limited) << "round " << round;
  }
  PluginRender::Release(id);
  rtc::LogLine::AddSink(&sink_, rtc::LogSeverity::Verbose);
}

// A renderer tells each observer once, whatever its OnDestroy does: add
// another observer (refused, and never told), remove itself, or call back
// into the manager for the id that is going away.
TEST_F(ManagerTest, ObserversAreToldOnceAndMayCallBackFromOnDestroy) {
  std::string id = "told-once";
  manager_->GetRender(id);
  std::vector<std::string> told;
  struct Recorder : rtc::DestroyObserver {
    std::function<void(rtc::DestroyNotify*)> on_destroy;
    void OnDestroy(rtc::DestroyNotify* gone) override { on_destroy(gone); }
  } first, late;
  late.on_destroy = [&](rtc::DestroyNotify*) { told.push_back("late"); };
  bool found_during = true, scaled_during = true;
  first.on_destroy = [&](rtc::DestroyNotify* gone) {
    told.push_back("first");
    gone->AddObserver(&late);
    gone->RemoveObserver(&first);
    found_during = manager_->FindRender(id) != nullptr;
    scaled_during = manager_->SetScaleType(id, 1);
  };
  ASSERT_NE(manager_->FindRenderAndObserve(id, &first), nullptr);
  EXPECT_EQ(manager_->FindRenderAndObserve(id, nullptr), nullptr);
  PluginRender::Release(id);
  EXPECT_THAT(told, ElementsAre("first"));
  EXPECT_FALSE(found_during);
  EXPECT_FALSE(scaled_during);
  EXPECT_TRUE(test_support::AnyContains(sink_.lines(),
                                        "AddObserver: refused, the object is being destroyed"));
  EXPECT_TRUE(test_support::AnyContains(sink_.lines(),
                                        "FindRenderAndObserve: refused, the observer is null"));
  EXPECT_EQ(manager_->FindRenderAndObserve(id, &late), nullptr);  // gone: nothing added
}

// --- Binding through the module's init function ----------------------------------------------

// The module as the platform sees it: registered by the library's static
// initialiser, bound through an exports object that carries the component.
class BindingTest : public ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    module_ = ohos_desktop::FindRegisteredModule("nativerender");
    ASSERT_NE(module_, nullptr);
    env_.reset(ohos_desktop::CreateNapiEnv());
  }

  napi_value ExportsWith(OH_NativeXComponent* component) {
    napi_value exports = ohos_desktop::NapiCreateObject(env_.get());
    napi_value holder = ohos_desktop::NapiCreateObject(env_.get());
    ohos_desktop::NapiWrap(env_.get(), holder, component);
    ohos_desktop::NapiSetNamedProperty(env_.get(), exports, "__NATIVE_XCOMPONENT_OBJ__", holder);
    return exports;
  }

  napi_value Init(napi_value exports) { return module_->nm_register_func(env_.get(), exports); }

  const napi_module* module_ = nullptr;
  ohos_desktop::ScopedNapiEnv env_;
};

TEST_F(BindingTest, DescriptorIsTheModules) {
  EXPECT_EQ(module_->nm_version, 1);
  EXPECT_EQ(module_->nm_flags, 0u);
  EXPECT_EQ(module_->nm_filename, nullptr);
  EXPECT_STREQ(module_->nm_modname, "nativerender");
  EXPECT_EQ(module_->nm_priv, nullptr);
  for (void* reserved : module_->reserved)
    EXPECT_EQ(reserved, nullptr);
}

TEST_F(BindingTest, BindsTheComponentAndRegistersCallbacks) {
  ohos_desktop::ScopedXComponent component(ohos_desktop::CreateXComponent("bound", 4, 4, nullptr));
  napi_value exports = ExportsWith(component.get());
  EXPECT_EQ(Init(exports), exports);
  const auto platform = PlatformLines();
  EXPECT_EQ(platform.front(), "[Initrender] --------begin-------");
  EXPECT_THAT(platform, Contains("PluginManager napi_typeof is  6"));
  EXPECT_THAT(platform, Contains("PluginManager Export bound"));
  EXPECT_THAT(platform, Contains("PluginManager Export end"));
  EXPECT_EQ(platform.back(), "[Initrender] ---------end--------1");
  EXPECT_EQ(ohos_desktop::RegisteredCallback(component.get()), &PluginRender::m_callback);
  std::string id = "bound";
  EXPECT_NE(manager_->FindRender(id), nullptr);
  EXPECT_EQ(PluginManager::m_nativeXComponentMap[id], component.get());
  EXPECT_TRUE(test_support::AnyContains(
      sink_.lines(), "(quon_renderManager:67): Export: .idstr:bound,nativeXComponent:0x"));

  // Binding again keeps one entry and one renderer.
  PluginRender* render = manager_->FindRender(id);
  Init(ExportsWith(component.get()));
  EXPECT_EQ(manager_->FindRender(id), render);
  EXPECT_EQ(PluginManager::m_nativeXComponentMap.count(id), 1u);
  PluginRender::Release(id);
}

TEST_F(BindingTest, NullExportsIsReportedWithoutEndLine) {
  EXPECT_EQ(Init(nullptr), nullptr);
  EXPECT_THAT(PlatformLines(), ElementsAre("[Initrender] --------begin-------",
                                           "[Initrender] env or exports is null"));
  EXPECT_FALSE(manager_->Export(nullptr, nullptr));
  EXPECT_THAT(PlatformLines(), ElementsAre("PluginManager Export: env or exports is null"));
}

TEST_F(BindingTest, PropertyReadIsRetriedOnce) {
  ohos_desktop::ScopedXComponent component(ohos_desktop::CreateXComponent("retry", 4, 4, nullptr));
  ohos_desktop::InjectNapiFailure(NapiFunction::kGetNamedProperty, 1, napi_generic_failure);
  Init(ExportsWith(component.get()));
  EXPECT_EQ(PlatformLines().back(), "[Initrender] ---------end--------1");
  std::string id = "retry";
  PluginRender::Release(id);

  ohos_desktop::InjectNapiFailure(NapiFunction::kGetNamedProperty, 2, napi_invalid_arg);
  Init(ExportsWith(component.get()));
  const auto platform = PlatformLines();
  EXPECT_THAT(platform, Contains("PluginManager Export: napi_get_named_property fail 1"));
  EXPECT_EQ(platform.back(), "[Initrender] ---------end--------0");
  EXPECT_EQ(manager_->FindRender(id), nullptr);  // a failed binding changes nothing
}

TEST_F(BindingTest, EachFailureRowHasItsLine) {
  ohos_desktop::ScopedXComponent component(ohos_desktop::CreateXComponent("rows", 4, 4, nullptr));
  struct Row {
    NapiFunction function;
    napi_status status;
    const char* line;
  } rows[] = {
      {NapiFunction::kTypeof, napi_generic_failure, "PluginManager napi_typeof failed  9"},
      {NapiFunction::kUnwrap, napi_object_expected, "PluginManager Export: napi_unwrap fail 2=0"},
  };
  for (const Row& row : rows) {
    ohos_desktop::InjectNapiFailure(row.function, 1, row.status);
    Init(ExportsWith(component.get()));
    const auto platform = PlatformLines();
    EXPECT_THAT(platform, Contains(row.line));
    EXPECT_EQ(platform.back(), "[Initrender] ---------end--------0");
  }
  ohos_desktop::InjectXComponentIdFailure(component.get(), 1, -2);
  Init(ExportsWith(component.get()));
  EXPECT_THAT(PlatformLines(), Contains("PluginManager  OH_NativeXComponent_GetXComponentId fail -2"));
  std::string id = "rows";
  EXPECT_EQ(manager_->FindRender(id), nullptr);
  EXPECT_EQ(PluginManager::m_nativeXComponentMap.count(id), 0u);
}

TEST_F(BindingTest, PropertyThatIsNotAnObjectFailsAtUnwrap) {
  napi_value exports = ohos_desktop::NapiCreateObject(env_.get());
  ohos_desktop::NapiSetNamedProperty(env_.get(), exports, "__NATIVE_XCOMPONENT_OBJ__",
                                     ohos_desktop::NapiCreateNumber(env_.get(), 7));
  Init(exports);
  const auto platform = PlatformLines();
  EXPECT_THAT(platform, Contains("PluginManager napi_typeof is  3"));
  EXPECT_THAT(platform, Contains(HasSubstr("Export: napi_unwrap fail")));
}

TEST_F(BindingTest, LongestIdFitsAndEmptyIdIsRefused) {
  const std::string longest(128, 'x');
  ohos_desktop::ScopedXComponent component(ohos_desktop::CreateXComponent(longest, 4, 4, nullptr));
  Init(ExportsWith(component.get()));
  std::string id = longest;
  EXPECT_NE(manager_->FindRender(id), nullptr);
  PluginRender::Release(id);

  ohos_desktop::ScopedXComponent unnamed(ohos_desktop::CreateXComponent("", 4, 4, nullptr));
  Init(ExportsWith(unnamed.get()));
  const auto platform = PlatformLines();
  EXPECT_THAT(platform, Contains("PluginManager Export: empty XComponent id"));
  EXPECT_EQ(platform.back(), "[Initrender] ---------end--------0");
  EXPECT_EQ(ohos_desktop::RegisteredCallback(unnamed.get()), nullptr);
}

}  // namespace
