#ifndef BENCH_HARNESS_H_
#define BENCH_HARNESS_H_

// A minimal harness: time a loop of calls several times and keep the best
// round. The best round is the one least disturbed by other work on the
// machine, so ratios between figures taken in the same run stay meaningful.

#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

namespace bench {

// Nanoseconds per call of op(i), the best of `rounds` rounds of
// `iterations` calls each, after one warm-up round.
template <typename Op>
double NanosPerOp(Op&& op, int64_t iterations, int rounds = 9) {
  double best = 1e300;
  for (int round = -1; round < rounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    for (int64_t i = 0; i < iterations; ++i)
      op(i);
    benchmark::ClobberMemory();
    const auto end = std::chrono::steady_clock::now();
    if (round < 0)
      continue;  // warm-up
    const double ns = std::chrono::duration<double, std::nano>(end - start).count();
    best = std::min(best, ns / static_cast<double>(iterations));
  }
  return best;
}

// One result line in the form every benchmark uses: "name: value unit".
inline void Report(const char* name, double value, const char* unit) {
  printf("%s: %.3f %s\n", name, value, unit);
  fflush(stdout);
}

// A peer's figure, measured in the same run as ours, and ours over it:
// "<prefix><peer_name>" (in `unit`) and "<prefix><ratio_name>" (x).
inline void ReportPeer(const std::string& prefix, const char* peer_name, double peer,
                       const char* ratio_name, double ours, const char* unit) {
  Report((prefix + peer_name).c_str(), peer, unit);
  Report((prefix + ratio_name).c_str(), peer > 0 ? ours / peer : 0.0, "x");
}

// A figure of ours, then its peer's and the ratio as ReportPeer gives them.
inline void ReportBeside(const std::string& prefix, const char* ours_name, double ours,
                         const char* peer_name, double peer, const char* ratio_name,
                         const char* unit) {
  Report((prefix + ours_name).c_str(), ours, unit);
  ReportPeer(prefix, peer_name, peer, ratio_name, ours, unit);
}

// A loaded machine, made on purpose: one thread per core spinning for as
// long as the object lives, at the same priority as the measured threads.
// Figures taken meanwhile show what a busy device leaves to our threads and
// to the peer's; both are measured under the same load.
class BusyCores {
 public:
  BusyCores() {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < cores; ++i) {
      spinners_.emplace_back([this] {
        uint64_t turns = 0;
        while (!stop_.load(std::memory_order_relaxed))
          benchmark::DoNotOptimize(++turns);
      });
    }
  }
  ~BusyCores() {
    stop_.store(true);
    for (std::thread& spinner : spinners_)
      spinner.join();
  }
  BusyCores(const BusyCores&) = delete;
  BusyCores& operator=(const BusyCores&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> spinners_;
};

}  // namespace bench

#endif  // BENCH_HARNESS_H_
