#ifndef QUON_OHOS_NAPI_QUON_RENDER_H_
#define QUON_OHOS_NAPI_QUON_RENDER_H_

#include <stdint.h>

#include <atomic>
#include <mutex>
#include <string>
#include <unordered_map>

#include "ace/xcomponent/native_interface_xcomponent.h"
#include "quon_eglcore.h"
#include "video_render_interfaces.h"

// Asks the platform for `component`'s id through a zero-filled buffer of
// OH_NATIVEXCOMPONENT_MAX_ID_LEN + 1 bytes. False when the platform refuses.
bool QueryXComponentId(OH_NativeXComponent* component, std::string* id);

// The renderer of one XComponent, keyed by the XComponent's id. Created on
// first need through GetInstance, it follows its surface through the four
// XComponent callbacks (UI thread) and draws the engine's frames through
// rtc::IVideoRender (engine threads). It is released and deleted when its
// surface is destroyed; observers added through AddObserver hear of it.
//
// Threads: the callbacks and Release run on the UI thread. The engine calls
// the rtc::IVideoRender operations from its own threads; Release waits for
// a call already in progress, and calls that find the drawing core gone do
// nothing. After an observer's OnDestroy the engine must not call again.
class PluginRender : public rtc::IVideoRender {
 public:
  explicit PluginRender(std::string& id);
  ~PluginRender() override;

  // The renderer registered for `id`, created and registered when missing.
  // Null for an empty id.
  static PluginRender* GetInstance(std::string& id);
  // The renderer registered for `id`, or null; never creates one.
  static PluginRender* FindInstance(const std::string& id);
  // Releases the drawing core of `id`'s renderer, deletes the renderer and
  // forgets it.
  static void Release(std::string& id);

  void SetNativeXComponent(OH_NativeXComponent* component);
  void OnSurfaceCreated(OH_NativeXComponent* component, void* window);
  void OnSurfaceChanged(OH_NativeXComponent* component, void* window);
  void OnSurfaceDestroyed(OH_NativeXComponent* component, void* window);

  // rtc::IVideoRender.
  void SetSize(int width, int height) override;
  void RenderFrame(rtc::IVideoFrame* frame) override;
  int EnableCapture(bool enable) override;
  int CaptureImage(const std::string& jpegFileName, int quality) override;
  int ReservedOp1(...) override;
  int ReservedOp2(...) override;
  int ReservedOp3(...) override;
  int ReservedOp4(...) override;
  int ReservedOp5(...) override;
  int ReservedOp6(...) override;
  int FillBlack() override;
  int ReservedOp7(...) override;

  bool SetScaleType(int type);

  // The four XComponent callbacks, shared by every renderer.
  static void OnSurfaceCreatedCB(OH_NativeXComponent* component, void* window);
  static void OnSurfaceChangedCB(OH_NativeXComponent* component, void* window);
  static void OnSurfaceDestroyedCB(OH_NativeXComponent* component, void* window);
  static void DispatchTouchEventCB(OH_NativeXComponent* component, void* window);

  static OH_NativeXComponent_Callback m_callback;

  // State, readable by the renderer registry and tests.
  const std::string& id() const { return m_id; }
  void* window() const { return m_window; }
  int32_t width() const { return m_width.load(); }
  int32_t height() const { return m_height.load(); }
  EGLCore* eglCore() const { return m_eglCore; }

 private:
  // Counts an rtc::IVideoRender call in progress, so that destruction can
  // wait until none is left.
  class InFlight {
   public:
    explicit InFlight(PluginRender* render) : render_(render) { ++render_->m_inFlight; }
    ~InFlight() { --render_->m_inFlight; }

   private:
    PluginRender* render_;
  };

  void ReleaseCore();
  void WaitForCallsInProgress();
  void DropLastFrameLocked();

  static std::mutex& RegistryMutex();
  static std::unordered_map<std::string, PluginRender*>& m_renderMap;

  std::string m_id;
  EGLCore* m_eglCore = nullptr;
  std::atomic<int32_t> m_width{0};
  std::atomic<int32_t> m_height{0};
  OH_NativeXComponent* m_component = nullptr;
  void* m_window = nullptr;
  rtc::IVideoFrame* m_lastFrame = nullptr;
  bool m_captureEnabled = false;
  std::mutex m_captureMutex;
  std::string m_jpegFileName;
  int32_t m_quality = 0;

  // Serialises use of the drawing core between engine calls and Release.
  std::mutex m_drawMutex;
  std::atomic<int> m_inFlight{0};
};

#endif  // QUON_OHOS_NAPI_QUON_RENDER_H_
