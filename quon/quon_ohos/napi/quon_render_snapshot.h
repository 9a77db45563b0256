#ifndef QUON_OHOS_NAPI_QUON_RENDER_SNAPSHOT_H_
#define QUON_OHOS_NAPI_QUON_RENDER_SNAPSHOT_H_

// A renderer's snapshots (ISnapshotListener.h): asked for on any thread,
// served by the next frame that reaches the drawing, told on the thread
// that drew it with no lock held.

#include <stdint.h>

#include <atomic>
#include <string>
#include <vector>

#include "ISnapshotListener.h"
#include "quon_colour.h"
#include "quon_eglcore.h"
#include "quon_frame.h"
#include "rtc_base/mutex.h"
#include "video_render_interfaces.h"

namespace snapshot {

// One snapshot asked for: to `listener` (null only for a file), as shown
// or the frame itself; written to the PNG file `path` when not empty.
struct Request {
  ISnapshotListener* listener = nullptr;
  int32_t kind = kSnapshotShown;
  std::string path;
};

// `frame`'s pixels as RGBA (red first, alpha 255), rows top first and
// width * 4 bytes each, its samples read as `limitedRange` and `matrix`
// say. False (ENOMEM) when the memory cannot be had. The description must
// be sound (pushed_frame::FaultOf).
bool FrameToRgba(const FrameDescription& frame, bool limitedRange, colour::YuvMatrix matrix,
                 std::vector<uint8_t>* rgba);

// An engine's I420 frame as a description of its planes.
FrameDescription DescribeI420(const rtc::IVideoFrame& frame);

}  // namespace snapshot

// The snapshots one frame serves, taken before its draw.
class SnapshotBatch {
 public:
  SnapshotBatch() = default;
  // Not moved: the core may hold the address of its read-back.
  SnapshotBatch(const SnapshotBatch&) = delete;
  SnapshotBatch& operator=(const SnapshotBatch&) = delete;

  // After the frame's draw, under the drawing lock: whether it was drawn.
  // The core's read-back request is taken back.
  void Drawn(EGLCore* core, bool drawn);
  // With no lock held, on the drawing thread: the frame converted for
  // those who asked for it (its planes still valid), files written, each
  // listener told once.
  void Deliver(const std::string& id, const FrameDescription& frame, bool limitedRange,
               colour::YuvMatrix matrix);
  // The same for an engine's I420 frame, described only when asked for.
  void Deliver(const std::string& id, const rtc::IVideoFrame& frame, bool limitedRange,
               colour::YuvMatrix matrix) {
    if (!requests_.empty())
      Deliver(id, snapshot::DescribeI420(frame), limitedRange, matrix);
  }

 private:
  friend class RenderSnapshots;

  std::vector<snapshot::Request> requests_;
  EGLCore::ReadBack shown_;
  bool drawn_ = false;
};

// The snapshots waiting for a renderer's next frame.
class RenderSnapshots {
 public:
  RenderSnapshots() = default;
  RenderSnapshots(const RenderSnapshots&) = delete;
  RenderSnapshots& operator=(const RenderSnapshots&) = delete;

  // Any thread.
  void Add(snapshot::Request request);
  // Under the drawing lock, before a frame's draw: every snapshot waiting
  // into `batch` (empty), and the core asked to read the frame back into
  // it when one wants it as shown. Nothing but an atomic read when none
  // waits.
  void Take(EGLCore* core, SnapshotBatch* batch);
  // When the renderer is destroyed: each snapshot still waiting fails
  // (ECANCELED), on the calling thread.
  void FailWaiting(const std::string& id);

 private:
  rtc::Mutex mutex_;
  std::vector<snapshot::Request> waiting_ RTC_GUARDED_BY(mutex_);
  std::atomic<bool> any_{false};
};

#endif  // QUON_OHOS_NAPI_QUON_RENDER_SNAPSHOT_H_
