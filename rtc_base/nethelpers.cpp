#include "rtc_base/nethelpers.h"

#include <arpa/inet.h>
#include <string.h>

#include <atomic>

#include "rtc_base/logging.h"

// Log tooling in the field keys on this file name and these line numbers.
#define NET_LOG(line) LOG_AT(kLogFile, line, Warning) << "ResolveHostname: "

namespace rtc {

namespace {

constexpr char kLogFile[] = "../../rtc_base/nethelpers";

std::atomic<nethelpers_internal::GetAddrInfoFunction> g_lookup{nullptr};
std::atomic<nethelpers_internal::FreeAddrInfoFunction> g_release{nullptr};

int Lookup(const char* name, const addrinfo* hints, addrinfo** result) {
  nethelpers_internal::GetAddrInfoFunction lookup = g_lookup.load();
  return (lookup != nullptr ? lookup : &::getaddrinfo)(name, nullptr, hints, result);
}

void Release(addrinfo* result) {
  nethelpers_internal::FreeAddrInfoFunction release = g_release.load();
  (release != nullptr ? release : &::freeaddrinfo)(result);
}

// The address of an AF_INET or AF_INET6 socket address; false for others.
bool AddressOf(const sockaddr* address, IPAddress* out) {
  if (address == nullptr)
    return false;
  if (address->sa_family == AF_INET6) {
    *out = IPAddress(reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr);
    return true;
  }
  if (address->sa_family == AF_INET) {
    *out = IPAddress(reinterpret_cast<const sockaddr_in*>(address)->sin_addr);
    return true;
  }
  return false;
}

}  // namespace

// --- IPAddress ---------------------------------------------------------------

IPAddress::IPAddress() : family_(AF_UNSPEC) {
  memset(bytes_, 0, sizeof(bytes_));
}

IPAddress::IPAddress(const in_addr& ip4) : IPAddress() {
  family_ = AF_INET;
  memcpy(bytes_, &ip4, sizeof(ip4));
}

IPAddress::IPAddress(const in6_addr& ip6) : IPAddress() {
  family_ = AF_INET6;
  memcpy(bytes_, &ip6, sizeof(ip6));
}

IPAddress::~IPAddress() = default;

bool IPAddress::FromText(const std::string& text, IPAddress* out) {
  in_addr ip4;
  if (inet_pton(AF_INET, text.c_str(), &ip4) == 1) {
    *out = IPAddress(ip4);
    return true;
  }
  in6_addr ip6;
  if (inet_pton(AF_INET6, text.c_str(), &ip6) == 1) {
    *out = IPAddress(ip6);
    return true;
  }
  return false;
}

in_addr IPAddress::ipv4_address() const {
  in_addr ip4;
  memcpy(&ip4, bytes_, sizeof(ip4));
  return ip4;
}

in6_addr IPAddress::ipv6_address() const {
  in6_addr ip6;
  memcpy(&ip6, bytes_, sizeof(ip6));
  return ip6;
}

std::string IPAddress::ToText() const {
  if (family_ != AF_INET && family_ != AF_INET6)
    return std::string();
  char text[INET6_ADDRSTRLEN];
  if (inet_ntop(family_, bytes_, text, sizeof(text)) == nullptr)
    return std::string();
  return text;
}

bool IPAddress::operator==(const IPAddress& other) const {
  return family_ == other.family_ && memcmp(bytes_, other.bytes_, sizeof(bytes_)) == 0;
}

// --- SocketEndpoint ----------------------------------------------------------

SocketEndpoint SocketEndpoint::FromHostName(const std::string& name, uint16_t port) {
  SocketEndpoint endpoint;
  endpoint.host_name = name;
  endpoint.port = port;
  endpoint.is_literal = IPAddress::FromText(name, &endpoint.ip);
  return endpoint;
}

bool SocketEndpoint::NeedsResolving() const {
  return ip.family() == AF_UNSPEC && !is_literal && !host_name.empty();
}

bool SocketEndpoint::IsEmpty() const {
  return host_name.empty() && ip.family() == AF_UNSPEC && port == 0;
}

void SocketEndpoint::SetResolvedAddress(const IPAddress& resolved) {
  ip = resolved;
  scope_id = 0;
}

size_t SocketEndpoint::ToSockaddr(sockaddr_storage* out) const {
  memset(out, 0, sizeof(*out));
  out->ss_family = static_cast<sa_family_t>(ip.family());
  if (ip.family() == AF_INET6) {
    auto* ip6 = reinterpret_cast<sockaddr_in6*>(out);
    ip6->sin6_addr = ip.ipv6_address();
    ip6->sin6_port = htons(port);
    ip6->sin6_scope_id = static_cast<uint32_t>(scope_id);
    return sizeof(sockaddr_in6);
  }
  if (ip.family() == AF_INET) {
    auto* ip4 = reinterpret_cast<sockaddr_in*>(out);
    ip4->sin_addr = ip.ipv4_address();
    ip4->sin_port = htons(port);
    return sizeof(sockaddr_in);
  }
  return 0;
}

bool EndpointFromSockaddr(const sockaddr_storage& in, SocketEndpoint* out) {
  if (out == nullptr)
    return false;
  if (in.ss_family == AF_INET) {
    const auto& ip4 = reinterpret_cast<const sockaddr_in&>(in);
    *out = SocketEndpoint(IPAddress(ip4.sin_addr), ntohs(ip4.sin_port));
    return true;
  }
  if (in.ss_family == AF_INET6) {
    const auto& ip6 = reinterpret_cast<const sockaddr_in6&>(in);
    *out = SocketEndpoint(IPAddress(ip6.sin6_addr), ntohs(ip6.sin6_port));
    out->scope_id = static_cast<int>(ip6.sin6_scope_id);
    return true;
  }
  return false;
}

// --- ResolveHostname ---------------------------------------------------------

int ResolveHostname(const std::string& name, int family,
                    std::vector<IPAddress>* addresses) {
  NET_LOG(46) << "ResolveHostname hostnmae=" << name << ",family=" << family;
  addresses->clear();

  // Some resolvers answer a request for any family with nothing when one
  // family is not configured; asking for each family in turn still finds
  // what the name has.
  addrinfo hints = {};
  hints.ai_flags = AI_ADDRCONFIG;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_family = AF_UNSPEC;
  addrinfo* result = nullptr;
  int ret = Lookup(name.c_str(), &hints, &result);
  NET_LOG(76) << "getaddrinfo ret1=" << ret;
  if (ret != 0) {
    hints.ai_family = AF_INET6;
    ret = Lookup(name.c_str(), &hints, &result);
    NET_LOG(80) << "getaddrinfo ret2=" << ret;
    if (ret != 0) {
      hints.ai_family = AF_INET;
      ret = Lookup(name.c_str(), &hints, &result);
      if (ret != 0) {
        NET_LOG(85) << "getaddrinfo failed. ret=" << ret << ",hostname=" << name;
        return ret;
      }
    }
  }

  IPAddress ip;
  for (const addrinfo* entry = result; entry != nullptr; entry = entry->ai_next) {
    NET_LOG(117) << "addinfo:family=" << entry->ai_family;
    if (family == AF_UNSPEC || family == entry->ai_family) {
      if (AddressOf(entry->ai_addr, &ip)) {
        addresses->push_back(ip);
        NET_LOG(122) << "add ip:" << ip.ToText();
      }
    } else {
      NET_LOG(125) << "drop addr:" << name;
    }
  }
  // The name has none of the wanted family: its other addresses are still
  // better than none for a caller that can open either kind of socket.
  if (addresses->empty()) {
    for (const addrinfo* entry = result; entry != nullptr; entry = entry->ai_next) {
      if (AddressOf(entry->ai_addr, &ip)) {
        addresses->push_back(ip);
        NET_LOG(134) << "add2 ip:" << ip.ToText();
      }
    }
  }
  Release(result);
  return 0;
}

// --- AsyncResolverInterface --------------------------------------------------

AsyncResolverInterface::AsyncResolverInterface() = default;
AsyncResolverInterface::~AsyncResolverInterface() = default;

SocketEndpoint AsyncResolverInterface::BestAddress() const {
  SocketEndpoint best;
  ResolvedFor(AF_INET6, &best);
  if (best.IsEmpty() || best.NeedsResolving())
    ResolvedFor(AF_INET, &best);
  return best;
}

namespace nethelpers_internal {
void SetAddressLookupForTesting(GetAddrInfoFunction lookup, FreeAddrInfoFunction release) {
  g_lookup.store(lookup);
  g_release.store(release);
}
}  // namespace nethelpers_internal

}  // namespace rtc
