#ifndef QUON_OHOS_NAPI_QUON_RENDER_EVENTS_H_
#define QUON_OHOS_NAPI_QUON_RENDER_EVENTS_H_

// The listener an id's renderers tell of their picture
// (IRenderEventListener). One slot per id, shared by the id's renderers
// through its settings, so that replacing the listener covers every call
// on its way, whichever renderer makes it.
//
// A call is made with no lock held. Set returns only once no call to the
// listener it replaced is in progress on another thread, so the caller may
// delete that listener; a call in progress on its own thread (a listener
// replacing itself from its callback) is not waited for.

#include <atomic>
#include <condition_variable>
#include <string>

#include "IRenderEventListener.h"
#include "rtc_base/mutex.h"

class RenderEventSlot {
 public:
  // Installs `listener` (null: none) and waits as said above.
  void Set(IRenderEventListener* listener);
  enum class Event { kFirstFrame, kFrameSizeChanged, kSurfaceSizeChanged };
  // Tells the listener, if there is one, of `event` for `id`.
  void Tell(Event event, const std::string& id, int width, int height);

 private:
  // The calls this thread is making through a slot, innermost first.
  struct CallOnThread {
    const RenderEventSlot* slot;
    const CallOnThread* outer;
  };
  static thread_local const CallOnThread* t_innermostCall;
  int CallsOnThisThread() const;

  rtc::Mutex m_mutex;
  std::condition_variable m_idle;
  IRenderEventListener* m_listener RTC_GUARDED_BY(m_mutex) = nullptr;
  // Calls in progress; changed under m_mutex, so that Set's wait on m_idle
  // misses no change, and atomic for the wait's predicate.
  std::atomic<int> m_calls{0};
};

#endif  // QUON_OHOS_NAPI_QUON_RENDER_EVENTS_H_
