#include "quon_render_events.h"

thread_local const RenderEventSlot::CallOnThread* RenderEventSlot::t_innermostCall = nullptr;

int RenderEventSlot::CallsOnThisThread() const {
  int calls = 0;
  for (const CallOnThread* call = t_innermostCall; call != nullptr; call = call->outer)
    calls += call->slot == this ? 1 : 0;
  return calls;
}

void RenderEventSlot::Set(IRenderEventListener* listener) {
  const int own = CallsOnThisThread();
  rtc::MutexLock lock(&m_mutex);
  m_listener = listener;
  // Calls that began before the change may still hold the old listener.
  // Those that begin after it are waited for too: events are rare, so the
  // wait stays short.
  m_mutex.Await(m_idle, [this, own] { return m_calls.load() <= own; });
}

void RenderEventSlot::Tell(Event event, const std::string& id, int width, int height) {
  IRenderEventListener* listener = nullptr;
  {
    rtc::MutexLock lock(&m_mutex);
    listener = m_listener;
    if (listener == nullptr)
      return;
    ++m_calls;
  }
  const CallOnThread call{this, t_innermostCall};
  t_innermostCall = &call;
  switch (event) {
    case Event::kFirstFrame:
      listener->OnFirstFrame(id, width, height);
      break;
    case Event::kFrameSizeChanged:
      listener->OnFrameSizeChanged(id, width, height);
      break;
    case Event::kSurfaceSizeChanged:
      listener->OnSurfaceSizeChanged(id, width, height);
      break;
  }
  t_innermostCall = call.outer;
  rtc::MutexLock lock(&m_mutex);
  --m_calls;
  m_idle.notify_all();  // Set may wait for fewer than all calls to end
}
