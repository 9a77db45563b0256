#include "figures.h"

#include <stdio.h>

#include <algorithm>

#include "messages.h"
#include "quon_renderManager.h"
#include "rtc_base/filereplacer.h"
#include "window_engine.h"

namespace player {

void Figures::SetInput(const std::string& name, const engine::VideoSource& source) {
  input_ = name;
  codec_ = source.codec();
  width_ = source.width();
  height_ = source.height();
}

bool Figures::Summarise(const std::vector<std::unique_ptr<WindowEngine>>& engines,
                        const Options& options, int64_t played_ns, int64_t started_ns,
                        bool stopped) {
  windows_ = options.windows;
  seconds_ = played_ns / 1e9;
  const WindowEngine& first = *engines.front();
  if (first.first_drawn_ns() > 0)
    first_frame_ms_ = (first.first_drawn_ns() - started_ns) / 1e6;
  jitter_ms_ = first.frame_jitter_ms();
  // The mean of the windows' own rates (those that drew at least two frames).
  double fps_sum = 0;
  int rated = 0;
  bool closed = false;
  for (const auto& engine : engines) {
    frames_ += engine->frames_rendered();
    dropped_ += engine->frames_dropped();
    closed = closed || engine->closed();
    if (engine->fps() > 0) {
      fps_sum += engine->fps();
      ++rated;
    }
  }
  fps_ = rated > 0 ? fps_sum / rated : 0;
  printf("played %lld frame%s in %.2f s (", frames_, Plural(frames_), seconds_);
  if (fps_ > 0)
    printf("%.2f fps%s, ", fps_, windows_ > 1 ? " per window" : "");
  printf("%d window%s, %lld dropped)\n", windows_, Plural(windows_), dropped_);

  bool ok = true;
  if (frames_ == 0 && !stopped && !closed) {
    Fail("nothing was played: the input has no whole frame");
    ok = false;
  }
  for (const auto& engine : engines) {
    ok = !engine->truncated() && ok;
    for (const CaptureResult& capture : engine->captures()) {
      if (capture.from_key)
        ok = ReportCapture(capture) && ok;
    }
    const PeriodicCaptures counts = engine->periodic_captures();
    periodic_.written += counts.written;
    periodic_.failed += counts.failed;
    periodic_.skipped += counts.skipped;
    surfaces_recreated_ += engine->surfaces_recreated();
    scale_changes_ += engine->scale_changes();
  }
  ok = ReportRequestedCaptures(*engines.front(), options) && ok;
  if (options.recreate_every_ms > 0)
    printf("surfaces recreated %lld\n", surfaces_recreated_);
  if (options.cycle_scale > 0)
    printf("scale changes %lld\n", scale_changes_);
  if (options.capture_every > 0) {
    printf("periodic captures written %lld, failed %lld, skipped %lld%s\n",
           static_cast<long long>(periodic_.written), static_cast<long long>(periodic_.failed),
           static_cast<long long>(periodic_.skipped),
           periodic_.skipped > 0 ? " (skipped: the surface was being recreated)" : "");
    ok = periodic_.failed == 0 && ok;
  }
  return ok;
}

// Each --capture in the order given: written, skipped, failed, or never
// taken (its frame never came, or an earlier --capture had that frame).
bool Figures::ReportRequestedCaptures(WindowEngine& first, const Options& options) {
  bool ok = true;
  const std::vector<CaptureResult> results = first.captures();
  for (size_t i = 0; i < options.captures.size(); ++i) {
    const Capture& wanted = options.captures[i];
    const CaptureResult* result = nullptr;
    for (const CaptureResult& r : results)
      if (!r.from_key && r.frame == wanted.frame && r.path == wanted.path)
        result = &r;
    const Capture* earlier = nullptr;
    for (size_t j = 0; j < i && earlier == nullptr; ++j)
      if (options.captures[j].frame == wanted.frame)
        earlier = &options.captures[j];
    if (earlier != nullptr) {
      result = nullptr;
    }
    if (result != nullptr) {
      ok = ReportCapture(*result) && ok;
      continue;
    }
    std::string why;
    if (earlier != nullptr)
      why = "frame " + std::to_string(wanted.frame) + " is captured to " + earlier->path +
            " (one capture per frame)";
    else if (first.frames_read() == 0)
      why = "no frame was played";
    else
      why = "the play ended after frame " + std::to_string(first.frames_read());
    Fail("capture of frame " + std::to_string(wanted.frame) + " to " + wanted.path +
         " not taken: " + why);
    ++captures_failed_;
    ok = false;
  }
  return ok;
}

// One capture; false when it failed.
bool Figures::ReportCapture(const CaptureResult& capture) {
  if (capture.bytes >= 0) {
    ++captures_written_;
    if (!capture.from_key)  // a key's capture was reported when it was written
      printf("capture %s (frame %lld, %lld bytes)\n", capture.path.c_str(),
             static_cast<long long>(capture.frame), capture.bytes);
  } else if (capture.skipped) {
    printf("capture of frame %lld to %s skipped: the surface was being recreated\n",
           static_cast<long long>(capture.frame), capture.path.c_str());
  } else {
    ++captures_failed_;
    Fail("capture of frame " + std::to_string(capture.frame) + " to " + capture.path +
         " failed: " + capture.why);
    return false;
  }
  return true;
}

// Asked of the module while the windows still have their surfaces.
void Figures::GatherRendererFigures(const std::vector<std::unique_ptr<WindowEngine>>& engines) {
  double mean_sum = 0;
  int timed = 0;
  for (const auto& engine : engines) {
    first_frames_ += engine->first_frames();
    frame_size_changes_ += engine->frame_size_changes();
    surface_size_changes_ += engine->surface_size_changes();
    std::string id = engine->id();
    RenderStatistics stats;
    if (engine->closed() || !PluginManager::GetInstance()->GetRenderStatistics(id, &stats))
      continue;
    renderer_received_ += stats.framesReceived;
    renderer_drawn_ += stats.framesDrawn;
    renderer_dropped_ += stats.framesDropped;
    if (stats.drawTimeFrames > 0) {
      mean_sum += stats.drawTimeMeanUs / 1000.0;
      ++timed;
    }
    renderer_draw_ms_max_ = std::max(renderer_draw_ms_max_, stats.drawTimeMaxUs / 1000.0);
  }
  renderer_draw_ms_mean_ = timed > 0 ? mean_sum / timed : 0;
}

void Figures::SetLogLines(long long delivered, long long dropped, long long queued) {
  log_lines_ = delivered;
  log_lines_dropped_ = dropped;
  log_lines_queued_ = queued;
}

void Figures::PrintLog(const std::string& log) const {
  std::string more;
  if (log_lines_dropped_ > 0)
    more += ", " + std::to_string(log_lines_dropped_) + " dropped by the module's queue";
  if (log_lines_queued_ > 0)
    more += ", " + std::to_string(log_lines_queued_) + " still queued";
  if (log.empty())
    printf("%lld log line%s delivered%s\n", log_lines_, Plural(log_lines_), more.c_str());
  else
    printf("log %s (%lld line%s delivered%s)\n", log.c_str(), log_lines_, Plural(log_lines_),
           more.c_str());
}

bool Figures::WriteStats(const std::string& path, int status) const {
  // Replaced whole: a reader never finds half the figures, and a run that
  // dies before this point leaves the last run's file as it was.
  rtc::FileReplacer output;
  FILE* file = output.Open(path) ? output.file() : nullptr;
  if (file != nullptr) {
    fprintf(file,
            "player.windows: %d\nplayer.duration_s: %.3f\nplayer.frames: %lld\n"
            "player.frames_dropped: %lld\nplayer.fps: %.2f\nplayer.surfaces_recreated: %lld\n"
            "player.scale_changes: %lld\nplayer.captures_written: %lld\n"
            "player.captures_failed: %lld\nplayer.periodic_captures_written: %lld\n"
            "player.periodic_captures_failed: %lld\nplayer.periodic_captures_skipped: %lld\n"
            "player.log_lines: %lld\nplayer.log_lines_dropped: %lld\n"
            "player.log_lines_queued: %lld\nplayer.input: %s\nplayer.codec: %s\n"
            "player.size: %dx%d\nplayer.first_frame_ms: %.1f\nplayer.frame_jitter_ms: %.2f\n",
            windows_, seconds_, frames_, dropped_, fps_, surfaces_recreated_, scale_changes_,
            captures_written_, captures_failed_, static_cast<long long>(periodic_.written),
            static_cast<long long>(periodic_.failed), static_cast<long long>(periodic_.skipped),
            log_lines_, log_lines_dropped_, log_lines_queued_, input_.c_str(), codec_.c_str(),
            width_, height_, first_frame_ms_, jitter_ms_);
    // The module's figures of the renderers on show at the end (a surface
    // made again starts its own), and the events the windows were told.
    fprintf(file,
            "player.renderer_frames_received: %lld\nplayer.renderer_frames_drawn: %lld\n"
            "player.renderer_frames_dropped: %lld\nplayer.renderer_draw_ms_mean: %.3f\n"
            "player.renderer_draw_ms_max: %.3f\nplayer.first_frames: %lld\n"
            "player.frame_size_changes: %lld\nplayer.surface_size_changes: %lld\n"
            "player.status: %d\n",
            renderer_received_, renderer_drawn_, renderer_dropped_, renderer_draw_ms_mean_,
            renderer_draw_ms_max_, first_frames_, frame_size_changes_, surface_size_changes_,
            status);
  }
  if (file == nullptr || ferror(file) != 0 || output.Commit() != 0) {
    Fail("cannot write the figures to " + path);
    return false;  // the file replacer removes what it wrote
  }
  return true;
}

}  // namespace player
