#ifndef QUON_OHOS_NAPI_ISNAPSHOTLISTENER_H_
#define QUON_OHOS_NAPI_ISNAPSHOTLISTENER_H_

// Snapshots of a renderer's picture (PluginManager::TakeSnapshot and
// TakeSnapshotToFile): the next frame drawn, as the surface shows it or as
// the frame itself, handed to the app once as RGBA pixels.

#include <stdint.h>

#include <string>

// What a snapshot holds.
// - kSnapshotShown: the picture as shown, read back from the surface after
//   the frame was drawn and before it was presented: turned, mirrored,
//   fitted to the surface with its bars, at the surface's size.
// - kSnapshotFrame: the frame itself at its own size, as the engine coded
//   it (no turn, no mirror), converted to RGB with the colour description
//   it was drawn with (the frame's own, or the id's).
constexpr int32_t kSnapshotShown = 0;
constexpr int32_t kSnapshotFrame = 1;

// One snapshot's outcome, valid for the length of the OnSnapshot call.
struct SnapshotImage {
  int32_t kind = kSnapshotShown;
  // 0 when the picture was taken (and, for a file, written); otherwise an
  // errno value saying why not, and `pixels` is null:
  // - ENODEV: the frame could not be drawn (no surface yet, the context
  //   lost);
  // - EIO: the surface could not be read back;
  // - ECANCELED: the renderer was destroyed with the snapshot waiting;
  // - ENOMEM: no memory for the picture;
  // - for a file, the system's own for a file that could not be made,
  //   written or put in place (ENOSPC, EACCES, ...), EINVAL for a target
  //   that is neither a file nor a character device (a FIFO). The pixels
  //   are still given then.
  int error = 0;
  // Rows top first, `stride` bytes apart, 4 bytes a pixel: red, green,
  // blue, alpha. Alpha is 255 for a frame; as shown, it is what the
  // surface holds.
  const uint8_t* pixels = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;
  // The file's path for a snapshot to a file, else null.
  const char* path = nullptr;
};

// Implemented by the app, handed to TakeSnapshot; borrowed, never deleted
// by the module. It must stay alive until its OnSnapshot has returned.
//
// Exactly once per snapshot asked for: with the picture, or with a failure
// (never silence).
//
// Threads: called on the thread that drew the frame (the engine's, inside
// its RenderFrame or PushFrame, after the frame is on the surface), with no
// lock of the module held: a listener may ask for the next snapshot from
// inside the call. A snapshot still waiting when its renderer is destroyed
// fails with ECANCELED on the thread that destroys it (the UI thread, in
// the surface's destroyed callback), which must not wait there for an
// engine thread.
class ISnapshotListener {
 public:
  virtual void OnSnapshot(const std::string& id, const SnapshotImage& image) = 0;

 protected:
  virtual ~ISnapshotListener() = default;
};

#endif  // QUON_OHOS_NAPI_ISNAPSHOTLISTENER_H_
