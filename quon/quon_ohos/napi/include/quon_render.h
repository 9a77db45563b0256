#ifndef QUON_OHOS_NAPI_QUON_RENDER_H_
#define QUON_OHOS_NAPI_QUON_RENDER_H_

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <string>

#include "IRenderEventListener.h"
#include "ISnapshotListener.h"
#include "quon_frame.h"
#include "ace/xcomponent/native_interface_xcomponent.h"
#include "video_render_interfaces.h"

// The drawing core stays out of this header, so that an engine that
// includes it needs no EGL or GLES headers.
class EGLCore;
class RenderEventSlot;
class FrameRateLimit;
class RenderRegistry;
class RenderSnapshots;
class RenderStatisticsRecorder;

// How an engine's frames encode colour (PluginManager::SetColorDescription).
constexpr int kColorRangeFull = 0;     // samples 0..255 (the default)
constexpr int kColorRangeLimited = 1;  // Y 16..235, chroma 16..240: what decoders mostly give
constexpr int kColorMatrixBt601 = 601; // the default
constexpr int kColorMatrixBt709 = 709;
constexpr int kColorMatrixBt2020 = 2020;  // BT.2020 non-constant luminance

namespace nativerender_detail {

// What an id keeps across its renderers: the registry holds it in the
// id's record, and every renderer of the id draws with it. A setting
// remembered tomorrow is one more field here, applied in
// PluginRender::ApplySettings. Each group counts its changes, so that a
// renderer applies a group only when it was changed. Outside the renderer's
// class so that the registry's header can name it without this one.
struct RenderSettings {
  int colorRange = kColorRangeFull;
  int colorMatrix = kColorMatrixBt601;
  uint64_t colourChanges = 0;
  int rotation = 0;
  bool mirror = false;
  uint64_t orientationChanges = 0;
  uint32_t backgroundColor = 0xFF000000u;
  uint64_t backgroundChanges = 0;
  int maxFrameRate = 0;  // read by the frame path, nothing to apply
  // Made on the first SetRenderEventListener for the id.
  std::shared_ptr<RenderEventSlot> events;
};

}  // namespace nativerender_detail

// The renderer of one XComponent, keyed by the XComponent's id. Created on
// first need through GetInstance, it follows its surface through the four
// XComponent callbacks (UI thread) and draws the engine's frames through
// rtc::IVideoRender (engine threads). It is released and deleted when its
// surface is destroyed; observers added through AddObserver hear of it.
//
// Threads: the callbacks and Release run on the UI thread. Release first
// takes the renderer out of the registry, so no look-up finds it once its
// destruction has begun; it then waits for the rtc::IVideoRender calls and
// the pins (below) still inside the renderer. Calls that find the drawing
// core gone do nothing. After an observer's OnDestroy the engine must not
// call again: the memory goes as soon as those calls have left.
class NATIVERENDER_EXPORT PluginRender : public rtc::IVideoRender {
 public:
  explicit PluginRender(std::string& id);
  ~PluginRender() override;

  // The renderer registered for `id`, created and registered when missing.
  // Null for an empty id.
  static PluginRender* GetInstance(std::string& id);
  // The renderer registered for `id`, or null; never creates one.
  static PluginRender* FindInstance(const std::string& id);
  // Forgets `id`'s renderer, releases its drawing core and deletes it.
  static void Release(std::string& id);

  // A renderer held against deletion for the length of one call. A pin is
  // taken under the registry lock, so none is taken once Release began, and
  // the renderer's destructor waits until every pin is dropped.
  class Pin {
   public:
    Pin() = default;
    explicit Pin(PluginRender* render);  // `render` already counted
    Pin(Pin&& other) noexcept : render_(other.render_) { other.render_ = nullptr; }
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;
    Pin& operator=(Pin&&) = delete;
    ~Pin();

    PluginRender* get() const { return render_; }
    PluginRender* operator->() const { return render_; }
    explicit operator bool() const { return render_ != nullptr; }

   private:
    PluginRender* render_ = nullptr;
  };
  // `id`'s renderer, pinned; when there is none, a new one if `create` (and
  // the id is not empty), else an empty pin.
  static Pin PinInstance(std::string& id, bool create);
  // `id`'s registered renderer with `observer` added to it in the same step,
  // or null (and nothing added). The renderer cannot go between the look-up
  // and the registration, so the observer hears of its end.
  static PluginRender* FindInstanceAndObserve(const std::string& id,
                                              rtc::DestroyObserver* observer);

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

  // Draws the frame `frame` describes (quon_frame.h), as RenderFrame draws
  // an I420 one: NV12 and NV21 as they come, turned by its own rotation and
  // the id's, with its colour description or the id's; an armed capture
  // takes it. False, with one line and nothing drawn, for a description
  // that is not sound (layout, size, planes, strides, rotation) or a frame
  // that could not be drawn. True, with nothing drawn, for a frame above
  // the id's SetMaxFrameRate. Engine threads, as RenderFrame.
  bool PushFrame(const FrameDescription& frame);

  bool SetScaleType(int type);
  // Draws (and captures to JPEG) frames as `range` and `matrix` describe
  // them (the constants above); false for other values. Remembered for the
  // id, so that the renderer of its next surface starts with it too.
  bool SetColorDescription(int range, int matrix);
  // The picture flipped left for right as shown, and turned clockwise by
  // `degrees` (0, 90, 180 or 270; false for others), from the next frame.
  // Remembered for the id, as the colour description is.
  bool SetMirror(bool mirror);
  bool SetRotation(int degrees);
  // The colour the picture is drawn on (the bars of fit, and what
  // ClearSurface clears to), 0xAARRGGBB; opaque black by default. From the
  // next frame, and remembered for the id.
  bool SetBackgroundColor(uint32_t argb);
  // Clears the surface to the background colour at once. False, with a
  // line, when there is no surface to clear.
  bool ClearSurface();
  // Draws at most `fps` frames a second (0: no limit); frames above the
  // rate are dropped before they are uploaded. False, with a line, below 0.
  // Remembered for the id.
  bool SetMaxFrameRate(int fps);
  // The id's event listener (null: none), kept for its later renderers too.
  // Returns once no call to the listener it replaces is in progress on
  // another thread.
  bool SetRenderEventListener(IRenderEventListener* listener);
  // Takes the id's listener away when the id has no renderer (one of its
  // renderers does it with SetRenderEventListener(nullptr)).
  static void RemoveRenderEventListener(const std::string& id);
  // This renderer's figures; any thread.
  RenderStatistics Statistics() const;
  // The next frame drawn, as shown (kSnapshotShown) or the frame itself
  // (kSnapshotFrame), to `listener` once (ISnapshotListener.h); any thread.
  // False, with a line, for a null listener or another kind.
  bool TakeSnapshot(ISnapshotListener* listener, int32_t kind);
  // The next frame drawn as shown, written to the PNG file `path`; then
  // `listener`, when not null, told. False, with a line, for an empty path.
  bool TakeSnapshotToFile(const std::string& path, ISnapshotListener* listener);

  // The four XComponent callbacks, shared by every renderer.
  static void OnSurfaceCreatedCB(OH_NativeXComponent* component, void* window);
  static void OnSurfaceChangedCB(OH_NativeXComponent* component, void* window);
  static void OnSurfaceDestroyedCB(OH_NativeXComponent* component, void* window);
  static void DispatchTouchEventCB(OH_NativeXComponent* component, void* window);

  static OH_NativeXComponent_Callback m_callback;

  // State, readable by the renderer registry and tests.
  const std::string& id() const { return m_id; }
  void* window() const { return m_window.load(); }
  int32_t width() const { return m_width.load(); }
  int32_t height() const { return m_height.load(); }
  EGLCore* eglCore() const { return m_eglCore; }
  // The last capture this renderer took: the path it was to be written to,
  // and 0 when the file was written or an errno value saying why not. False
  // from EnableCapture(true) until the capture it arms is taken.
  bool LastCaptureResult(std::string* path, int* error);

 private:
  friend class RenderRegistry;  // makes renderers, pins them, applies settings

  // What an id keeps across its renderers (nativerender_detail above).
  using Settings = nativerender_detail::RenderSettings;

  // Counts an rtc::IVideoRender call in progress (pins count the same way),
  // so that destruction can wait until none is left.
  class InFlight {
   public:
    explicit InFlight(PluginRender* render) : render_(render) { ++render_->m_inFlight; }
    ~InFlight() { render_->LeaveCall(); }

   private:
    PluginRender* render_;
  };

  void ReleaseCore();
  // Takes the id's settings as the registry holds them after its change
  // number `version`, all in one step under the drawing lock; a snapshot
  // older than the one already taken (racing changes) is ignored.
  void ApplySettings(const Settings& settings, uint64_t version) NATIVERENDER_EXCLUDES(m_drawMutex);
  // Ends a call or a pin; the last one out wakes a destructor waiting.
  void LeaveCall();
  void WaitForCallsInProgress();
  void DropLastFrameLocked() NATIVERENDER_REQUIRES(m_captureMutex);
  // After a frame was drawn (or not): its events told, then, when a
  // capture is armed, the copy `copy` makes of it written.
  void FinishFrame(int event, uint64_t turn, const std::shared_ptr<RenderEventSlot>& events,
                   int32_t width, int32_t height, bool limitedRange, int matrix,
                   rtc::IVideoFrame* (*copy)(const void* source, bool limitedRange, int matrix),
                   const void* source);

  // The render registry: one record per id, its renderer and its settings
  // (quon_render_registry.h).
  static RenderRegistry& m_renderMap;

  std::string m_id;
  EGLCore* m_eglCore = nullptr;
  std::atomic<int32_t> m_width{0};
  std::atomic<int32_t> m_height{0};
  OH_NativeXComponent* m_component = nullptr;
  std::atomic<void*> m_window{nullptr};  // read by engine threads
  // The capture: the frame kept for it, armed, named.
  rtc::IVideoFrame* m_lastFrame NATIVERENDER_GUARDED_BY(m_captureMutex) = nullptr;
  bool m_captureEnabled NATIVERENDER_GUARDED_BY(m_captureMutex) = false;
  nativerender_detail::Mutex m_captureMutex;
  std::string m_jpegFileName NATIVERENDER_GUARDED_BY(m_captureMutex);
  int32_t m_quality NATIVERENDER_GUARDED_BY(m_captureMutex) = 0;
  // Path and error of the last capture taken, once one was.
  struct CaptureOutcome {
    bool taken = false;
    std::string path;
    int error = 0;
  };
  CaptureOutcome m_lastCapture NATIVERENDER_GUARDED_BY(m_captureMutex);

  // Serialises use of the drawing core between engine calls and Release.
  nativerender_detail::Mutex m_drawMutex;
  // The settings the core draws with, and the registry's change number
  // they came with.
  Settings m_settings NATIVERENDER_GUARDED_BY(m_drawMutex);
  uint64_t m_settingsVersion NATIVERENDER_GUARDED_BY(m_drawMutex) = 0;
  // The surface's size as the platform last reported it (0 x 0: not yet).
  int32_t m_surfaceWidth NATIVERENDER_GUARDED_BY(m_drawMutex) = 0;
  int32_t m_surfaceHeight NATIVERENDER_GUARDED_BY(m_drawMutex) = 0;
  // Counted without a lock; the drawn frames' figures under m_drawMutex.
  const std::unique_ptr<RenderStatisticsRecorder> m_statistics;
  // SetMaxFrameRate's schedule; used under m_drawMutex.
  const std::unique_ptr<FrameRateLimit> m_rateLimit;
  // Snapshots waiting for the next frame (quon_render_snapshot.h).
  const std::unique_ptr<RenderSnapshots> m_snapshots;

  std::atomic<int> m_inFlight{0};
  // With m_left: the destructor sleeps until m_inFlight is 0.
  nativerender_detail::Mutex m_leftMutex;
  std::condition_variable m_left;
};

#endif  // QUON_OHOS_NAPI_QUON_RENDER_H_
