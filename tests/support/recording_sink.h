#ifndef TESTS_SUPPORT_RECORDING_SINK_H_
#define TESTS_SUPPORT_RECORDING_SINK_H_

#include <mutex>
#include <string>
#include <vector>

#include "rtc_base/logging.h"

namespace test_support {

// Records every runtime line it receives; safe from any thread.
class RecordingSink : public rtc::LogSink {
 public:
  void OnLogMessage(const std::string& message) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(message);
  }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  // The lines received since the last call.
  std::vector<std::string> TakeLines() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> lines;
    lines.swap(lines_);
    return lines;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace test_support

#endif  // TESTS_SUPPORT_RECORDING_SINK_H_
