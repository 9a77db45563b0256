#ifndef TESTS_SUPPORT_DEADLINE_H_
#define TESTS_SUPPORT_DEADLINE_H_

// For cases whose fault is a hang (a deadlock, a call that blocks for
// ever): the case fails at once, by name, instead of holding the suite
// until ctest's time-out.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <utility>

namespace test_support {

// Runs `body` on a thread of its own and waits for it to return; a body
// still running after `limit` ends the test process with a line naming
// `what`. The limit is a hang's, never a speed check: minutes, not the
// milliseconds the body takes.
inline void RunOrAbort(const char* what, std::function<void()> body,
                       std::chrono::seconds limit = std::chrono::seconds(60)) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  std::thread([body = std::move(body), done] {
    body();
    done->set_value();
  }).detach();
  if (finished.wait_for(limit) != std::future_status::ready) {
    fprintf(stderr, "%s: still waiting after %lld s, it hangs\n", what,
            static_cast<long long>(limit.count()));
    std::abort();
  }
}

}  // namespace test_support

#endif  // TESTS_SUPPORT_DEADLINE_H_
