#include "video_render_interfaces.h"

#include <algorithm>

#include "rtc_base/logging.h"

namespace rtc {

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
  MutexLock lock(&m_observersMutex);
  auto it = std::find(m_observers.begin(), m_observers.end(), observer);
  if (it != m_observers.end())
    m_observers.erase(it);
  return 0;
}

DestroyNotify::~DestroyNotify() {
  NotifyDestroy();
}

void DestroyNotify::NotifyDestroy() {
  std::vector<DestroyObserver*> observers;
  {
    MutexLock lock(&m_observersMutex);
    if (m_notified)
      return;
    m_notified = true;
    observers.swap(m_observers);
  }
  for (DestroyObserver* observer : observers)
    observer->OnDestroy(this);
}

}  // namespace rtc
