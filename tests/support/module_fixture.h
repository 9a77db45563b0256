#ifndef TESTS_SUPPORT_MODULE_FIXTURE_H_
#define TESTS_SUPPORT_MODULE_FIXTURE_H_

// The set-up the module's suites share: every runtime line from a fresh
// logging configuration, and the platform's lines recorded instead of
// printed.

#include <stdlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "desktop/hilog_records.h"
#include "rtc_base/logging.h"
#include "support/egl_driver_pin.h"
#include "support/log_capture.h"
#include "support/recording_sink.h"

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

}  // namespace test_support

#endif  // TESTS_SUPPORT_MODULE_FIXTURE_H_
