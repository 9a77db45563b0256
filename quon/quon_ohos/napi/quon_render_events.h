#ifndef QUON_OHOS_NAPI_QUON_RENDER_EVENTS_H_
#define QUON_OHOS_NAPI_QUON_RENDER_EVENTS_H_

// The listener an id's renderers tell of their picture
// (IRenderEventListener). One slot per id, shared by the id's renderers
// through its settings, so that replacing the listener covers every call
// on its way, whichever renderer makes it.
//
// A call is made with no lock held. Set returns only once no call to the
// listener it replaced is in progress on another thread, so the caller may
// delete that listener. Called from inside a listener call (of any slot),
// it waits for nothing: two callbacks on two threads each replacing a
// listener would otherwise wait for each other for ever. A listener taken
// off from a callback may then still be in a call on another thread; the
// next Set made outside a callback waits for that call.
//
// Frame events are told in the order they were decided: the drawing thread
// takes a turn under its drawing lock (TakeTurn) and tells in it
// (TellInTurn), after the calls of earlier turns have returned. An event
// decided inside a call through this slot, on the thread making it (a
// listener that draws), takes no turn and is told at once: it cannot wait
// for the call it is part of.

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <string>

#include "IRenderEventListener.h"
#include "rtc_base/mutex.h"

class RenderEventSlot {
 public:
  // Installs `listener` (null: none) and waits as said above.
  void Set(IRenderEventListener* listener);
  // Set in two steps: the change, which waits for nothing (the registry
  // makes it under its lock, in the order of the calls), and the wait.
  void Install(IRenderEventListener* listener);
  void AwaitCallsOfReplaced();
  // Whether a listener is installed.
  bool Listening();
  enum class Event { kFirstFrame, kFrameSizeChanged, kSurfaceSizeChanged };
  // Tells the listener, if there is one, of `event` for `id`.
  void Tell(Event event, const std::string& id, int width, int height);
  // The next turn, for an event decided now; each one taken must be told
  // with TellInTurn.
  uint64_t TakeTurn();
  // Tells as Tell does, once every earlier turn has been told.
  void TellInTurn(uint64_t turn, Event event, const std::string& id, int width, int height);

 private:
  // The calls this thread is making through a slot, innermost first.
  struct CallOnThread {
    const RenderEventSlot* slot;
    const CallOnThread* outer;
  };
  static thread_local const CallOnThread* t_innermostCall;
  static constexpr uint64_t kNoTurn = UINT64_MAX;
  bool CallingOnThisThread() const;
  void Call(IRenderEventListener* listener, Event event, const std::string& id, int width,
            int height);

  rtc::Mutex m_mutex;
  std::condition_variable m_idle;
  IRenderEventListener* m_listener RTC_GUARDED_BY(m_mutex) = nullptr;
  // Calls in progress; changed under m_mutex, so that Set's wait on m_idle
  // misses no change, and atomic for the wait's predicate.
  std::atomic<int> m_calls{0};
  // Turns taken, and the next one to be told; m_turnCalls counts the
  // calls made in turn that have not returned. Atomic for the waits'
  // predicates, changed under m_mutex.
  uint64_t m_turnsTaken RTC_GUARDED_BY(m_mutex) = 0;
  std::atomic<uint64_t> m_nextTurn{0};
  std::atomic<int> m_turnCalls{0};
};

#endif  // QUON_OHOS_NAPI_QUON_RENDER_EVENTS_H_
