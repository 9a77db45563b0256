#ifndef TESTS_SUPPORT_MODULE_FIXTURE_H_
#define TESTS_SUPPORT_MODULE_FIXTURE_H_

// The set-up the module's suites share: every runtime line from a fresh
// logging configuration, the platform's lines recorded instead of printed,
// and for those that draw, a display and the window's pixels.

#include <stdint.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "desktop/hilog_records.h"
#include "desktop/x11_surface.h"
#include "rtc_base/logging.h"
#include "support/egl_driver_pin.h"
#include "support/log_capture.h"

namespace test_support {

class ModuleFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    rtc::logging_internal::ResetForTesting();
    rtc::LogLine::AddSink(&sink_, rtc::LogSeverity::Verbose);
    ohos_desktop::SetHilogStderrEnabled(false);
    ohos_desktop::ClearHilogRecords();
  }
  void TearDown() override { rtc::LogLine::RemoveSink(&sink_); }

  std::vector<std::string> PlatformLines() { return TakePlatformLines(); }

  RecordingSink sink_;
};

// For fixtures that draw: fails the test when there is no display, and
// keeps the EGL driver loaded.
inline void RequireDisplay() {
  ASSERT_NE(getenv("DISPLAY"), nullptr) << "these tests draw into X11 windows: run them "
                                           "with a display (scripts/test starts Xvfb)";
  PinEglDriver();
}

// EGL presents through its own connection to the server, so the picture
// reaches the window a little after the swap returns: polls (calling
// `before_each` first each time, to draw again for instance) until `ready`
// holds, or gives up after a few seconds; returns the last read.
inline std::vector<uint32_t> PixelsWhen(
    ohos_desktop::X11Surface& window,
    const std::function<bool(const std::vector<uint32_t>&)>& ready,
    const std::function<void()>& before_each = nullptr) {
  std::vector<uint32_t> pixels;
  for (int attempt = 0; attempt < 300; ++attempt) {
    if (before_each)
      before_each();
    pixels = window.ReadPixels();
    if (!pixels.empty() && ready(pixels))
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return pixels;
}

// A colour the fragment shader computes comes out as the GL implementation
// rounds it: llvmpipe draws the test frames' white as 0xFFFFFF on x86-64
// and 0xFFFEFF on 64-bit ARM, and a device's GPU rounds its own way. Such
// colours are compared within this many steps per channel. What the
// drawing fixes by construction (black bars, positions, which texel is
// sampled) is compared exactly.
inline constexpr int kShaderRounding = 2;

// Whether two 0xRRGGBB pixels agree within the shader's rounding.
inline bool ShaderColourIs(uint32_t pixel, uint32_t expected) {
  for (int shift : {0, 8, 16}) {
    const int got = static_cast<int>(pixel >> shift & 0xff),
              want = static_cast<int>(expected >> shift & 0xff);
    if (std::abs(got - want) > kShaderRounding)
      return false;
  }
  return true;
}

}  // namespace test_support

#endif  // TESTS_SUPPORT_MODULE_FIXTURE_H_
