#ifndef TESTS_SUPPORT_EMULATION_H_
#define TESTS_SUPPORT_EMULATION_H_

// What differs when the suite runs cross-built under user-mode emulation
// (NATIVERENDER_EMULATOR names the emulator). Each difference is a limit of
// the emulator, shown by a program of a few lines in tests/emulation/ that
// fails the same way without any of our code.

#include <string>

#include <gtest/gtest.h>

namespace test_support {

#ifdef NATIVERENDER_EMULATOR
inline constexpr bool kEmulated = true;
#else
inline constexpr bool kEmulated = false;
#endif

// Death tests that need a fresh process run the test binary again
// ("threadsafe"). An emulated binary cannot exec itself: the kernel knows
// its format only through a binfmt_misc handler, which the emulation here
// does without (tests/emulation/reexec_self.c). There the child is forked
// instead ("fast"); each case runs in a process of its own under ctest, so
// the fork is as fresh as the exec would be.
inline void UseFreshProcessDeathTests() {
  GTEST_FLAG_SET(death_test_style, kEmulated ? "fast" : "threadsafe");
}

// The end of a dying child's output, for a death test's pattern that
// matches to the end. The emulator reports a guest killed by a signal on
// the process's own standard error, one line after everything the program
// wrote (tests/emulation/silent_abort.c).
inline std::string DeathOutputEnd() {
  return kEmulated ? "(qemu: uncaught target signal [^\n]*\n)?$" : "$";
}

}  // namespace test_support

#endif  // TESTS_SUPPORT_EMULATION_H_
