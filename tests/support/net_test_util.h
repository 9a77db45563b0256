#ifndef TESTS_SUPPORT_NET_TEST_UTIL_H_
#define TESTS_SUPPORT_NET_TEST_UTIL_H_

// Helpers shared by the network suites: a stand-in for getaddrinfo with
// scripted answers, and a loop that serves the calling thread's queue.

#include <arpa/inet.h>
#include <netdb.h>
#include <string.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rtc_base/asyncresolver.h"
#include "rtc_base/nethelpers.h"
#include "rtc_base/thread.h"
#include "rtc_base/timeutils.h"

namespace rtc {
namespace testing {

// One entry of an answer: an address text of `family`, or, with an empty
// text, an entry that carries no address at all.
struct FakeEntry {
  int family;
  std::string address;
};

// What one getaddrinfo call returns: a failure code, or 0 and entries.
struct FakeAnswer {
  int code;
  std::vector<FakeEntry> entries;
};

// Installed for its lifetime. Call n gets answers[n]; later calls get the
// last one. With Hold(), calls wait until Release().
class FakeLookup {
 public:
  explicit FakeLookup(std::initializer_list<FakeAnswer> answers) : answers_(answers) {
    current_ = this;
    nethelpers_internal::SetAddressLookupForTesting(&Lookup, &Free);
  }
  ~FakeLookup() {
    Release();
    nethelpers_internal::SetAddressLookupForTesting(nullptr, nullptr);
    current_ = nullptr;
    EXPECT_EQ(live_lists_.load(), 0) << "a result list was not freed";
  }
  FakeLookup(const FakeLookup&) = delete;
  FakeLookup& operator=(const FakeLookup&) = delete;

  void Hold() {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = true;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = false;
    released_.notify_all();
  }
  // The hint families of the calls so far.
  std::vector<int> families() {
    std::lock_guard<std::mutex> lock(mutex_);
    return families_;
  }
  std::vector<std::string> names() {
    std::lock_guard<std::mutex> lock(mutex_);
    return names_;
  }
  int calls_returned() const { return calls_returned_.load(); }

 private:
  static int Lookup(const char* name, const char*, const addrinfo* hints, addrinfo** result) {
    FakeLookup* self = current_;
    FakeAnswer answer;
    {
      std::unique_lock<std::mutex> lock(self->mutex_);
      self->released_.wait(lock, [self] { return !self->held_; });
      const size_t call = self->families_.size();
      self->families_.push_back(hints->ai_family);
      self->names_.push_back(name);
      answer = self->answers_[std::min(call, self->answers_.size() - 1)];
    }
    if (answer.code == 0)
      *result = Build(answer.entries);
    if (answer.code == 0)
      ++self->live_lists_;
    ++self->calls_returned_;
    return answer.code;
  }

  static addrinfo* Build(const std::vector<FakeEntry>& entries) {
    addrinfo* head = nullptr;
    addrinfo** tail = &head;
    for (const FakeEntry& entry : entries) {
      auto* info = new addrinfo();
      info->ai_family = entry.family;
      info->ai_socktype = SOCK_STREAM;
      if (!entry.address.empty()) {
        auto* storage = new sockaddr_storage();
        storage->ss_family = static_cast<sa_family_t>(entry.family);
        if (entry.family == AF_INET6) {
          inet_pton(AF_INET6, entry.address.c_str(),
                    &reinterpret_cast<sockaddr_in6*>(storage)->sin6_addr);
        } else if (entry.family == AF_INET) {
          inet_pton(AF_INET, entry.address.c_str(),
                    &reinterpret_cast<sockaddr_in*>(storage)->sin_addr);
        }
        info->ai_addr = reinterpret_cast<sockaddr*>(storage);
        info->ai_addrlen = sizeof(*storage);
      }
      *tail = info;
      tail = &info->ai_next;
    }
    return head;
  }

  static void Free(addrinfo* list) {
    while (list != nullptr) {
      addrinfo* next = list->ai_next;
      delete reinterpret_cast<sockaddr_storage*>(list->ai_addr);
      delete list;
      list = next;
    }
    --current_->live_lists_;
  }

  static inline FakeLookup* current_ = nullptr;
  const std::vector<FakeAnswer> answers_;
  std::mutex mutex_;
  std::condition_variable released_;
  bool held_ = false;
  std::vector<int> families_;
  std::vector<std::string> names_;
  std::atomic<int> calls_returned_{0};
  std::atomic<int> live_lists_{0};
};

// Serves the calling thread's queue (and, through its socket server, its
// sockets) until `done` holds or `timeout_ms` passed. True when `done` held.
inline bool PumpUntil(const std::function<bool()>& done, int timeout_ms = 5000) {
  Thread* thread = Thread::Current();
  const int64_t stop = MonotonicMillis() + timeout_ms;
  while (!done()) {
    if (MonotonicMillis() >= stop)
      return false;
    Message message;
    if (thread->Get(&message, 10, true))
      thread->Dispatch(&message);
  }
  return true;
}

}  // namespace testing
}  // namespace rtc

#endif  // TESTS_SUPPORT_NET_TEST_UTIL_H_
