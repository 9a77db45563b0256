#ifndef QUON_OHOS_NAPI_VIDEO_RENDER_INTERFACES_H_
#define QUON_OHOS_NAPI_VIDEO_RENDER_INTERFACES_H_

// The interfaces shared with the media engine. The engine is built on its
// own and reaches these virtual operations by their position in the vtable,
// so the order of every declaration below is part of the contract,
// including operations this library never calls (placeholders that hold
// their slots). Do not reorder, insert or remove virtual functions.

#if !defined(__cplusplus) || __cplusplus < 201402L
#error "nativerender: the module's headers need C++14 or later (-std=c++14 or newer)"
#endif

#include <stddef.h>
#include <stdint.h>

#include <mutex>
#include <string>
#include <vector>

#include "nativerender_config.h"

// The objects below cross from the module to the engine with C++ library
// types inside (std::string, std::vector, std::mutex): both sides must use
// the C++ library the module was built with, and one copy of it.
#if NATIVERENDER_LIBCXX && !defined(_LIBCPP_VERSION)
#error "nativerender: built with libc++; use libc++, shared (OHOS_STL=c++_shared), here too"
#elif !NATIVERENDER_LIBCXX && defined(_LIBCPP_VERSION)
#error "nativerender: built with GNU libstdc++; build against libstdc++ too, not libc++"
#elif defined(_GLIBCXX_USE_CXX11_ABI) && _GLIBCXX_USE_CXX11_ABI != NATIVERENDER_GLIBCXX_CXX11_ABI
#error "nativerender: built with the other std::string of libstdc++ (_GLIBCXX_USE_CXX11_ABI)"
#endif

#define NATIVERENDER_EXPORT __attribute__((visibility("default")))

#if defined(NATIVERENDER_BUILDING_MODULE)
// The module's own build sees its locks as its lock analysis knows them.
#include "quon_render_internal.h"
#else
// The locks inside the module's objects, as an engine sees them: a
// std::mutex, the module's own lock's layout, taken by the module alone.
namespace nativerender_detail {
using Mutex = std::mutex;
}  // namespace nativerender_detail
#define NATIVERENDER_GUARDED_BY(lock)
#define NATIVERENDER_REQUIRES(...)
#define NATIVERENDER_EXCLUDES(...)
#endif

namespace rtc {

class DestroyNotify;

// Implemented by the engine: told when a renderer it holds goes away.
class DestroyObserver {
 public:
  // Slot 1. Called once, on the thread that destroys `notify`; after it
  // returns the engine must not call `notify` again.
  virtual void OnDestroy(DestroyNotify* notify) = 0;

 protected:
  virtual ~DestroyObserver() = default;
};

// Keeps the observers to tell when this object is destroyed.
class NATIVERENDER_EXPORT DestroyNotify {
 public:
  DestroyNotify() = default;
  DestroyNotify(const DestroyNotify&) = delete;
  DestroyNotify& operator=(const DestroyNotify&) = delete;

  // Slot 1. Appends `observer` unless already present. Returns 0. Once the
  // object's destruction has begun nothing is added (a line is logged): an
  // observer that was not registered before then is never told.
  virtual int AddObserver(DestroyObserver* observer);
  // Slot 2. Removes the first occurrence of `observer`, if any. Returns 0.
  // Once it returns the observer is never told, also while the object is
  // being destroyed: an OnDestroy of that observer running on another
  // thread is waited for (so do not call it holding a lock that OnDestroy
  // takes). From inside an OnDestroy it waits for nothing.
  virtual int RemoveObserver(DestroyObserver* observer);
  // Slots 3 and 4. Tells every observer still registered, in the order they
  // were added (see NotifyDestroy).
  virtual ~DestroyNotify();

  // Both operations may be called from any thread; the list is locked. The
  // lock is not held while OnDestroy runs, so an observer may call back in.

 protected:
  // Calls OnDestroy(this) on every observer present now, once each, in the
  // order they were added, and empties the list; an observer removed before
  // its turn (from inside an OnDestroy too) is not told, and one added from
  // now on is refused. Only the first call
  // tells anyone: a derived class calls it early in its own destructor, so
  // that observers stop using the object before its members are torn down,
  // and the base destructor's call then does nothing.
  void NotifyDestroy();

 private:
  nativerender_detail::Mutex m_observersMutex;
  std::vector<DestroyObserver*> m_observers NATIVERENDER_GUARDED_BY(m_observersMutex);
  bool m_notified NATIVERENDER_GUARDED_BY(m_observersMutex) = false;
};

// An I420 frame owned by the engine: planar Y, U (Cb), V (Cr), chroma halved
// in both directions. Plane pointers stay valid for the duration of the call
// that received the frame.
class IVideoFrame {
 public:
  // Slots 1 and 2; the deleting destructor releases a copy made by Clone().
  virtual ~IVideoFrame() = default;
  virtual int32_t Width() const = 0;                     // slot 3
  virtual int32_t Height() const = 0;                    // slot 4
  virtual void EngineOperation5() = 0;                   // slot 5, engine's own
  virtual const uint8_t* YPlane() const = 0;             // slot 6
  virtual const uint8_t* UPlane() const = 0;             // slot 7
  virtual const uint8_t* VPlane() const = 0;             // slot 8
  virtual void EngineOperation9() = 0;                   // slot 9, engine's own
  virtual void EngineOperation10() = 0;                  // slot 10, engine's own
  virtual void EngineOperation11() = 0;                  // slot 11, engine's own
  virtual int32_t YStride() const = 0;                   // slot 12, bytes per row
  virtual int32_t UStride() const = 0;                   // slot 13
  virtual int32_t VStride() const = 0;                   // slot 14
  virtual void EngineOperation15() = 0;                  // slot 15, engine's own
  // Slot 16. A new heap copy owned by the caller (delete it), or null.
  virtual IVideoFrame* Clone() const = 0;
  // Slot 17. Converts the frame into `buffer` (`size` bytes, rows of
  // `stride` bytes) in the pixel format named by the FourCC code `fourcc`.
  // Engines differ on what they return: the renderer treats a negative
  // result as a failure and any other value (0, a byte count, true) as
  // success. It zeroes the buffer before the call, so pixels an engine
  // leaves unwritten are black, never uninitialised memory.
  virtual int ExportArgb(uint32_t fourcc, uint8_t* buffer, size_t size, int32_t stride) const = 0;
};

// FourCC of 32-bit pixels stored B, G, R, A in memory ("ARGB" read as a
// little-endian word).
constexpr uint32_t kFourccArgb = 0x42475241;

// What a renderer offers the engine.
class NATIVERENDER_EXPORT IVideoRender : public DestroyNotify {
 public:
  virtual void SetSize(int width, int height) = 0;
  virtual void RenderFrame(IVideoFrame* frame) = 0;
  virtual int EnableCapture(bool enable) = 0;
  virtual int CaptureImage(const std::string& jpegFileName, int quality) = 0;
  // Reserved for the engine's use; their arguments are the engine's own.
  virtual int ReservedOp1(...) = 0;
  virtual int ReservedOp2(...) = 0;
  virtual int ReservedOp3(...) = 0;
  virtual int ReservedOp4(...) = 0;
  virtual int ReservedOp5(...) = 0;
  virtual int ReservedOp6(...) = 0;
  virtual int FillBlack() = 0;
  virtual int ReservedOp7(...) = 0;
};

// Result of the operations a renderer does not support.
constexpr int kNotSupported = 1004;

}  // namespace rtc

#endif  // QUON_OHOS_NAPI_VIDEO_RENDER_INTERFACES_H_
