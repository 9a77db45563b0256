#include "quon_render.h"

#include <string.h>

#include <algorithm>

#include "quon_eglcore.h"
#include "quon_platform_log.h"
#include "quon_render_events.h"
#include "quon_render_frame.h"
#include "quon_render_image.h"
#include "quon_render_registry.h"
#include "quon_render_statistics.h"
#include "rtc_base/logging.h"
#include "rtc_base/timeutils.h"

namespace {

using namespace platform_log;  // the domain, tags and TruncatedToInt

constexpr const char* kFile = "quon_render";

colour::YuvMatrix YuvMatrixOf(int matrix) {
  switch (matrix) {
    case kColorMatrixBt709:
      return colour::YuvMatrix::kBt709;
    case kColorMatrixBt2020:
      return colour::YuvMatrix::kBt2020;
    default:
      return colour::YuvMatrix::kBt601;
  }
}

}  // namespace

bool QueryXComponentId(OH_NativeXComponent* component, std::string* id, int32_t* result) {
  char buffer[OH_XCOMPONENT_ID_LEN_MAX + 1];
  memset(buffer, 0, sizeof(buffer));
  uint64_t size = sizeof(buffer);
  const int32_t status = OH_NativeXComponent_GetXComponentId(component, buffer, &size);
  if (result != nullptr)
    *result = status;
  if (status != 0)
    return false;
  id->assign(buffer, strnlen(buffer, sizeof(buffer)));
  return true;
}

OH_NativeXComponent_Callback PluginRender::m_callback = {
    OnSurfaceCreatedCB, OnSurfaceChangedCB, OnSurfaceDestroyedCB, DispatchTouchEventCB};

// --- Construction and destruction -------------------------------------------------

void PluginRender::Release(std::string& id) {
  PLATFORM(LOG_ERROR, kNativeTag, ">>>>>>>>>>>>PluginRender::Release");
  PluginRender* render = GetInstance(id);
  LOG_AT(kFile, 512, Info) << "Release" << ": " << ".id:" << id << ",render:"
                           << static_cast<const void*>(render);
  if (render == nullptr)
    return;
  // Forgotten first: from here on no look-up or pin can reach the renderer,
  // so nothing new enters it while it is torn down.
  m_renderMap.Forget(id, render);
  render->ReleaseCore();
  delete render;
}

PluginRender::PluginRender(std::string& id)
    : m_id(id), m_statistics(std::make_unique<RenderStatisticsRecorder>()) {
  PLATFORM(LOG_ERROR, kNativeTag, ">>>>>>>>PluginRender111 %{public}s", m_id.c_str());
  LOG_AT(kFile, 328, Info) << static_cast<const void*>(this) << ": " << "PluginRender" << ": "
                           << ".id=" << m_id << ",eglcore=" << static_cast<const void*>(m_eglCore);
  m_eglCore = new EGLCore;
  // The id's settings come from the registry, which makes the renderer.
  // m_callback is filled in where it is defined, before any thread runs:
  // written here, it raced with the UI thread's reads whenever an engine
  // call made a renderer for a new id.
}

PluginRender::~PluginRender() {
  PLATFORM(LOG_ERROR, kNativeTag, ">>>>>>>>~PluginRender");
  LOG_AT(kFile, 338, Info) << static_cast<const void*>(this) << ": " << "~PluginRender" << ": ";
  {
    rtc::MutexLock draw(&m_drawMutex);
    delete m_eglCore;  // releases its EGL objects when Release did not
    m_eglCore = nullptr;
  }
  // Observers hear of the end now, while every member still exists: an
  // engine call racing with the destruction finds the core gone and does
  // nothing. Once they have been told, wait for such calls and for pins to
  // leave.
  NotifyDestroy();
  WaitForCallsInProgress();
  rtc::MutexLock lock(&m_captureMutex);
  DropLastFrameLocked();
}

// Drops the drawing core, waiting for a frame being drawn by an engine
// thread to finish first.
void PluginRender::ReleaseCore() {
  rtc::MutexLock draw(&m_drawMutex);
  if (m_eglCore == nullptr)
    return;
  m_eglCore->Release();
  delete m_eglCore;
  m_eglCore = nullptr;
}

PluginRender::Pin::Pin(PluginRender* render) : render_(render) {}

PluginRender::Pin::~Pin() {
  if (render_ != nullptr)
    render_->LeaveCall();
}

// The count drops under m_leftMutex: the destructor, which reads it under
// the same lock, cannot see it at 0, return and free the renderer while the
// last caller out still uses the lock or the condition.
void PluginRender::LeaveCall() {
  rtc::MutexLock lock(&m_leftMutex);
  if (--m_inFlight == 0)
    m_left.notify_all();
}

// Sleeps, however long a call in progress takes (a slow capture write).
void PluginRender::WaitForCallsInProgress() {
  rtc::MutexLock lock(&m_leftMutex);
  m_leftMutex.Await(m_left, [this] { return m_inFlight.load() == 0; });
}

void PluginRender::DropLastFrameLocked() {
  delete m_lastFrame;
  m_lastFrame = nullptr;
}

// --- Surface ------------------------------------------------------------------------

void PluginRender::SetNativeXComponent(OH_NativeXComponent* component) {
  PLATFORM(LOG_ERROR, kNativeTag, "PluginRender::SetNativeXComponent %{public}d",
           TruncatedToInt(component));
  m_component = component;
  OH_NativeXComponent_RegisterCallback(component, &m_callback);
}

void PluginRender::OnSurfaceCreated(OH_NativeXComponent* component, void* window) {
  LOG_AT(kFile, 454, Info) << static_cast<const void*>(this) << ": " << "OnSurfaceCreated" << ": "
                           << ".component:" << static_cast<const void*>(component)
                           << ",window:" << window << ",width:height=" << m_width.load() << ","
                           << m_height.load();
  PLATFORM(LOG_ERROR, kNativeTag, ">>>>>>>>>>>>PluginRender::OnSurfaceCreated");
  uint64_t width = 0;
  uint64_t height = 0;
  const int32_t size_result = OH_NativeXComponent_GetXComponentSize(component, window, &width, &height);
  if (size_result == 0) {
    m_width = static_cast<int32_t>(width);
    m_height = static_cast<int32_t>(height);
  }
  PLATFORM(LOG_ERROR, kNativeTag, ">>>>>>>>>>>>PluginRender::OnSurfaceCreated111111111111111111");
  PLATFORM(LOG_ERROR, kNativeTag, "PluginRender::SetNativeWindow %{public}d", TruncatedToInt(window));
  void* const previous = m_window.exchange(window);
  rtc::MutexLock draw(&m_drawMutex);
  // Created again without being destroyed: a change of surface. The old
  // EGL surface goes first (a window takes one surface at a time, and the
  // new one would fail on it), then drawing goes on with the new one.
  if (previous != nullptr && m_eglCore != nullptr) {
    LOG(Warning) << static_cast<const void*>(this) << ": "
                 << "OnSurfaceCreated"
                 << ": "
                 << "created again without being destroyed; releasing window " << previous
                 << " first";
    m_eglCore->Release();
  }
  if (size_result == 0) {
    m_surfaceWidth = static_cast<int32_t>(width);
    m_surfaceHeight = static_cast<int32_t>(height);
  }
  if (size_result == 0 && m_eglCore != nullptr)
    m_eglCore->EglContextInit(window, m_width.load(), m_height.load());
}

// A resize or a rotation: the size is read as at creation, and the core
// draws at it from the next frame on.
void PluginRender::OnSurfaceChanged(OH_NativeXComponent* component, void* window) {
  PLATFORM(LOG_ERROR, kNativeTag, ">>>>>>>>>>>>PluginRender::OnSurfaceChanged");
  uint64_t width = 0;
  uint64_t height = 0;
  if (component == nullptr ||
      OH_NativeXComponent_GetXComponentSize(component, window, &width, &height) != 0)
    return;
  m_width = static_cast<int32_t>(width);
  m_height = static_cast<int32_t>(height);
  LOG(Info) << static_cast<const void*>(this) << ": " << "OnSurfaceChanged" << ": "
            << ".width:height=" << m_width.load() << "," << m_height.load();
  const int32_t w = static_cast<int32_t>(width), h = static_cast<int32_t>(height);
  std::shared_ptr<RenderEventSlot> events;
  {
    rtc::MutexLock draw(&m_drawMutex);
    if (m_eglCore == nullptr || window != m_window.load())
      return;
    // A surface created before it was laid out (at 0x0) got no environment:
    // it gets one now that it has a size, and draws from the next frame on.
    if (!m_eglCore->HasEnvironment() && m_width.load() >= 1 && m_height.load() >= 1)
      m_eglCore->EglContextInit(window, m_width.load(), m_height.load());
    else
      m_eglCore->SetSurfaceSize(m_width.load(), m_height.load());
    if (w < 1 || h < 1 || (w == m_surfaceWidth && h == m_surfaceHeight))
      return;  // refused, or no change
    m_surfaceWidth = w;
    m_surfaceHeight = h;
    events = m_settings.events;
  }
  // Outside the drawing lock: the listener may call back into the module.
  if (events)
    events->Tell(RenderEventSlot::Event::kSurfaceSizeChanged, m_id, w, h);
}

void PluginRender::OnSurfaceDestroyed(OH_NativeXComponent* component, void* window) {
  LOG_AT(kFile, 474, Info) << "OnSurfaceDestroyed" << ": " << ".component:"
                           << static_cast<const void*>(component) << ",window:" << window;
  PLATFORM(LOG_ERROR, kNativeTag, ">>>>>>>>>>>>PluginRender::OnSurfaceDestroyed");
  if (component == nullptr || window == nullptr) {
    PLATFORM(LOG_ERROR, kCallbackTag, "OnSurfaceDestroyedCB: component or window is null");
    return;
  }
  std::string id;
  if (!QueryXComponentId(component, &id)) {
    PLATFORM(LOG_ERROR, kCallbackTag, "OnSurfaceDestroyedCB: Unable to get XComponent id");
    return;
  }
  LOG_AT(kFile, 489, Info) << static_cast<const void*>(this) << ": " << "OnSurfaceDestroyed"
                           << ": " << ".idStr:" << id;
  Release(id);  // deletes this renderer
}

// --- Callbacks ------------------------------------------------------------------------

namespace {

// The opening every callback shares: its log lines, the id query and the
// renderer look-up (which creates a renderer for an id that has none).
// Null when the id cannot be had; `id_line` 0 means no id line.
PluginRender* OpenCallback(OH_NativeXComponent* component, const char* name, int first_line,
                           int id_line) {
  LOG_AT(kFile, first_line, Info) << name << ": " << ".";
  PLATFORM(LOG_ERROR, kNativeTag, "%{public}s", name);
  std::string id;
  if (!QueryXComponentId(component, &id))
    return nullptr;
  if (id_line != 0)
    LOG_AT(kFile, id_line, Info) << name << ": " << ".id=" << id;
  return PluginRender::GetInstance(id);
}

}  // namespace

void PluginRender::OnSurfaceCreatedCB(OH_NativeXComponent* component, void* window) {
  if (PluginRender* render = OpenCallback(component, "OnSurfaceCreatedCB", 258, 267))
    render->OnSurfaceCreated(component, window);
}

void PluginRender::OnSurfaceChangedCB(OH_NativeXComponent* component, void* window) {
  if (PluginRender* render = OpenCallback(component, "OnSurfaceChangedCB", 275, 0))
    render->OnSurfaceChanged(component, window);
}

void PluginRender::OnSurfaceDestroyedCB(OH_NativeXComponent* component, void* window) {
  if (PluginRender* render = OpenCallback(component, "OnSurfaceDestroyedCB", 292, 301))
    render->OnSurfaceDestroyed(component, window);
}

void PluginRender::DispatchTouchEventCB(OH_NativeXComponent* component, void*) {
  OpenCallback(component, "DispatchTouchEventCB", 309, 318);
}

// --- rtc::IVideoRender -----------------------------------------------------------------

void PluginRender::SetSize(int width, int height) {
  InFlight call(this);
  PLATFORM(LOG_ERROR, kNativeTag, "PluginRender::SetSize %{public}d,%{public}d", m_width.load(),
           m_height.load());
  m_width = width;
  m_height = height;
  LOG_AT(kFile, 443, Info) << static_cast<const void*>(this) << ": " << "SetSize" << ": "
                           << ".sz:" << width << "*" << height;
}

void PluginRender::RenderFrame(rtc::IVideoFrame* frame) {
  InFlight call(this);
  m_statistics->Received();
  if (frame == nullptr) {
    LOG_AT(kFile, 346, Error) << static_cast<const void*>(this) << ": " << "RenderFrame" << ": "
                              << "frame is null";
    m_statistics->Dropped();
    return;
  }
  // A frame is captured as it was drawn.
  bool limitedRange = false;
  int matrix = kColorMatrixBt601;
  int32_t width = 0, height = 0;
  RenderStatisticsRecorder::FrameEvent event = RenderStatisticsRecorder::FrameEvent::kNone;
  std::shared_ptr<RenderEventSlot> events;  // only when there is an event to tell
  uint64_t turn = 0;
  {
    rtc::MutexLock draw(&m_drawMutex);
    if (m_eglCore == nullptr) {
      m_statistics->Dropped();
      return;  // released: the renderer is going away
    }
    const uint8_t* y = frame->YPlane();
    const uint8_t* u = frame->UPlane();
    const uint8_t* v = frame->VPlane();
    width = frame->Width();
    height = frame->Height();
    // Rows as far apart as the engine's decoder laid them out.
    const int32_t yStride = frame->YStride();
    const int32_t uStride = frame->UStride();
    const int32_t vStride = frame->VStride();
    m_eglCore->SetFrameRotation(0);
    m_eglCore->SetFrameColour(true, false, colour::YuvMatrix::kBt601);
    const int64_t start = rtc::MonotonicNanos();
    if (m_eglCore->onRenderData(y, u, v, width, height, yStride, uStride, vStride)) {
      m_statistics->CaptureTime(0);
      event = m_statistics->Drawn(width, height, start, rtc::MonotonicNanos());
    } else {
      m_statistics->Dropped();
    }
    if (event != RenderStatisticsRecorder::FrameEvent::kNone && m_settings.events) {
      events = m_settings.events;
      turn = events->TakeTurn();  // in the order the frames were drawn
    }
    limitedRange = m_settings.colorRange == kColorRangeLimited;
    matrix = m_settings.colorMatrix;
  }
  FinishFrame(
      static_cast<int>(event), turn, events, width, height, limitedRange, matrix,
      [](const void* source, bool, int) {
        return static_cast<const rtc::IVideoFrame*>(source)->Clone();
      },
      frame);
}

bool PluginRender::PushFrame(const FrameDescription& frame) {
  InFlight call(this);
  m_statistics->Received();
  if (const char* fault = pushed_frame::FaultOf(frame)) {
    LOG(Warning) << static_cast<const void*>(this) << ": "
                 << "PushFrame"
                 << ": "
                 << "refused: " << fault << " (layout=" << frame.layout << ",size=" << frame.width
                 << "x" << frame.height << ",rotation=" << frame.rotation << ")";
    m_statistics->Dropped();
    return false;
  }
  bool limitedRange = false;
  int matrix = kColorMatrixBt601;
  RenderStatisticsRecorder::FrameEvent event = RenderStatisticsRecorder::FrameEvent::kNone;
  std::shared_ptr<RenderEventSlot> events;
  uint64_t turn = 0;
  bool drawn = false;
  {
    rtc::MutexLock draw(&m_drawMutex);
    if (m_eglCore == nullptr) {
      m_statistics->Dropped();
      return false;  // released: the renderer is going away
    }
    const bool ownRange = frame.colorRange == kFrameColourOfId;
    const bool ownMatrix = frame.colorMatrix == kFrameColourOfId;
    limitedRange = (ownRange ? m_settings.colorRange : frame.colorRange) == kColorRangeLimited;
    matrix = ownMatrix ? m_settings.colorMatrix : frame.colorMatrix;
    m_eglCore->SetFrameRotation(frame.rotation);
    m_eglCore->SetFrameColour(ownRange && ownMatrix, limitedRange, YuvMatrixOf(matrix));
    const int64_t start = rtc::MonotonicNanos();
    if (frame.layout == kFrameLayoutI420)
      drawn = m_eglCore->onRenderData(frame.planes[0], frame.planes[1], frame.planes[2],
                                      frame.width, frame.height, frame.strides[0], frame.strides[1],
                                      frame.strides[2]);
    else
      drawn = m_eglCore->onRenderBiplanar(frame.planes[0], frame.planes[1], frame.width,
                                          frame.height, frame.strides[0], frame.strides[1],
                                          frame.layout == kFrameLayoutNv21);
    if (drawn) {
      m_statistics->CaptureTime(frame.captureTimeUs);
      event = m_statistics->Drawn(frame.width, frame.height, start, rtc::MonotonicNanos());
    } else {
      m_statistics->Dropped();
    }
    if (event != RenderStatisticsRecorder::FrameEvent::kNone && m_settings.events) {
      events = m_settings.events;
      turn = events->TakeTurn();
    }
  }
  FinishFrame(
      static_cast<int>(event), turn, events, frame.width, frame.height, limitedRange, matrix,
      [](const void* source, bool limited, int coded) -> rtc::IVideoFrame* {
        return new pushed_frame::OwnedI420Frame(*static_cast<const FrameDescription*>(source),
                                                limited, YuvMatrixOf(coded));
      },
      &frame);
  return drawn;
}

void PluginRender::FinishFrame(int event, uint64_t turn,
                               const std::shared_ptr<RenderEventSlot>& events, int32_t width,
                               int32_t height, bool limitedRange, int matrix,
                               rtc::IVideoFrame* (*copy)(const void*, bool, int),
                               const void* source) {
  // Told with no lock held, before a capture delays the thread.
  if (events)
    events->TellInTurn(turn,
                       event == static_cast<int>(RenderStatisticsRecorder::FrameEvent::kFirstFrame)
                           ? RenderEventSlot::Event::kFirstFrame
                           : RenderEventSlot::Event::kFrameSizeChanged,
                       m_id, width, height);
  rtc::MutexLock lock(&m_captureMutex);
  if (!m_captureEnabled || m_jpegFileName.empty() || m_quality == 0)
    return;
  LOG_AT(kFile, 350, Info) << static_cast<const void*>(this) << ": " << "RenderFrame" << ": "
                           << ".copy frame " << static_cast<const void*>(m_lastFrame);
  DropLastFrameLocked();
  m_lastFrame = copy(source, limitedRange, matrix);
  int error = 0;
  Render2SaveImage(m_lastFrame, m_jpegFileName, m_quality, limitedRange, YuvMatrixOf(matrix),
                   &error);
  // Let go at once: an engine's copy may hold a decoder's picture.
  DropLastFrameLocked();
  m_lastCapture = {true, m_jpegFileName, error};
  m_captureEnabled = false;  // one frame per arming, whatever happened
}

bool PluginRender::LastCaptureResult(std::string* path, int* error) {
  rtc::MutexLock lock(&m_captureMutex);
  if (!m_lastCapture.taken)
    return false;
  *path = m_lastCapture.path;
  *error = m_lastCapture.error;
  return true;
}

int PluginRender::EnableCapture(bool enable) {
  InFlight call(this);
  rtc::MutexLock lock(&m_captureMutex);
  LOG_AT(kFile, 411, Info) << static_cast<const void*>(this) << ": " << "EnableCapture" << ": "
                           << ".enable:" << enable
                           << ",lastframe=" << static_cast<const void*>(m_lastFrame);
  m_captureEnabled = enable;
  if (!enable)
    DropLastFrameLocked();
  else
    m_lastCapture = CaptureOutcome();  // the result to come is this arming's
  return 0;
}

int PluginRender::CaptureImage(const std::string& jpegFileName, int quality) {
  InFlight call(this);
  {
    rtc::MutexLock lock(&m_captureMutex);
    LOG_AT(kFile, 423, Info) << static_cast<const void*>(this) << ": " << "CaptureImage" << ": "
                             << " lastframe=" << static_cast<const void*>(m_lastFrame)
                             << " enabel=" << m_captureEnabled << " jpegFileName=" << jpegFileName
                             << " qualtiy=" << quality;
    if (!m_captureEnabled)
      return -1;
    m_jpegFileName = jpegFileName;
    // Clamped here as the writer clamps: 0 would arm a capture that never
    // fires while the call reports success.
    m_quality = std::min(std::max(quality, 1), 100);
  }
  LOG_AT(kFile, 430, Info) << static_cast<const void*>(this) << ": " << "CaptureImage" << ": "
                           << " end";
  return 0;
}

int PluginRender::ReservedOp1(...) { return rtc::kNotSupported; }
int PluginRender::ReservedOp2(...) { return rtc::kNotSupported; }
int PluginRender::ReservedOp3(...) { return rtc::kNotSupported; }
int PluginRender::ReservedOp4(...) { return rtc::kNotSupported; }
int PluginRender::ReservedOp5(...) { return rtc::kNotSupported; }
int PluginRender::ReservedOp6(...) { return rtc::kNotSupported; }
int PluginRender::ReservedOp7(...) { return 0; }

int PluginRender::FillBlack() {
  InFlight call(this);
  LOG_AT(kFile, 363, Info) << static_cast<const void*>(this) << ": " << "FillBlack" << ": " << ".";
  PLATFORM(LOG_ERROR, kNativeTag, ">>>>>>>>FillBlack");
  rtc::MutexLock draw(&m_drawMutex);
  if (m_eglCore != nullptr)
    m_eglCore->FillBlack();
  return 0;
}

// Remembered for the id in the registry, and applied from there to this
// renderer and to the id's live one, whichever order racing calls take.
bool PluginRender::SetColorDescription(int range, int matrix) {
  InFlight call(this);
  if ((range != kColorRangeFull && range != kColorRangeLimited) ||
      (matrix != kColorMatrixBt601 && matrix != kColorMatrixBt709 &&
       matrix != kColorMatrixBt2020)) {
    LOG(Warning) << static_cast<const void*>(this) << ": " << "SetColorDescription" << ": "
                 << "refused range=" << range << ",matrix=" << matrix;
    return false;
  }
  m_renderMap.ChangeSettings(this, [range, matrix](Settings* settings) {
    settings->colorRange = range;
    settings->colorMatrix = matrix;
    ++settings->colourChanges;
  });
  return true;
}

bool PluginRender::SetMirror(bool mirror) {
  InFlight call(this);
  m_renderMap.ChangeSettings(this, [mirror](Settings* settings) {
    settings->mirror = mirror;
    ++settings->orientationChanges;
  });
  return true;
}

bool PluginRender::SetRotation(int degrees) {
  InFlight call(this);
  if (degrees != 0 && degrees != 90 && degrees != 180 && degrees != 270) {
    LOG(Warning) << static_cast<const void*>(this) << ": "
                 << "SetRotation"
                 << ": "
                 << "refused degrees=" << degrees << " (0, 90, 180 or 270)";
    return false;
  }
  m_renderMap.ChangeSettings(this, [degrees](Settings* settings) {
    settings->rotation = degrees;
    ++settings->orientationChanges;
  });
  return true;
}

bool PluginRender::SetRenderEventListener(IRenderEventListener* listener) {
  InFlight call(this);
  // No lock held for the wait: it may wait for a call in progress.
  m_renderMap.InstallListener(this, listener)->AwaitCallsOfReplaced();
  return true;
}

void PluginRender::RemoveRenderEventListener(const std::string& id) {
  if (std::shared_ptr<RenderEventSlot> slot = m_renderMap.RemoveListener(id))
    slot->AwaitCallsOfReplaced();
}

RenderStatistics PluginRender::Statistics() const {
  return m_statistics->Snapshot(rtc::MonotonicNanos());
}

// Every setting goes to the core here, together, under the drawing lock: a
// frame is drawn, and captured, with one snapshot of them. A group of
// settings reaches the core only when it was changed.
void PluginRender::ApplySettings(const Settings& settings, uint64_t version) {
  rtc::MutexLock draw(&m_drawMutex);
  if (version < m_settingsVersion)
    return;  // a later change was applied already
  const bool colourChanged = settings.colourChanges != m_settings.colourChanges;
  const bool orientationChanged = settings.orientationChanges != m_settings.orientationChanges;
  m_settings = settings;
  m_settingsVersion = version;
  if (m_eglCore == nullptr)
    return;
  if (colourChanged)
    m_eglCore->SetColorDescription(settings.colorRange == kColorRangeLimited,
                                   YuvMatrixOf(settings.colorMatrix));
  if (orientationChanged)
    m_eglCore->SetOrientation(settings.rotation, settings.mirror);
}

bool PluginRender::SetScaleType(int type) {
  InFlight call(this);
  LOG_AT(kFile, 403, Info) << static_cast<const void*>(this) << ": " << "SetScaleType" << ": "
                           << ".stype:" << type;
  rtc::MutexLock draw(&m_drawMutex);
  if (m_eglCore != nullptr)
    m_eglCore->SetScaleType(type);
  return true;
}
