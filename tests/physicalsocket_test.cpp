// Physical sockets against real peers on loopback: TCP and UDP both ways,
// connection faults, readiness and interest bookkeeping, the options table,
// connects through the resolver, a full cycle on a thread's message loop,
// and a round trip with socat.

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "rtc_base/physicalsocketserver.h"
#include "rtc_base/socketserver_factory.h"
#include "rtc_base/thread.h"
#include "support/net_test_util.h"
#include "support/runtime_test_util.h"

namespace rtc {
namespace {

using testing::FakeLookup;
using testing::FunctionHandler;
using testing::LogCapture;
using testing::PumpUntil;

// The test's thread waits on its sockets: the top of the runtime makes the
// adopted threads' servers physical before any test runs.
const struct PhysicalServers {
  PhysicalServers() { InstallPhysicalSocketServers(); }
} kPhysicalServers;

// The calling thread's server: PumpUntil serves its sockets.
PhysicalSocketServer* Server() {
  return static_cast<PhysicalSocketServer*>(Thread::Current()->socket_server());
}

SocketEndpoint Loopback(int family, uint16_t port = 0) {
  return SocketEndpoint::FromHostName(family == AF_INET6 ? "::1" : "127.0.0.1", port);
}

std::string FamilyName(const ::testing::TestParamInfo<int>& info) {
  return info.param == AF_INET6 ? "IPv6" : "IPv4";
}

// A plain blocking socket of the test's own, listening on loopback.
int ListenPlain(int family, SocketEndpoint* at) {
  const int fd = socket(family, SOCK_STREAM, 0);
  sockaddr_storage storage;
  const size_t length = Loopback(family).ToSockaddr(&storage);
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&storage), length), 0);
  EXPECT_EQ(listen(fd, 8), 0);
  socklen_t got = sizeof(storage);
  getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &got);
  EndpointFromSockaddr(storage, at);
  return fd;
}

SocketDispatcher* AsDispatcher(AsyncSocket* socket) {
  return static_cast<SocketDispatcher*>(socket);
}

// Records the four signals in order; optional actions run in the slots.
class Recorder : public sigslot::has_slots<> {
 public:
  explicit Recorder(AsyncSocket* socket) {
    socket->ReadReady.connect(this, &Recorder::OnRead);
    socket->WriteReady.connect(this, &Recorder::OnWrite);
    socket->Connected.connect(this, &Recorder::OnConnect);
    socket->Closed.connect(this, &Recorder::OnClose);
  }
  void OnRead(AsyncSocket* socket) {
    events.push_back("read");
    if (on_read)
      on_read(socket);
  }
  void OnWrite(AsyncSocket* socket) {
    events.push_back("write");
    if (on_write)
      on_write(socket);
  }
  void OnConnect(AsyncSocket*) { events.push_back("connect"); }
  void OnClose(AsyncSocket* socket, int error) {
    events.push_back("close:" + std::to_string(error));
    close_error = error;
    state_at_close = socket->State();
    if (on_close)
      on_close(socket);
  }
  bool Saw(const std::string& event) const {
    return std::find(events.begin(), events.end(), event) != events.end();
  }

  std::vector<std::string> events;
  std::function<void(AsyncSocket*)> on_read;
  std::function<void(AsyncSocket*)> on_write;
  std::function<void(AsyncSocket*)> on_close;
  int close_error = -1;
  Socket::ConnectionState state_at_close = Socket::STATE_CONNECTING;
};

// Reads whatever is there into `into`; the last Recv result.
int Drain(AsyncSocket* socket, std::string* into) {
  char buffer[16384];
  int received;
  while ((received = socket->Recv(buffer, sizeof(buffer), nullptr)) > 0)
    into->append(buffer, received);
  return received;
}

// Our socket connected to a plain peer accepted by the test.
struct Connection {
  explicit Connection(int family = AF_INET) {
    SocketEndpoint at;
    const int listener = ListenPlain(family, &at);
    ours.reset(Server()->OpenAsyncSocket(family, SOCK_STREAM));
    EXPECT_EQ(ours->Connect(at), 0);
    peer = accept(listener, nullptr, nullptr);
    close(listener);
    EXPECT_TRUE(PumpUntil([&] { return ours->State() == Socket::STATE_CONNECTED; }));
  }
  ~Connection() {
    if (peer >= 0)
      close(peer);
  }
  std::unique_ptr<AsyncSocket> ours;
  int peer = -1;
};

// --- TCP against the test's own peers ----------------------------------------

class TcpTest : public ::testing::TestWithParam<int> {};

TEST_P(TcpTest, EchoPeerRoundTripWithPartialSends) {
  SocketEndpoint at;
  const int listener = ListenPlain(GetParam(), &at);
  std::thread echo([listener] {
    const int fd = accept(listener, nullptr, nullptr);
    char buffer[65536];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof(buffer))) > 0) {
      for (ssize_t off = 0; off < n;)
        off += write(fd, buffer + off, n - off);
    }
    close(fd);
  });
  std::unique_ptr<AsyncSocket> client(Server()->OpenAsyncSocket(GetParam(), SOCK_STREAM));
  ASSERT_EQ(client->SetOpt(Socket::OPT_SEND_BUFFER, 4096), 0);
  Recorder recorder(client.get());
  std::string data(1 << 20, '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(i * 7 + i / 4096);
  size_t sent = 0;
  int partial_sends = 0;
  std::string echoed;
  auto send_more = [&](AsyncSocket* socket) {
    while (sent < data.size()) {
      const size_t chunk = std::min<size_t>(65536, data.size() - sent);
      const int n = socket->Send(data.data() + sent, chunk);
      if (n <= 0) {
        EXPECT_EQ(socket->LastError(), EAGAIN);
        break;
      }
      sent += n;
      if (static_cast<size_t>(n) < chunk) {
        ++partial_sends;
        EXPECT_TRUE(AsDispatcher(socket)->enabled_events() & DISPATCH_WRITE);
        break;
      }
    }
  };
  recorder.on_write = send_more;
  recorder.on_read = [&](AsyncSocket* socket) { Drain(socket, &echoed); };
  ASSERT_EQ(client->Connect(at), 0);
  ASSERT_TRUE(PumpUntil([&] { return echoed.size() == data.size(); }, 20000));
  EXPECT_TRUE(echoed == data);
  EXPECT_GT(partial_sends, 0);
  EXPECT_EQ(recorder.events.front(), "connect");
  EXPECT_EQ(client->GetRemoteAddress().port, at.port);
  client->Close();
  echo.join();
  close(listener);
}

TEST_P(TcpTest, EndOfStreamIsDeferredThenReportedAsClose) {
  Connection connection(GetParam());
  AsyncSocket* ours = connection.ours.get();
  Recorder recorder(ours);
  std::string got;
  int last = 0;
  recorder.on_read = [&](AsyncSocket* socket) { last = Drain(socket, &got); };
  LogCapture log;
  ASSERT_EQ(write(connection.peer, "abc", 3), 3);
  close(connection.peer);
  connection.peer = -1;
  ASSERT_TRUE(PumpUntil([&] { return recorder.Saw("close:0"); }));
  EXPECT_EQ(got, "abc");
  EXPECT_EQ(last, -1);
  EXPECT_EQ(log.Count("(physicalsocketserver:375): EOF from socket; deferring close event\n"), 1);
  EXPECT_EQ(recorder.state_at_close, Socket::STATE_CLOSED);
  EXPECT_EQ(recorder.events.back(), "close:0");
  // Asking for nothing at the end of the stream is not the end of it.
  char byte;
  EXPECT_EQ(ours->Recv(&byte, 0, nullptr), 0);
  EXPECT_EQ(ours->Recv(&byte, 1, nullptr), -1);
  EXPECT_EQ(ours->LastError(), EAGAIN);
}

INSTANTIATE_TEST_SUITE_P(Loopback, TcpTest, ::testing::Values(AF_INET, AF_INET6), FamilyName);

// --- Connection faults -------------------------------------------------------

TEST(TcpFaultTest, RefusedConnectIsReportedThroughClosed) {
  SocketEndpoint closed_port;
  close(ListenPlain(AF_INET, &closed_port));
  std::unique_ptr<AsyncSocket> socket(Server()->OpenAsyncSocket(AF_INET, SOCK_STREAM));
  Recorder recorder(socket.get());
  ASSERT_EQ(socket->Connect(closed_port), 0);
  EXPECT_EQ(socket->State(), Socket::STATE_CONNECTING);
  ASSERT_TRUE(PumpUntil([&] { return recorder.close_error != -1; }));
  EXPECT_EQ(recorder.events, std::vector<std::string>{"close:" + std::to_string(ECONNREFUSED)});
  EXPECT_EQ(socket->State(), Socket::STATE_CLOSED);

  // Tried again from inside the slot: the new descriptor is watched.
  SocketEndpoint open_port;
  const int listener = ListenPlain(AF_INET, &open_port);
  recorder.on_close = [&](AsyncSocket* again) {
    again->Close();
    again->Connect(open_port);
  };
  recorder.events.clear();
  socket->Close();
  ASSERT_EQ(socket->Connect(closed_port), 0);
  EXPECT_TRUE(PumpUntil([&] { return recorder.Saw("connect"); }));
  close(listener);
}

TEST(TcpFaultTest, PeerResetReachesClosedWithItsError) {
  Connection connection;
  Recorder recorder(connection.ours.get());
  // Only reading is wanted, as on an idle connection.
  AsyncSocket* ours = connection.ours.get();
  PumpUntil([&] { return !(AsDispatcher(ours)->enabled_events() & DISPATCH_WRITE); });
  linger abort_on_close = {1, 0};
  setsockopt(connection.peer, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof(abort_on_close));
  close(connection.peer);
  connection.peer = -1;
  ASSERT_TRUE(PumpUntil([&] { return recorder.close_error != -1; }));
  EXPECT_EQ(recorder.close_error, ECONNRESET);
  EXPECT_EQ(connection.ours->State(), Socket::STATE_CLOSED);
}

TEST(TcpFaultTest, SendToClosedPeerFailsWithEpipeNotSigpipe) {
  signal(SIGPIPE, SIG_DFL);  // a SIGPIPE would end the test process
  Connection connection;
  close(connection.peer);
  connection.peer = -1;
  int error = 0;
  for (int i = 0; i < 200 && error != EPIPE; ++i) {
    if (connection.ours->Send("x", 1) < 0)
      error = connection.ours->LastError();
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(error, EPIPE);
}

TEST(TcpFaultTest, ConnectOnAnOpenSocketFailsWithEalready) {
  SocketEndpoint at;
  const int listener = ListenPlain(AF_INET, &at);
  std::unique_ptr<AsyncSocket> socket(Server()->OpenAsyncSocket(AF_INET, SOCK_STREAM));
  ASSERT_EQ(socket->Connect(at), 0);
  EXPECT_EQ(socket->Connect(at), -1);
  EXPECT_EQ(socket->LastError(), EALREADY);
  ASSERT_TRUE(PumpUntil([&] { return socket->State() == Socket::STATE_CONNECTED; }));
  EXPECT_EQ(socket->Connect(at), -1);
  EXPECT_EQ(socket->LastError(), 114);

  std::unique_ptr<AsyncSocket> listening(Server()->OpenAsyncSocket(AF_INET, SOCK_STREAM));
  ASSERT_EQ(listening->Bind(Loopback(AF_INET)), 0);
  ASSERT_EQ(listening->Listen(1), 0);
  EXPECT_EQ(listening->State(), Socket::STATE_CONNECTING);
  EXPECT_EQ(listening->Connect(at), -1);
  close(listener);
}

TEST(TcpFaultTest, AcceptThatFailsStillWantsConnections) {
  std::unique_ptr<AsyncSocket> listening(Server()->OpenAsyncSocket(AF_INET6, SOCK_STREAM));
  ASSERT_EQ(listening->Bind(Loopback(AF_INET6)), 0);
  ASSERT_EQ(listening->Listen(4), 0);
  Recorder recorder(listening.get());
  PumpUntil([] { return false; }, 20);  // nothing is waiting: no signal
  EXPECT_TRUE(recorder.events.empty());
  SocketEndpoint from;
  EXPECT_EQ(listening->Accept(&from), nullptr);
  EXPECT_EQ(listening->LastError(), EAGAIN);
  EXPECT_TRUE(AsDispatcher(listening.get())->enabled_events() & DISPATCH_ACCEPT);

  std::unique_ptr<AsyncSocket> client(Server()->OpenAsyncSocket(AF_INET6, SOCK_STREAM));
  ASSERT_EQ(client->Connect(listening->GetLocalAddress()), 0);
  ASSERT_TRUE(PumpUntil([&] { return recorder.Saw("read"); }));
  std::unique_ptr<Socket> accepted(listening->Accept(&from));
  ASSERT_NE(accepted, nullptr);
  EXPECT_EQ(accepted->State(), Socket::STATE_CONNECTED);
  EXPECT_EQ(from.ip.ToText(), "::1");
  EXPECT_EQ(from.port, client->GetLocalAddress().port);
}

// --- Readiness and interest --------------------------------------------------

TEST(ReadinessTest, OneInterestUpdatePerEventBatch) {
  Connection connection;
  AsyncSocket* ours = connection.ours.get();
  Recorder recorder(ours);
  std::string got;
  recorder.on_read = [&](AsyncSocket* socket) { Drain(socket, &got); };
  recorder.on_write = [](AsyncSocket* socket) { socket->Send("y", 1); };
  PumpUntil([&] { return !(AsDispatcher(ours)->enabled_events() & DISPATCH_WRITE); });
  recorder.events.clear();

  // Readable and writable at once: the slots disable both bits and
  // re-enable reading, which one update brings to epoll.
  AsDispatcher(ours)->Enable(DISPATCH_WRITE);
  ASSERT_EQ(write(connection.peer, "data", 4), 4);
  uint64_t before = Server()->interest_updates();
  ASSERT_TRUE(PumpUntil([&] { return recorder.Saw("write") && got == "data"; }));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"read", "write"}));
  EXPECT_EQ(Server()->interest_updates() - before, 1u);

  // Reading re-enables exactly what the batch took: no update at all.
  before = Server()->interest_updates();
  ASSERT_EQ(write(connection.peer, "more", 4), 4);
  ASSERT_TRUE(PumpUntil([&] { return got == "datamore"; }));
  EXPECT_EQ(Server()->interest_updates() - before, 0u);
}

TEST(ReadinessTest, ConnectAndCloseInOneBatchConnectFirst) {
  std::unique_ptr<AsyncSocket> socket(Server()->OpenAsyncSocket(AF_INET, SOCK_STREAM));
  Recorder recorder(socket.get());
  Dispatcher* dispatcher = AsDispatcher(socket.get());
  dispatcher->BeforeEvent(DISPATCH_CONNECT | DISPATCH_CLOSE);
  dispatcher->HandleEvent(DISPATCH_CONNECT | DISPATCH_CLOSE, ECONNRESET);
  EXPECT_EQ(recorder.events,
            (std::vector<std::string>{"connect", "close:" + std::to_string(ECONNRESET)}));
  EXPECT_EQ(socket->State(), Socket::STATE_CLOSED);
  EXPECT_EQ(dispatcher->WantedEvents(), 0u);
}

// Sees what Send hands to the system, without sending.
class LengthProbe : public SocketDispatcher {
 public:
  using SocketDispatcher::SocketDispatcher;
  int RawSend(int, const void*, int length, int) override {
    last_length = length;
    return length;
  }
  int last_length = 0;
};

TEST(ReadinessTest, ClosedAndOddSocketsHandleBadInput) {
  LogCapture log;
  LengthProbe probe(Server());
  ASSERT_TRUE(probe.Open(AF_INET, SOCK_STREAM));
  // Beyond what an int can report: sent in part, never as a negative int.
  static char byte;
  EXPECT_EQ(probe.Send(&byte, size_t{3} << 30), INT_MAX);
  EXPECT_EQ(probe.last_length, INT_MAX);
  EXPECT_TRUE(probe.enabled_events() & DISPATCH_WRITE);

  // A time stamp asked of a stream leaves the receive's own error.
  Connection connection;
  int64_t stamp = 0;
  char buffer[8];
  EXPECT_EQ(connection.ours->Recv(buffer, sizeof(buffer), &stamp), -1);
  EXPECT_EQ(connection.ours->LastError(), EAGAIN);
  EXPECT_EQ(stamp, -1);
  EXPECT_TRUE(AsDispatcher(connection.ours.get())->enabled_events() & DISPATCH_READ);

  // Closing twice: the second records nothing.
  EXPECT_EQ(connection.ours->Close(), 0);
  connection.ours->SetLastError(77);
  EXPECT_EQ(connection.ours->Close(), 0);
  EXPECT_EQ(connection.ours->LastError(), 77);
  EXPECT_TRUE(connection.ours->GetLocalAddress().IsEmpty());
  EXPECT_EQ(log.Count("(physicalsocketserver:163): GetLocalAddress: unable to get local "
                      "addr, socket=-1\n"),
            1);

  // An empty endpoint is nothing to bind or connect to.
  std::unique_ptr<AsyncSocket> fresh(Server()->OpenAsyncSocket(AF_INET, SOCK_STREAM));
  EXPECT_EQ(fresh->Bind(SocketEndpoint()), -1);
  EXPECT_EQ(fresh->Connect(SocketEndpoint()), -1);
  EXPECT_EQ(fresh->State(), Socket::STATE_CLOSED);

  // An adopted bad descriptor leaves nothing behind in the server.
  const size_t registered = Server()->dispatcher_count();
  delete Server()->AdoptSocket(-1);
  EXPECT_EQ(Server()->dispatcher_count(), registered);
}

TEST(OptionsTest, Table) {
  LogCapture log;
  std::unique_ptr<AsyncSocket> socket(Server()->OpenAsyncSocket(AF_INET, SOCK_STREAM));
  const int fd = AsDispatcher(socket.get())->descriptor();
  socket->SetLastError(55);
  int value = -1;
  socklen_t length = sizeof(value);

  ASSERT_EQ(socket->SetOpt(Socket::OPT_NO_FRAGMENT, 5), 0);
  getsockopt(fd, IPPROTO_IP, IP_MTU_DISCOVER, &value, &length);
  EXPECT_EQ(value, IP_PMTUDISC_DO);
  const int probe_mode = IP_PMTUDISC_PROBE;
  setsockopt(fd, IPPROTO_IP, IP_MTU_DISCOVER, &probe_mode, sizeof(probe_mode));
  ASSERT_EQ(socket->GetOpt(Socket::OPT_NO_FRAGMENT, &value), 0);
  EXPECT_EQ(value, 1);
  ASSERT_EQ(socket->SetOpt(Socket::OPT_NO_FRAGMENT, 0), 0);
  ASSERT_EQ(socket->GetOpt(Socket::OPT_NO_FRAGMENT, &value), 0);
  EXPECT_EQ(value, 0);

  ASSERT_EQ(socket->SetOpt(Socket::OPT_TCP_NO_DELAY, 1), 0);
  ASSERT_EQ(socket->GetOpt(Socket::OPT_TCP_NO_DELAY, &value), 0);
  EXPECT_EQ(value, 1);
  ASSERT_EQ(socket->SetOpt(Socket::OPT_RECV_BUFFER, 32768), 0);
  ASSERT_EQ(socket->GetOpt(Socket::OPT_RECV_BUFFER, &value), 0);
  EXPECT_GE(value, 32768);  // the kernel keeps room for its bookkeeping

  for (int id : {4, 6, 100, -1}) {
    EXPECT_EQ(socket->GetOpt(id, &value), -1) << id;
    EXPECT_EQ(socket->SetOpt(id, 1), -1) << id;
  }
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(socket->GetOpt(Socket::OPT_DSCP, &value), -1);
  EXPECT_EQ(log.Count("(physicalsocketserver:562): Socket::OPT_DSCP not supported.\n"), 1);
  EXPECT_EQ(socket->SetOpt(Socket::OPT_DSCP, 1), -1);
  EXPECT_EQ(log.lines().size(), 2u);
  EXPECT_EQ(socket->LastError(), 55);
}

// --- UDP ---------------------------------------------------------------------

class UdpTest : public ::testing::TestWithParam<int> {};

TEST_P(UdpTest, DatagramsBothWaysWithSourceAndStamp) {
  std::unique_ptr<AsyncSocket> ours(Server()->OpenAsyncSocket(GetParam(), SOCK_DGRAM));
  ASSERT_EQ(ours->Bind(Loopback(GetParam())), 0);
  const SocketEndpoint ours_at = ours->GetLocalAddress();
  const int peer = socket(GetParam(), SOCK_DGRAM, 0);
  sockaddr_storage storage;
  size_t length = Loopback(GetParam()).ToSockaddr(&storage);
  ASSERT_EQ(bind(peer, reinterpret_cast<sockaddr*>(&storage), length), 0);
  socklen_t peer_length = sizeof(storage);
  getsockname(peer, reinterpret_cast<sockaddr*>(&storage), &peer_length);
  SocketEndpoint peer_at;
  EndpointFromSockaddr(storage, &peer_at);

  Recorder recorder(ours.get());
  std::vector<std::string> datagrams;
  recorder.on_read = [&](AsyncSocket* socket) {
    char buffer[2048];
    SocketEndpoint from;
    int64_t stamp = 0;
    int n;
    while ((n = socket->RecvFrom(buffer, sizeof(buffer), &from, &stamp)) >= 0) {
      datagrams.emplace_back(buffer, n);
      EXPECT_EQ(from.ip, peer_at.ip);
      EXPECT_EQ(from.port, peer_at.port);
      EXPECT_GT(stamp, 0);
      EXPECT_EQ(socket->SendTo(buffer, n, from), n);  // echo
    }
    EXPECT_EQ(socket->LastError(), EAGAIN);
  };
  length = ours_at.ToSockaddr(&storage);
  for (const char* text : {"one", "", "three"})
    sendto(peer, text, strlen(text), 0, reinterpret_cast<sockaddr*>(&storage), length);
  ASSERT_TRUE(PumpUntil([&] { return datagrams.size() == 3; }));
  EXPECT_EQ(datagrams, (std::vector<std::string>{"one", "", "three"}));
  timeval limit = {5, 0};
  setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
  char echo[16];
  EXPECT_EQ(recv(peer, echo, sizeof(echo), 0), 3);
  EXPECT_EQ(recv(peer, echo, sizeof(echo), 0), 0);
  EXPECT_EQ(recv(peer, echo, sizeof(echo), 0), 5);
  close(peer);
}

INSTANTIATE_TEST_SUITE_P(Loopback, UdpTest, ::testing::Values(AF_INET, AF_INET6), FamilyName);

// --- Connect through the resolver --------------------------------------------

TEST(ResolvingConnectTest, LocalhostByName) {
  std::vector<IPAddress> found;
  ASSERT_EQ(ResolveHostname("localhost", AF_UNSPEC, &found), 0);
  ASSERT_FALSE(found.empty());
  IPAddress expected = found.front();
  for (const IPAddress& address : found) {
    if (address.family() == AF_INET6) {
      expected = address;  // preferred when there is one
      break;
    }
  }
  SocketEndpoint at;
  const int listener = ListenPlain(expected.family(), &at);
  LogCapture log;
  std::unique_ptr<AsyncSocket> socket(Server()->OpenAsyncSocket(expected.family(), SOCK_STREAM));
  Recorder recorder(socket.get());
  ASSERT_EQ(socket->Connect(SocketEndpoint::FromHostName("localhost", at.port)), 0);
  EXPECT_EQ(socket->State(), Socket::STATE_CONNECTING);
  EXPECT_EQ(log.Count("(physicalsocketserver:241): Resolving addr in PhysicalSocket::Connect\n"),
            1);
  ASSERT_TRUE(PumpUntil([&] { return recorder.Saw("connect"); }));
  EXPECT_EQ(socket->GetRemoteAddress().ip, expected);
  EXPECT_EQ(socket->GetRemoteAddress().port, at.port);
  close(listener);
}

TEST(ResolvingConnectTest, IPv6AnswerIsPreferred) {
  FakeLookup lookup({{0, {{AF_INET, "127.0.0.1"}, {AF_INET6, "::1"}}}});
  SocketEndpoint at;
  const int listener = ListenPlain(AF_INET6, &at);  // nothing on IPv4
  std::unique_ptr<AsyncSocket> socket(Server()->OpenAsyncSocket(AF_INET, SOCK_STREAM));
  socket->Close();  // the connect opens a socket of the answer's family
  Recorder recorder(socket.get());
  ASSERT_EQ(socket->Connect(SocketEndpoint::FromHostName("dual.test", at.port)), 0);
  ASSERT_TRUE(PumpUntil([&] { return recorder.Saw("connect"); }));
  EXPECT_EQ(socket->GetRemoteAddress().ip.ToText(), "::1");
  close(listener);
}

TEST(ResolvingConnectTest, UnresolvableNameClosesTheSocket) {
  FakeLookup lookup({{EAI_NONAME, {}}});
  std::unique_ptr<AsyncSocket> socket(Server()->OpenAsyncSocket(AF_INET, SOCK_STREAM));
  Recorder recorder(socket.get());
  ASSERT_EQ(socket->Connect(SocketEndpoint::FromHostName("nowhere.invalid", 80)), 0);
  ASSERT_TRUE(PumpUntil([&] { return recorder.close_error != -1; }));
  EXPECT_EQ(recorder.close_error, EAI_NONAME);
  EXPECT_EQ(socket->LastError(), EAI_NONAME);
  EXPECT_EQ(socket->State(), Socket::STATE_CLOSED);

  // Without a descriptor there is nothing to close: the socket stays
  // connecting, and going away it still releases its resolver.
  std::unique_ptr<AsyncSocket> closed(Server()->OpenAsyncSocket(AF_INET, SOCK_STREAM));
  closed->Close();
  Recorder closed_recorder(closed.get());
  ASSERT_EQ(closed->Connect(SocketEndpoint::FromHostName("nowhere.invalid", 80)), 0);
  ASSERT_TRUE(PumpUntil([&] { return closed_recorder.close_error != -1; }));
  EXPECT_EQ(closed_recorder.close_error, EAI_NONAME);
  EXPECT_EQ(closed->State(), Socket::STATE_CONNECTING);
  EXPECT_EQ(closed->Connect(SocketEndpoint::FromHostName("nowhere.invalid", 80)), -1);
  EXPECT_EQ(closed->LastError(), EALREADY);
  closed.reset();
  PumpUntil([] { return false; }, 20);  // lets the released resolver go
}

// --- A full cycle on a thread's message loop ---------------------------------

TEST(SocketLoopTest, ConnectAcceptSendRecvCloseOnAThread) {
  Thread loop(std::make_unique<PhysicalSocketServer>(), true);
  auto* server = static_cast<PhysicalSocketServer*>(loop.socket_server());
  ASSERT_TRUE(loop.Start());
  const std::string message = "ping through the loop";
  std::unique_ptr<AsyncSocket> listener, client, accepted;
  std::unique_ptr<Recorder> listener_events, client_events, accepted_events;
  std::string client_got, server_got;
  bool all_on_loop = true;
  Event done(false, false);

  FunctionHandler setup([&](Message*) {
    listener.reset(server->OpenAsyncSocket(AF_INET, SOCK_STREAM));
    listener->Bind(Loopback(AF_INET));
    listener->Listen(4);
    listener_events = std::make_unique<Recorder>(listener.get());
    listener_events->on_read = [&](AsyncSocket* socket) {
      accepted.reset(static_cast<AsyncSocket*>(socket->Accept(nullptr)));
      accepted_events = std::make_unique<Recorder>(accepted.get());
      accepted_events->on_read = [&](AsyncSocket* from) {
        all_on_loop &= loop.IsCurrent();
        std::string chunk;
        Drain(from, &chunk);
        server_got += chunk;
        from->Send(chunk.data(), chunk.size());
      };
      accepted_events->on_close = [&](AsyncSocket* socket) {
        socket->Close();
        done.Set();
      };
    };
    client.reset(server->OpenAsyncSocket(AF_INET, SOCK_STREAM));
    client_events = std::make_unique<Recorder>(client.get());
    client_events->on_write = [&](AsyncSocket* socket) {
      if (!client_events->Saw("read"))
        socket->Send(message.data(), message.size());
    };
    client_events->on_read = [&](AsyncSocket* socket) {
      all_on_loop &= loop.IsCurrent();
      Drain(socket, &client_got);
      if (client_got == message)
        socket->Close();
    };
    client->Connect(listener->GetLocalAddress());
  });
  loop.Send(POST_LOCATION_HERE, &setup);
  const bool finished = done.Wait(10000);
  FunctionHandler teardown([&](Message*) {
    accepted.reset();
    client.reset();
    listener.reset();
  });
  loop.Send(POST_LOCATION_HERE, &teardown);
  loop.Stop();
  ASSERT_TRUE(finished);

  EXPECT_TRUE(all_on_loop);
  EXPECT_EQ(client_events->events.front(), "connect");
  EXPECT_EQ(server_got, message);
  EXPECT_EQ(client_got, message);
  EXPECT_EQ(accepted_events->close_error, 0);
  EXPECT_EQ(accepted_events->state_at_close, Socket::STATE_CLOSED);
}

// --- Against socat -----------------------------------------------------------

// socat's output for `input` sent to `address` ("TCP4:127.0.0.1:port").
// After its input ends socat waits `linger` for the answer: a stream ends
// sooner, when we close it.
std::string RunSocat(const std::string& input, const std::string& address,
                     const char* linger) {
  const std::string command = "printf '%s' '" + input + "' | socat -t " + linger + " - " +
                              address + " 2>&1";
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[256];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
    output.append(buffer, n);
  pclose(pipe);
  return output;
}

TEST(SocatTest, TcpAndUdpEchoForSocat) {
  if (system("command -v socat >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "socat is not installed (scripts/deps installs it)";
  std::unique_ptr<AsyncSocket> listener(Server()->OpenAsyncSocket(AF_INET, SOCK_STREAM));
  ASSERT_EQ(listener->Bind(Loopback(AF_INET)), 0);
  ASSERT_EQ(listener->Listen(1), 0);
  std::unique_ptr<AsyncSocket> accepted;
  std::unique_ptr<Recorder> accepted_events;
  Recorder listener_events(listener.get());
  listener_events.on_read = [&](AsyncSocket* socket) {
    accepted.reset(static_cast<AsyncSocket*>(socket->Accept(nullptr)));
    accepted_events = std::make_unique<Recorder>(accepted.get());
    accepted_events->on_read = [](AsyncSocket* from) {
      std::string chunk;
      Drain(from, &chunk);
      from->Send(chunk.data(), chunk.size());
    };
  };
  std::unique_ptr<AsyncSocket> udp(Server()->OpenAsyncSocket(AF_INET, SOCK_DGRAM));
  ASSERT_EQ(udp->Bind(Loopback(AF_INET)), 0);
  Recorder udp_events(udp.get());
  udp_events.on_read = [](AsyncSocket* socket) {
    char buffer[512];
    SocketEndpoint from;
    int n;
    while ((n = socket->RecvFrom(buffer, sizeof(buffer), &from, nullptr)) >= 0)
      socket->SendTo(buffer, n, from);
  };

  std::string tcp_output, udp_output;
  std::atomic<bool> finished{false};
  const uint16_t tcp_port = listener->GetLocalAddress().port;
  const uint16_t udp_port = udp->GetLocalAddress().port;
  std::thread client([&] {
    tcp_output = RunSocat("hello over tcp", "TCP4:127.0.0.1:" + std::to_string(tcp_port), "10");
    udp_output = RunSocat("hello over udp", "UDP4:127.0.0.1:" + std::to_string(udp_port), "1");
    finished = true;
  });
  // Served here while socat talks to us; the accepted socket closes when
  // socat's end of the stream arrives.
  EXPECT_TRUE(PumpUntil(
      [&] {
        if (accepted_events && accepted_events->close_error != -1)
          accepted->Close();
        return finished.load();
      },
      20000));
  client.join();
  EXPECT_EQ(tcp_output, "hello over tcp");
  EXPECT_EQ(udp_output, "hello over udp");
  EXPECT_EQ(accepted_events ? accepted_events->close_error : -1, 0);
}

}  // namespace
}  // namespace rtc
