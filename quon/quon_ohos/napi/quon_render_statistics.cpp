#include "quon_render_statistics.h"

#include <algorithm>
#include <array>
#include <thread>

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
// The recorder's stores inside a frame's update (see Drawn).
constexpr auto kPublish = std::memory_order_release;

// The figures of the last frames: the rate over the last second, the
// latency over the last two.
constexpr int64_t kRateWindowNs = 1000000000;
constexpr int64_t kLatencyWindowNs = 2000000000;
// An interval between two frames drawn is a freeze when it is longer than
// three of the pace's and longer than the pace by this much.
constexpr int64_t kFreezeMarginNs = 150000000;

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
                                                                     int64_t originNs,
                                                                     int64_t startNs,
                                                                     int64_t endNs) {
  static_assert(kPaceIntervals < kRecentFrames, "the pace is taken from the recent frames");
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
  // The interval since the last frame against the pace of the intervals
  // before it (their mean, from the ends the recent frames keep).
  if (drawn >= 2) {
    const int64_t lastEnd = m_recent[(drawn - 1) % kRecentFrames].endNs.load(kRelaxed);
    const int64_t paced = std::min<int64_t>(drawn - 1, kPaceIntervals);
    const int64_t pace =
        (lastEnd - m_recent[(drawn - 1 - paced) % kRecentFrames].endNs.load(kRelaxed)) / paced;
    const int64_t interval = endNs - lastEnd;
    if (interval > std::max(3 * pace, pace + kFreezeMarginNs)) {
      m_freezes.store(m_freezes.load(kRelaxed) + 1, kPublish);
      m_freezeNs.store(m_freezeNs.load(kRelaxed) + interval, kPublish);
    }
  }
  Recent& recent = m_recent[drawn % kRecentFrames];
  recent.endNs.store(endNs, kPublish);
  recent.latencyNs.store(std::max<int64_t>(endNs - originNs, 0), kPublish);
  m_sequence.store(sequence + 2, std::memory_order_release);
  return event;
}

RenderStatistics RenderStatisticsRecorder::Snapshot(int64_t nowNs) const {
  RenderStatistics out;
  int64_t frames = 0, totalNs = 0, worstNs = 0;
  // The latencies of the frames of the last two seconds.
  std::array<int64_t, kRecentFrames> latencies;
  size_t latencyCount = 0;
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
    out.freezeCount = m_freezes.load(std::memory_order_acquire);
    out.freezeTotalMs = Millis(m_freezeNs.load(std::memory_order_acquire));
    // Newest first: the frames' ends only grow, so the first one too old
    // ends the look.
    out.framesPerSecond = 0;
    latencyCount = 0;
    const int64_t recent = std::min<int64_t>(out.framesDrawn, kRecentFrames);
    for (int64_t i = 1; i <= recent; ++i) {
      const Recent& frame = m_recent[(out.framesDrawn - i) % kRecentFrames];
      const int64_t endNs = frame.endNs.load(std::memory_order_acquire);
      if (endNs <= nowNs - kLatencyWindowNs)
        break;
      if (endNs > nowNs - kRateWindowNs)
        ++out.framesPerSecond;
      latencies[latencyCount++] = frame.latencyNs.load(std::memory_order_acquire);
    }
    if (m_sequence.load(kRelaxed) == before)
      break;
  }
  out.drawTimeFrames = frames;
  out.drawTimeMeanUs = frames > 0 ? totalNs / frames / 1000 : 0;
  out.drawTimeMaxUs = worstNs / 1000;
  out.latencyFrames = static_cast<int64_t>(latencyCount);
  if (latencyCount > 0) {
    int64_t sum = 0;
    for (size_t i = 0; i < latencyCount; ++i)
      sum += latencies[i];
    out.latencyMeanUs = sum / static_cast<int64_t>(latencyCount) / 1000;
    // The nearest rank: the smallest latency that 99 in 100 frames keep to.
    const size_t rank = (latencyCount * 99 + 99) / 100 - 1;
    std::nth_element(latencies.begin(), latencies.begin() + rank, latencies.begin() + latencyCount);
    out.latencyP99Us = latencies[rank] / 1000;
  }
  // Received last: a frame counted as drawn above was received before it,
  // so drawn plus dropped never exceeds received in one snapshot.
  out.framesDroppedByRate = m_droppedByRate.load(std::memory_order_acquire);
  out.framesDropped = m_dropped.load(std::memory_order_acquire);
  out.framesReceived = m_received.load(kRelaxed);
  return out;
}
