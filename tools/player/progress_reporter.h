#ifndef TOOLS_PLAYER_PROGRESS_REPORTER_H_
#define TOOLS_PLAYER_PROGRESS_REPORTER_H_

// The play's progress while it runs: a line once a second, or on a
// terminal one status line rewritten in place.

#include <stdint.h>

#include <deque>
#include <memory>
#include <vector>

namespace player {

class WindowEngine;

class ProgressReporter {
 public:
  ProgressReporter(const std::vector<std::unique_ptr<WindowEngine>>& engines, bool quiet,
                   int64_t start_ns);

  // The line of the second just past: frames, the rate since the last
  // line, the frames dropped.
  void ReportLine();
  // The terminal's status line: the first window's place in the input (of
  // its length, when known), the rate over the last second or so, the
  // frames dropped.
  void ShowLine();

 private:
  struct Sums {
    int64_t frames = 0;
    int64_t dropped = 0;
    int64_t playing = 0;
  };
  struct Sample {
    int64_t frames;
    int64_t ns;
  };
  Sums Sum() const;

  const std::vector<std::unique_ptr<WindowEngine>>& engines_;
  const bool quiet_;
  Sample last_line_;
  std::deque<Sample> rate_samples_;  // the status line's rate
};

}  // namespace player

#endif  // TOOLS_PLAYER_PROGRESS_REPORTER_H_
