#ifndef QUON_OHOS_NAPI_IRENDEREVENTLISTENER_H_
#define QUON_OHOS_NAPI_IRENDEREVENTLISTENER_H_

// What a renderer tells about its picture, and the figures it keeps: for an
// app that hides a placeholder once the video shows, lays out again when
// the remote side changes resolution, or shows a call-quality panel.

#include <stdint.h>

#include <string>

// Implemented by the engine or the app, installed per XComponent id with
// PluginManager::SetRenderEventListener; borrowed, never deleted by the
// module.
//
// Exactly once:
// - OnFirstFrame: once per renderer, for the first frame it draws. A
//   renderer lives as long as its surface, so a surface destroyed and
//   created again gives a new first frame.
// - OnFrameSizeChanged: for each frame drawn whose size differs from the
//   frame the same renderer drew before it; never for the first frame.
// - OnSurfaceSizeChanged: each time the platform reports the surface at a
//   size other than the one it was drawn at (a resize, a rotation of the
//   device), not for the size the surface was created with.
// Sizes are the frame's own (width x height as the engine coded it, before
// any rotation the id draws with) and the surface's own, in pixels. A frame
// that is refused or cannot be drawn tells nothing.
//
// Threads: OnFirstFrame and OnFrameSizeChanged are called on the thread
// that drew the frame (the engine's, inside its RenderFrame, after the
// frame is on the surface and before a capture armed for it is written);
// OnSurfaceSizeChanged on the thread that reports the new size (the UI
// thread, in the surface's change callback). No lock of the module is held
// during a call, so a listener may call any PluginManager or renderer
// operation, SetRenderEventListener included. Calls for one id may come
// from two threads at once (a frame drawn while the surface changes size).
// A renderer's frame events come in the order its frames were drawn, also
// from two drawing threads: the later one waits until the earlier call has
// returned, so a listener must not wait there for another thread drawing
// the same id. The surface's destruction waits for a call in progress on a
// drawing thread: a listener must not wait there for the UI thread.
class IRenderEventListener {
 public:
  virtual void OnFirstFrame(const std::string& id, int width, int height) = 0;
  virtual void OnFrameSizeChanged(const std::string& id, int width, int height) = 0;
  virtual void OnSurfaceSizeChanged(const std::string& id, int width, int height) = 0;

 protected:
  virtual ~IRenderEventListener() = default;
};

// A snapshot of one renderer's figures (PluginManager::GetRenderStatistics).
// They start at zero with each renderer, as the events do: a surface
// created again starts counting afresh.
//
// Fields are only ever added at the end, and GetRenderStatistics writes no
// more of them than the caller's struct holds: an engine built against the
// first layout (up to drawTimeFrames) gets those fields, as before, and one
// built against a later layout the fields it knows.
struct RenderStatistics {
  // Frames handed to RenderFrame or PushFrame, and what became of them:
  // drawn, or dropped because they were refused (a null frame, a bad size
  // or stride, a frame larger than the GPU's textures), could not be drawn
  // (no surface yet, the context lost) or came above the id's
  // SetMaxFrameRate. Received is drawn plus dropped, once no frame is being
  // drawn.
  int64_t framesReceived = 0;
  int64_t framesDrawn = 0;
  int64_t framesDropped = 0;
  // The size of the last frame drawn (the frame's own), 0 x 0 before one.
  int32_t lastFrameWidth = 0;
  int32_t lastFrameHeight = 0;
  // When the first and the last frame were drawn, in milliseconds of
  // CLOCK_MONOTONIC (a steady count from a fixed point, unaffected by changes of
  // the wall clock); 0 before the first.
  int64_t firstFrameTimeMs = 0;
  int64_t lastFrameTimeMs = 0;
  // How long drawing a frame took, in microseconds: upload, draw and
  // presentation (a swap that waits for the display's refresh included).
  // The mean and the worst over the frames drawn in the last one to two
  // seconds (`drawTimeFrames` of them); 0 when there were none.
  int64_t drawTimeMeanUs = 0;
  int64_t drawTimeMaxUs = 0;
  int64_t drawTimeFrames = 0;

  // Added after the first layout.

  // Of framesDropped, those dropped by the id's SetMaxFrameRate.
  int64_t framesDroppedByRate = 0;
  // Frames drawn in the last second: the rate the picture moves at now.
  int64_t framesPerSecond = 0;
  // Freezes since the renderer began: intervals between two frames drawn
  // longer than three times the mean of the (up to 30) intervals before
  // them and longer than that mean plus 150 ms, as call-quality reports
  // count them; their count and their intervals' total. A picture the
  // engine stops sending (a muted camera) freezes too.
  int64_t freezeCount = 0;
  int64_t freezeTotalMs = 0;
  // Latency: from a frame's capture time (FrameDescription::captureTimeUs)
  // or, without one, from its arrival in RenderFrame or PushFrame, to the
  // end of its swap, in microseconds. The mean and the 99th percentile
  // (nearest rank) over the frames drawn in the last two seconds
  // (`latencyFrames` of them, at most 512); 0 when there were none.
  int64_t latencyMeanUs = 0;
  int64_t latencyP99Us = 0;
  int64_t latencyFrames = 0;
};

#endif  // QUON_OHOS_NAPI_IRENDEREVENTLISTENER_H_
