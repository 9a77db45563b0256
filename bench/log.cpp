// End-to-end log forwarding: from a LOG(Info) statement to the host's
// listener on the log thread, against spdlog's asynchronous logger (queue
// 8192, producers block when it is full) formatting the same content with a
// pattern of the same shape and delivering to a callback sink.
//
// Everything runs twice: on the machine as it is ("log."), then with a busy
// thread per core started here ("log.loaded.").

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <spdlog/async.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include "harness.h"
#include "quon_render_logfile.h"
#include "rtc_base/logging.h"
#include "rtc_base/timeutils.h"

namespace {

constexpr int64_t kLines = 1000000;
constexpr int kLatencySamples = 2000;
constexpr int kRounds = 3;

// Counts deliveries; for latency runs, reads the send time from the line.
// The sink's own "N lines dropped" lines are tallied apart.
class CountingListener : public ILogRenderListener {
 public:
  void OnRenderLog(std::string line) override {
    static const std::string kDropped = " lines dropped\n";
    static const std::string kSinkLocation = "(quon_render_logfile.cpp:";
    const size_t own = line.find(kSinkLocation);
    if (own != std::string::npos && line.size() > kDropped.size() &&
        line.compare(line.size() - kDropped.size(), kDropped.size(), kDropped) == 0) {
      const size_t count = line.find("): ", own);
      if (count != std::string::npos)
        dropped.fetch_add(strtoll(line.c_str() + count + 3, nullptr, 10),
                          std::memory_order_relaxed);
      return;
    }
    if (measure_latency) {
      const size_t at = line.rfind('@');
      if (at != std::string::npos) {
        const int64_t sent = strtoll(line.c_str() + at + 1, nullptr, 10);
        std::lock_guard<std::mutex> lock(mutex);
        latencies_us.push_back((rtc::MonotonicNanos() - sent) / 1000.0);
      }
    }
    count.fetch_add(1, std::memory_order_release);
  }
  std::atomic<int64_t> count{0};
  std::atomic<int64_t> dropped{0};
  std::atomic<bool> measure_latency{false};
  std::mutex mutex;
  std::vector<double> latencies_us;
};

class CountingSpdlogSink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::atomic<int64_t> count{0};

 protected:
  void sink_it_(const spdlog::details::log_msg& message) override {
    spdlog::memory_buf_t formatted;
    formatter_->format(message, formatted);
    count.fetch_add(1, std::memory_order_release);
  }
  void flush_() override {}
};

// Waits until `count` reaches `target`, or stops moving for 100 ms (lines
// were dropped). Returns the time of the last delivery seen.
int64_t WaitUntil(const std::atomic<int64_t>& count, int64_t target) {
  int64_t last = count.load(std::memory_order_acquire);
  int64_t last_change = rtc::MonotonicNanos();
  while (last < target && rtc::MonotonicNanos() - last_change < 100'000'000) {
    std::this_thread::sleep_for(std::chrono::microseconds(100));
    const int64_t now_count = count.load(std::memory_order_acquire);
    if (now_count != last) {
      last = now_count;
      last_change = rtc::MonotonicNanos();
    }
  }
  return last_change;
}

// Delivered lines per second with `threads` producers sharing kLines lines.
template <typename Produce>
double Throughput(int threads, const std::atomic<int64_t>& delivered, Produce produce) {
  const int64_t before = delivered.load();
  const int64_t start = rtc::MonotonicNanos();
  std::vector<std::thread> producers;
  for (int t = 0; t < threads; ++t)
    producers.emplace_back([&, t] { produce(t, kLines / threads); });
  for (auto& producer : producers)
    producer.join();
  const int64_t end = WaitUntil(delivered, before + kLines);
  return (delivered.load() - before) / ((end - start) / 1e9);
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty())
    return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(fraction * (values.size() - 1))];
}

// Every figure, named under `prefix` ("log." or "log.loaded.").
template <typename OursProduce, typename PeerProduce>
void ReportAll(const std::string& prefix, CountingListener& listener, OursProduce ours_produce,
               const std::atomic<int64_t>& peer_count, PeerProduce peer_produce,
               const void* renderer) {
  const int64_t delivered_before = listener.count.load();
  const int64_t reported_before = listener.dropped.load();
  double ours1 = 0, ours2 = 0, peer1 = 0, peer2 = 0;
  for (int round = 0; round < kRounds; ++round) {
    ours1 = std::max(ours1, Throughput(1, listener.count, ours_produce));
    peer1 = std::max(peer1, Throughput(1, peer_count, peer_produce));
    ours2 = std::max(ours2, Throughput(2, listener.count, ours_produce));
    peer2 = std::max(peer2, Throughput(2, peer_count, peer_produce));
  }
  const int64_t produced = 2LL * kRounds * kLines;  // our share of the rounds
  const int64_t dropped = produced - (listener.count.load() - delivered_before);

  // Latency at a light load: 1,000 lines per second.
  {
    std::lock_guard<std::mutex> lock(listener.mutex);
    listener.latencies_us.clear();
  }
  const int64_t latency_before = listener.count.load();
  listener.measure_latency = true;
  for (int i = 0; i < kLatencySamples; ++i) {
    LOG(Info) << renderer << ": "
              << "RenderFrame"
              << ": "
              << ".sent@" << rtc::MonotonicNanos();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  WaitUntil(listener.count, latency_before + kLatencySamples);
  listener.measure_latency = false;
  std::vector<double> latencies;
  {
    std::lock_guard<std::mutex> lock(listener.mutex);
    latencies = listener.latencies_us;
  }

  auto name = [&prefix](const char* figure) { return prefix + figure; };
  bench::ReportBeside(name("e2e."), "lines_per_s", ours1, "spdlog_lines_per_s", peer1, "ratio",
                      "lines/s");
  bench::ReportBeside(name("e2e.2t."), "lines_per_s", ours2, "spdlog_lines_per_s", peer2, "ratio",
                      "lines/s");
  bench::Report(name("e2e.dropped").c_str(), static_cast<double>(dropped), "lines");
  bench::Report(name("e2e.dropped_reported").c_str(),
                static_cast<double>(listener.dropped.load() - reported_before), "lines");
  bench::Report(name("latency.p50_us").c_str(), Percentile(latencies, 0.50), "us");
  bench::Report(name("latency.p99_us").c_str(), Percentile(latencies, 0.99), "us");
}

}  // namespace

int main() {
  // Ours: the module's sink, as the product configures it.
  CountingListener listener;
  CallbLogSink sink;
  sink.Init();
  sink.SetListener("", &listener);
  const void* renderer = &sink;
  auto ours_produce = [renderer](int, int64_t lines) {
    for (int64_t n = 0; n < lines; ++n)
      LOG(Info) << renderer << ": " << "RenderFrame" << ": " << ".frame=" << n;
  };

  // spdlog: asynchronous logger over the same shape of line.
  spdlog::init_thread_pool(8192, 1);
  auto counting = std::make_shared<CountingSpdlogSink>();
  auto logger = std::make_shared<spdlog::async_logger>("bench", counting, spdlog::thread_pool(),
                                                       spdlog::async_overflow_policy::block);
  logger->set_pattern("%m-%d %H:%M:%S.%e (%s:%#): %v");
  logger->set_level(spdlog::level::info);
  auto peer_produce = [&logger, renderer](int, int64_t lines) {
    for (int64_t n = 0; n < lines; ++n)
      SPDLOG_LOGGER_INFO(logger, "{}: {}: .frame={}", renderer, "RenderFrame", n);
  };

  ReportAll("log.", listener, ours_produce, counting->count, peer_produce, renderer);
  {
    // Again with every core kept busy by a thread of the same priority.
    bench::BusyCores load;
    ReportAll("log.loaded.", listener, ours_produce, counting->count, peer_produce, renderer);
  }
  sink.SetListener("", nullptr);
  spdlog::shutdown();
  return 0;
}
