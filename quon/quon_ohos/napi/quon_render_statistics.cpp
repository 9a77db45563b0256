#include "quon_render_statistics.h"

#include <algorithm>
#include <thread>

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
// The recorder's stores inside a frame's update (see Drawn).
constexpr auto kPublish = std::memory_order_release;

int64_t Millis(int64_t ns) {
  return ns / 1000000;
}

}  // namespace

void RenderStatisticsRecorder::Copy(const Window& from, Window* to) {
  to->index.store(from.index.load(kRelaxed), kPublish);
  to->frames.store(from.frames.load(kRelaxed), kPublish);
  to->totalNs.store(from.totalNs.load(kRelaxed), kPublish);
  to->worstNs.store(from.worstNs.load(kRelaxed), kPublish);
}

RenderStatisticsRecorder::FrameEvent RenderStatisticsRecorder::Drawn(int32_t width, int32_t height,
                                                                     int64_t startNs,
                                                                     int64_t endNs) {
  // The only writer: its own loads need no ordering.
  const int64_t drawn = m_drawn.load(kRelaxed);
  FrameEvent event = FrameEvent::kNone;
  if (drawn == 0)
    event = FrameEvent::kFirstFrame;
  else if (width != m_lastWidth.load(kRelaxed) || height != m_lastHeight.load(kRelaxed))
    event = FrameEvent::kFrameSizeChanged;

  // Odd while the figures change. The exchange's acquire half keeps the
  // stores below from moving above it, and each is a release: a snapshot
  // that reads one (an acquire) then sees the odd sequence too. (Fences
  // would do the same, but the thread sanitizer cannot follow them.)
  const uint64_t sequence = m_sequence.fetch_add(1, std::memory_order_acq_rel);
  m_drawn.store(drawn + 1, kPublish);
  m_lastWidth.store(width, kPublish);
  m_lastHeight.store(height, kPublish);
  if (drawn == 0)
    m_firstNs.store(endNs, kPublish);
  m_lastNs.store(endNs, kPublish);
  const int64_t index = endNs / kWindowNs;
  const int64_t currentIndex = m_current.index.load(kRelaxed);
  if (index != currentIndex) {
    // A new second: the one that ended is kept only if it was the last.
    if (index == currentIndex + 1) {
      Copy(m_current, &m_previous);
    } else {
      m_previous.index.store(-1, kPublish);
      m_previous.frames.store(0, kPublish);
    }
    m_current.index.store(index, kPublish);
    m_current.frames.store(0, kPublish);
    m_current.totalNs.store(0, kPublish);
    m_current.worstNs.store(0, kPublish);
  }
  const int64_t took = std::max<int64_t>(endNs - startNs, 0);
  m_current.frames.store(m_current.frames.load(kRelaxed) + 1, kPublish);
  m_current.totalNs.store(m_current.totalNs.load(kRelaxed) + took, kPublish);
  if (took > m_current.worstNs.load(kRelaxed))
    m_current.worstNs.store(took, kPublish);
  m_sequence.store(sequence + 2, std::memory_order_release);
  return event;
}

RenderStatistics RenderStatisticsRecorder::Snapshot(int64_t nowNs) const {
  RenderStatistics out;
  int64_t frames = 0, totalNs = 0, worstNs = 0;
  // Read again whenever a frame was recorded meanwhile: the figures of one
  // moment, never half of one frame's. Acquire loads keep the check of the
  // sequence below after them.
  for (;;) {
    const uint64_t before = m_sequence.load(std::memory_order_acquire);
    if (before % 2 != 0) {
      std::this_thread::yield();  // a frame is being recorded
      continue;
    }
    out.framesDrawn = m_drawn.load(std::memory_order_acquire);
    out.lastFrameWidth = m_lastWidth.load(std::memory_order_acquire);
    out.lastFrameHeight = m_lastHeight.load(std::memory_order_acquire);
    out.firstFrameTimeMs = Millis(m_firstNs.load(std::memory_order_acquire));
    out.lastFrameTimeMs = Millis(m_lastNs.load(std::memory_order_acquire));
    // The frames of this second and of the one before it.
    const int64_t now = nowNs / kWindowNs;
    frames = totalNs = worstNs = 0;
    for (const Window* window : {&m_current, &m_previous}) {
      const int64_t index = window->index.load(std::memory_order_acquire);
      if (index != now && index != now - 1)
        continue;
      frames += window->frames.load(std::memory_order_acquire);
      totalNs += window->totalNs.load(std::memory_order_acquire);
      worstNs = std::max(worstNs, window->worstNs.load(std::memory_order_acquire));
    }
    if (m_sequence.load(kRelaxed) == before)
      break;
  }
  out.drawTimeFrames = frames;
  out.drawTimeMeanUs = frames > 0 ? totalNs / frames / 1000 : 0;
  out.drawTimeMaxUs = worstNs / 1000;
  // Received last: a frame counted as drawn above was received before it,
  // so drawn plus dropped never exceeds received in one snapshot.
  out.framesDropped = m_dropped.load(std::memory_order_acquire);
  out.framesReceived = m_received.load(kRelaxed);
  return out;
}
