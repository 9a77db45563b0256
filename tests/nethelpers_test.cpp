// Addresses and their conversions, host-name resolution with its three
// tries and two passes, and the asynchronous resolver on its signal thread.

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/un.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "rtc_base/nethelpers.h"
#include "rtc_base/signalthread.h"
#include "support/net_test_util.h"
#include "support/runtime_test_util.h"
#include "support/thread_stack.h"

namespace rtc {
namespace {

using testing::FakeAnswer;
using testing::FakeLookup;
using testing::LogCapture;
using testing::PumpUntil;

IPAddress Ip(const std::string& text) {
  IPAddress ip;
  EXPECT_TRUE(IPAddress::FromText(text, &ip)) << text;
  return ip;
}

// --- Addresses ---------------------------------------------------------------

TEST(AddressTest, TextAndLiterals) {
  EXPECT_EQ(Ip("127.0.0.1").ToText(), "127.0.0.1");
  EXPECT_EQ(Ip("::1").ToText(), "::1");
  EXPECT_EQ(IPAddress().ToText(), "");
  IPAddress unchanged = Ip("::1");
  EXPECT_FALSE(IPAddress::FromText("127.0.0.1.5", &unchanged));
  EXPECT_EQ(unchanged, Ip("::1"));

  EXPECT_TRUE(SocketEndpoint::FromHostName("localhost", 1).NeedsResolving());
  const SocketEndpoint literal = SocketEndpoint::FromHostName("::1", 7);
  EXPECT_TRUE(literal.is_literal);
  EXPECT_FALSE(literal.NeedsResolving());
  EXPECT_EQ(literal.ip, Ip("::1"));
}

TEST(AddressTest, SockaddrConversionsBothWays) {
  sockaddr_storage storage;
  memset(&storage, 0xAB, sizeof(storage));
  EXPECT_EQ(SocketEndpoint(Ip("127.0.0.1"), 0x1234).ToSockaddr(&storage), 16u);
  const auto& ip4 = reinterpret_cast<const sockaddr_in&>(storage);
  EXPECT_EQ(ip4.sin_family, AF_INET);
  EXPECT_EQ(ip4.sin_port, htons(0x1234));
  EXPECT_EQ(ip4.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
  // The rest of the storage is zeroed, not left as it was.
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(&storage)[sizeof(storage) - 1], 0);

  SocketEndpoint ip6(Ip("fe80::1"), 5353);
  ip6.scope_id = 2;
  EXPECT_EQ(ip6.ToSockaddr(&storage), 28u);
  SocketEndpoint back = SocketEndpoint::FromHostName("stale", 1);
  ASSERT_TRUE(EndpointFromSockaddr(storage, &back));
  EXPECT_EQ(back.ip, Ip("fe80::1"));
  EXPECT_EQ(back.port, 5353);
  EXPECT_EQ(back.scope_id, 2);
  EXPECT_EQ(back.host_name, "");

  // An empty endpoint gives nothing to connect to.
  EXPECT_EQ(SocketEndpoint().ToSockaddr(&storage), 0u);
  EXPECT_FALSE(EndpointFromSockaddr(storage, &back));
  EXPECT_FALSE(EndpointFromSockaddr(storage, nullptr));

  // AF_UNIX storage is refused and leaves the endpoint as it was.
  auto& unix_address = reinterpret_cast<sockaddr_un&>(storage);
  unix_address.sun_family = AF_UNIX;
  strcpy(unix_address.sun_path, "/tmp/socket");
  EXPECT_FALSE(EndpointFromSockaddr(storage, &back));
  EXPECT_EQ(back.ip, Ip("fe80::1"));
  EXPECT_EQ(back.port, 5353);
}

// --- ResolveHostname with scripted answers -----------------------------------

std::vector<std::string> Texts(const std::vector<IPAddress>& addresses) {
  std::vector<std::string> texts;
  for (const IPAddress& address : addresses)
    texts.push_back(address.ToText());
  return texts;
}

TEST(ResolveHostnameTest, IPv4OnlyNameAskedForIPv6GivesItsIPv4Addresses) {
  FakeLookup lookup({{0, {{AF_INET, "10.0.0.1"}, {AF_INET, "10.0.0.2"}}}});
  LogCapture log;
  std::vector<IPAddress> addresses = {Ip("::1")};  // replaced, not appended to
  EXPECT_EQ(ResolveHostname("four.example", AF_INET6, &addresses), 0);
  EXPECT_EQ(Texts(addresses), (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
  EXPECT_EQ(log.Count("(nethelpers:125): ResolveHostname: drop addr:four.example\n"), 2);
  EXPECT_EQ(log.Count("(nethelpers:134): ResolveHostname: add2 ip:10.0.0.1\n"), 1);
  EXPECT_EQ(log.Count("(nethelpers:134): ResolveHostname: add2 ip:10.0.0.2\n"), 1);
  EXPECT_EQ(log.Count("add ip:"), 0);
  EXPECT_EQ(log.Count("(nethelpers:46): ResolveHostname: ResolveHostname "
                      "hostnmae=four.example,family=10\n"),
            1);
  EXPECT_EQ(log.Count("(nethelpers:117): ResolveHostname: addinfo:family=2\n"), 2);
  EXPECT_EQ(lookup.families(), std::vector<int>{AF_UNSPEC});
}

TEST(ResolveHostnameTest, IPv6OnlyNameAskedForAnyFamilyKeepsOrder) {
  FakeLookup lookup({{0, {{AF_INET6, "2001:db8::2"}, {AF_INET6, "2001:db8::1"}}}});
  LogCapture log;
  std::vector<IPAddress> addresses;
  EXPECT_EQ(ResolveHostname("six.example", AF_UNSPEC, &addresses), 0);
  EXPECT_EQ(Texts(addresses), (std::vector<std::string>{"2001:db8::2", "2001:db8::1"}));
  EXPECT_EQ(log.Count("(nethelpers:122): ResolveHostname: add ip:2001:db8::2\n"), 1);
  EXPECT_EQ(log.Count("add2 ip:"), 0);
}

TEST(ResolveHostnameTest, SecondTryWithIPv6EndsTheTries) {
  FakeLookup lookup({{EAI_NONAME, {}}, {0, {{AF_INET6, "::1"}}}});
  LogCapture log;
  std::vector<IPAddress> addresses;
  EXPECT_EQ(ResolveHostname("retry.example", AF_UNSPEC, &addresses), 0);
  EXPECT_EQ(Texts(addresses), std::vector<std::string>{"::1"});
  EXPECT_EQ(lookup.families(), (std::vector<int>{AF_UNSPEC, AF_INET6}));
  EXPECT_EQ(log.Count("(nethelpers:76): ResolveHostname: getaddrinfo ret1=" +
                      std::to_string(EAI_NONAME) + "\n"),
            1);
  EXPECT_EQ(log.Count("(nethelpers:80): ResolveHostname: getaddrinfo ret2=0\n"), 1);
  EXPECT_EQ(log.Count("failed"), 0);
}

TEST(ResolveHostnameTest, ThreeFailuresReturnTheLastCode) {
  FakeLookup lookup({{EAI_AGAIN, {}}, {EAI_FAIL, {}}, {EAI_NONAME, {}}});
  LogCapture log;
  std::vector<IPAddress> addresses = {Ip("127.0.0.1")};
  EXPECT_EQ(ResolveHostname("gone.example", AF_INET, &addresses), EAI_NONAME);
  EXPECT_TRUE(addresses.empty());
  EXPECT_EQ(lookup.families(), (std::vector<int>{AF_UNSPEC, AF_INET6, AF_INET}));
  EXPECT_EQ(log.Count("(nethelpers:85): ResolveHostname: getaddrinfo failed. ret=" +
                      std::to_string(EAI_NONAME) + ",hostname=gone.example\n"),
            1);
}

TEST(ResolveHostnameTest, EntriesWithoutUsableAddressesAddNothing) {
  FakeLookup lookup({{0, {{AF_INET, ""}, {AF_UNIX, "x"}, {AF_INET, "192.0.2.7"}}}});
  std::vector<IPAddress> addresses;
  EXPECT_EQ(ResolveHostname("odd.example", AF_UNSPEC, &addresses), 0);
  EXPECT_EQ(Texts(addresses), std::vector<std::string>{"192.0.2.7"});

  // Nothing usable at all is still a success, with nothing found.
  FakeLookup empty({{0, {{AF_INET6, ""}}}});
  EXPECT_EQ(ResolveHostname("empty.example", AF_INET6, &addresses), 0);
  EXPECT_TRUE(addresses.empty());
}

// --- ResolveHostname against the system's resolver ---------------------------

TEST(ResolveHostnameTest, SystemResolverOnLoopbackAndReservedNames) {
  std::vector<IPAddress> addresses;
  ASSERT_EQ(ResolveHostname("localhost", AF_UNSPEC, &addresses), 0);
  ASSERT_FALSE(addresses.empty());
  for (const IPAddress& address : addresses) {
    const std::string text = address.ToText();
    EXPECT_TRUE(text == "::1" || text.rfind("127.", 0) == 0) << text;
  }

  ASSERT_EQ(ResolveHostname("::1", AF_UNSPEC, &addresses), 0);
  EXPECT_EQ(Texts(addresses), std::vector<std::string>{"::1"});
  // A numeric IPv4 name asked for IPv6 falls back to its own address.
  ASSERT_EQ(ResolveHostname("127.0.0.1", AF_INET6, &addresses), 0);
  EXPECT_EQ(Texts(addresses), std::vector<std::string>{"127.0.0.1"});

  EXPECT_NE(ResolveHostname("no-such-host.invalid", AF_UNSPEC, &addresses), 0);
  EXPECT_TRUE(addresses.empty());
}

// --- AsyncResolver -----------------------------------------------------------

// Tells the test when it is deleted; only the reference count may do that.
// Notes how deep its worker used its stack.
class ProbeResolver : public AsyncResolver {
 public:
  explicit ProbeResolver(bool* deleted) : deleted_(deleted) {}

  size_t stack_used = 0;  // read once the work is done

 protected:
  ~ProbeResolver() override { *deleted_ = true; }
  void PerformWork() override {
    AsyncResolver::PerformWork();
    stack_used = test_support::ThreadStackUsed();
  }

 private:
  bool* const deleted_;
};

class AsyncResolverTest : public ::testing::Test, public sigslot::has_slots<> {
 protected:
  // A resolver watched by the test, started on `request`.
  ProbeResolver* Start(const SocketEndpoint& request) {
    auto* resolver = new ProbeResolver(&deleted_);
    resolver->Done.connect(this, &AsyncResolverTest::OnDone);
    resolver->WorkDone.connect(this, &AsyncResolverTest::OnWorkDone);
    resolver->Start(request);
    return resolver;
  }
  ProbeResolver* Start(const std::string& name) {
    return Start(SocketEndpoint::FromHostName(name, 1));
  }
  void OnDone(AsyncResolverInterface*) {
    ++done_;
    on_thread_ = Thread::Current();
  }
  void OnWorkDone(SignalThread*) { ++work_done_; }

  bool deleted_ = false;
  int done_ = 0;
  int work_done_ = 0;
  Thread* on_thread_ = nullptr;
};

TEST_F(AsyncResolverTest, BestAddressPrefersIPv6AndKeepsThePort) {
  FakeLookup lookup({{0, {{AF_INET, "127.0.0.1"}, {AF_INET6, "::1"}, {AF_INET6, "::2"}}}});
  SocketEndpoint request = SocketEndpoint::FromHostName("dual.example", 8080);
  request.scope_id = 4;
  ProbeResolver* resolver = Start(request);
  ASSERT_TRUE(PumpUntil([&] { return work_done_ == 1; }));
  EXPECT_EQ(done_, 1);
  EXPECT_EQ(on_thread_, Thread::Current());
  EXPECT_EQ(resolver->ResolveError(), 0);

  const SocketEndpoint best = resolver->BestAddress();
  EXPECT_EQ(best.ip, Ip("::1"));
  EXPECT_EQ(best.port, 8080);
  EXPECT_EQ(best.scope_id, 0);
  EXPECT_EQ(best.host_name, "dual.example");
  SocketEndpoint ip4;
  ASSERT_TRUE(resolver->ResolvedFor(AF_INET, &ip4));
  EXPECT_EQ(ip4.ip, Ip("127.0.0.1"));

  resolver->Destroy(false);
  EXPECT_TRUE(deleted_);  // complete: the creator's reference was the last
}

// The worker runs the C library's own resolver, the hosts file and then DNS
// (musl's keeps its query buffers on the stack), within the stack a new
// thread gets.
TEST_F(AsyncResolverTest, SystemLookupsOnTheWorkerFitTheThreadStack) {
  ProbeResolver* resolver = Start("localhost");
  ASSERT_TRUE(PumpUntil([&] { return work_done_ == 1; }));
  EXPECT_EQ(resolver->ResolveError(), 0);
  resolver->Start(SocketEndpoint::FromHostName("no-such-host.invalid", 1));
  ASSERT_TRUE(PumpUntil([&] { return work_done_ == 2; }));
  EXPECT_NE(resolver->ResolveError(), 0);
  RecordProperty("stack_bytes", static_cast<int>(resolver->stack_used));
  EXPECT_LT(resolver->stack_used, test_support::kThreadStackBudget);
  resolver->Destroy(true);
}

TEST_F(AsyncResolverTest, FailureLeavesNothingToConnectTo) {
  FakeLookup lookup({{EAI_NONAME, {}}});
  ProbeResolver* resolver = Start("gone.example");
  ASSERT_TRUE(PumpUntil([&] { return done_ == 1; }));
  EXPECT_EQ(resolver->ResolveError(), EAI_NONAME);
  SocketEndpoint out;
  EXPECT_FALSE(resolver->ResolvedFor(AF_INET, &out));
  EXPECT_FALSE(resolver->ResolvedFor(AF_INET6, &out));
  EXPECT_TRUE(resolver->BestAddress().IsEmpty());
  resolver->Destroy(true);
  EXPECT_TRUE(deleted_);
}

TEST_F(AsyncResolverTest, CompletedResolverCanRunAgain) {
  FakeLookup lookup({{0, {{AF_INET, "10.0.0.1"}}}, {0, {{AF_INET6, "::5"}}}});
  ProbeResolver* resolver = Start("first.example");
  ASSERT_TRUE(PumpUntil([&] { return work_done_ == 1; }));
  EXPECT_EQ(resolver->BestAddress().ip, Ip("10.0.0.1"));
  resolver->Start(SocketEndpoint::FromHostName("second.example", 2));
  ASSERT_TRUE(PumpUntil([&] { return work_done_ == 2; }));
  EXPECT_EQ(resolver->BestAddress().ip, Ip("::5"));
  EXPECT_EQ(resolver->BestAddress().host_name, "second.example");
  resolver->Destroy(false);
  EXPECT_TRUE(deleted_);
}

TEST_F(AsyncResolverTest, DestroyWithoutWaitingReturnsAtOnceAndDeletesOnCompletion) {
  FakeLookup lookup({{0, {{AF_INET, "127.0.0.1"}}}});
  lookup.Hold();
  ProbeResolver* resolver = Start("slow.example");
  // A second start while running changes nothing, not even the request.
  resolver->Start(SocketEndpoint::FromHostName("other.example", 2));
  resolver->Destroy(false);  // the lookup is still held: this did not wait
  resolver->Destroy(false);  // stopping already: nothing
  EXPECT_FALSE(deleted_);
  lookup.Release();
  ASSERT_TRUE(PumpUntil([&] { return deleted_; }));
  EXPECT_EQ(done_, 1);
  EXPECT_EQ(work_done_, 0);
  EXPECT_EQ(lookup.names(), std::vector<std::string>{"slow.example"});
}

TEST_F(AsyncResolverTest, DestroyWaitingReturnsAfterTheWorkerEnded) {
  FakeLookup lookup({{0, {{AF_INET, "127.0.0.1"}}}});
  lookup.Hold();
  ProbeResolver* resolver = Start("slow.example");
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    lookup.Release();
  });
  resolver->Destroy(true);
  EXPECT_EQ(lookup.calls_returned(), 1);
  EXPECT_TRUE(deleted_);
  releaser.join();
  // Its completion message went with it.
  PumpUntil([] { return false; }, 50);
  EXPECT_EQ(done_, 0);
  EXPECT_EQ(work_done_, 0);
}

TEST_F(AsyncResolverTest, DoneSlotMayDestroyTheResolver) {
  FakeLookup lookup({{0, {{AF_INET, "127.0.0.1"}}}});
  struct Destroyer : sigslot::has_slots<> {
    void OnDone(AsyncResolverInterface* done) {
      best = done->BestAddress();
      done->Destroy(false);
    }
    SocketEndpoint best;
  } destroyer;
  ProbeResolver* resolver = Start("once.example");
  resolver->Done.connect(&destroyer, &Destroyer::OnDone);
  ASSERT_TRUE(PumpUntil([&] { return deleted_; }));
  EXPECT_EQ(destroyer.best.ip, Ip("127.0.0.1"));
  EXPECT_EQ(work_done_, 0);  // destroyed while its completion was handled
}

TEST_F(AsyncResolverTest, CreatorThreadGoneBeforeCompletion) {
  FakeLookup lookup({{0, {{AF_INET, "127.0.0.1"}}}});
  lookup.Hold();
  auto creator = std::make_unique<Thread>(std::make_unique<PhysicalSocketServer>(), true);
  ASSERT_TRUE(creator->Start());
  ProbeResolver* resolver = nullptr;
  testing::FunctionHandler start([&](Message*) {
    resolver = new ProbeResolver(&deleted_);
    resolver->Start(SocketEndpoint::FromHostName("late.example", 1));
  });
  creator->Send(POST_LOCATION_HERE, &start);
  ASSERT_NE(resolver, nullptr);
  creator.reset();  // its queue goes while the lookup is held
  lookup.Release();
  // Nowhere to report to: the worker finishes without posting.
  resolver->Destroy(true);
  EXPECT_TRUE(deleted_);
  EXPECT_EQ(lookup.calls_returned(), 1);
}

}  // namespace
}  // namespace rtc
