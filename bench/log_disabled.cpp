// The cost of a log statement below every threshold, ours against spdlog's.
// Both loops stream the same operands; neither statement may produce output.

#include <memory>

#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include "harness.h"
#include "rtc_base/logging.h"

namespace {

constexpr int64_t kIterations = 50'000'000;

// Our runtime as the module configures it: one sink at Info, so Verbose
// statements are below the threshold.
class NullSink : public rtc::LogSink {
 public:
  void OnLogMessage(const std::string&) override {}
};

}  // namespace

int main() {
  NullSink sink;
  rtc::LogLine::AddSink(&sink, rtc::LogSeverity::Info);
  const double ours = bench::NanosPerOp(
      [](int64_t i) { LOG(Verbose) << "frame " << i << " drawn"; }, kIterations);
  rtc::LogLine::RemoveSink(&sink);

  auto logger = std::make_shared<spdlog::logger>(
      "bench", std::make_shared<spdlog::sinks::null_sink_st>());
  logger->set_level(spdlog::level::info);
  spdlog::logger* peer = logger.get();
  const double spdlog_ns = bench::NanosPerOp(
      [peer](int64_t i) { peer->debug("frame {} drawn", i); }, kIterations);

  bench::Report("log.disabled.ns", ours, "ns");
  bench::Report("log.disabled.spdlog_ns", spdlog_ns, "ns");
  return 0;
}
