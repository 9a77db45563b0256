#include "video_render_interfaces.h"

#include <algorithm>

namespace rtc {

int DestroyNotify::AddObserver(DestroyObserver* observer) {
  if (std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
    m_observers.push_back(observer);
  return 0;
}

int DestroyNotify::RemoveObserver(DestroyObserver* observer) {
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
  observers.swap(m_observers);
  for (DestroyObserver* observer : observers)
    observer->OnDestroy(this);
}

}  // namespace rtc
