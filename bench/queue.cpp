// Message queue throughput and wake-up latency, ours against libuv.
//
// Throughput: one producer thread posts kPosts messages to a started
// rtc::Thread whose handler counts them; the peer is a libuv loop fed by a
// mutex-protected queue and uv_async_send, draining a batch per wake-up.
//
// Latency: two threads pass a token back and forth, each posting to the
// other on receipt; one sample is one hop, from just before the post to the
// start of the receiving handler. Peers: two libuv loops with uv_async_t,
// and the floor, a bare pipe per direction watched with epoll_wait. Run
// unpinned, then with every thread on one core.
//
// Everything runs twice: on the machine as it is ("queue."), then with a
// busy thread per core started here ("queue.loaded.").

#include <sched.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <uv.h>

#include "harness.h"
#include "rtc_base/event.h"
#include "rtc_base/physicalsocketserver.h"
#include "rtc_base/thread.h"
#include "rtc_base/timeutils.h"

namespace {

constexpr int kPosts = 1'000'000;
constexpr int kRounds = 5;
constexpr int kRoundTrips = 100'000;
constexpr int kWarmUpHops = 1'000;

struct Percentiles {
  double p50_us;
  double p99_us;
};

// Hop latencies in nanoseconds, the warm-up left out.
Percentiles Summarise(std::vector<int64_t> hops) {
  hops.erase(hops.begin(), hops.begin() + std::min<size_t>(kWarmUpHops, hops.size()));
  std::sort(hops.begin(), hops.end());
  auto at = [&](double q) { return hops[static_cast<size_t>(q * (hops.size() - 1))] / 1000.0; };
  return {at(0.50), at(0.99)};
}

// --- Throughput --------------------------------------------------------------

class CountingHandler : public rtc::MessageHandler {
 public:
  void HandleMessage(rtc::Message*) override {
    if (++count_ == kPosts)
      done_.Set();
  }
  void Wait() { done_.Wait(rtc::kForever); }

 private:
  int count_ = 0;
  rtc::Event done_{false, false};
};

double OursPostRate() {
  rtc::Thread consumer(std::make_unique<rtc::PhysicalSocketServer>(), true);
  consumer.Start();
  CountingHandler handler;
  int64_t start = 0;
  std::thread producer([&] {
    start = rtc::MonotonicNanos();
    for (int i = 0; i < kPosts; ++i)
      consumer.Post(rtc::PostLocation(), &handler, 0);
  });
  handler.Wait();
  const int64_t end = rtc::MonotonicNanos();
  producer.join();
  consumer.Stop();
  return kPosts / ((end - start) / 1e9);
}

// What the libuv consumer queues: about the size of our message's fields
// that matter.
struct Item {
  void* handler;
  uint32_t id;
  void* data;
};

struct UvConsumer {
  uv_loop_t loop;
  uv_async_t async;
  std::mutex mutex;
  std::vector<Item> queue;  // guarded by mutex
  std::vector<Item> batch;  // the loop thread's
  int count = 0;
  int64_t end = 0;
};

void OnUvBatch(uv_async_t* async) {
  auto* consumer = static_cast<UvConsumer*>(async->data);
  {
    std::lock_guard<std::mutex> lock(consumer->mutex);
    consumer->batch.swap(consumer->queue);
  }
  for (const Item& item : consumer->batch)
    consumer->count += item.id == 0 ? 1 : 0;
  consumer->batch.clear();
  if (consumer->count == kPosts) {
    consumer->end = rtc::MonotonicNanos();
    uv_close(reinterpret_cast<uv_handle_t*>(async), nullptr);
  }
}

double LibuvPostRate() {
  UvConsumer consumer;
  uv_loop_init(&consumer.loop);
  uv_async_init(&consumer.loop, &consumer.async, &OnUvBatch);
  consumer.async.data = &consumer;
  std::thread loop([&] { uv_run(&consumer.loop, UV_RUN_DEFAULT); });
  const int64_t start = rtc::MonotonicNanos();
  for (int i = 0; i < kPosts; ++i) {
    {
      std::lock_guard<std::mutex> lock(consumer.mutex);
      consumer.queue.push_back(Item{nullptr, 0, nullptr});
    }
    uv_async_send(&consumer.async);
  }
  loop.join();
  uv_loop_close(&consumer.loop);
  return kPosts / ((consumer.end - start) / 1e9);
}


// --- Wake-up latency: ours ---------------------------------------------------

// Shared by the two sides of a ping-pong: only one hop is ever in flight.
struct Rally {
  std::atomic<int64_t> sent_ns{0};
  std::vector<int64_t> hops;
  rtc::Event done{false, false};

  // Records the hop that just arrived; false once the rally is over.
  bool Arrive() {
    hops.push_back(rtc::MonotonicNanos() - sent_ns.load(std::memory_order_relaxed));
    return hops.size() < 2u * kRoundTrips;
  }
  void Depart() { sent_ns.store(rtc::MonotonicNanos(), std::memory_order_relaxed); }
};

class Player : public rtc::MessageHandler {
 public:
  Player(Rally* rally, rtc::Thread* peer_thread) : rally_(rally), peer_thread_(peer_thread) {}
  void set_peer(Player* peer) { peer_ = peer; }
  void Serve() {
    rally_->Depart();
    peer_thread_->Post(rtc::PostLocation(), peer_, 0);
  }
  void HandleMessage(rtc::Message*) override {
    if (rally_->Arrive())
      Serve();
    else
      rally_->done.Set();
  }

 private:
  Rally* const rally_;
  rtc::Thread* const peer_thread_;
  Player* peer_ = nullptr;
};

Percentiles OursWake() {
  Rally rally;
  rally.hops.reserve(2 * kRoundTrips);
  rtc::Thread a(std::make_unique<rtc::PhysicalSocketServer>(), true);
  rtc::Thread b(std::make_unique<rtc::PhysicalSocketServer>(), true);
  Player on_a(&rally, &b), on_b(&rally, &a);
  on_a.set_peer(&on_b);
  on_b.set_peer(&on_a);
  a.Start();
  b.Start();
  on_b.Serve();  // the first hop goes to a
  rally.done.Wait(rtc::kForever);
  a.Stop();
  b.Stop();
  return Summarise(rally.hops);
}

// --- Wake-up latency: libuv --------------------------------------------------

struct UvSide {
  uv_loop_t loop;
  uv_async_t async;
  UvSide* peer;
  Rally* rally;
  std::atomic<bool>* over;
};

void OnUvHop(uv_async_t* async) {
  auto* side = static_cast<UvSide*>(async->data);
  if (side->over->load()) {
    uv_close(reinterpret_cast<uv_handle_t*>(async), nullptr);
    return;
  }
  if (!side->rally->Arrive()) {
    side->over->store(true);
    uv_close(reinterpret_cast<uv_handle_t*>(async), nullptr);
    uv_async_send(&side->peer->async);  // lets the peer close too
    return;
  }
  side->rally->Depart();
  uv_async_send(&side->peer->async);
}

Percentiles LibuvWake() {
  Rally rally;
  rally.hops.reserve(2 * kRoundTrips);
  std::atomic<bool> over{false};
  UvSide a, b;
  for (UvSide* side : {&a, &b}) {
    uv_loop_init(&side->loop);
    uv_async_init(&side->loop, &side->async, &OnUvHop);
    side->async.data = side;
    side->rally = &rally;
    side->over = &over;
  }
  a.peer = &b;
  b.peer = &a;
  std::thread ta([&] { uv_run(&a.loop, UV_RUN_DEFAULT); });
  std::thread tb([&] { uv_run(&b.loop, UV_RUN_DEFAULT); });
  rally.Depart();
  uv_async_send(&a.async);
  ta.join();
  tb.join();
  uv_loop_close(&a.loop);
  uv_loop_close(&b.loop);
  return Summarise(rally.hops);
}

// --- Wake-up latency: the floor ----------------------------------------------

// One side of a bare ping-pong: wait on `in` with epoll, answer on `out`.
void FloorSide(Rally* rally, int in, int out, std::atomic<bool>* over) {
  const int epoll_fd = epoll_create1(0);
  epoll_event interest = {};
  interest.events = EPOLLIN;
  epoll_ctl(epoll_fd, EPOLL_CTL_ADD, in, &interest);
  const char token = 't';
  for (;;) {
    epoll_event ready;
    if (epoll_wait(epoll_fd, &ready, 1, -1) != 1)
      continue;
    char byte;
    if (read(in, &byte, 1) != 1 || over->load())
      break;
    const bool more = rally->Arrive();
    if (!more)
      over->store(true);
    else
      rally->Depart();
    if (write(out, &token, 1) != 1)
      break;
    if (!more)
      break;
  }
  close(epoll_fd);
}

Percentiles FloorWake() {
  Rally rally;
  rally.hops.reserve(2 * kRoundTrips);
  std::atomic<bool> over{false};
  int to_a[2], to_b[2];
  if (pipe(to_a) != 0 || pipe(to_b) != 0)
    return {0, 0};
  std::thread ta([&] { FloorSide(&rally, to_a[0], to_b[1], &over); });
  std::thread tb([&] { FloorSide(&rally, to_b[0], to_a[1], &over); });
  rally.Depart();
  const char token = 't';
  if (write(to_a[1], &token, 1) != 1)
    return {0, 0};
  ta.join();
  tb.join();
  for (int fd : {to_a[0], to_a[1], to_b[0], to_b[1]})
    close(fd);
  return Summarise(rally.hops);
}

void ReportWake(const char* prefix) {
  const Percentiles ours = OursWake();
  const Percentiles libuv = LibuvWake();
  const Percentiles floor = FloorWake();
  auto name = [prefix](const char* figure) { return std::string(prefix) + figure; };
  bench::Report(name("p50_us").c_str(), ours.p50_us, "us");
  bench::Report(name("p99_us").c_str(), ours.p99_us, "us");
  bench::Report(name("libuv_p50_us").c_str(), libuv.p50_us, "us");
  bench::Report(name("floor_p50_us").c_str(), floor.p50_us, "us");
  bench::Report(name("ratio_libuv").c_str(), ours.p50_us / libuv.p50_us, "x");
  bench::Report(name("ratio_floor").c_str(), ours.p50_us / floor.p50_us, "x");
}

// Runs `measure` with the calling thread, and the threads it starts, on
// the core it is on now; the affinity is restored afterwards.
template <typename Measure>
void OnOneCore(Measure measure) {
  cpu_set_t all;
  sched_getaffinity(0, sizeof(all), &all);
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(sched_getcpu(), &one);
  sched_setaffinity(0, sizeof(one), &one);  // threads made later inherit it
  measure();
  sched_setaffinity(0, sizeof(all), &all);
}

// Every figure, named under `prefix` ("queue." or "queue.loaded.").
void ReportAll(const std::string& prefix) {
  // Alternating rounds, best of each: both see the same spells of noise.
  double ours = 0;
  double libuv = 0;
  for (int round = 0; round < kRounds; ++round) {
    ours = std::max(ours, OursPostRate());
    libuv = std::max(libuv, LibuvPostRate());
  }
  bench::ReportBeside(prefix + "post.", "msgs_per_s", ours, "libuv_msgs_per_s", libuv, "ratio",
                      "msgs/s");

  ReportWake((prefix + "wake.").c_str());
  OnOneCore([&] { ReportWake((prefix + "wake.pinned.").c_str()); });
}

}  // namespace

int main() {
  ReportAll("queue.");
  // Again with every core kept busy by a thread of the same priority.
  bench::BusyCores load;
  ReportAll("queue.loaded.");
  return 0;
}
