#include "progress_reporter.h"

#include <stdio.h>

#include <algorithm>
#include <string>

#include "engine/clock.h"
#include "messages.h"
#include "window_engine.h"

namespace player {

namespace {

constexpr int64_t kSecond = 1000000000;

// A time as players show it: M:SS, or H:MM:SS from an hour.
std::string Clock(double seconds) {
  const long long whole = std::max(0LL, static_cast<long long>(seconds));
  char text[32];
  if (whole >= 3600)
    snprintf(text, sizeof(text), "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
  else
    snprintf(text, sizeof(text), "%02lld:%02lld", whole / 60, whole % 60);
  return text;
}

}  // namespace

ProgressReporter::ProgressReporter(const std::vector<std::unique_ptr<WindowEngine>>& engines,
                                   bool quiet, int64_t start_ns)
    : engines_(engines), quiet_(quiet), last_line_{0, start_ns} {
  rate_samples_.push_back({0, start_ns});
}

ProgressReporter::Sums ProgressReporter::Sum() const {
  Sums sums;
  for (auto& engine : engines_) {
    sums.frames += engine->frames_rendered();
    sums.dropped += engine->frames_dropped();
    sums.playing += engine->finished() ? 0 : 1;
  }
  return sums;
}

// Frames per second of one window: several windows are averaged, not summed.
void ProgressReporter::ReportLine() {
  const int64_t now = engine::MonotonicNanos();
  const Sums sums = Sum();
  if (!quiet_) {
    fprintf(stderr, "frames %lld  fps %.1f%s  dropped %lld\n", static_cast<long long>(sums.frames),
            (sums.frames - last_line_.frames) * 1e9 / std::max<int64_t>(now - last_line_.ns, 1) /
                std::max<int64_t>(sums.playing, 1),
            sums.playing > 1 ? " per window" : "", static_cast<long long>(sums.dropped));
  }
  last_line_ = {sums.frames, now};
}

void ProgressReporter::ShowLine() {
  const int64_t now = engine::MonotonicNanos();
  const Sums sums = Sum();
  const WindowEngine& first = *engines_.front();
  std::string text = first.paused() ? "(paused) " : "";
  text += Clock(first.position());
  if (first.duration() > 0) {
    text += " / " + Clock(first.duration());
    char percent[16];
    snprintf(percent, sizeof(percent), " (%.0f%%)",
             std::min(100.0, 100 * first.position() / first.duration()));
    text += percent;
  }
  // The oldest sample kept is the last one at least a second old.
  rate_samples_.push_back({sums.frames, now});
  while (rate_samples_.size() > 2 && now - rate_samples_[1].ns >= kSecond)
    rate_samples_.pop_front();
  const Sample& from = rate_samples_.front();
  char rest[96];
  snprintf(rest, sizeof(rest), "  fps %.1f%s  dropped %lld",
           (sums.frames - from.frames) * 1e9 / std::max<int64_t>(now - from.ns, 1) /
               std::max<int64_t>(sums.playing, 1),
           engines_.size() > 1 ? " per window" : "", static_cast<long long>(sums.dropped));
  ShowStatus(text + rest);
}

}  // namespace player
