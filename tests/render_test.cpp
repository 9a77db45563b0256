// PluginRender: destroy notification, the surface lifecycle through the
// XComponent callbacks, the rtc::IVideoRender operations and the capture
// state machine, and a renderer torn down while an engine thread draws.

#include <EGL/egl.h>
#include <stddef.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <functional>
#include <sstream>
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

#include "desktop/hilog_records.h"
#include "desktop/x11_surface.h"
#include "desktop/xcomponent_host.h"
#include "engine/engine_hold.h"
#include "quon_eglcore.h"
#include "quon_render.h"
#include "quon_render_events.h"
#include "quon_renderManager.h"
#include "rtc_base/logging.h"
#include "rtc_base/timeutils.h"
#include "support/deadline.h"
#include "support/eglcore_peer.h"
#include "support/log_capture.h"
#include "support/module_fixture.h"
#include "support/test_frame.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using test_support::AnyContains;
using test_support::PointerText;
using test_support::RunOrAbort;

// Records the order in which observers are told.
class OrderObserver : public rtc::DestroyObserver {
 public:
  OrderObserver(std::vector<std::string>* log, std::string name) : log_(log), name_(std::move(name)) {}
  void OnDestroy(rtc::DestroyNotify* notify) override {
    log_->push_back(name_);
    last_notify = notify;
    if (on_destroy)
      on_destroy(notify);
  }
  std::function<void(rtc::DestroyNotify*)> on_destroy;
  rtc::DestroyNotify* last_notify = nullptr;

 private:
  std::vector<std::string>* log_;
  std::string name_;
};

using RenderTest = test_support::ModuleFixture;

// --- Destroy notification -------------------------------------------------------------

TEST(DestroyNotifyTest, ObserversAreToldOnceInOrder) {
  std::vector<std::string> log;
  OrderObserver a(&log, "a"), b(&log, "b"), c(&log, "c"), never(&log, "never");
  auto* notify = new rtc::DestroyNotify;
  EXPECT_EQ(notify->AddObserver(&a), 0);
  EXPECT_EQ(notify->AddObserver(&b), 0);
  EXPECT_EQ(notify->AddObserver(&a), 0);  // twice: told once
  EXPECT_EQ(notify->AddObserver(&c), 0);
  EXPECT_EQ(notify->RemoveObserver(&c), 0);
  EXPECT_EQ(notify->RemoveObserver(&never), 0);  // never added: no effect
  delete notify;
  EXPECT_THAT(log, ElementsAre("a", "b"));
  EXPECT_EQ(a.last_notify, notify);
}

// Removed before its turn, from inside another OnDestroy, an observer is
// not told; one added then is refused.
TEST(DestroyNotifyTest, ChangesFromInsideOnDestroy) {
  std::vector<std::string> log;
  OrderObserver first(&log, "first"), second(&log, "second"), late(&log, "late");
  auto* notify = new rtc::DestroyNotify;
  notify->AddObserver(&first);
  notify->AddObserver(&second);
  first.on_destroy = [&](rtc::DestroyNotify* n) {
    n->RemoveObserver(&second);
    n->AddObserver(&late);
    n->RemoveObserver(&first);  // itself: does not wait for its own call
  };
  delete notify;
  EXPECT_THAT(log, ElementsAre("first"));
}

// A one-shot gate: threads wait until it opens.
class Gate {
 public:
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    cv_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [&] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
};

// While the destruction is inside one observer's OnDestroy on its thread,
// another thread removes two observers: the one not yet told is never
// told, and the removal of the one being told returns only once its call
// has returned, so that the engine may free it then.
TEST(DestroyNotifyTest, NoObserverIsToldOnceItsRemovalReturned) {
  std::vector<std::string> log;
  std::mutex log_mutex;
  OrderObserver held(&log, "held"), waiting(&log, "waiting");
  Gate inside, go_on;
  held.on_destroy = [&](rtc::DestroyNotify*) {
    inside.Open();
    go_on.Wait();
    std::lock_guard<std::mutex> lock(log_mutex);
    log.push_back("held returns");
  };
  auto* notify = new rtc::DestroyNotify;
  notify->AddObserver(&held);
  notify->AddObserver(&waiting);
  std::thread destroyer([&] { delete notify; });
  inside.Wait();
  notify->RemoveObserver(&waiting);  // not told yet: gone from the list
  std::atomic<bool> removed{false};
  std::thread remover([&] {
    notify->RemoveObserver(&held);
    std::lock_guard<std::mutex> lock(log_mutex);
    log.push_back("removed");
    removed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(removed.load());  // its call is in progress
  go_on.Open();
  remover.join();
  destroyer.join();
  EXPECT_THAT(log, ElementsAre("held", "held returns", "removed"));
}

// --- The event listener slot ---------------------------------------------------------

// Hears every event as "what id WxH" and runs `callback` inside each call.
struct HeardEvents : IRenderEventListener {
  void OnFirstFrame(const std::string& id, int w, int h) override { Heard("first", id, w, h); }
  void OnFrameSizeChanged(const std::string& id, int w, int h) override {
    Heard("frame", id, w, h);
  }
  void OnSurfaceSizeChanged(const std::string& id, int w, int h) override {
    Heard("surface", id, w, h);
  }
  void Heard(const char* what, const std::string& id, int w, int h) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      heard.push_back(std::string(what) + " " + id + " " + std::to_string(w) + "x" +
                      std::to_string(h));
      threads.push_back(std::this_thread::get_id());
    }
    if (callback)
      callback(id);
  }
  std::mutex mutex;
  std::vector<std::string> heard;
  std::vector<std::thread::id> threads;  // the thread of each call
  std::function<void(const std::string& id)> callback;
};

// Two threads, each inside a listener call (of one id, or of two ids), take
// a listener off from their callbacks at once: neither waits for the other.
// A caller outside every callback still waits for a call in progress.
TEST(RenderEventSlotTest, ListenersTakenOffFromTwoCallbacksAtOnceWaitForNoCallback) {
  using Event = RenderEventSlot::Event;
  for (bool two_ids : {false, true}) {
    SCOPED_TRACE(two_ids ? "across two ids" : "one id");
    RenderEventSlot a, b;
    RenderEventSlot& second = two_ids ? b : a;
    HeardEvents listener;
    a.Set(&listener);
    second.Set(&listener);
    std::mutex mutex;
    std::condition_variable both;
    int inside = 0;
    listener.callback = [&](const std::string& id) {
      std::unique_lock<std::mutex> lock(mutex);
      ++inside;
      both.notify_all();
      both.wait(lock, [&] { return inside == 2; });
      lock.unlock();
      (id == "a" ? second : a).Set(nullptr);  // the other's
    };
    RunOrAbort("two callbacks removing listeners", [&] {
      std::thread engine([&] { a.Tell(Event::kFirstFrame, "a", 32, 24); });
      second.Tell(Event::kSurfaceSizeChanged, "b", 64, 48);  // the UI thread
      engine.join();
    });
    EXPECT_EQ(listener.heard.size(), 2u);
  }

  RenderEventSlot slot;
  HeardEvents listener;
  Gate inside, go_on;
  listener.callback = [&](const std::string&) {
    inside.Open();
    go_on.Wait();
  };
  slot.Set(&listener);
  std::thread engine([&] { slot.Tell(RenderEventSlot::Event::kFirstFrame, "id", 8, 8); });
  inside.Wait();
  std::atomic<bool> set{false};
  std::thread app([&] {
    slot.Set(nullptr);
    set = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(set.load());  // the call is still in progress
  go_on.Open();
  engine.join();
  app.join();
}

// Two drawing threads decide their frames' events in one order and reach
// the listener in the other: the later one waits for the earlier one's
// call. An event decided inside a call, by a listener that draws, is told
// at once.
TEST(RenderEventSlotTest, FrameEventsAreToldInTheOrderTheyWereDecided) {
  using Event = RenderEventSlot::Event;
  RenderEventSlot slot;
  HeardEvents listener;
  slot.Set(&listener);
  const uint64_t first = slot.TakeTurn();
  const uint64_t second = slot.TakeTurn();
  std::thread later([&] { slot.TellInTurn(second, Event::kFrameSizeChanged, "id", 16, 12); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // heard now if not held back
  listener.callback = [&](const std::string&) {
    listener.callback = nullptr;
    slot.TellInTurn(slot.TakeTurn(), Event::kFrameSizeChanged, "id", 8, 6);
  };
  RunOrAbort("events in turn", [&] { slot.TellInTurn(first, Event::kFirstFrame, "id", 32, 24); });
  later.join();
  EXPECT_THAT(listener.heard, ElementsAre("first id 32x24", "frame id 8x6", "frame id 16x12"));
}

// --- Lifecycle through the callbacks --------------------------------------------------

class LifecycleTest : public RenderTest {
 protected:
  void SetUp() override {
    RenderTest::SetUp();
    test_support::RequireDisplay();
  }

  // A real window bound to a new XComponent `id`, and that id's renderer.
  struct Bound {
    std::unique_ptr<ohos_desktop::X11Surface> window;
    ohos_desktop::ScopedXComponent component;
    PluginRender* render = nullptr;
  };
  static Bound Bind(const std::string& id, int width, int height) {
    Bound bound;
    bound.window = ohos_desktop::X11Surface::Create(width, height, id.c_str());
    if (bound.window == nullptr)
      return bound;
    bound.component.reset(
        ohos_desktop::CreateXComponent(id, width, height, bound.window->NativeWindow()));
    std::string key = id;
    bound.render = PluginRender::GetInstance(key);
    bound.render->SetNativeXComponent(bound.component.get());
    return bound;
  }
};

TEST_F(LifecycleTest, ConstructionLogsNullCoreThenOwnsOne) {
  std::string id = "construct";
  PluginRender* render = PluginRender::GetInstance(id);
  ASSERT_NE(render, nullptr);
  EXPECT_EQ(PluginRender::GetInstance(id), render);
  EXPECT_NE(render->eglCore(), nullptr);
  EXPECT_TRUE(AnyContains(sink_.TakeLines(),
                          "(quon_render:328): " + PointerText(render) +
                              ": PluginRender: .id=construct,eglcore=" + PointerText(nullptr)));
  EXPECT_THAT(PlatformLines(), Contains("[NATIVE] >>>>>>>>PluginRender111 construct"));
  std::string empty;
  EXPECT_EQ(PluginRender::GetInstance(empty), nullptr);
  PluginRender::Release(id);
}

TEST_F(LifecycleTest, SurfaceCreatedChangedTouchedAndDestroyed) {
  Bound bound = Bind("surface-1", 64, 48);
  ASSERT_NE(bound.window, nullptr);
  auto& window = bound.window;
  auto& component = bound.component;
  PluginRender* render = bound.render;
  std::string id = "surface-1";
  ASSERT_EQ(ohos_desktop::RegisteredCallback(component.get()), &PluginRender::m_callback);
  std::vector<std::string> told;
  OrderObserver observer(&told, "engine");
  render->AddObserver(&observer);
  sink_.TakeLines();
  PlatformLines();

  ohos_desktop::DispatchSurfaceCreated(component.get());
  auto traces = sink_.TakeLines();
  EXPECT_TRUE(AnyContains(traces, "(quon_render:258): OnSurfaceCreatedCB: ."));
  EXPECT_TRUE(AnyContains(traces, "(quon_render:267): OnSurfaceCreatedCB: .id=surface-1"));
  EXPECT_TRUE(AnyContains(traces, ": OnSurfaceCreated: .component:"));
  EXPECT_TRUE(AnyContains(traces, ",width:height=0,0"));  // the sizes held before
  EXPECT_EQ(render->width(), 64);
  EXPECT_EQ(render->height(), 48);
  EXPECT_EQ(render->window(), window->NativeWindow());
  ASSERT_NE(render->eglCore(), nullptr);
  EXPECT_NE(Peek(*render->eglCore()).program(), 0u);

  ohos_desktop::DispatchSurfaceChanged(component.get());
  ohos_desktop::DispatchTouchEvent(component.get());
  EXPECT_THAT(PlatformLines(), Contains("[NATIVE] >>>>>>>>>>>>PluginRender::OnSurfaceChanged"));
  EXPECT_TRUE(AnyContains(sink_.TakeLines(), "(quon_render:318): DispatchTouchEventCB: .id=surface-1"));

  // A destroyed callback without a window leaves the renderer as it is.
  PluginRender::OnSurfaceDestroyedCB(component.get(), nullptr);
  EXPECT_THAT(PlatformLines(), Contains("Callback OnSurfaceDestroyedCB: component or window is null"));
  EXPECT_EQ(PluginRender::FindInstance(id), render);
  EXPECT_TRUE(told.empty());

  ohos_desktop::DispatchSurfaceDestroyed(component.get());
  EXPECT_EQ(PluginRender::FindInstance(id), nullptr);
  EXPECT_THAT(told, ElementsAre("engine"));
  const auto platform = PlatformLines();
  EXPECT_THAT(platform, Contains("[NATIVE] >>>>>>>>>>>>PluginRender::Release"));
  EXPECT_THAT(platform, Contains("[NATIVE] egl Release end"));
  EXPECT_THAT(platform, Contains("[NATIVE] >>>>>>>>~PluginRender"));
  EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
}

// A 16:9 frame fitted into a 160x120 window, which then becomes 240x90:
// after the changed callback the picture fills the new height with bars
// left and right, where before it had bars above and below.
TEST_F(LifecycleTest, AResizedSurfaceIsDrawnAtItsNewSize) {
  Bound bound = Bind("resized", 160, 120);
  ASSERT_NE(bound.window, nullptr);
  auto& window = bound.window;
  auto& component = bound.component;
  PluginRender* render = bound.render;
  ohos_desktop::DispatchSurfaceCreated(component.get());
  TestFrame::Counters counters;
  TestFrame frame(64, 36, &counters, 200);
  const auto grey = [](uint32_t pixel) { return (pixel >> 8 & 0xff) > 150; };
  const auto draw_until = [&](const std::function<bool(const std::vector<uint32_t>&)>& ready) {
    return test_support::PixelsWhen(*window, ready, [&] { render->RenderFrame(&frame); });
  };
  auto at = [&](const std::vector<uint32_t>& p, int x, int y) {
    return p[static_cast<size_t>(y) * window->width() + x];
  };
  auto p = draw_until([&](const auto& px) { return grey(at(px, 80, 60)); });
  EXPECT_FALSE(grey(at(p, 80, 5)));    // bar above
  EXPECT_TRUE(grey(at(p, 5, 60)));     // full width

  ASSERT_TRUE(window->Resize(240, 90));
  ohos_desktop::SetXComponentSize(component.get(), 240, 90);
  sink_.TakeLines();
  ohos_desktop::DispatchSurfaceChanged(component.get());
  EXPECT_TRUE(AnyContains(sink_.TakeLines(), ": OnSurfaceChanged: .width:height=240,90"));
  EXPECT_EQ(render->width(), 240);
  p = draw_until([&](const auto& px) { return grey(at(px, 120, 85)) && !grey(at(px, 10, 45)); });
  EXPECT_TRUE(grey(at(p, 120, 2)));    // full height now
  EXPECT_TRUE(grey(at(p, 120, 87)));
  EXPECT_FALSE(grey(at(p, 20, 45)));   // bars left and right (40 pixels each)
  EXPECT_FALSE(grey(at(p, 220, 45)));
  EXPECT_TRUE(grey(at(p, 45, 45)));

  // A changed callback with a size of 0 keeps the size drawn at.
  ohos_desktop::SetXComponentSize(component.get(), 0, 0);
  ohos_desktop::DispatchSurfaceChanged(component.get());
  EXPECT_TRUE(AnyContains(sink_.TakeLines(), ": SetSurfaceSize: refused 0x0, keeping 240x90"));
  ohos_desktop::DispatchSurfaceDestroyed(component.get());
}

// The platform reporting a surface created again without its destruction
// between (the same window, then another): the renderer moves to the new
// surface, the old EGL surface released first, and every frame is drawn.
TEST_F(LifecycleTest, ASurfaceCreatedAgainWithoutDestructionDrawsOn) {
  Bound bound = Bind("created-again", 64, 48);
  ASSERT_NE(bound.window, nullptr);
  auto other = ohos_desktop::X11Surface::Create(64, 48, "created-again, other", 80, 0);
  ASSERT_NE(other, nullptr);
  std::string id = "created-again";
  TestFrame::Counters counters;
  TestFrame frame(32, 24, &counters, 200);
  const auto grey = [](const std::vector<uint32_t>& p) {
    return (p[24 * 64 + 32] >> 8 & 0xff) > 150;
  };
  ohos_desktop::DispatchSurfaceCreated(bound.component.get());
  bound.render->RenderFrame(&frame);
  ohos_desktop::DispatchSurfaceCreated(bound.component.get());
  std::vector<uint32_t> p =
      test_support::PixelsWhen(*bound.window, grey, [&] { bound.render->RenderFrame(&frame); });
  EXPECT_TRUE(!p.empty() && grey(p));
  ohos_desktop::SetXComponentWindow(bound.component.get(), other->NativeWindow());
  ohos_desktop::DispatchSurfaceCreated(bound.component.get());
  p = test_support::PixelsWhen(*other, grey, [&] { bound.render->RenderFrame(&frame); });
  EXPECT_TRUE(!p.empty() && grey(p));
  RenderStatistics stats;
  ASSERT_TRUE(PluginManager::GetInstance()->GetRenderStatistics(id, &stats, sizeof stats));
  EXPECT_GE(stats.framesDrawn, 3);
  EXPECT_EQ(stats.framesDropped, 0);
  EXPECT_EQ(PluginRender::FindInstance(id), bound.render);  // the same renderer
  ohos_desktop::DispatchSurfaceDestroyed(bound.component.get());
}

// A surface created before layout gave it a size has nothing to draw with;
// once the changed callback brings a real size, frames are drawn.
TEST_F(LifecycleTest, ASurfaceCreatedAtZeroSizeDrawsOnceLaidOut) {
  Bound bound = Bind("laid-out", 160, 120);
  ASSERT_NE(bound.window, nullptr);
  ohos_desktop::SetXComponentSize(bound.component.get(), 0, 0);
  ohos_desktop::DispatchSurfaceCreated(bound.component.get());
  EXPECT_FALSE(bound.render->eglCore()->HasEnvironment());
  ohos_desktop::SetXComponentSize(bound.component.get(), 160, 120);
  ohos_desktop::DispatchSurfaceChanged(bound.component.get());
  EXPECT_TRUE(bound.render->eglCore()->HasEnvironment());
  TestFrame::Counters counters;
  TestFrame frame(64, 48, &counters, 200);
  const auto grey = [&](const std::vector<uint32_t>& p) {
    return (p[60 * 160 + 80] >> 8 & 0xff) > 150;
  };
  const auto p =
      test_support::PixelsWhen(*bound.window, grey, [&] { bound.render->RenderFrame(&frame); });
  EXPECT_TRUE(!p.empty() && grey(p));
  ohos_desktop::DispatchSurfaceDestroyed(bound.component.get());
}

// What an id's listener hears across a resize and a surface destroyed and
// created again: each renderer's first frame once, each change of the
// drawn frame's size and of the surface's size once, in order, from the
// thread that drew or reported it, with no module lock held (the listener
// calls back into the manager and the renderer); never for a refused
// frame. A listener may take itself off from its callback, and after the
// call that did it nothing more is heard.
TEST_F(LifecycleTest, EventsAreToldOnceEachInOrderAcrossRecreation) {
  const std::string name = "events";
  Bound bound = Bind(name, 64, 48);
  ASSERT_NE(bound.window, nullptr);
  std::string id = name;
  PluginManager* manager = PluginManager::GetInstance();
  HeardEvents listener;
  RenderStatistics during;
  listener.callback = [&](const std::string&) {
    std::string key = name;
    EXPECT_TRUE(manager->SetScaleType(key, 2));  // takes the drawing lock
    EXPECT_TRUE(manager->GetRenderStatistics(key, &during, sizeof during));
  };
  ASSERT_TRUE(manager->SetRenderEventListener(id, &listener));
  ohos_desktop::DispatchSurfaceCreated(bound.component.get());
  TestFrame::Counters counters, refused;
  refused.planes_null = true;
  TestFrame large(32, 24, &counters), small(16, 12, &counters), bad(8, 8, &refused);
  std::thread([&] {
    bound.render->RenderFrame(&large);
    eglReleaseThread();
  }).join();
  bound.render->RenderFrame(&large);
  bound.render->RenderFrame(&bad);
  bound.render->RenderFrame(nullptr);
  bound.render->RenderFrame(&small);
  bound.render->RenderFrame(&small);
  EXPECT_EQ(during.framesDrawn, 3);  // told once the frame was counted
  ohos_desktop::SetXComponentSize(bound.component.get(), 96, 48);
  ohos_desktop::DispatchSurfaceChanged(bound.component.get());
  ohos_desktop::DispatchSurfaceChanged(bound.component.get());  // the same size
  ohos_desktop::DispatchSurfaceDestroyed(bound.component.get());
  ASSERT_EQ(listener.threads.size(), 3u);
  EXPECT_NE(listener.threads[0], std::this_thread::get_id());  // the thread that drew
  EXPECT_EQ(listener.threads[1], std::this_thread::get_id());  // this one drew
  EXPECT_EQ(listener.threads[2], std::this_thread::get_id());  // and reported the size

  // The next surface's renderer tells the same listener; the listener
  // takes itself off while it hears the first frame.
  PluginRender* render = PluginRender::GetInstance(id);
  render->SetNativeXComponent(bound.component.get());
  ohos_desktop::DispatchSurfaceCreated(bound.component.get());
  listener.callback = [&](const std::string&) {
    std::string key = name;
    EXPECT_TRUE(manager->SetRenderEventListener(key, nullptr));
  };
  render->RenderFrame(&small);
  render->RenderFrame(&large);
  EXPECT_THAT(listener.heard, ElementsAre("first events 32x24", "frame events 16x12",
                                          "surface events 96x48", "first events 16x12"));
  ohos_desktop::DispatchSurfaceDestroyed(bound.component.get());
  EXPECT_FALSE(manager->SetRenderEventListener(id, &listener));  // no renderer
  EXPECT_TRUE(manager->SetRenderEventListener(id, nullptr));     // removing always works
}

// The figures of a known run: frames before the surface exists, good
// frames of two sizes, a null frame and one without planes. Drawn and
// dropped add up to received; a new surface's renderer starts at zero.
TEST_F(LifecycleTest, StatisticsCountAKnownRunOfGoodAndBadFrames) {
  Bound bound = Bind("figures", 64, 48);
  ASSERT_NE(bound.window, nullptr);
  std::string id = "figures";
  PluginManager* manager = PluginManager::GetInstance();
  RenderStatistics stats;
  EXPECT_TRUE(manager->GetRenderStatistics(id, &stats, sizeof stats));
  EXPECT_EQ(stats.framesReceived, 0);
  EXPECT_FALSE(manager->GetRenderStatistics(id, nullptr, sizeof(RenderStatistics)));
  std::string unknown = "figures-unknown";
  EXPECT_FALSE(manager->GetRenderStatistics(unknown, &stats, sizeof stats));

  TestFrame::Counters counters, refused;
  refused.planes_null = true;
  TestFrame large(32, 24, &counters), small(16, 12, &counters), bad(8, 8, &refused);
  bound.render->RenderFrame(&large);  // no surface yet: cannot be drawn
  ohos_desktop::DispatchSurfaceCreated(bound.component.get());
  const int64_t before = rtc::MonotonicMillis();
  rtc::IVideoFrame* const run[] = {&large, &large, nullptr, &bad, &large, &small};
  for (rtc::IVideoFrame* frame : run)
    bound.render->RenderFrame(frame);
  const int64_t after = rtc::MonotonicMillis();
  ASSERT_TRUE(manager->GetRenderStatistics(id, &stats, sizeof stats));
  EXPECT_EQ(stats.framesReceived, 7);
  EXPECT_EQ(stats.framesDrawn, 4);
  EXPECT_EQ(stats.framesDropped, 3);
  EXPECT_EQ(stats.lastFrameWidth, 16);
  EXPECT_EQ(stats.lastFrameHeight, 12);
  EXPECT_GE(stats.firstFrameTimeMs, before);
  EXPECT_LE(stats.firstFrameTimeMs, stats.lastFrameTimeMs);
  EXPECT_LE(stats.lastFrameTimeMs, after);
  // Every frame drawn in the last second or two, so all four here unless
  // the machine stalled between them.
  EXPECT_GE(stats.drawTimeFrames, 1);
  EXPECT_LE(stats.drawTimeFrames, 4);
  EXPECT_GT(stats.drawTimeMaxUs, 0);
  EXPECT_LE(stats.drawTimeMeanUs, stats.drawTimeMaxUs);
  EXPECT_EQ(stats.framesDroppedByRate, 0);
  EXPECT_GE(stats.latencyFrames, stats.drawTimeFrames);  // two seconds back, at least as far
  EXPECT_LE(stats.latencyFrames, 4);
  EXPECT_GE(stats.latencyP99Us, stats.latencyMeanUs);

  // A second of frames pushed at 30 a second under a limit of 15: every
  // other one drawn, the rest dropped by the rate, before any upload. The
  // capture times judge them, and the latency runs from them: a capture
  // 40 ms before the push at least.
  ASSERT_TRUE(manager->SetMaxFrameRate(id, 15));
  std::vector<uint8_t> plane(64 * 48, 128);
  FrameDescription pushed;
  pushed.width = 64;
  pushed.height = 48;
  pushed.planes[0] = pushed.planes[1] = pushed.planes[2] = plane.data();
  const int64_t first = rtc::MonotonicNanos() / 1000 - 40000 - 1000000;
  for (int i = 0; i < 30; ++i) {
    pushed.captureTimeUs = first + i * 1000000 / 30;
    EXPECT_TRUE(manager->PushFrame(id, &pushed)) << i;
  }
  ASSERT_TRUE(manager->GetRenderStatistics(id, &stats, sizeof stats));
  EXPECT_EQ(stats.framesReceived, 37);
  EXPECT_EQ(stats.framesDrawn, 4 + 15);
  EXPECT_EQ(stats.framesDroppedByRate, 15);
  EXPECT_EQ(stats.framesDropped, 3 + 15);
  EXPECT_GE(stats.latencyMeanUs, 40000);
  // A caller's struct of the first layout's size: nothing written after
  // it. Smaller than that: refused.
  RenderStatistics first_layout;
  first_layout.framesDroppedByRate = -1;
  const size_t first_size = offsetof(RenderStatistics, framesDroppedByRate);
  ASSERT_TRUE(manager->GetRenderStatistics(id, &first_layout, first_size));
  EXPECT_EQ(first_layout.framesDrawn, 19);
  EXPECT_EQ(first_layout.framesDroppedByRate, -1);
  EXPECT_FALSE(manager->GetRenderStatistics(id, &first_layout, first_size - 1));

  ohos_desktop::DispatchSurfaceDestroyed(bound.component.get());
  PluginRender::GetInstance(id);
  ASSERT_TRUE(manager->GetRenderStatistics(id, &stats, sizeof stats));
  EXPECT_EQ(stats.framesReceived, 0);
  EXPECT_EQ(stats.lastFrameWidth, 0);
  PluginRender::Release(id);
}

// The id's background colour on the surface: the bars of a fitted picture
// and a clear, FillBlack still black, and the colour kept for the renderer
// of the id's next surface.
TEST_F(LifecycleTest, TheBackgroundColourFillsTheBarsAndTheClearAcrossSurfaces) {
  const std::string name = "background";
  Bound bound = Bind(name, 160, 120);
  ASSERT_NE(bound.window, nullptr);
  std::string id = name;
  PluginManager* manager = PluginManager::GetInstance();
  constexpr uint32_t kColour = 0x2060C0;
  ASSERT_TRUE(manager->SetBackgroundColor(id, 0xFF000000u | kColour));
  auto& window = *bound.window;
  auto at = [&](const std::vector<uint32_t>& p, int x, int y) {
    return p[static_cast<size_t>(y) * window.width() + x] & 0xffffff;
  };
  auto is = [&](const std::vector<uint32_t>& p, int x, int y, uint32_t colour) {
    return test_support::ShaderColourIs(at(p, x, y), colour);
  };
  TestFrame::Counters counters;
  TestFrame frame(64, 36, &counters, 255);  // white, fitted with bars above and below
  const auto expect_fitted = [&](PluginRender* render) {
    const auto p = test_support::PixelsWhen(
        window, [&](const auto& px) { return is(px, 80, 60, 0xffffff) && is(px, 80, 5, kColour); },
        [&] { render->RenderFrame(&frame); });
    // The picture spans rows 15..104 of 120.
    for (int x : {3, 80, 156}) {
      for (int y : {0, 13, 106, 119})
        EXPECT_TRUE(is(p, x, y, kColour)) << x << "," << y;
      for (int y : {17, 60, 102})
        EXPECT_TRUE(is(p, x, y, 0xffffff)) << x << "," << y;
    }
  };
  ohos_desktop::DispatchSurfaceCreated(bound.component.get());
  expect_fitted(bound.render);

  ASSERT_TRUE(manager->ClearSurface(id));
  auto p =
      test_support::PixelsWhen(window, [&](const auto& px) { return is(px, 80, 60, kColour); });
  for (auto [x, y] : {std::pair{0, 0}, {80, 60}, {159, 119}})
    EXPECT_TRUE(is(p, x, y, kColour)) << x << "," << y;
  EXPECT_EQ(bound.render->FillBlack(), 0);
  p = test_support::PixelsWhen(window, [&](const auto& px) { return at(px, 80, 60) == 0; });
  EXPECT_EQ(at(p, 80, 60), 0u);
  EXPECT_EQ(at(p, 80, 5), 0u);

  ohos_desktop::DispatchSurfaceDestroyed(bound.component.get());
  EXPECT_FALSE(manager->ClearSurface(id));  // no renderer between two surfaces
  PluginRender* render = PluginRender::GetInstance(id);
  render->SetNativeXComponent(bound.component.get());
  ohos_desktop::DispatchSurfaceCreated(bound.component.get());
  expect_fitted(render);
  ohos_desktop::DispatchSurfaceDestroyed(bound.component.get());
}

TEST_F(LifecycleTest, CallbacksCreateRenderersForUnknownIds) {
  ohos_desktop::ScopedXComponent changed(ohos_desktop::CreateXComponent("fresh-changed", 8, 8, nullptr));
  ohos_desktop::ScopedXComponent touched(ohos_desktop::CreateXComponent("fresh-touch", 8, 8, nullptr));
  PluginRender::OnSurfaceChangedCB(changed.get(), nullptr);
  PluginRender::DispatchTouchEventCB(touched.get(), nullptr);
  PluginRender* a = PluginRender::FindInstance("fresh-changed");
  PluginRender* b = PluginRender::FindInstance("fresh-touch");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(a->window(), nullptr);
  std::string ida = "fresh-changed", idb = "fresh-touch";
  PluginRender::Release(ida);
  PluginRender::Release(idb);
}

TEST_F(LifecycleTest, FailedIdOrSizeQueriesStopQuietly) {
  auto window = ohos_desktop::X11Surface::Create(32, 32, "queries");
  ASSERT_NE(window, nullptr);
  ohos_desktop::ScopedXComponent component(
      ohos_desktop::CreateXComponent("queries", 32, 32, window->NativeWindow()));
  ohos_desktop::InjectXComponentIdFailure(component.get(), 1, -1);
  PluginRender::OnSurfaceCreatedCB(component.get(), window->NativeWindow());
  EXPECT_EQ(PluginRender::FindInstance("queries"), nullptr);

  ohos_desktop::InjectXComponentSizeFailure(component.get(), 1, -1);
  PluginRender::OnSurfaceCreatedCB(component.get(), window->NativeWindow());
  PluginRender* render = PluginRender::FindInstance("queries");
  ASSERT_NE(render, nullptr);
  EXPECT_EQ(render->window(), window->NativeWindow());  // stored anyway
  EXPECT_EQ(Peek(*render->eglCore()).display(), nullptr);        // but no environment
  // The second id query of a destruction fails: the renderer stays.
  ohos_desktop::InjectXComponentIdFailure(component.get(), 1, -1);
  render->OnSurfaceDestroyed(component.get(), window->NativeWindow());
  EXPECT_THAT(PlatformLines(), Contains("Callback OnSurfaceDestroyedCB: Unable to get XComponent id"));
  EXPECT_EQ(PluginRender::FindInstance("queries"), render);
  std::string id = "queries";
  PluginRender::Release(id);
}

// --- rtc::IVideoRender operations ------------------------------------------------------

TEST_F(RenderTest, ReservedOperationsAndSimpleResults) {
  std::string id = "ops";
  PluginRender* render = PluginRender::GetInstance(id);
  rtc::IVideoRender* engine_view = render;
  EXPECT_EQ(engine_view->ReservedOp1(), 1004);
  EXPECT_EQ(engine_view->ReservedOp3(1, 2, 3), 1004);
  EXPECT_EQ(engine_view->ReservedOp6(nullptr), 1004);
  EXPECT_EQ(engine_view->ReservedOp7(), 0);
  EXPECT_EQ(engine_view->FillBlack(), 0);  // no surface yet: the core reports, no crash
  EXPECT_TRUE(render->SetScaleType(3));
  EXPECT_EQ(Peek(*render->eglCore()).pendingScaleType(), 3);
  ohos_desktop::ClearHilogRecords();
  engine_view->SetSize(640, 360);
  EXPECT_THAT(PlatformLines(), Contains("[NATIVE] PluginRender::SetSize 0,0"));
  EXPECT_EQ(render->width(), 640);
  EXPECT_EQ(Peek(*render->eglCore()).width(), 0);  // the drawing size is the surface's
  EXPECT_TRUE(AnyContains(sink_.TakeLines(), ": SetSize: .sz:640*360"));
  engine_view->RenderFrame(nullptr);  // refused, logged
  EXPECT_TRUE(AnyContains(sink_.TakeLines(), ": RenderFrame: frame is null"));
  PluginRender::Release(id);
}

// --- Capture state machine --------------------------------------------------------------

class CaptureStateTest : public RenderTest {
 protected:
  void SetUp() override {
    RenderTest::SetUp();
    render_ = PluginRender::GetInstance(id_);
  }
  void TearDown() override {
    PluginRender::Release(id_);
    RenderTest::TearDown();
  }
  void Frame() {
    TestFrame frame(4, 4, &counters_);
    render_->RenderFrame(&frame);
  }

  std::string id_ = "capture";
  PluginRender* render_ = nullptr;
  TestFrame::Counters counters_;
  std::string path_ = ::testing::TempDir() + "capture_state.bmp";
};

// An engine frame whose accessors hand out no planes is refused by the
// drawing and by the capture writer, with a line each; the capture still
// ends and no file appears.
TEST_F(CaptureStateTest, FrameWithoutPlanesIsRefusedAndWritesNothing) {
  const std::string jpeg = ::testing::TempDir() + "no_planes.jpg";
  remove(jpeg.c_str());
  counters_.planes_null = true;
  render_->EnableCapture(true);
  render_->CaptureImage(jpeg, 80);
  Frame();
  const auto lines = sink_.TakeLines();
  const std::string null = PointerText(nullptr);
  EXPECT_TRUE(AnyContains(
      lines, ": onRenderData: invalid frame: planes " + null + "," + null + "," + null));
  EXPECT_TRUE(AnyContains(lines, "write_JPEG_file"));
  EXPECT_NE(access(jpeg.c_str(), F_OK), 0);
  EXPECT_EQ(render_->CaptureImage(jpeg, 80), -1);  // the capture ended
}

TEST_F(CaptureStateTest, CaptureImageWhileIdleIsRefused) {
  EXPECT_EQ(render_->CaptureImage(path_, 50), -1);
  Frame();
  EXPECT_EQ(counters_.clones, 0);
}

TEST_F(CaptureStateTest, ArmedAndNamedCapturesExactlyOneFrame) {
  EXPECT_EQ(render_->EnableCapture(true), 0);
  EXPECT_EQ(render_->CaptureImage(path_, 50), 0);
  auto traces = sink_.TakeLines();
  EXPECT_TRUE(AnyContains(traces, ": CaptureImage:  lastframe=" + PointerText(nullptr) +
                                      " enabel=1 jpegFileName=" + path_ + " qualtiy=50"));
  EXPECT_TRUE(
      AnyContains(traces, "(quon_render:430): " + PointerText(render_) + ": CaptureImage:  end"));
  std::string path;
  int error = -1;
  EXPECT_FALSE(PluginManager::GetInstance()->LastCaptureResult(id_, &path, &error));
  Frame();
  Frame();
  EXPECT_EQ(counters_.clones, 1);
  EXPECT_TRUE(AnyContains(sink_.TakeLines(), ": RenderFrame: .copy frame " + PointerText(nullptr)));
  EXPECT_EQ(render_->CaptureImage(path_, 50), -1);  // idle again
  // The engine can ask how it went, and why one failed.
  ASSERT_TRUE(PluginManager::GetInstance()->LastCaptureResult(id_, &path, &error));
  EXPECT_EQ(path, path_);
  EXPECT_EQ(error, 0);
  render_->EnableCapture(true);
  EXPECT_FALSE(PluginManager::GetInstance()->LastCaptureResult(id_, &path, &error));  // to come
  render_->CaptureImage("/dev/full", 50);
  Frame();
  ASSERT_TRUE(PluginManager::GetInstance()->LastCaptureResult(id_, &path, &error));
  EXPECT_EQ(path, "/dev/full");
  EXPECT_EQ(error, ENOSPC) << strerror(error);
}

// A quality of 0 is clamped, as every quality is (to 1..100): the capture
// fires. An empty name never does.
TEST_F(CaptureStateTest, ZeroQualityIsClampedAnEmptyNameNeverCaptures) {
  const std::string jpeg = ::testing::TempDir() + "zero_quality.jpg";
  remove(jpeg.c_str());
  render_->EnableCapture(true);
  EXPECT_EQ(render_->CaptureImage("", 50), 0);
  Frame();
  EXPECT_EQ(counters_.clones, 0);
  EXPECT_EQ(render_->CaptureImage(jpeg, 0), 0);
  Frame();
  EXPECT_EQ(counters_.clones, 1);
  EXPECT_EQ(access(jpeg.c_str(), F_OK), 0);
  EXPECT_EQ(render_->CaptureImage(jpeg, 0), -1);  // idle again
}

TEST_F(CaptureStateTest, NameAndQualitySurviveACapture) {
  render_->EnableCapture(true);
  render_->CaptureImage(path_, 50);
  Frame();
  render_->EnableCapture(true);  // no new name: the same file again
  Frame();
  EXPECT_EQ(counters_.clones, 2);
}

// The copy is let go as soon as its file is written: an engine's copy may
// hold a decoder's picture, which must not wait for the next capture.
TEST_F(CaptureStateTest, TheCopyGoesOnceItsFileIsWritten) {
  render_->EnableCapture(true);
  render_->CaptureImage(path_, 50);
  Frame();
  EXPECT_EQ(counters_.clones, 1);
  EXPECT_EQ(counters_.copies_destroyed, 1);
  sink_.TakeLines();
  render_->EnableCapture(false);
  EXPECT_TRUE(AnyContains(sink_.TakeLines(), ".enable:0,lastframe=" + PointerText(nullptr)));
}

TEST_F(CaptureStateTest, NullCopyStillEndsTheCapture) {
  counters_.clone_returns_null = true;
  render_->EnableCapture(true);
  render_->CaptureImage(path_, 50);
  sink_.TakeLines();
  Frame();
  EXPECT_EQ(counters_.clones, 1);
  EXPECT_TRUE(AnyContains(sink_.TakeLines(), "Render2SaveImage: frame is null or filename is null."));
  EXPECT_EQ(render_->CaptureImage(path_, 50), -1);  // idle
  Frame();
  EXPECT_EQ(counters_.clones, 1);
}

// --- Engine threads while surfaces come and go ---------------------------------------------

// One engine thread's hold on one id's renderer, exercised.
class StressedHold : public engine::EngineHold {
 public:
  // Calls into the renderer of `id` (looked up when none is held): operation
  // `n` of every kind an engine has, in turn, so that the other threads'
  // calls overlap it. Only drawing takes turns across threads (`draw_turn`):
  // this Mesa's software rasteriser crashes when two threads draw at once.
  void Step(std::string& id, TestFrame& frame, int n, std::mutex& draw_turn) {
    PluginManager* manager = PluginManager::GetInstance();
    RenderStatistics stats;
    switch (n % 8) {
      case 0:
        manager->SetScaleType(id, 1 + n % 3);
        manager->SetRotation(id, n % 360 / 90 * 90);
        manager->SetMirror(id, n % 16 == 0);
        // Replaced while other engines' frames tell the id's listener.
        manager->SetRenderEventListener(id, n % 16 == 0 ? nullptr : &listener_);
        return;
      case 1:
        manager->GetNativeWindow(id);
        manager->GetRenderStatistics(id, &stats, sizeof stats);
        return;
      case 2: manager->FindRender(id); manager->GetRender(id); return;
      default: break;
    }
    const bool draws = n % 8 == 4 || n % 8 == 7;
    std::unique_lock<std::mutex> turn(draw_turn, std::defer_lock);
    if (draws)
      turn.lock();  // before the engine's lock, which OnDestroy waits for
    rtc::MutexLock lock(&mutex());
    rtc::IVideoRender* render = HeldLocked(id);
    if (render == nullptr)
      return;
    switch (n % 8) {
      case 3:
        render->EnableCapture(true);
        render->CaptureImage(
            ::testing::TempDir() + "stress_" + id + (n % 16 == 3 ? ".bmp" : ".jpg"),
            n % 64 == 3 ? 70 : 0);  // a file now and then, armed otherwise
        break;
      case 4:
        render->FillBlack();
        break;
      case 5:
        render->AddObserver(&bystander_);
        render->RemoveObserver(&bystander_);
        break;
      case 6:
        render->SetSize(frame.Width(), frame.Height());
        break;
      default:
        render->RenderFrame(&frame);
        break;
    }
  }
  // Every renderer this engine observed has told it of its end, once.
  void ExpectToldOncePerObservation() {
    rtc::MutexLock lock(&mutex());
    EXPECT_EQ(render(), nullptr);
    EXPECT_GT(observed(), 0);
    EXPECT_EQ(told(), observed());
  }

 private:
  struct Bystander : rtc::DestroyObserver {
    void OnDestroy(rtc::DestroyNotify*) override {}
  } bystander_;
  struct Listener : IRenderEventListener {
    void OnFirstFrame(const std::string&, int, int) override { ++told; }
    void OnFrameSizeChanged(const std::string&, int, int) override { ++told; }
    void OnSurfaceSizeChanged(const std::string&, int, int) override { ++told; }
    std::atomic<int> told{0};
  } listener_;
};

// Four engine threads call every manager entry point and every renderer
// operation on two ids while the UI thread destroys and recreates their
// surfaces 500 times (200 in the sanitizer builds): nothing crashes or
// touches freed memory (the sanitizer builds watch), and every observer is
// told exactly once. The engines also turn and mirror the pictures, read
// the statistics and replace the ids' event listeners while frames tell
// them.
TEST_F(LifecycleTest, EngineThreadsSurviveSurfacesComingAndGoing) {
  rtc::LogLine::RemoveSink(&sink_);  // hundreds of thousands of lines; not the point here
  // A second core keeps the display initialised, so each new surface is
  // quick to build and the test exercises the teardown, not driver start-up.
  EGLCore keeper;
  auto keeper_window = ohos_desktop::X11Surface::Create(8, 8, "keeper");
  ASSERT_TRUE(keeper.EglContextInit(keeper_window->NativeWindow(), 8, 8));
  const std::vector<std::string> ids = {"stress-a", "stress-b"};
  std::vector<std::unique_ptr<ohos_desktop::X11Surface>> windows;
  std::vector<ohos_desktop::ScopedXComponent> components;
  for (const std::string& id : ids) {
    windows.push_back(ohos_desktop::X11Surface::Create(32, 32, id.c_str()));
    ASSERT_NE(windows.back(), nullptr);
    components.emplace_back(ohos_desktop::CreateXComponent(id, 32, 32, windows.back()->NativeWindow()));
  }

  constexpr int kEngines = 4;
  std::vector<std::vector<StressedHold>> holds(kEngines);
  // Outside the engine threads: a renderer may still hold a copy of an
  // engine's frame, which counts its destruction here, after they end.
  std::array<TestFrame::Counters, kEngines> counters;
  std::mutex draw_turn;
  std::atomic<bool> stop{false};
  std::vector<std::thread> engines;
  for (int e = 0; e < kEngines; ++e) {
    holds[e] = std::vector<StressedHold>(ids.size());
    engines.emplace_back([&, e] {
      TestFrame frame(32, 32, &counters[e], static_cast<uint8_t>(40 * e));
      for (int n = e; !stop.load(); ++n) {
        const size_t which = static_cast<size_t>(n / 8) % ids.size();
        std::string id = ids[which];
        holds[e][which].Step(id, frame, n, draw_turn);
        // An engine is paced by its frames; without a pause four threads
        // spinning on two cores would starve the UI thread's surfaces.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      eglReleaseThread();
    });
  }
  // Under the sanitizers every new context costs the driver's allocations a
  // hundredfold, so those builds run fewer cycles to stay within their time.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  constexpr int kCycles = 200;
#else
  constexpr int kCycles = 500;
#endif
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    const size_t which = static_cast<size_t>(cycle) % ids.size();
    std::string id = ids[which];
    PluginRender::GetInstance(id)->SetNativeXComponent(components[which].get());
    ohos_desktop::DispatchSurfaceCreated(components[which].get());
    ohos_desktop::DispatchSurfaceDestroyed(components[which].get());
    if (cycle % 64 == 0)
      ohos_desktop::ClearHilogRecords();
  }
  stop = true;
  for (std::thread& engine : engines)
    engine.join();
  for (std::string id : ids) {
    PluginRender::Release(id);  // renderers the engines' GetRender made after the last destroy
    PluginManager::GetInstance()->SetRenderEventListener(id, nullptr);  // before the holds go
  }
  for (auto& per_engine : holds)
    for (StressedHold& hold : per_engine)
      hold.ExpectToldOncePerObservation();
  rtc::LogLine::AddSink(&sink_, rtc::LogSeverity::Verbose);
}

}  // namespace
