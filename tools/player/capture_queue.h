#ifndef TOOLS_PLAYER_CAPTURE_QUEUE_H_
#define TOOLS_PLAYER_CAPTURE_QUEUE_H_

// The captures of one window: those asked for (--capture, the keys c and b),
// the periodic ones (--capture-every), and what became of each. Keys ask
// on the UI thread; the engine thread takes the files to write and records
// the results; the player reads them after the play.

#include <stdint.h>

#include <string>
#include <vector>

#include "figures.h"
#include "options.h"
#include "rtc_base/mutex.h"
#include "rtc_base/thread_annotations.h"

namespace player {

struct CaptureResult {
  std::string path;
  int64_t frame = 0;
  long long bytes = -1;   // -1: no file was written
  bool skipped = false;   // no file because the surface was being recreated
  std::string why;        // why no file was written, when it was not skipped
  bool from_key = false;  // asked for with a key, not with --capture
};

enum class CaptureKind { kNone, kRequested, kKey, kPeriodic };

class CaptureQueue {
 public:
  CaptureQueue(std::string id, const Options& options, bool takes_captures);

  // A key's capture of the next frame drawn (or, paused, of the held one),
  // to a file of type `extension`.
  void Request(const std::string& extension) RTC_EXCLUDES(mutex_);
  // Whether frame `frame_number` is to be captured: such a frame is never
  // dropped.
  bool Due(int64_t frame_number) RTC_EXCLUDES(mutex_);
  // The file a new frame `frame_number` is to be captured to, if any, and
  // of what kind. Periodic captures go to DIR/ID.jpg or DIR/ID.bmp; the
  // module replaces a file only once the new one is complete, so each of
  // the two always holds the last good capture.
  std::string PathFor(int64_t frame_number, CaptureKind* kind) RTC_EXCLUDES(mutex_);
  // The file of the oldest key capture not yet taken, for the held frame
  // drawn again; empty (and kNone) when there is none.
  std::string TakeKey(int64_t frame_number, CaptureKind* kind) RTC_EXCLUDES(mutex_);
  // What became of a capture: `error` is the module's result (0 written,
  // an errno value, -1 not taken); `skipped`: lost to a surface recreation.
  // Engine thread only.
  void Record(const std::string& path, int64_t frame_number, CaptureKind kind, bool skipped,
              int error) RTC_EXCLUDES(mutex_);

  std::vector<CaptureResult> results() RTC_EXCLUDES(mutex_);
  PeriodicCaptures periodic() RTC_EXCLUDES(mutex_);

 private:
  std::string TakeKeyLocked(int64_t frame_number) RTC_REQUIRES(mutex_);

  const std::string id_;
  const std::vector<Capture> captures_asked_;  // --capture: the first window's only
  const int64_t capture_every_;
  const std::string capture_dir_;

  rtc::Mutex mutex_;
  std::vector<CaptureResult> results_ RTC_GUARDED_BY(mutex_);
  std::vector<std::string> requested_ RTC_GUARDED_BY(mutex_);
  PeriodicCaptures periodic_ RTC_GUARDED_BY(mutex_);
  // Engine thread only: the kind of the next periodic capture. It moves on
  // only once a capture of this kind was written or failed, so that one
  // lost to a recreation is tried again and the kinds still alternate.
  bool periodic_bmp_next_ = false;
};

}  // namespace player

#endif  // TOOLS_PLAYER_CAPTURE_QUEUE_H_
