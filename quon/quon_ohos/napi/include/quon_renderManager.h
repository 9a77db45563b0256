#ifndef QUON_OHOS_NAPI_QUON_RENDERMANAGER_H_
#define QUON_OHOS_NAPI_QUON_RENDERMANAGER_H_

// The module's exported entry point for the application and the media
// engine: XComponent handles by id, renderers by id, scale types, colour,
// mirror and rotation, background colour and frame-rate limit, the
// picture's events and figures, native windows and the host's log listener.
//
// Threads: Export and the XComponent callbacks run on the UI thread; every
// other operation may be called from any thread (the registries are
// guarded, and an operation that uses a renderer holds it against deletion
// for the length of the call). A renderer pointer handed out is only known
// to be valid while an observer added to it has not yet heard OnDestroy: an
// engine takes renderers with FindRenderAndObserve, which looks up and
// observes in one step. docs/integration.md has the engine's rules.

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <unordered_map>

#include "ILogRenderListener.h"
#include "IRenderEventListener.h"
#include "ISnapshotListener.h"
#include "ace/xcomponent/native_interface_xcomponent.h"
#include "napi/native_api.h"
#include "quon_render.h"

class NATIVERENDER_EXPORT PluginManager {
 public:
  PluginManager();
  ~PluginManager();

  // The process-wide instance, created on first use and never deleted.
  static PluginManager* GetInstance();

  // Binds the XComponent found on the module's exports object: records its
  // handle, makes its renderer and registers the surface callbacks. False on
  // any failure, with a platform log line saying which.
  bool Export(napi_env env, napi_value exports);
  // Records `nativeXComponent` for `id` (replacing another handle); a null
  // handle is ignored.
  void SetNativeXComponent(std::string& id, OH_NativeXComponent* nativeXComponent);
  // The renderer of `id`, created when missing; null for an empty id.
  PluginRender* GetRender(std::string& id);
  // The renderer of `id` or null; never creates one.
  PluginRender* FindRender(std::string& id);
  // The renderer of `id` with `observer` added to it in the same step, or
  // null (nothing added) when `id` has no renderer or `observer` is null.
  // Unlike FindRender followed by AddObserver, the renderer cannot be
  // destroyed in between: the observer hears OnDestroy before it goes.
  PluginRender* FindRenderAndObserve(std::string& id, rtc::DestroyObserver* observer);
  // Forwards scale type 1 (stretch), 2 (fit) or 3 (fill) to `id`'s existing
  // renderer. False for other values or when there is no renderer.
  bool SetScaleType(std::string& id, int type);
  // How `id`'s frames encode colour: `range` kColorRangeFull or
  // kColorRangeLimited, `matrix` kColorMatrixBt601, kColorMatrixBt709 or
  // kColorMatrixBt2020 (quon_render.h). Drawing and JPEG captures follow it
  // from the next frame, and the id's later renderers start with it. The
  // default, full range BT.601, draws exactly as a renderer that was never
  // told. False, with a line, for an id without a renderer or values out of
  // range.
  bool SetColorDescription(std::string& id, int range, int matrix);
  // Draws `id`'s picture flipped left for right as shown (a self-view), from
  // the next frame; remembered for the id's later renderers, as the colour
  // description is. False, with a line, for an id without a renderer.
  bool SetMirror(std::string& id, bool mirror);
  // Draws `id`'s frames turned clockwise by `degrees`: 0, 90, 180 or 270.
  // The turn comes first, then the mirror flips the picture as shown; a
  // quarter turn fits (or fills) the frame with its width and height
  // exchanged. Done in the drawing, no pixel is copied; captures keep the
  // frame as the engine coded it. Remembered for the id. False, with a
  // line, for other values or an id without a renderer.
  bool SetRotation(std::string& id, int degrees);
  // Draws the frame `frame` describes (quon_frame.h) on `id`'s renderer:
  // I420, or NV12 and NV21 as hardware hands them over, uploaded as they
  // are (no conversion on the CPU), with the frame's own colour
  // description (or the id's), its turn added to SetRotation's, and its
  // capture time kept for the figures. An armed capture takes it, JPEG or
  // BMP. Call it from the engine's render thread, as RenderFrame: the
  // planes are read before it returns and may be reused then. False, with
  // one line and nothing drawn, for a null `frame`, an id without a
  // renderer, an unknown layout, a size below 1x1 (or, for NV12 and NV21,
  // with chroma rows of 2^31 bytes or more), a null plane, a stride
  // below its plane's width, a rotation other than 0, 90, 180 or 270, or a
  // frame that could not be drawn (no surface yet, say).
  //
  // A frame above the id's SetMaxFrameRate is dropped, uploaded never, and
  // the call returns true: it was handled as asked.
  bool PushFrame(std::string& id, const FrameDescription* frame);
  // The colour `id`'s picture is drawn on: the bars left and right or above
  // and below a fitted picture (scale type 2), the whole surface before the
  // first frame is drawn over it, and what ClearSurface clears to. `argb`
  // is 0xAARRGGBB, any value: alpha reaches the surface as given (a
  // surface the platform composites with its alpha lets what is behind it
  // show through the bars). Opaque black, 0xFF000000, by default. From the
  // next frame, and remembered for the id's later renderers. FillBlack
  // stays black. False, with a line, for an id without a renderer.
  bool SetBackgroundColor(std::string& id, uint32_t argb);
  // Clears `id`'s surface to its background colour and shows it at once
  // (when the video stops, say), as FillBlack does in black; the next frame
  // drawn replaces it. Any thread; it waits for a frame being drawn on the
  // id to finish. False, with a line, for an id without a renderer or
  // without a surface yet.
  bool ClearSurface(std::string& id);
  // Draws at most `fps` of `id`'s frames a second; 0, the default, draws
  // every frame. Frames above the rate are dropped before anything of them
  // is uploaded, judged by their capture time (PushFrame's, when given) or
  // else by when they arrive, so that what is drawn averages the rate (30
  // frames a second under a limit of 15 draws every other one). Dropped
  // frames are counted in RenderStatistics::framesDroppedByRate (and in
  // framesDropped), tell no event and are not captured. Remembered for the
  // id's later renderers. False, with a line, for `fps` below 0 or an id
  // without a renderer.
  bool SetMaxFrameRate(std::string& id, int fps);
  // Installs `listener` for `id`'s picture events (IRenderEventListener.h),
  // for its renderer and the id's later ones; null removes it. Once this
  // returns, the listener it replaced is never called again (a call in
  // progress on another thread is waited for), so the caller may delete it.
  // From inside a listener call, of any id, it waits for nothing: a call on
  // another thread may then still be under way, and the listener is safe to
  // delete after a later call made outside the callbacks. Do not call it
  // holding a lock the listener takes. False,
  // with a line, when `id` has no renderer, unless `listener` is null: a
  // listener is always removed.
  bool SetRenderEventListener(std::string& id, IRenderEventListener* listener);
  // The figures of `id`'s renderer (RenderStatistics in
  // IRenderEventListener.h) into `out`, a struct of `size` bytes: the
  // default, the size of the struct the caller was built with, is what to
  // pass. No more than `size` bytes are written, so an engine built against
  // an earlier or a later layout gets the fields both know and nothing
  // past its struct. False, with a line, when `id` has no renderer, `out`
  // is null or `size` is below the first layout's (72 bytes). Cheap: the
  // figures are kept for every frame whether asked for or not. Any thread.
  bool GetRenderStatistics(std::string& id, RenderStatistics* out,
                           size_t size = sizeof(RenderStatistics));
#ifdef NATIVERENDER_BUILDING_MODULE
  // The call an engine built against the first layout makes (it knows no
  // size): the first layout's fields alone, up to drawTimeFrames. Kept in
  // the library for those engines; an engine built now reaches the call
  // above.
  bool GetRenderStatistics(std::string& id, RenderStatistics* out);
#endif
  // A snapshot of the next frame `id`'s renderer draws, to `listener`
  // (ISnapshotListener.h) once, on the thread that draws it: the picture
  // as shown (`kind` kSnapshotShown: turned, mirrored, fitted with its
  // bars, read back from the surface at its size) or the frame itself
  // (kSnapshotFrame: its own size, unturned, in its colour description),
  // as RGBA pixels; or a failure (the frame could not be drawn, the read
  // failed, the renderer was destroyed first). Each call asks for one
  // snapshot; several may wait for the same frame. False, with a line and
  // nothing asked, for a null `listener`, another `kind`, or an id without
  // a renderer. Any thread.
  bool TakeSnapshot(std::string& id, ISnapshotListener* listener, int32_t kind = kSnapshotShown);
  // The same as shown, written by the module to the PNG file `path` (8-bit
  // RGB) on the drawing thread, as captures are written: replaced whole,
  // a FIFO or another target that is not a file refused. `listener`, when
  // not null, is told as TakeSnapshot tells, with `path` set and `error` 0
  // once the file is written, or why it was not; with none, the outcome is
  // in the log alone. False, with a line, for an empty `path` or an id
  // without a renderer.
  bool TakeSnapshotToFile(std::string& id, const std::string& path,
                          ISnapshotListener* listener = nullptr);
  // The outcome of the last capture `id`'s renderer took (EnableCapture
  // and CaptureImage armed it; the next frame was written): `path` as it
  // was named, `error` 0 when the file was written, or an errno value
  // saying why not (ENOSPC, EROFS, EACCES, ...; EINVAL for a frame or name
  // that cannot be written, EFBIG for a frame too large for the format).
  // False, with nothing set, when `id` has no renderer, or from the
  // EnableCapture(true) that armed a capture until that capture is taken. A
  // renderer made for a new surface starts without one.
  bool LastCaptureResult(std::string& id, std::string* path, int* error);
  // The native window of `id`'s renderer (created when missing), null until
  // its surface exists.
  void* GetNativeWindow(std::string& id);
  // Installs the host's log listener; `path` is recorded in the log only.
  void InitLogFile(const std::string& path, ILogRenderListener* listener);
  // Runtime log lines logged and not yet handed to the listener. A host
  // about to remove its listener (at exit, say) can wait, bounded, until
  // this is 0, so that the module's last lines reach it; lines stay
  // pending for as long as no listener is installed.
  size_t PendingLogLines();

  static PluginManager* m_instance;
  static std::unordered_map<std::string, OH_NativeXComponent*> m_nativeXComponentMap;

 private:
  ILogRenderListener* m_logListener = nullptr;
};

#endif  // QUON_OHOS_NAPI_QUON_RENDERMANAGER_H_
