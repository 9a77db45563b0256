#include "rtc_base/posixsignal.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "rtc_base/dispatcherlog_internal.h"
#include "rtc_base/logging.h"

namespace rtc {

namespace {

constexpr int kMaxRelayedSignal = 128;

enum RelayState : int { kRelayNone = 0, kRelayCreating = 1, kRelayReady = 2 };

// One per process, never destroyed. Plain static storage rather than a
// heap object: the first signal may create it, in signal context.
struct SignalRelay {
  std::atomic<int> state;
  int read_fd;   // meaningful once state is kRelayReady; -1 without a pipe
  int write_fd;
  std::atomic<uint8_t> flags[kMaxRelayedSignal];  // 1: arrived, not handled
};
static_assert(std::atomic<uint8_t>::is_always_lock_free &&
                  std::atomic<int>::is_always_lock_free,
              "the relay is written in signal context");

SignalRelay g_relay;  // zero-initialised: kRelayNone, no flags

// Only async-signal-safe calls unless `may_log`.
void CreateRelay(bool may_log) {
  int fds[2];
  if (pipe(fds) != 0) {
    if (may_log)
      PSS_LOG_ERRNO(993, Error, errno) << "pipe failed";
    g_relay.read_fd = -1;
    g_relay.write_fd = -1;
  } else {
    // Both ends non-blocking: a full pipe must never block a signal
    // handler, and the reader drains whatever is there.
    if (fcntl(fds[0], F_SETFL, O_NONBLOCK) < 0 && may_log)
      PSS_LOG_ERRNO(997, Warning, errno) << "fcntl #1 failed";
    if (fcntl(fds[1], F_SETFL, O_NONBLOCK) < 0 && may_log)
      PSS_LOG_ERRNO(1000, Warning, errno) << "fcntl #2 failed";
    g_relay.read_fd = fds[0];
    g_relay.write_fd = fds[1];
  }
  g_relay.state.store(kRelayReady, std::memory_order_release);
}

// Outside signal context.
SignalRelay& Relay() {
  if (g_relay.state.load(std::memory_order_acquire) == kRelayReady)
    return g_relay;
  int expected = kRelayNone;
  if (g_relay.state.compare_exchange_strong(expected, kRelayCreating)) {
    CreateRelay(true);
    return g_relay;
  }
  // Another thread is creating it (a signal handler never is: it would
  // have finished before this thread went on).
  while (g_relay.state.load(std::memory_order_acquire) != kRelayReady)
    sched_yield();
  return g_relay;
}

void WakeRelay() {
  const uint8_t byte = 0;
  [[maybe_unused]] const ssize_t written = write(g_relay.write_fd, &byte, 1);
}

}  // namespace

void RelaySignal(int signum) {
  // The interrupted code may be between a failing call and its errno check.
  const int saved_errno = errno;
  int state = g_relay.state.load(std::memory_order_acquire);
  if (state == kRelayNone) {
    int expected = kRelayNone;
    if (g_relay.state.compare_exchange_strong(expected, kRelayCreating)) {
      CreateRelay(false);
      state = kRelayReady;
    } else {
      state = expected;
    }
  }
  if (signum >= 0 && signum < kMaxRelayedSignal) {
    g_relay.flags[signum].store(1);
    // Still being created by another thread: the flag is found with the
    // next byte.
    if (state == kRelayReady)
      WakeRelay();
  }
  errno = saved_errno;
}

bool InstallSigaction(int signum, void (*handler)(int)) {
  struct sigaction action = {};
  if (sigemptyset(&action.sa_mask) != 0) {
    PSS_LOG_ERRNO(1775, Error, errno) << "Couldn't set mask";
    return false;
  }
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  if (sigaction(signum, &action, nullptr) != 0) {
    PSS_LOG_ERRNO(1788, Error, errno) << "Couldn't set sigaction";
    return false;
  }
  return true;
}

PosixSignalDispatcher::PosixSignalDispatcher(DispatcherRegistry* server) : server_(server) {
  Relay();
  server_->Add(this);
}

PosixSignalDispatcher::~PosixSignalDispatcher() {
  if (!orphaned_)
    server_->Remove(this);
}

void PosixSignalDispatcher::SetHandler(int signum, void (*handler)(int)) {
  handlers_[signum] = handler;
}

void PosixSignalDispatcher::ClearHandler(int signum) {
  handlers_.erase(signum);
}

bool PosixSignalDispatcher::DeleteWhenDelivered() {
  if (!delivering_)
    return false;
  // Off the server now, so a dispatcher created meanwhile can watch the
  // same pipe.
  server_->Remove(this);
  orphaned_ = true;
  return true;
}

uint32_t PosixSignalDispatcher::WantedEvents() {
  return DISPATCH_READ;
}

void PosixSignalDispatcher::BeforeEvent(uint32_t) {
  // Signals that came close together left several bytes: one read takes
  // them all, the flags say which signals they were.
  uint8_t bytes[16];
  const ssize_t got = read(Relay().read_fd, bytes, sizeof(bytes));
  if (got < 0)
    PSS_LOG_ERRNO(1057, Warning, errno) << "Error in read()";
  else if (got == 0)
    PSS_LOG(1059, Warning) << "Should have read at least one byte";
}

void PosixSignalDispatcher::HandleEvent(uint32_t, int) {
  SignalRelay& relay = Relay();
  delivering_ = true;
  for (int signum = 0; signum < kMaxRelayedSignal && !orphaned_; ++signum) {
    if (relay.flags[signum].exchange(0) == 0)
      continue;
    auto it = handlers_.find(signum);
    if (it == handlers_.end()) {
      // It arrived while its handler was being removed.
      PSS_LOG(1073, Info) << "Received signal with no handler: " << signum;
      continue;
    }
    it->second(signum);
  }
  delivering_ = false;
  if (!orphaned_)
    return;
  // A handler dropped the last handler. Signals not yet looked at stay
  // flagged; a byte makes sure whoever watches the pipe next sees them.
  for (int signum = 0; signum < kMaxRelayedSignal; ++signum) {
    if (relay.flags[signum].load() != 0) {
      WakeRelay();
      break;
    }
  }
  delete this;
}

int PosixSignalDispatcher::Descriptor() {
  return Relay().read_fd;
}

bool PosixSignalDispatcher::IsPeerClosed() {
  return false;
}

}  // namespace rtc
