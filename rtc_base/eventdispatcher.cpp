#include "rtc_base/eventdispatcher.h"

#include <unistd.h>

#include "rtc_base/dispatcherlog_internal.h"

namespace rtc {

EventDispatcher::EventDispatcher(DispatcherRegistry* server) : server_(server) {
  // Left blocking: a read happens only after a write was recorded.
  if (pipe(pipe_fds_) < 0)
    PSS_LOG(876, Error) << "pipe failed";
  server_->Add(this);
}

EventDispatcher::~EventDispatcher() {
  server_->Remove(this);
  for (int fd : pipe_fds_) {
    if (fd >= 0)
      close(fd);
  }
}

void EventDispatcher::Raise() {
  // The byte already in the pipe will wake the waiter. Seeing true here
  // means the drain that clears it has not yet happened, so whatever the
  // caller published before raising is seen after that drain.
  if (raised_.load())
    return;
  {
    ScopedLock lock(&mutex_);
    if (raised_.load())
      return;
    raised_.store(true);
  }
  // Only the caller that raised the flag writes, so the pipe holds at most
  // one byte. Written outside the lock: the write may switch straight to
  // the waiting thread, which would otherwise block on our lock in its
  // drain and switch back.
  const uint8_t byte = 0;
  [[maybe_unused]] const ssize_t written = write(pipe_fds_[1], &byte, 1);
}

uint32_t EventDispatcher::WantedEvents() {
  return DISPATCH_READ;
}

void EventDispatcher::BeforeEvent(uint32_t) {
  ScopedLock lock(&mutex_);
  if (!raised_.load())
    return;
  uint8_t buffer[4];
  [[maybe_unused]] const ssize_t got = read(pipe_fds_[0], buffer, sizeof(buffer));
  raised_.store(false);
}

void EventDispatcher::HandleEvent(uint32_t, int) {}

int EventDispatcher::Descriptor() {
  return pipe_fds_[0];
}

bool EventDispatcher::IsPeerClosed() {
  return false;
}

Signaler::Signaler(DispatcherRegistry* server, bool* wait_flag)
    : EventDispatcher(server), wait_flag_(wait_flag) {}

void Signaler::HandleEvent(uint32_t, int) {
  if (wait_flag_ != nullptr)
    *wait_flag_ = false;
}

}  // namespace rtc
