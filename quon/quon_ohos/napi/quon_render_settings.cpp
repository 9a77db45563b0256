// A renderer's settings: those kept for its id in the registry and applied
// to it under the drawing lock, and those it takes directly.

#include "quon_render.h"

#include "quon_colour.h"
#include "quon_eglcore.h"
#include "quon_platform_log.h"
#include "quon_render_events.h"
#include "quon_render_registry.h"
#include "quon_render_statistics.h"
#include "rtc_base/logging.h"
#include "rtc_base/timeutils.h"

namespace {

using namespace platform_log;  // the domain, tags and TruncatedToInt

constexpr const char* kFile = "quon_render";

}  // namespace

int PluginRender::FillBlack() {
  InFlight call(this);
  LOG_AT(kFile, 363, Info) << static_cast<const void*>(this) << ": "
                           << "FillBlack"
                           << ": "
                           << ".";
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
    LOG(Warning) << static_cast<const void*>(this) << ": "
                 << "SetColorDescription"
                 << ": "
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

// Any 32-bit value is a colour: nothing to refuse.
bool PluginRender::SetBackgroundColor(uint32_t argb) {
  InFlight call(this);
  m_renderMap.ChangeSettings(this, [argb](Settings* settings) {
    settings->backgroundColor = argb;
    ++settings->backgroundChanges;
  });
  return true;
}

bool PluginRender::ClearSurface() {
  InFlight call(this);
  rtc::MutexLock draw(&m_drawMutex);
  return m_eglCore != nullptr && m_eglCore->ClearSurface();
}

bool PluginRender::SetMaxFrameRate(int fps) {
  InFlight call(this);
  if (fps < 0) {
    LOG(Warning) << static_cast<const void*>(this) << ": "
                 << "SetMaxFrameRate"
                 << ": "
                 << "refused fps=" << fps << " (0 for no limit, else frames a second)";
    return false;
  }
  m_renderMap.ChangeSettings(this, [fps](Settings* settings) { settings->maxFrameRate = fps; });
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
  const bool backgroundChanged = settings.backgroundChanges != m_settings.backgroundChanges;
  m_settings = settings;
  m_settingsVersion = version;
  if (m_eglCore == nullptr)
    return;
  if (colourChanged)
    m_eglCore->SetColorDescription(settings.colorRange == kColorRangeLimited,
                                   colour::YuvMatrixOf(settings.colorMatrix));
  if (orientationChanged)
    m_eglCore->SetOrientation(settings.rotation, settings.mirror);
  if (backgroundChanged)
    m_eglCore->SetBackgroundColour(settings.backgroundColor);
}

bool PluginRender::SetScaleType(int type) {
  InFlight call(this);
  LOG_AT(kFile, 403, Info) << static_cast<const void*>(this) << ": "
                           << "SetScaleType"
                           << ": "
                           << ".stype:" << type;
  rtc::MutexLock draw(&m_drawMutex);
  if (m_eglCore != nullptr)
    m_eglCore->SetScaleType(type);
  return true;
}
