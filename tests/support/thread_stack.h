#ifndef TESTS_SUPPORT_THREAD_STACK_H_
#define TESTS_SUPPORT_THREAD_STACK_H_

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

namespace test_support {

// A thread of the runtime must fit in the stack the C library gives a new
// thread, as it starts them all with default attributes: 128 KiB on musl
// (a device's), 8 MiB on glibc. What the threads are held to here.
constexpr size_t kThreadStackBudget = 64 * 1024;

// How deep the calling thread has used its stack so far, or 0 where that
// cannot be told. musl maps every thread's stack fresh, so it starts as
// zeros, and the lowest word that is not zero marks the deepest point the
// thread reached. glibc hands on the stacks of finished threads with what
// they left, so there it cannot be told.
inline size_t ThreadStackUsed() {
#if defined(__GLIBC__)
  return 0;
#else
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0)
    return 0;
  void* base = nullptr;
  size_t size = 0;
  pthread_attr_getstack(&attributes, &base, &size);
  pthread_attr_destroy(&attributes);
  const auto* word = static_cast<const volatile uintptr_t*>(base);
  const auto* top = reinterpret_cast<const volatile uintptr_t*>(static_cast<char*>(base) + size);
  while (word < top && *word == 0)
    ++word;
  return static_cast<size_t>(reinterpret_cast<const volatile char*>(top) -
                             reinterpret_cast<const volatile char*>(word));
#endif
}

}  // namespace test_support

#endif  // TESTS_SUPPORT_THREAD_STACK_H_
