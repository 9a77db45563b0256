#include "rtc_base/recursive_mutex.h"

namespace rtc {

RecursiveMutex::RecursiveMutex() {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&mutex_, &attr);
  pthread_mutexattr_destroy(&attr);
}

RecursiveMutex::~RecursiveMutex() {
  pthread_mutex_destroy(&mutex_);
}

namespace {

// Tries before a contended Lock() sleeps. The runtime's critical sections
// last well under a microsecond, while sleeping in the kernel and being
// woken costs the waiter and the thread that unlocks a system call each:
// between a logging thread and the log thread that dominated the cost of a
// line. A hundred tries with a pause between them, as adaptive mutexes do,
// last a few microseconds at most.
constexpr int kSpinsBeforeSleeping = 100;

inline void PauseProcessor() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__) || defined(__arm__)
  __asm__ __volatile__("yield");
#endif
}

}  // namespace

void RecursiveMutex::Lock() {
  for (int i = 0; i < kSpinsBeforeSleeping; ++i) {
    if (pthread_mutex_trylock(&mutex_) == 0)
      return;
    PauseProcessor();
  }
  pthread_mutex_lock(&mutex_);
}

void RecursiveMutex::Unlock() {
  pthread_mutex_unlock(&mutex_);
}

}  // namespace rtc
