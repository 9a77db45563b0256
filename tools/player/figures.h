#ifndef TOOLS_PLAYER_FIGURES_H_
#define TOOLS_PLAYER_FIGURES_H_

// The figures of a play, in one record: the summary prints them and
// --stats writes them.

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/video_source.h"
#include "options.h"

namespace player {

class WindowEngine;
struct CaptureResult;

// Counts of the periodic captures (--capture-every).
struct PeriodicCaptures {
  int64_t written = 0;
  int64_t failed = 0;
  int64_t skipped = 0;  // lost because the surface was being recreated
};

class Figures {
 public:
  // What plays: its name, its codec and its frames' size before the play.
  void SetInput(const std::string& name, const engine::VideoSource& source);
  // Asks the module for each window's figures, while the windows still
  // have their surfaces and before anything is drawn again (the
  // screenshot's redraw): Summarise prints them.
  void GatherRendererFigures(const std::vector<std::unique_ptr<WindowEngine>>& engines);
  // Gathers the figures of the engines, which ended, and prints the
  // summary: what was played, each capture asked for (written, skipped,
  // failed, or never taken) and the soak run's counts. The first window's
  // first frame is timed from `started_ns`, when the player started. False
  // when a capture failed or could not be taken, an input was cut or
  // damaged, or nothing was played (unless the play was `stopped` by a
  // signal or lost its windows).
  bool Summarise(const std::vector<std::unique_ptr<WindowEngine>>& engines, const Options& options,
                 int64_t played_ns, int64_t started_ns, bool stopped);
  // The log listener's lines: delivered, dropped by the module's queue,
  // still queued when the listener was taken off.
  void SetLogLines(long long delivered, long long dropped, long long queued);
  // The log's summary line; `log`: the file written, if any.
  void PrintLog(const std::string& log) const;
  // Writes every figure to `path`, one "name: value" line each, and the
  // player's exit `status`. False, with a line that says so, when the file
  // cannot be written.
  bool WriteStats(const std::string& path, int status) const;

 private:
  bool ReportRequestedCaptures(WindowEngine& first, const Options& options);
  bool ReportCapture(const CaptureResult& capture);

  std::string input_;
  std::string codec_;
  int width_ = 0, height_ = 0;
  double first_frame_ms_ = 0;  // from the player's start; 0: no frame was drawn
  double jitter_ms_ = 0;       // the first window's frame-time jitter
  int windows_ = 0;
  double seconds_ = 0;
  double fps_ = 0;  // the mean of the windows' own rates
  long long frames_ = 0;
  long long dropped_ = 0;
  long long surfaces_recreated_ = 0;
  long long scale_changes_ = 0;
  long long captures_written_ = 0;
  long long captures_failed_ = 0;
  PeriodicCaptures periodic_;
  // The windows' renderers' own figures (those with a surface at the end),
  // and what they told.
  long long renderer_received_ = 0;
  long long renderer_drawn_ = 0;
  long long renderer_dropped_ = 0;
  double renderer_draw_ms_mean_ = 0;  // the mean of the windows' means
  double renderer_draw_ms_max_ = 0;
  long long first_frames_ = 0;
  long long frame_size_changes_ = 0;
  long long surface_size_changes_ = 0;
  long long log_lines_ = 0;
  long long log_lines_dropped_ = 0;
  long long log_lines_queued_ = 0;
};

}  // namespace player

#endif  // TOOLS_PLAYER_FIGURES_H_
