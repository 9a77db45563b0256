#ifndef ENGINE_CLOCK_H_
#define ENGINE_CLOCK_H_

#include <stdint.h>
#include <time.h>

namespace engine {

// Nanoseconds on the monotonic clock: what the engine paces frames by. The
// engine keeps its own, so that a program built on it links the renderer
// module's exported interface and nothing of the module's runtime.
inline int64_t MonotonicNanos() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace engine

#endif  // ENGINE_CLOCK_H_
