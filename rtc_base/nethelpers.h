#ifndef RTC_BASE_NETHELPERS_H_
#define RTC_BASE_NETHELPERS_H_

// Addresses of the socket layer and host-name resolution.
//
//   rtc::SocketEndpoint peer = rtc::SocketEndpoint::FromHostName("localhost", 8080);
//   if (peer.NeedsResolving()) ...   // a name: resolve it first
//   sockaddr_storage storage;
//   socklen_t length = peer.ToSockaddr(&storage);   // 0: nothing to connect to
//
// ResolveHostname() resolves synchronously; AsyncResolver (asyncresolver.h)
// does it on a worker thread and reports back on the thread that started it.

#include <netdb.h>
#include <netinet/in.h>
#include <stdint.h>
#include <sys/socket.h>

#include <string>
#include <vector>

#include "rtc_base/sigslot.h"

namespace rtc {

// An IPv4 or IPv6 address, or nothing (family AF_UNSPEC, all bytes zero).
class IPAddress {
 public:
  IPAddress();
  explicit IPAddress(const in_addr& ip4);
  explicit IPAddress(const in6_addr& ip6);
  virtual ~IPAddress();
  IPAddress(const IPAddress&) = default;
  IPAddress& operator=(const IPAddress&) = default;

  // Parses a numeric IPv4 or IPv6 text ("127.0.0.1", "::1"); false, with
  // `out` unchanged, for anything else.
  static bool FromText(const std::string& text, IPAddress* out);

  // AF_UNSPEC, AF_INET or AF_INET6.
  int family() const { return family_; }
  // Meaningful only for the matching family.
  in_addr ipv4_address() const;
  in6_addr ipv6_address() const;

  // "127.0.0.1", "::1"; empty for an empty address.
  std::string ToText() const;

  bool operator==(const IPAddress& other) const;
  bool operator!=(const IPAddress& other) const { return !(*this == other); }

 private:
  int family_;
  // An in_addr in the first 4 bytes (network order) or an in6_addr.
  uint8_t bytes_[16];
};

// Where a socket binds or connects: an address or a host name, and a port.
struct SocketEndpoint {
  SocketEndpoint() = default;
  SocketEndpoint(const IPAddress& ip, uint16_t port) : ip(ip), port(port) {}
  // A numeric `name` gives an endpoint that needs no resolving, with
  // is_literal set; any other name has to be resolved before a connect.
  static SocketEndpoint FromHostName(const std::string& name, uint16_t port);

  // A name still without an address.
  bool NeedsResolving() const;
  // No name, no address and port 0.
  bool IsEmpty() const;
  // Takes `resolved` as the address, keeping name and port; scope 0.
  void SetResolvedAddress(const IPAddress& resolved);

  // Zeroes `out` and writes the address into it: 16 for IPv4, 28 for
  // IPv6, the bytes written; 0 when there is no address.
  size_t ToSockaddr(sockaddr_storage* out) const;

  std::string host_name;
  IPAddress ip;
  uint16_t port = 0;  // host byte order
  int scope_id = 0;   // IPv6 interface index
  bool is_literal = false;
};

// The address and port of an AF_INET or AF_INET6 storage (port in host
// order, no name). False, with `out` unchanged, for other families or a
// null `out`.
bool EndpointFromSockaddr(const sockaddr_storage& in, SocketEndpoint* out);

// Resolves `name` with getaddrinfo, trying any family, then IPv6, then IPv4
// until one call succeeds. The addresses of `family` are returned in the
// order found; when the name has none of that family (or `family` is
// AF_UNSPEC and nothing matched), all its addresses. Returns 0 on success,
// even when nothing was found, else the code of the last getaddrinfo call.
int ResolveHostname(const std::string& name, int family,
                    std::vector<IPAddress>* addresses);

// Resolves an endpoint's host name, asynchronously. Started and read on one
// thread, which is told through Done.
class AsyncResolverInterface {
 public:
  AsyncResolverInterface();
  virtual ~AsyncResolverInterface();
  AsyncResolverInterface(const AsyncResolverInterface&) = delete;
  AsyncResolverInterface& operator=(const AsyncResolverInterface&) = delete;

  virtual void Start(const SocketEndpoint& request) = 0;
  // The request with its address set to the first result of `family`;
  // false when resolution failed or found none of that family.
  virtual bool ResolvedFor(int family, SocketEndpoint* out) const = 0;
  // 0 after a successful resolution; otherwise the getaddrinfo code.
  virtual int ResolveError() const = 0;
  // Releases the resolver; with `wait`, only after a running resolution
  // has finished.
  virtual void Destroy(bool wait) = 0;

  // The IPv6 result if there is one, else the IPv4 one, else empty.
  SocketEndpoint BestAddress() const;

  // Emitted on the starting thread when the resolution has finished.
  sigslot::notifier<sigslot::single_threaded, AsyncResolverInterface*> Done;
};

namespace nethelpers_internal {
using GetAddrInfoFunction = int (*)(const char* node, const char* service,
                                    const addrinfo* hints, addrinfo** result);
using FreeAddrInfoFunction = void (*)(addrinfo* result);
// Makes ResolveHostname call these instead of the system's, so tests can
// give it names with exactly the answers they need; nulls restore the
// system's. Not for use while a resolution runs.
void SetAddressLookupForTesting(GetAddrInfoFunction lookup, FreeAddrInfoFunction release);
}  // namespace nethelpers_internal

}  // namespace rtc

#endif  // RTC_BASE_NETHELPERS_H_
