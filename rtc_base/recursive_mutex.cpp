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

void RecursiveMutex::Lock() {
  pthread_mutex_lock(&mutex_);
}

void RecursiveMutex::Unlock() {
  pthread_mutex_unlock(&mutex_);
}

}  // namespace rtc
