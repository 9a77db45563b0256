#include "quon_render_events.h"

thread_local const RenderEventSlot::CallOnThread* RenderEventSlot::t_innermostCall = nullptr;

bool RenderEventSlot::CallingOnThisThread() const {
  for (const CallOnThread* call = t_innermostCall; call != nullptr; call = call->outer) {
    if (call->slot == this)
      return true;
  }
  return false;
}

void RenderEventSlot::Set(IRenderEventListener* listener) {
  Install(listener);
  AwaitCallsOfReplaced();
}

void RenderEventSlot::Install(IRenderEventListener* listener) {
  rtc::MutexLock lock(&m_mutex);
  m_listener = listener;
}

void RenderEventSlot::AwaitCallsOfReplaced() {
  if (t_innermostCall != nullptr)
    return;  // see the header: waiting here can close a circle of callbacks
  // Calls that began before the change may still hold the old listener.
  // Those that begin after it are waited for too: events are rare, so the
  // wait stays short.
  rtc::MutexLock lock(&m_mutex);
  m_mutex.Await(m_idle, [this] { return m_calls.load() == 0; });
}

bool RenderEventSlot::Listening() {
  rtc::MutexLock lock(&m_mutex);
  return m_listener != nullptr;
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
  Call(listener, event, id, width, height);
  rtc::MutexLock lock(&m_mutex);
  --m_calls;
  m_idle.notify_all();  // Set waits for no call to be left
}

uint64_t RenderEventSlot::TakeTurn() {
  if (CallingOnThisThread())
    return kNoTurn;
  rtc::MutexLock lock(&m_mutex);
  return m_turnsTaken++;
}

void RenderEventSlot::TellInTurn(uint64_t turn, Event event, const std::string& id, int width,
                                 int height) {
  if (turn == kNoTurn) {
    Tell(event, id, width, height);
    return;
  }
  IRenderEventListener* listener = nullptr;
  {
    rtc::MutexLock lock(&m_mutex);
    m_mutex.Await(m_idle,
                  [this, turn] { return m_nextTurn.load() == turn && m_turnCalls.load() == 0; });
    ++m_nextTurn;
    listener = m_listener;
    if (listener == nullptr) {
      m_idle.notify_all();  // the next turn may go
      return;
    }
    ++m_calls;
    ++m_turnCalls;
  }
  Call(listener, event, id, width, height);
  rtc::MutexLock lock(&m_mutex);
  --m_calls;
  --m_turnCalls;
  m_idle.notify_all();
}

void RenderEventSlot::Call(IRenderEventListener* listener, Event event, const std::string& id,
                           int width, int height) {
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
}
