#ifndef RTC_BASE_THREAD_H_
#define RTC_BASE_THREAD_H_

// Threads: a message queue bound to one operating-system thread.
//
//   rtc::Thread worker(std::make_unique<rtc::NullSocketServer>(), true);
//   worker.SetName("Worker", this);
//   worker.Start();                      // runs the message loop
//   worker.Post(POST_LOCATION_HERE, &handler, kSomeId);
//   worker.Send(POST_LOCATION_HERE, &handler, kOtherId, &reply);  // waits
//   worker.Stop();                       // from another thread
//
// A thread is handed its server. The threads the runtime adopts by itself
// (the creator thread in Current(), an AutoThread) get theirs from the
// factory registered at the top (SetAdoptedSocketServerFactory; the
// sockets' layer registers its server with InstallPhysicalSocketServers(),
// socketserver_factory.h), or a NullSocketServer while none is.
//
// Send() runs a handler on the target thread and returns when it has run.
// While waiting, the sender serves the requests the target sends back to
// it, so two threads that send to each other do not deadlock. The caller
// keeps its payload in every case: Send() never takes or destroys it, also
// when the send is cancelled by Clear() or dropped after a stop request.

#include <pthread.h>

#include <list>
#include <memory>
#include <string>

#include "rtc_base/messagequeue.h"

namespace rtc {

class Thread : public MessageQueue {
 public:
  // Derived classes pass initialize = false and call Initialize() at the
  // end of their own constructor.
  Thread(std::unique_ptr<SocketServer> socket_server, bool initialize);
  // Stops and joins the thread (call it from another thread), cancels
  // pending sends and destroys every queued payload.
  ~Thread() override;

  // The calling thread's Thread. On the thread that first used the thread
  // machinery, one is created on demand that lives until the process ends;
  // elsewhere, null unless the thread is a started Thread or an AutoThread
  // adopted it.
  static Thread* Current();
  // Makes the server of each thread adopted from now on; null restores the
  // NullSocketServer. Any thread, any time.
  using SocketServerFactory = std::unique_ptr<SocketServer> (*)();
  static void SetAdoptedSocketServerFactory(SocketServerFactory factory);
  bool IsCurrent() const;

  // `base`, followed by " 0x<owner address>" when `owner` is not null.
  // Before Start(); the OS keeps the first 15 bytes.
  void SetName(const std::string& base, const void* owner);
  const std::string& name() const { return name_; }

  // Starts the OS thread running Run(). False when one is running already
  // or creation failed. A stopped thread may be started again.
  bool Start();
  // Quit() and Join(); from another thread.
  virtual void Stop();
  // Waits for the OS thread to end; from another thread.
  void Join();
  // The message loop: returns after Quit() once nothing is due, or when the
  // socket server's wait fails.
  virtual void Run();
  // Runs handler->HandleMessage on this thread and returns when it has run
  // or was cancelled by Clear(). Returns at once, without running it, when
  // a stop was requested. Blocks for ever on a thread that never serves its
  // queue. `data` stays the caller's.
  virtual void Send(const PostLocation& posted_from, MessageHandler* handler,
                    uint32_t message_id = 0, MessageData* data = nullptr);

  // Also cancels matching pending sends and releases their senders. A
  // cancelled send appears in `removed` with a null payload: the payload
  // belongs to its sender, which is still using it.
  void Clear(MessageHandler* handler, uint32_t message_id = kAnyMessageId,
             MessageList* removed = nullptr) override;
  void ServeSends() override;
  // Runs the pending sends whose sender is `source` (any when null).
  void ServeSendsFrom(Thread* source);

 private:
  struct SendEntry {
    Thread* sender;
    Message message;
    bool* ready;  // on the sender's stack; written under lock_
  };

  static void* EntryPoint(void* arg);
  bool TakeSendFrom(Thread* source, SendEntry* entry);
  void WaitForSend(Thread* current, const bool* ready);

  std::list<SendEntry> pending_sends_ RTC_GUARDED_BY(lock_);
  // Lets the message loop skip lock_ when no send is pending.
  std::atomic<size_t> pending_send_count_{0};
  std::string name_;
  pthread_t thread_ = 0;  // zero when none is running
};

// Adopts the calling thread for the lifetime of the object: if the thread
// has no Thread, this one becomes its current Thread until destroyed. No
// OS thread is started.
class AutoThread : public Thread {
 public:
  AutoThread();
  ~AutoThread() override;
};

}  // namespace rtc

#endif  // RTC_BASE_THREAD_H_
