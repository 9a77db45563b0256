// Loopback TCP, ours against libuv.
//
// Echo: a client sends 64 KiB messages to an echo server and waits for each
// to come back whole before sending the next, for two seconds; client and
// server each run on their own thread (rtc::Thread with asynchronous
// sockets; a libuv loop). Both sides send directly from their receive
// buffer and copy only what the kernel did not take, reading no more until
// that has gone.
//
// Accept: a client connects, the server accepts and closes, the client sees
// the end of the stream and closes; then the next connection, for two
// seconds.
//
// Each figure is the best of two runs, ours and libuv's alternating.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
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

constexpr size_t kMessageSize = 64 * 1024;
constexpr int64_t kRunNanos = 2'000'000'000;  // one run
constexpr int kRounds = 2;

// Runs a closure on a thread, synchronously.
class Call : public rtc::MessageHandler {
 public:
  static void On(rtc::Thread* thread, std::function<void()> body) {
    Call call(std::move(body));
    thread->Send(rtc::PostLocation(), &call);
  }

 private:
  explicit Call(std::function<void()> body) : body_(std::move(body)) {}
  void HandleMessage(rtc::Message*) override { body_(); }
  std::function<void()> body_;
};

rtc::SocketEndpoint Loopback(uint16_t port) {
  return rtc::SocketEndpoint::FromHostName("127.0.0.1", port);
}

void NoDelay(rtc::Socket* socket) {
  socket->SetOpt(rtc::Socket::OPT_TCP_NO_DELAY, 1);
}

// --- Echo: ours --------------------------------------------------------------

// Echoes every connection it accepts; sends straight from the receive
// buffer and keeps only what Send did not take.
class OursEchoServer : public sigslot::has_slots<> {
 public:
  void OnAccept(rtc::AsyncSocket* listener) {
    while (rtc::Socket* accepted = listener->Accept(nullptr)) {
      connection_.reset(static_cast<rtc::AsyncSocket*>(accepted));
      NoDelay(connection_.get());
      connection_->ReadReady.connect(this, &OursEchoServer::OnRead);
      connection_->WriteReady.connect(this, &OursEchoServer::OnWrite);
      connection_->Closed.connect(this, &OursEchoServer::OnClosed);
    }
  }
  // Reads again only after a full buffer, like libuv: otherwise the next
  // read would most likely find nothing, and readiness is reported again
  // anyway.
  void OnRead(rtc::AsyncSocket* socket) {
    while (pending_.empty()) {
      const int received = socket->Recv(buffer_, sizeof(buffer_), nullptr);
      if (received <= 0)
        return;
      const int sent = socket->Send(buffer_, received);
      const int kept = sent < 0 ? 0 : sent;
      if (kept < received)
        pending_.assign(buffer_ + kept, buffer_ + received);
      if (static_cast<size_t>(received) < sizeof(buffer_))
        return;
    }
  }
  void OnWrite(rtc::AsyncSocket* socket) {
    const int sent = socket->Send(pending_.data(), pending_.size());
    if (sent > 0)
      pending_.erase(pending_.begin(), pending_.begin() + sent);
    if (pending_.empty())
      OnRead(socket);
  }
  void OnClosed(rtc::AsyncSocket* socket, int) { socket->Close(); }
  void Reset() { connection_.reset(); }

 private:
  std::unique_ptr<rtc::AsyncSocket> connection_;
  std::vector<char> pending_;
  char buffer_[kMessageSize];
};

class OursEchoClient : public sigslot::has_slots<> {
 public:
  OursEchoClient() : message_(kMessageSize, 'm') {}

  void Start(rtc::AsyncSocket* socket, uint16_t port) {
    socket->Connected.connect(this, &OursEchoClient::OnConnected);
    socket->ReadReady.connect(this, &OursEchoClient::OnRead);
    socket->WriteReady.connect(this, &OursEchoClient::OnWrite);
    NoDelay(socket);
    socket->Connect(Loopback(port));
  }
  void OnConnected(rtc::AsyncSocket* socket) {
    start_ns_ = rtc::MonotonicNanos();
    SendMore(socket);
  }
  void OnWrite(rtc::AsyncSocket* socket) { SendMore(socket); }
  void OnRead(rtc::AsyncSocket* socket) {
    int received;
    while ((received = socket->Recv(buffer_, sizeof(buffer_), nullptr)) > 0) {
      received_ += received;
      if (received_ < kMessageSize) {
        if (static_cast<size_t>(received) < sizeof(buffer_))
          return;  // as the server
        continue;
      }
      echoed_bytes_ += kMessageSize;
      received_ = 0;
      const int64_t now = rtc::MonotonicNanos();
      if (now - start_ns_ >= kRunNanos) {
        elapsed_ns_ = now - start_ns_;
        done.Set();
        return;
      }
      sent_ = 0;
      SendMore(socket);
      return;  // its echo cannot be here yet
    }
  }
  double MegabytesPerSecond() const { return echoed_bytes_ / 1e6 / (elapsed_ns_ / 1e9); }

  rtc::Event done{true, false};

 private:
  void SendMore(rtc::AsyncSocket* socket) {
    while (sent_ < kMessageSize) {
      const int sent = socket->Send(message_.data() + sent_, kMessageSize - sent_);
      if (sent <= 0)
        return;  // WriteReady comes back for the rest
      sent_ += sent;
    }
  }

  const std::string message_;
  size_t sent_ = 0;
  size_t received_ = 0;
  int64_t echoed_bytes_ = 0;
  int64_t start_ns_ = 0;
  int64_t elapsed_ns_ = 1;
  char buffer_[kMessageSize];
};

rtc::PhysicalSocketServer* ServerOf(rtc::Thread* thread) {
  return static_cast<rtc::PhysicalSocketServer*>(thread->socket_server());
}

double OursEcho() {
  rtc::Thread server_thread(std::make_unique<rtc::PhysicalSocketServer>(), true);
  rtc::Thread client_thread(std::make_unique<rtc::PhysicalSocketServer>(), true);
  server_thread.Start();
  client_thread.Start();
  auto server = std::make_unique<OursEchoServer>();
  auto client = std::make_unique<OursEchoClient>();
  std::unique_ptr<rtc::AsyncSocket> listener, socket;
  uint16_t port = 0;
  Call::On(&server_thread, [&] {
    listener.reset(ServerOf(&server_thread)->OpenAsyncSocket(AF_INET, SOCK_STREAM));
    listener->Bind(Loopback(0));
    listener->Listen(16);
    listener->ReadReady.connect(server.get(), &OursEchoServer::OnAccept);
    port = listener->GetLocalAddress().port;
  });
  Call::On(&client_thread, [&] {
    socket.reset(ServerOf(&client_thread)->OpenAsyncSocket(AF_INET, SOCK_STREAM));
    client->Start(socket.get(), port);
  });
  client->done.Wait(rtc::kForever);
  Call::On(&client_thread, [&] { socket.reset(); });
  Call::On(&server_thread, [&] {
    server->Reset();
    listener.reset();
  });
  server_thread.Stop();
  client_thread.Stop();
  return client->MegabytesPerSecond();
}

// --- Echo: libuv -------------------------------------------------------------

struct UvEchoServer {
  uv_loop_t loop;
  uv_tcp_t listener;
  uv_tcp_t connection;
  uv_async_t stop;
  uv_write_t write;
  std::vector<char> pending;
  char buffer[kMessageSize];
  bool connected = false;
};

void UvServerAlloc(uv_handle_t* handle, size_t, uv_buf_t* buf) {
  auto* server = static_cast<UvEchoServer*>(handle->data);
  *buf = uv_buf_init(server->buffer, sizeof(server->buffer));
}

void UvServerRead(uv_stream_t* stream, ssize_t nread, const uv_buf_t* buf);

void UvServerWritten(uv_write_t* request, int) {
  auto* server = static_cast<UvEchoServer*>(request->data);
  server->pending.clear();
  uv_read_start(reinterpret_cast<uv_stream_t*>(&server->connection), &UvServerAlloc,
                &UvServerRead);
}

void UvServerRead(uv_stream_t* stream, ssize_t nread, const uv_buf_t* buf) {
  auto* server = static_cast<UvEchoServer*>(stream->data);
  if (nread <= 0) {
    if (nread < 0)
      uv_read_stop(stream);
    return;
  }
  uv_buf_t out = uv_buf_init(buf->base, static_cast<unsigned>(nread));
  const int sent = uv_try_write(stream, &out, 1);
  const ssize_t kept = sent < 0 ? 0 : sent;
  if (kept == nread)
    return;
  server->pending.assign(buf->base + kept, buf->base + nread);
  uv_read_stop(stream);
  uv_buf_t rest = uv_buf_init(server->pending.data(), static_cast<unsigned>(server->pending.size()));
  server->write.data = server;
  uv_write(&server->write, stream, &rest, 1, &UvServerWritten);
}

void UvServerConnection(uv_stream_t* listener, int) {
  auto* server = static_cast<UvEchoServer*>(listener->data);
  uv_tcp_init(&server->loop, &server->connection);
  server->connection.data = server;
  uv_accept(listener, reinterpret_cast<uv_stream_t*>(&server->connection));
  uv_tcp_nodelay(&server->connection, 1);
  server->connected = true;
  uv_read_start(reinterpret_cast<uv_stream_t*>(&server->connection), &UvServerAlloc,
                &UvServerRead);
}

void UvCloseAll(uv_async_t* stop) {
  auto* server = static_cast<UvEchoServer*>(stop->data);
  if (server->connected)
    uv_close(reinterpret_cast<uv_handle_t*>(&server->connection), nullptr);
  uv_close(reinterpret_cast<uv_handle_t*>(&server->listener), nullptr);
  uv_close(reinterpret_cast<uv_handle_t*>(stop), nullptr);
}

// Listens on loopback; returns the port.
int UvListen(uv_loop_t* loop, uv_tcp_t* listener, void* data, uv_connection_cb on_connection) {
  uv_tcp_init(loop, listener);
  listener->data = data;
  sockaddr_in address;
  uv_ip4_addr("127.0.0.1", 0, &address);
  uv_tcp_bind(listener, reinterpret_cast<const sockaddr*>(&address), 0);
  uv_listen(reinterpret_cast<uv_stream_t*>(listener), 16, on_connection);
  sockaddr_storage bound;
  int length = sizeof(bound);
  uv_tcp_getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &length);
  return ntohs(reinterpret_cast<sockaddr_in&>(bound).sin_port);
}

struct UvEchoClient {
  uv_loop_t loop;
  uv_tcp_t socket;
  uv_connect_t connect;
  uv_write_t write;
  std::string message = std::string(kMessageSize, 'm');
  char buffer[kMessageSize];
  size_t received = 0;
  int64_t echoed_bytes = 0;
  int64_t start_ns = 0;
  int64_t elapsed_ns = 1;
};

void UvClientSend(UvEchoClient* client) {
  uv_buf_t out = uv_buf_init(client->message.data(), kMessageSize);
  auto* stream = reinterpret_cast<uv_stream_t*>(&client->socket);
  const int sent = uv_try_write(stream, &out, 1);
  const size_t kept = sent < 0 ? 0 : sent;
  if (kept == kMessageSize)
    return;
  // The message outlives the write: no copy needed for the rest.
  uv_buf_t rest = uv_buf_init(client->message.data() + kept,
                              static_cast<unsigned>(kMessageSize - kept));
  uv_write(&client->write, stream, &rest, 1, nullptr);
}

void UvClientAlloc(uv_handle_t* handle, size_t, uv_buf_t* buf) {
  auto* client = static_cast<UvEchoClient*>(handle->data);
  *buf = uv_buf_init(client->buffer, sizeof(client->buffer));
}

void UvClientRead(uv_stream_t* stream, ssize_t nread, const uv_buf_t*) {
  auto* client = static_cast<UvEchoClient*>(stream->data);
  if (nread <= 0)
    return;
  client->received += nread;
  if (client->received < kMessageSize)
    return;
  client->echoed_bytes += kMessageSize;
  client->received = 0;
  const int64_t now = rtc::MonotonicNanos();
  if (now - client->start_ns >= kRunNanos) {
    client->elapsed_ns = now - client->start_ns;
    uv_close(reinterpret_cast<uv_handle_t*>(stream), nullptr);
    return;
  }
  UvClientSend(client);
}

void UvClientConnected(uv_connect_t* request, int) {
  auto* client = static_cast<UvEchoClient*>(request->data);
  uv_tcp_nodelay(&client->socket, 1);
  client->start_ns = rtc::MonotonicNanos();
  uv_read_start(reinterpret_cast<uv_stream_t*>(&client->socket), &UvClientAlloc, &UvClientRead);
  UvClientSend(client);
}

void UvConnect(uv_loop_t* loop, uv_tcp_t* socket, uv_connect_t* request, void* data, int port,
               uv_connect_cb on_connect) {
  uv_tcp_init(loop, socket);
  socket->data = data;
  request->data = data;
  sockaddr_in address;
  uv_ip4_addr("127.0.0.1", port, &address);
  uv_tcp_connect(request, socket, reinterpret_cast<const sockaddr*>(&address), on_connect);
}

double LibuvEcho() {
  auto server = std::make_unique<UvEchoServer>();
  uv_loop_init(&server->loop);
  const int port = UvListen(&server->loop, &server->listener, server.get(), &UvServerConnection);
  uv_async_init(&server->loop, &server->stop, &UvCloseAll);
  server->stop.data = server.get();
  std::thread server_thread([&] { uv_run(&server->loop, UV_RUN_DEFAULT); });

  auto client = std::make_unique<UvEchoClient>();
  uv_loop_init(&client->loop);
  std::thread client_thread([&] {
    UvConnect(&client->loop, &client->socket, &client->connect, client.get(), port,
              &UvClientConnected);
    uv_run(&client->loop, UV_RUN_DEFAULT);
  });
  client_thread.join();
  uv_async_send(&server->stop);
  server_thread.join();
  uv_loop_close(&client->loop);
  uv_loop_close(&server->loop);
  return client->echoed_bytes / 1e6 / (client->elapsed_ns / 1e9);
}

// --- Accept cycles: ours -----------------------------------------------------

class OursAcceptServer : public sigslot::has_slots<> {
 public:
  void OnAccept(rtc::AsyncSocket* listener) {
    while (rtc::Socket* accepted = listener->Accept(nullptr))
      delete accepted;
  }
};

// Connects, waits for the server's close, closes and connects again; one
// socket object serves every connection.
class OursAcceptClient : public sigslot::has_slots<> {
 public:
  void Start(rtc::AsyncSocket* socket, uint16_t port) {
    port_ = port;
    socket->Closed.connect(this, &OursAcceptClient::OnClosed);
    socket->ReadReady.connect(this, &OursAcceptClient::OnRead);
    start_ns_ = rtc::MonotonicNanos();
    socket->Connect(Loopback(port_));
  }
  // Readable only at the end of the stream; Recv defers it to a close.
  void OnRead(rtc::AsyncSocket* socket) {
    char byte;
    socket->Recv(&byte, 1, nullptr);
  }
  void OnClosed(rtc::AsyncSocket* socket, int) {
    socket->Close();
    ++cycles_;
    const int64_t now = rtc::MonotonicNanos();
    if (now - start_ns_ >= kRunNanos) {
      elapsed_ns_ = now - start_ns_;
      done.Set();
      return;
    }
    socket->Connect(Loopback(port_));
  }
  double PerSecond() const { return cycles_ / (elapsed_ns_ / 1e9); }

  rtc::Event done{true, false};

 private:
  uint16_t port_ = 0;
  int64_t cycles_ = 0;
  int64_t start_ns_ = 0;
  int64_t elapsed_ns_ = 1;
};

double OursAccept() {
  rtc::Thread server_thread(std::make_unique<rtc::PhysicalSocketServer>(), true);
  rtc::Thread client_thread(std::make_unique<rtc::PhysicalSocketServer>(), true);
  server_thread.Start();
  client_thread.Start();
  OursAcceptServer server;
  OursAcceptClient client;
  std::unique_ptr<rtc::AsyncSocket> listener, socket;
  uint16_t port = 0;
  Call::On(&server_thread, [&] {
    listener.reset(ServerOf(&server_thread)->OpenAsyncSocket(AF_INET, SOCK_STREAM));
    listener->Bind(Loopback(0));
    listener->Listen(128);
    listener->ReadReady.connect(&server, &OursAcceptServer::OnAccept);
    port = listener->GetLocalAddress().port;
  });
  Call::On(&client_thread, [&] {
    socket.reset(ServerOf(&client_thread)->OpenAsyncSocket(AF_INET, SOCK_STREAM));
    client.Start(socket.get(), port);
  });
  client.done.Wait(rtc::kForever);
  Call::On(&client_thread, [&] { socket.reset(); });
  Call::On(&server_thread, [&] { listener.reset(); });
  server_thread.Stop();
  client_thread.Stop();
  return client.PerSecond();
}

// --- Accept cycles: libuv ----------------------------------------------------

struct UvAcceptServer {
  uv_loop_t loop;
  uv_tcp_t listener;
  uv_async_t stop;
};

void UvFree(uv_handle_t* handle) {
  delete reinterpret_cast<uv_tcp_t*>(handle);
}

void UvAcceptAndClose(uv_stream_t* listener, int) {
  auto* server = static_cast<UvAcceptServer*>(listener->data);
  auto* accepted = new uv_tcp_t;
  uv_tcp_init(&server->loop, accepted);
  uv_accept(listener, reinterpret_cast<uv_stream_t*>(accepted));
  uv_close(reinterpret_cast<uv_handle_t*>(accepted), &UvFree);
}

void UvStopAccepting(uv_async_t* stop) {
  auto* server = static_cast<UvAcceptServer*>(stop->data);
  uv_close(reinterpret_cast<uv_handle_t*>(&server->listener), nullptr);
  uv_close(reinterpret_cast<uv_handle_t*>(stop), nullptr);
}

struct UvAcceptClient {
  uv_loop_t loop;
  uv_tcp_t socket;
  uv_connect_t connect;
  char byte;
  int port = 0;
  int64_t cycles = 0;
  int64_t start_ns = 0;
  int64_t elapsed_ns = 1;
};

void UvAcceptClientConnected(uv_connect_t* request, int status);

void UvAcceptClientClosed(uv_handle_t* handle) {
  auto* client = static_cast<UvAcceptClient*>(handle->data);
  ++client->cycles;
  const int64_t now = rtc::MonotonicNanos();
  if (now - client->start_ns >= kRunNanos) {
    client->elapsed_ns = now - client->start_ns;
    return;
  }
  UvConnect(&client->loop, &client->socket, &client->connect, client, client->port,
            &UvAcceptClientConnected);
}

void UvAcceptClientAlloc(uv_handle_t* handle, size_t, uv_buf_t* buf) {
  *buf = uv_buf_init(&static_cast<UvAcceptClient*>(handle->data)->byte, 1);
}

void UvAcceptClientRead(uv_stream_t* stream, ssize_t nread, const uv_buf_t*) {
  if (nread < 0)
    uv_close(reinterpret_cast<uv_handle_t*>(stream), &UvAcceptClientClosed);
}

void UvAcceptClientConnected(uv_connect_t* request, int status) {
  auto* client = static_cast<UvAcceptClient*>(request->data);
  if (status < 0) {
    uv_close(reinterpret_cast<uv_handle_t*>(&client->socket), &UvAcceptClientClosed);
    return;
  }
  uv_read_start(reinterpret_cast<uv_stream_t*>(&client->socket), &UvAcceptClientAlloc,
                &UvAcceptClientRead);
}

double LibuvAccept() {
  UvAcceptServer server;
  uv_loop_init(&server.loop);
  const int port = UvListen(&server.loop, &server.listener, &server, &UvAcceptAndClose);
  uv_async_init(&server.loop, &server.stop, &UvStopAccepting);
  server.stop.data = &server;
  std::thread server_thread([&] { uv_run(&server.loop, UV_RUN_DEFAULT); });

  UvAcceptClient client;
  client.port = port;
  uv_loop_init(&client.loop);
  std::thread client_thread([&] {
    client.start_ns = rtc::MonotonicNanos();
    UvConnect(&client.loop, &client.socket, &client.connect, &client, port,
              &UvAcceptClientConnected);
    uv_run(&client.loop, UV_RUN_DEFAULT);
  });
  client_thread.join();
  uv_async_send(&server.stop);
  server_thread.join();
  uv_loop_close(&client.loop);
  uv_loop_close(&server.loop);
  return client.cycles / (client.elapsed_ns / 1e9);
}

}  // namespace

int main() {
  // Alternating rounds, best of each kept: a neighbour's load that comes
  // and goes then falls on both sides alike.
  double ours_echo = 0, libuv_echo = 0, ours_accept = 0, libuv_accept = 0;
  for (int round = 0; round < kRounds; ++round) {
    ours_echo = std::max(ours_echo, OursEcho());
    libuv_echo = std::max(libuv_echo, LibuvEcho());
  }
  for (int round = 0; round < kRounds; ++round) {
    ours_accept = std::max(ours_accept, OursAccept());
    libuv_accept = std::max(libuv_accept, LibuvAccept());
  }
  bench::ReportBeside("socket.echo.", "mb_per_s", ours_echo, "libuv_mb_per_s", libuv_echo, "ratio",
                      "MB/s");
  bench::Report("socket.accept.per_s", ours_accept, "cycles/s");
  bench::Report("socket.accept.libuv_per_s", libuv_accept, "cycles/s");
  return 0;
}
