// Fuzzes the address conversions of the socket layer: EndpointFromSockaddr
// on arbitrary storage, ToSockaddr and ToText of what it gives, and
// IPAddress::FromText on arbitrary text.
//
// The input: one byte, the length the "kernel" wrote (taken modulo the
// storage size plus one); that many bytes of storage contents, the rest of
// the storage zeroed as every caller leaves it; then the remaining bytes as
// address text.
//
// Invariants: a storage of family AF_INET or AF_INET6 converts to exactly
// its address, port (host order) and scope, any other family leaves the
// endpoint untouched; an endpoint converted to a storage and back is
// unchanged, and the storage holds nothing but those fields; ToText of an
// address parses back, with inet_pton, to the same bytes; text FromText
// accepts is exactly text inet_pton accepts.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

#include <algorithm>
#include <string>

#include "fuzz_check.h"
#include "rtc_base/nethelpers.h"

namespace {

// Names this target in invariant reports.
[[maybe_unused]] const bool kNamed = (fuzz_check::g_target = "address fuzzer", true);

using rtc::IPAddress;
using rtc::SocketEndpoint;

bool SameEndpoint(const SocketEndpoint& a, const SocketEndpoint& b) {
  return a.host_name == b.host_name && a.ip == b.ip && a.port == b.port &&
         a.scope_id == b.scope_id && a.is_literal == b.is_literal;
}

bool AllZero(const uint8_t* bytes, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i] != 0)
      return false;
  }
  return true;
}

// An endpoint that no conversion produces, to see whether one was written.
SocketEndpoint Sentinel() {
  SocketEndpoint endpoint = SocketEndpoint::FromHostName("sentinel.invalid", 4242);
  endpoint.scope_id = -7;
  return endpoint;
}

// What the storage says, read field by field as the kernel lays it out.
void CheckConversion(const sockaddr_storage& storage, bool converted,
                     const SocketEndpoint& endpoint) {
  if (storage.ss_family == AF_INET) {
    sockaddr_in ip4;
    memcpy(&ip4, &storage, sizeof(ip4));
    CHECK_OR_FAIL(converted, "an AF_INET storage was refused");
    CHECK_OR_FAIL(endpoint.ip.family() == AF_INET, "AF_INET became another family");
    const in_addr address = endpoint.ip.ipv4_address();
    CHECK_OR_FAIL(memcmp(&address, &ip4.sin_addr, sizeof(address)) == 0, "IPv4 address changed");
    CHECK_OR_FAIL(endpoint.port == ntohs(ip4.sin_port), "IPv4 port changed");
    CHECK_OR_FAIL(endpoint.scope_id == 0, "IPv4 endpoint with a scope");
  } else if (storage.ss_family == AF_INET6) {
    sockaddr_in6 ip6;
    memcpy(&ip6, &storage, sizeof(ip6));
    CHECK_OR_FAIL(converted, "an AF_INET6 storage was refused");
    CHECK_OR_FAIL(endpoint.ip.family() == AF_INET6, "AF_INET6 became another family");
    const in6_addr address = endpoint.ip.ipv6_address();
    CHECK_OR_FAIL(memcmp(&address, &ip6.sin6_addr, sizeof(address)) == 0, "IPv6 address changed");
    CHECK_OR_FAIL(endpoint.port == ntohs(ip6.sin6_port), "IPv6 port changed");
    CHECK_OR_FAIL(static_cast<uint32_t>(endpoint.scope_id) == ip6.sin6_scope_id,
                  "IPv6 scope changed");
  } else {
    CHECK_OR_FAIL(!converted, "a storage of another family was converted");
    CHECK_OR_FAIL(SameEndpoint(endpoint, Sentinel()), "a refused conversion wrote the endpoint");
    return;
  }
  CHECK_OR_FAIL(endpoint.host_name.empty() && !endpoint.is_literal,
                "a converted endpoint kept a name");
}

// Endpoint -> storage -> endpoint, and the storage holds only the fields.
void CheckRoundTrip(const SocketEndpoint& endpoint) {
  sockaddr_storage storage;
  memset(&storage, 0xA5, sizeof(storage));  // ToSockaddr must clear all of it
  const size_t length = endpoint.ToSockaddr(&storage);
  const int family = endpoint.ip.family();
  const size_t want = family == AF_INET    ? sizeof(sockaddr_in)
                      : family == AF_INET6 ? sizeof(sockaddr_in6)
                                           : 0;
  CHECK_OR_FAIL(length == want, "ToSockaddr length");
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&storage);
  if (length == 0) {
    CHECK_OR_FAIL(storage.ss_family == AF_UNSPEC && AllZero(bytes, sizeof(storage)),
                  "an empty endpoint left bytes in the storage");
    return;
  }
  CHECK_OR_FAIL(AllZero(bytes + length, sizeof(storage) - length),
                "bytes past the address were not cleared");
  if (family == AF_INET) {
    sockaddr_in ip4;
    memcpy(&ip4, &storage, sizeof(ip4));
    CHECK_OR_FAIL(AllZero(ip4.sin_zero, sizeof(ip4.sin_zero)), "sin_zero not cleared");
  } else {
    sockaddr_in6 ip6;
    memcpy(&ip6, &storage, sizeof(ip6));
    CHECK_OR_FAIL(ip6.sin6_flowinfo == 0, "flow info not cleared");
  }
  SocketEndpoint back = Sentinel();
  CHECK_OR_FAIL(rtc::EndpointFromSockaddr(storage, &back), "a written storage was refused");
  SocketEndpoint expected = endpoint;
  expected.host_name.clear();
  expected.is_literal = false;
  CHECK_OR_FAIL(SameEndpoint(back, expected), "endpoint changed through a storage");
}

// ToText gives text that inet_pton reads back to the same bytes, and that
// FromText and FromHostName accept as the same address.
void CheckText(const IPAddress& ip) {
  const std::string text = ip.ToText();
  if (ip.family() != AF_INET && ip.family() != AF_INET6) {
    CHECK_OR_FAIL(text.empty(), "text for an empty address");
    return;
  }
  CHECK_OR_FAIL(!text.empty() && text.size() < INET6_ADDRSTRLEN, "ToText length");
  uint8_t parsed[16] = {};
  CHECK_OR_FAIL(inet_pton(ip.family(), text.c_str(), parsed) == 1, "ToText does not parse back");
  if (ip.family() == AF_INET) {
    const in_addr address = ip.ipv4_address();
    CHECK_OR_FAIL(memcmp(parsed, &address, sizeof(address)) == 0,
                  "IPv4 text names another address");
  } else {
    const in6_addr address = ip.ipv6_address();
    CHECK_OR_FAIL(memcmp(parsed, &address, sizeof(address)) == 0,
                  "IPv6 text names another address");
  }
  IPAddress again;
  CHECK_OR_FAIL(IPAddress::FromText(text, &again) && again == ip, "FromText(ToText) differs");
  const SocketEndpoint literal = SocketEndpoint::FromHostName(text, 1);
  CHECK_OR_FAIL(literal.is_literal && literal.ip == ip && !literal.NeedsResolving(),
                "the address text is not a literal host name");
}

// Arbitrary text: FromText accepts exactly what inet_pton accepts for one
// of the two families, and leaves the address alone otherwise.
void CheckFromText(const std::string& text) {
  uint8_t scratch[16];
  const bool valid = inet_pton(AF_INET, text.c_str(), scratch) == 1 ||
                     inet_pton(AF_INET6, text.c_str(), scratch) == 1;
  IPAddress ip;
  const bool parsed = IPAddress::FromText(text, &ip);
  CHECK_OR_FAIL(parsed == valid, "FromText and inet_pton disagree");
  if (!parsed) {
    CHECK_OR_FAIL(ip == IPAddress(), "a refused text changed the address");
    const SocketEndpoint name = SocketEndpoint::FromHostName(text, 80);
    CHECK_OR_FAIL(!name.is_literal && name.NeedsResolving() == !text.empty(),
                  "a host name that is not an address");
    return;
  }
  CheckText(ip);
  CheckRoundTrip(SocketEndpoint(ip, 0xFFFF));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0)
    return 0;
  sockaddr_storage storage;
  memset(&storage, 0, sizeof(storage));
  const size_t length = std::min<size_t>(data[0] % (sizeof(storage) + 1), size - 1);
  memcpy(&storage, data + 1, length);

  SocketEndpoint endpoint = Sentinel();
  const bool converted = rtc::EndpointFromSockaddr(storage, &endpoint);
  CheckConversion(storage, converted, endpoint);
  CHECK_OR_FAIL(!rtc::EndpointFromSockaddr(storage, nullptr), "conversion into nothing");
  if (converted) {
    CheckRoundTrip(endpoint);
    CheckText(endpoint.ip);
  }
  // An address with every scope, port and family mix still round-trips.
  SocketEndpoint empty;
  empty.port = endpoint.port;
  CheckRoundTrip(empty);

  const size_t text_start = 1 + length;
  CheckFromText(std::string(reinterpret_cast<const char*>(data) + text_start, size - text_start));
  return 0;
}
