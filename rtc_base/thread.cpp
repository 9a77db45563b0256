#include "rtc_base/thread.h"

#include <sys/prctl.h>

#include <algorithm>
#include <optional>

#include "rtc_base/checks.h"
#include "rtc_base/logging.h"
#include "rtc_base/stringbuilder.h"

namespace rtc {

namespace {

// Which Thread belongs to each OS thread, and which thread set this up
// first (it gets a Thread on demand). Never destroyed.
struct ThreadRegistry {
  pthread_key_t key;
  pthread_t creator;
};

ThreadRegistry& Registry() {
  static ThreadRegistry* const registry = [] {
    auto* created = new ThreadRegistry;
    CHECK(pthread_key_create(&created->key, nullptr) == 0);
    created->creator = pthread_self();
    return created;
  }();
  return *registry;
}

Thread* RegisteredThread() {
  return static_cast<Thread*>(pthread_getspecific(Registry().key));
}

void SetRegisteredThread(Thread* thread) {
  pthread_setspecific(Registry().key, thread);
}

std::atomic<Thread::SocketServerFactory> g_adopted_server_factory{nullptr};

std::unique_ptr<SocketServer> AdoptedSocketServer() {
  if (Thread::SocketServerFactory factory = g_adopted_server_factory.load())
    return factory();
  return std::make_unique<NullSocketServer>();
}

std::string AddressSuffix(const void* address) {
  char buffer[16];
  FormatBounded(buffer, sizeof(buffer), " 0x%p", address);
  return buffer;
}

}  // namespace

Thread::Thread(std::unique_ptr<SocketServer> socket_server, bool initialize)
    : MessageQueue(std::move(socket_server), false),
      name_("Thread" + AddressSuffix(this)) {
  if (initialize)
    Initialize();
}

Thread::~Thread() {
  Stop();
  // Here rather than in the queue's destructor, so that this class's
  // Clear() releases the senders still waiting.
  Teardown();
}

void Thread::SetAdoptedSocketServerFactory(SocketServerFactory factory) {
  g_adopted_server_factory.store(factory);
}

Thread* Thread::Current() {
  ThreadRegistry& registry = Registry();
  if (Thread* thread = RegisteredThread())
    return thread;
  if (!pthread_equal(registry.creator, pthread_self()))
    return nullptr;
  auto* adopted = new Thread(AdoptedSocketServer(), true);
  adopted->thread_ = pthread_self();
  SetRegisteredThread(adopted);
  return adopted;
}

bool Thread::IsCurrent() const {
  return RegisteredThread() == this;
}

void Thread::SetName(const std::string& base, const void* owner) {
  name_ = base;
  if (owner != nullptr)
    name_ += AddressSuffix(owner);
}

// --- Running -----------------------------------------------------------------

bool Thread::Start() {
  if (thread_ != 0)
    return false;
  ClearQuit();
  Registry();
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  const int error = pthread_create(&thread_, &attributes, &EntryPoint, this);
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    LOG(Error) << "Unable to create pthread, error " << error;
    thread_ = 0;
    return false;
  }
  return true;
}

void* Thread::EntryPoint(void* arg) {
  auto* thread = static_cast<Thread*>(arg);
  SetRegisteredThread(thread);
  prctl(PR_SET_NAME, thread->name_.c_str());
  thread->Run();
  SetRegisteredThread(nullptr);
  return nullptr;
}

void Thread::Stop() {
  Quit();
  Join();
}

void Thread::Join() {
  if (thread_ == 0)
    return;
  pthread_join(thread_, nullptr);
  thread_ = 0;
}

void Thread::Run() {
  Message message;
  while (Get(&message, kForever, true)) {
    Dispatch(&message);
    message = Message();
  }
}

// --- Synchronous sends -------------------------------------------------------

void Thread::Send(const PostLocation& posted_from, MessageHandler* handler,
                  uint32_t message_id, MessageData* data) {
  if (IsQuitRequested())
    return;
  Message message{posted_from, handler, message_id, data, 0};
  if (IsCurrent()) {
    handler->HandleMessage(&message);
    return;
  }
  // A thread without a Thread gets one for the duration of the call, to
  // wait in and to be woken through.
  std::optional<AutoThread> adopted;
  if (RegisteredThread() == nullptr)
    adopted.emplace();
  Thread* current = Current();
  bool ready = false;
  {
    ScopedLock lock(&lock_);
    pending_sends_.push_back(SendEntry{current, message, &ready});
    pending_send_count_.fetch_add(1);
  }
  socket_server()->WakeUp();
  WaitForSend(current, &ready);
}

void Thread::WaitForSend(Thread* current, const bool* ready) {
  bool waited = false;
  lock_.Lock();
  while (!*ready) {
    lock_.Unlock();
    // Requests this thread sends back to us meanwhile would otherwise wait
    // for us while we wait for it.
    current->ServeSendsFrom(this);
    current->socket_server()->Wait(kForever, false);
    waited = true;
    lock_.Lock();
  }
  lock_.Unlock();
  // Our waits may have eaten a wake-up meant for our own queue.
  if (waited)
    current->socket_server()->WakeUp();
}

void Thread::ServeSends() {
  if (pending_send_count_.load() == 0)
    return;  // a send arriving now wakes us and is served on the next pass
  ServeSendsFrom(nullptr);
}

void Thread::ServeSendsFrom(Thread* source) {
  SendEntry entry{nullptr, Message(), nullptr};
  while (TakeSendFrom(source, &entry)) {
    entry.message.handler->HandleMessage(&entry.message);
    // Under the lock: the sender reads `ready` under it and may return,
    // taking its Thread with it, as soon as it sees true.
    ScopedLock lock(&lock_);
    *entry.ready = true;
    entry.sender->socket_server()->WakeUp();
  }
}

bool Thread::TakeSendFrom(Thread* source, SendEntry* entry) {
  ScopedLock lock(&lock_);
  auto it = std::find_if(pending_sends_.begin(), pending_sends_.end(),
                         [source](const SendEntry& pending) {
                           return source == nullptr || pending.sender == source;
                         });
  if (it == pending_sends_.end())
    return false;
  *entry = *it;
  pending_sends_.erase(it);
  pending_send_count_.fetch_sub(1);
  return true;
}

void Thread::Clear(MessageHandler* handler, uint32_t message_id, MessageList* removed) {
  ScopedLock lock(&lock_);
  for (auto it = pending_sends_.begin(); it != pending_sends_.end();) {
    if (!Matches(it->message, handler, message_id)) {
      ++it;
      continue;
    }
    if (removed != nullptr) {
      Message cancelled = it->message;
      cancelled.data = nullptr;  // still the sender's
      removed->push_back(cancelled);
    }
    *it->ready = true;
    it->sender->socket_server()->WakeUp();
    it = pending_sends_.erase(it);
    pending_send_count_.fetch_sub(1);
  }
  MessageQueue::Clear(handler, message_id, removed);
}

// --- AutoThread --------------------------------------------------------------

AutoThread::AutoThread() : Thread(AdoptedSocketServer(), false) {
  Initialize();
  if (RegisteredThread() == nullptr)
    SetRegisteredThread(this);
}

AutoThread::~AutoThread() {
  Stop();
  Teardown();
  if (RegisteredThread() == this)
    SetRegisteredThread(nullptr);
}

}  // namespace rtc
