#ifndef FUZZ_FUZZ_CHECK_H_
#define FUZZ_FUZZ_CHECK_H_

// The invariant checks every fuzz target makes: CHECK_OR_FAIL(ok, what)
// stops the run with "<target>: invariant broken: <what>" on stderr and an
// abort, which libFuzzer reports as a finding. `what` is built only when
// the check fails, so checks may run on every input.

#include <stdio.h>
#include <stdlib.h>

#include <string>

namespace fuzz_check {

// The target's name in the report, set once by the target.
inline const char* g_target = "fuzzer";
// Called before the report: a target that moved stderr puts it back here.
inline void (*g_before_report)() = nullptr;

[[noreturn]] inline void Fail(const std::string& what) {
  if (g_before_report != nullptr)
    g_before_report();
  fprintf(stderr, "%s: invariant broken: %s\n", g_target, what.c_str());
  abort();
}

}  // namespace fuzz_check

#define CHECK_OR_FAIL(ok, what)      \
  do {                               \
    if (!(ok))                       \
      ::fuzz_check::Fail(what);      \
  } while (0)

#endif  // FUZZ_FUZZ_CHECK_H_
