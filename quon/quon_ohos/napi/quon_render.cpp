#include "quon_render.h"

#include <stdint.h>

#include <algorithm>

#include "quon_eglcore.h"
#include "quon_platform_log.h"
#include "quon_render_events.h"
#include "quon_render_frame.h"
#include "quon_render_image.h"
#include "quon_render_rate.h"
#include "quon_render_registry.h"
#include "quon_render_snapshot.h"
#include "quon_render_statistics.h"
#include "rtc_base/logging.h"
#include "rtc_base/timeutils.h"

namespace {

using namespace platform_log;  // the domain, tags and TruncatedToInt

constexpr const char* kFile = "quon_render";

}  // namespace

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
    : m_id(id),
      m_statistics(std::make_unique<RenderStatisticsRecorder>()),
      m_rateLimit(std::make_unique<FrameRateLimit>()),
      m_snapshots(std::make_unique<RenderSnapshots>()) {
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
  m_snapshots->FailWaiting(m_id);
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
  const int64_t arrivalNs = rtc::MonotonicNanos();
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
  SnapshotBatch snapshots;
  {
    rtc::MutexLock draw(&m_drawMutex);
    if (m_eglCore == nullptr) {
      m_statistics->Dropped();
      return;  // released: the renderer is going away
    }
    // Above the id's rate: not drawn, not captured, nothing told.
    if (!m_rateLimit->Admit(m_settings.maxFrameRate, arrivalNs / 1000)) {
      m_statistics->DroppedByRate();
      return;
    }
    m_snapshots->Take(m_eglCore, &snapshots);
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
    const bool drawn = m_eglCore->onRenderData(y, u, v, width, height, yStride, uStride, vStride);
    snapshots.Drawn(m_eglCore, drawn);
    if (drawn) {
      event = m_statistics->Drawn(width, height, arrivalNs, start, rtc::MonotonicNanos());
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
  snapshots.Deliver(m_id, *frame, limitedRange, colour::YuvMatrixOf(matrix));
}

bool PluginRender::PushFrame(const FrameDescription& frame) {
  InFlight call(this);
  const int64_t arrivalNs = rtc::MonotonicNanos();
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
  SnapshotBatch snapshots;
  {
    rtc::MutexLock draw(&m_drawMutex);
    if (m_eglCore == nullptr) {
      m_statistics->Dropped();
      return false;  // released: the renderer is going away
    }
    // The frame's own time, when it has one, judges it against the rate: a
    // frame's place in the stream, not the jitter of its delivery. Dropped
    // by the rate, a frame was still handled as asked.
    const bool timed = frame.captureTimeUs > 0 && frame.captureTimeUs <= INT64_MAX / 1000;
    const int64_t originNs = timed ? frame.captureTimeUs * 1000 : arrivalNs;
    if (!m_rateLimit->Admit(m_settings.maxFrameRate, originNs / 1000)) {
      m_statistics->DroppedByRate();
      return true;
    }
    m_snapshots->Take(m_eglCore, &snapshots);
    const bool ownRange = frame.colorRange == kFrameColourOfId;
    const bool ownMatrix = frame.colorMatrix == kFrameColourOfId;
    limitedRange = (ownRange ? m_settings.colorRange : frame.colorRange) == kColorRangeLimited;
    matrix = ownMatrix ? m_settings.colorMatrix : frame.colorMatrix;
    m_eglCore->SetFrameRotation(frame.rotation);
    m_eglCore->SetFrameColour(ownRange && ownMatrix, limitedRange, colour::YuvMatrixOf(matrix));
    const int64_t start = rtc::MonotonicNanos();
    if (frame.layout == kFrameLayoutI420)
      drawn = m_eglCore->onRenderData(frame.planes[0], frame.planes[1], frame.planes[2],
                                      frame.width, frame.height, frame.strides[0], frame.strides[1],
                                      frame.strides[2]);
    else
      drawn = m_eglCore->onRenderBiplanar(frame.planes[0], frame.planes[1], frame.width,
                                          frame.height, frame.strides[0], frame.strides[1],
                                          frame.layout == kFrameLayoutNv21);
    snapshots.Drawn(m_eglCore, drawn);
    if (drawn) {
      event =
          m_statistics->Drawn(frame.width, frame.height, originNs, start, rtc::MonotonicNanos());
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
                                                limited, colour::YuvMatrixOf(coded));
      },
      &frame);
  snapshots.Deliver(m_id, frame, limitedRange, colour::YuvMatrixOf(matrix));
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
  Render2SaveImage(m_lastFrame, m_jpegFileName, m_quality, limitedRange,
                   colour::YuvMatrixOf(matrix), &error);
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
int PluginRender::ReservedOp7(...) {
  return 0;
}
