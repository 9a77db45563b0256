#ifndef TESTS_SUPPORT_RUNTIME_TEST_UTIL_H_
#define TESTS_SUPPORT_RUNTIME_TEST_UTIL_H_

// Helpers shared by the runtime's suites: log capture, payloads that report
// their destruction, handlers made of lambdas.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "rtc_base/logging.h"
#include "rtc_base/messagequeue.h"
#include "rtc_base/physicalsocketserver.h"
#include "support/recording_sink.h"

namespace rtc {
namespace testing {

// Collects every runtime log line, Verbose and up, while it lives.
class LogCapture : public test_support::RecordingSink {
 public:
  LogCapture() {
    logging_internal::ResetForTesting();
    LogLine::AddSink(this, LogSeverity::Verbose);
  }
  ~LogCapture() override { logging_internal::ResetForTesting(); }

  // Lines that contain `text`.
  int Count(const std::string& text) {
    int count = 0;
    for (const std::string& line : lines())
      count += line.find(text) != std::string::npos ? 1 : 0;
    return count;
  }
};

// A payload that counts its destruction.
class CountingData : public MessageData {
 public:
  explicit CountingData(std::atomic<int>* destroyed, int value = 0)
      : destroyed_(destroyed), value(value) {}
  ~CountingData() override { ++*destroyed_; }

 private:
  std::atomic<int>* const destroyed_;

 public:
  int value;
};

class FunctionHandler : public MessageHandler {
 public:
  explicit FunctionHandler(std::function<void(Message*)> body) : body_(std::move(body)) {}
  void HandleMessage(Message* message) override { body_(message); }

 private:
  std::function<void(Message*)> body_;
};

}  // namespace testing
}  // namespace rtc

#endif  // TESTS_SUPPORT_RUNTIME_TEST_UTIL_H_
