#ifndef RTC_BASE_ASYNCRESOLVER_H_
#define RTC_BASE_ASYNCRESOLVER_H_

// Host-name resolution off the caller's thread: the resolution runs on a
// SignalThread's worker and Done is emitted on the thread that started it.

#include <vector>

#include "rtc_base/nethelpers.h"
#include "rtc_base/signalthread.h"

namespace rtc {

// Resolves an endpoint's host name on a SignalThread.
class AsyncResolver : public SignalThread, public AsyncResolverInterface {
 public:
  AsyncResolver();

  // Ignored while a resolution runs.
  void Start(const SocketEndpoint& request) override;
  bool ResolvedFor(int family, SocketEndpoint* out) const override;
  int ResolveError() const override;
  void Destroy(bool wait) override;

  // What was found, in order.
  const std::vector<IPAddress>& addresses() const { return addresses_; }

 protected:
  ~AsyncResolver() override;

  void BeforeWork() override;
  void PerformWork() override;
  void AfterWork() override;

 private:
  // Taken as request_ only when the worker starts: the running worker
  // reads request_.
  SocketEndpoint next_request_;
  SocketEndpoint request_;
  std::vector<IPAddress> addresses_;
  int error_ = -1;  // -1 until a resolution has run
};

}  // namespace rtc

#endif  // RTC_BASE_ASYNCRESOLVER_H_
