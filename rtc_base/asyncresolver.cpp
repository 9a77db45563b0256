#include "rtc_base/asyncresolver.h"

namespace rtc {

AsyncResolver::AsyncResolver() = default;
AsyncResolver::~AsyncResolver() = default;

void AsyncResolver::Start(const SocketEndpoint& request) {
  next_request_ = request;
  SignalThread::Start();
}

bool AsyncResolver::ResolvedFor(int family, SocketEndpoint* out) const {
  if (error_ != 0 || addresses_.empty())
    return false;
  *out = request_;
  for (const IPAddress& address : addresses_) {
    if (address.family() == family) {
      out->SetResolvedAddress(address);
      return true;
    }
  }
  return false;
}

int AsyncResolver::ResolveError() const {
  return error_;
}

void AsyncResolver::Destroy(bool wait) {
  SignalThread::Destroy(wait);
}

void AsyncResolver::BeforeWork() {
  request_ = next_request_;
}

void AsyncResolver::PerformWork() {
  error_ = ResolveHostname(request_.host_name, request_.ip.family(), &addresses_);
}

void AsyncResolver::AfterWork() {
  Done.emit(this);
}

}  // namespace rtc
