#include "rtc_base/asyncinvoker.h"

#include "rtc_base/logging.h"

namespace rtc {

AsyncClosure::AsyncClosure(AsyncInvoker* invoker)
    : invoker_(invoker), invocation_complete_(invoker->invocation_complete_) {
  // Only the count matters here; the destructor's acquire pairs with the
  // release in ~AsyncClosure.
  invoker_->pending_invocations_.fetch_add(1, std::memory_order_relaxed);
}

AsyncClosure::~AsyncClosure() {
  // The invoker may finish its destruction between these two steps; our
  // own reference keeps the event alive for Set().
  invoker_->pending_invocations_.fetch_sub(1, std::memory_order_release);
  invocation_complete_->Set();
}

AsyncInvoker::AsyncInvoker()
    : invocation_complete_(new RefCountedObject<Event>(false, false)) {}

AsyncInvoker::~AsyncInvoker() {
  destroying_.store(true, std::memory_order_relaxed);
  // Queued closures are destroyed without running.
  QueueRegistry::ClearHandler(this);
  while (pending_invocations_.load(std::memory_order_acquire) > 0) {
    // A closure running elsewhere may have posted to this thread after the
    // sweep; nobody else would ever take that one out.
    if (Thread* current = Thread::Current())
      current->Clear(this, kAnyMessageId, nullptr);
    // One signal per pass; the count is re-read after every wake-up.
    invocation_complete_->Wait(kForever);
  }
}

void AsyncInvoker::PostClosure(const PostLocation& posted_from, Thread* thread,
                               std::unique_ptr<AsyncClosure>* closure,
                               uint32_t message_id) {
  if (destroying_.load(std::memory_order_relaxed)) {
    LOG(Warning) << "Tried to invoke while destroying the invoker.";
    return;
  }
  thread->Post(posted_from, this, message_id,
               new ScopedMessageData<AsyncClosure>(std::move(*closure)), false);
}

void AsyncInvoker::HandleMessage(Message* message) {
  std::unique_ptr<ScopedMessageData<AsyncClosure>> data(
      static_cast<ScopedMessageData<AsyncClosure>*>(message->data));
  message->data = nullptr;
  (*data)->Execute();
}

}  // namespace rtc
