#include "video_render_interfaces.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "rtc_base/logging.h"

namespace rtc {

namespace {

// The OnDestroy calls in progress, process-wide. Kept here rather than in
// the objects, whose layout engines are built against; destructions are
// rare, so one lock serves them all. Taken after an object's own lock.
struct Telling {
  const DestroyNotify* notify;
  const DestroyObserver* observer;
};

struct Tellings {
  std::mutex mutex;
  std::condition_variable ended;
  std::vector<Telling> calls;  // under mutex
};

Tellings& InProgress() {
  static auto* tellings = new Tellings;  // never destroyed: objects die at exit too
  return *tellings;
}

// OnDestroy calls this thread is inside, of any object.
thread_local int t_tellingDepth = 0;

}  // namespace

int DestroyNotify::AddObserver(DestroyObserver* observer) {
  MutexLock lock(&m_observersMutex);
  if (m_notified) {
    // Told nobody would be: the destruction already took its list.
    LOG(Warning) << static_cast<const void*>(this) << ": " << "AddObserver" << ": "
                 << "refused, the object is being destroyed. observer="
                 << static_cast<const void*>(observer);
    return 0;
  }
  if (std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
    m_observers.push_back(observer);
  return 0;
}

int DestroyNotify::RemoveObserver(DestroyObserver* observer) {
  bool notifying = false;
  {
    MutexLock lock(&m_observersMutex);
    auto it = std::find(m_observers.begin(), m_observers.end(), observer);
    if (it != m_observers.end())
      m_observers.erase(it);
    notifying = m_notified;
  }
  // Not told from now on. A call already under way on another thread is
  // waited for, so that the observer may be freed once this returns; from
  // inside an OnDestroy nothing is waited for, or two destructions whose
  // observers remove each other would wait for ever.
  if (!notifying || t_tellingDepth > 0)
    return 0;
  Tellings& tellings = InProgress();
  std::unique_lock<std::mutex> lock(tellings.mutex);
  tellings.ended.wait(lock, [&] {
    return std::none_of(tellings.calls.begin(), tellings.calls.end(), [&](const Telling& call) {
      return call.notify == this && call.observer == observer;
    });
  });
  return 0;
}

DestroyNotify::~DestroyNotify() {
  NotifyDestroy();
}

void DestroyNotify::NotifyDestroy() {
  {
    MutexLock lock(&m_observersMutex);
    if (m_notified)
      return;
    m_notified = true;
  }
  Tellings& tellings = InProgress();
  ++t_tellingDepth;
  for (;;) {
    // One at a time off the list, so that a removal before an observer's
    // turn keeps it from being told. Recorded as in progress before the
    // object's lock drops: a RemoveObserver that no longer finds it on the
    // list finds it here.
    DestroyObserver* observer = nullptr;
    {
      MutexLock lock(&m_observersMutex);
      if (m_observers.empty())
        break;
      observer = m_observers.front();
      m_observers.erase(m_observers.begin());
      std::lock_guard<std::mutex> calls(tellings.mutex);
      tellings.calls.push_back({this, observer});
    }
    observer->OnDestroy(this);
    std::lock_guard<std::mutex> calls(tellings.mutex);
    auto it = std::find_if(tellings.calls.begin(), tellings.calls.end(), [&](const Telling& call) {
      return call.notify == this && call.observer == observer;
    });
    tellings.calls.erase(it);
    tellings.ended.notify_all();
  }
  --t_tellingDepth;
}

}  // namespace rtc
