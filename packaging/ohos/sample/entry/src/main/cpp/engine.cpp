// The sample's engine: for each XComponent id it is started on, a thread
// that draws a moving test picture into nativerender's renderer of that id
// at 30 frames a second. A real engine hands its decoded frames over the
// same way (docs/integration.md of the package's source has the rules).

#include <stdint.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "napi/native_api.h"
#include "quon_renderManager.h"

namespace {

// An I420 frame of the engine's own: a flat colour that drifts with time.
class TestFrame : public rtc::IVideoFrame {
 public:
  TestFrame(int width, int height)
      : width_(width),
        height_(height),
        y_(static_cast<size_t>(width) * height),
        u_(static_cast<size_t>((width + 1) / 2) * ((height + 1) / 2)),
        v_(u_.size()) {}

  void Paint(int step) {
    memset(y_.data(), 96 + step % 64, y_.size());
    memset(u_.data(), (step * 2) % 256, u_.size());
    memset(v_.data(), 255 - (step * 2) % 256, v_.size());
  }

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
  IVideoFrame* Clone() const override { return new TestFrame(*this); }
  int ExportArgb(uint32_t, uint8_t*, size_t, int32_t) const override { return -1; }

 private:
  int width_;
  int height_;
  std::vector<uint8_t> y_, u_, v_;
};

// One id's drawing: the renderer, taken with an observer so that its end
// is heard, and the thread that draws into it.
class Drawing : public rtc::DestroyObserver {
 public:
  explicit Drawing(std::string id) : id_(std::move(id)) {}
  ~Drawing() override { Stop(); }

  bool Start() {
    std::lock_guard<std::mutex> hold(lock_);
    render_ = PluginManager::GetInstance()->FindRenderAndObserve(id_, this);
    if (render_ == nullptr)
      return false;
    thread_ = std::thread([this] { Run(); });
    return true;
  }

  void Stop() {
    stop_ = true;
    if (thread_.joinable())
      thread_.join();
    std::lock_guard<std::mutex> hold(lock_);
    if (render_ != nullptr) {
      render_->RemoveObserver(this);
      render_ = nullptr;
    }
  }

  // The surface went (UI thread): never touch the renderer again.
  void OnDestroy(rtc::DestroyNotify*) override {
    std::lock_guard<std::mutex> hold(lock_);
    render_ = nullptr;
  }

 private:
  void Run() {
    TestFrame frame(640, 360);
    for (int step = 0; !stop_; ++step) {
      frame.Paint(step);
      {
        std::lock_guard<std::mutex> hold(lock_);
        if (render_ == nullptr)
          return;
        render_->RenderFrame(&frame);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(33));
    }
  }

  std::string id_;
  std::mutex lock_;
  rtc::IVideoRender* render_ = nullptr;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

std::mutex g_lock;
std::map<std::string, std::unique_ptr<Drawing>> g_drawings;

bool IdArgument(napi_env env, napi_callback_info info, std::string* id) {
  size_t argc = 1;
  napi_value argv[1] = {nullptr};
  if (napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr) != napi_ok || argc < 1)
    return false;
  char buffer[129] = {0};
  size_t length = 0;
  if (napi_get_value_string_utf8(env, argv[0], buffer, sizeof(buffer), &length) != napi_ok)
    return false;
  id->assign(buffer, length);
  return !id->empty();
}

napi_value Start(napi_env env, napi_callback_info info) {
  std::string id;
  bool started = false;
  if (IdArgument(env, info, &id)) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_drawings.count(id) == 0) {
      std::unique_ptr<Drawing> drawing(new Drawing(id));
      if (drawing->Start()) {
        g_drawings[id] = std::move(drawing);
        started = true;
      }
    }
  }
  napi_value result = nullptr;
  napi_get_boolean(env, started, &result);
  return result;
}

napi_value Stop(napi_env env, napi_callback_info info) {
  std::string id;
  std::unique_ptr<Drawing> drawing;
  if (IdArgument(env, info, &id)) {
    std::lock_guard<std::mutex> hold(g_lock);
    auto it = g_drawings.find(id);
    if (it != g_drawings.end()) {
      drawing = std::move(it->second);
      g_drawings.erase(it);
    }
  }
  drawing.reset();  // stops and joins, outside the lock
  napi_value result = nullptr;
  napi_get_undefined(env, &result);
  return result;
}

napi_value Init(napi_env env, napi_value exports) {
  napi_property_descriptor properties[] = {
      {"start", nullptr, Start, nullptr, nullptr, nullptr, napi_default, nullptr},
      {"stop", nullptr, Stop, nullptr, nullptr, nullptr, napi_default, nullptr},
  };
  napi_define_properties(env, exports, sizeof(properties) / sizeof(properties[0]), properties);
  return exports;
}

napi_module g_module = {1, 0, nullptr, Init, "engine", nullptr, {nullptr}};

}  // namespace

extern "C" __attribute__((constructor)) void RegisterEngineModule() {
  napi_module_register(&g_module);
}
