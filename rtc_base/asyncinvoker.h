#ifndef RTC_BASE_ASYNCINVOKER_H_
#define RTC_BASE_ASYNCINVOKER_H_

// Fire-and-forget calls on another thread.
//
//   invoker.Invoke(POST_LOCATION_HERE, &worker_thread, [this] { Drain(); });
//
// Each Invoke() posts one closure that runs the functor on the target
// thread. When the invoker is destroyed, no closure of it is still queued or
// running: the destructor discards the queued ones and waits for those that
// are running elsewhere. It must therefore not run on a thread where one of
// its closures is executing.

#include <stdint.h>

#include <atomic>
#include <memory>
#include <type_traits>
#include <utility>

#include "rtc_base/event.h"
#include "rtc_base/messagequeue.h"
#include "rtc_base/refcount.h"
#include "rtc_base/thread.h"

namespace rtc {

class AsyncInvoker;

// One posted call. Its existence is counted by its invoker, and its
// destruction signals the invoker's event, whether it ran or not.
class AsyncClosure {
 public:
  explicit AsyncClosure(AsyncInvoker* invoker);
  virtual ~AsyncClosure();
  AsyncClosure(const AsyncClosure&) = delete;
  AsyncClosure& operator=(const AsyncClosure&) = delete;

  virtual void Execute() = 0;

 protected:
  AsyncInvoker* const invoker_;
  // Keeps the event alive until this closure has set it, even if the
  // invoker is gone by then.
  RefPtr<RefCountedObject<Event>> invocation_complete_;
};

template <class FunctorT>
class FireAndForgetAsyncClosure : public AsyncClosure {
 public:
  FireAndForgetAsyncClosure(AsyncInvoker* invoker, const FunctorT& functor)
      : AsyncClosure(invoker), functor_(functor) {}
  FireAndForgetAsyncClosure(AsyncInvoker* invoker, FunctorT&& functor)
      : AsyncClosure(invoker), functor_(std::move(functor)) {}

  void Execute() override { static_cast<void>(functor_()); }

 private:
  FunctorT functor_;
};

// object->*method() with no arguments; the object is not owned.
template <class ObjectT, class MethodT, class ReturnT>
class MethodFunctor {
 public:
  MethodFunctor(MethodT method, ObjectT* object) : method_(method), object_(object) {}
  ReturnT operator()() const { return (object_->*method_)(); }

 private:
  MethodT method_;
  ObjectT* object_;
};

class AsyncInvoker : public MessageHandler {
 public:
  AsyncInvoker();
  // Returns once every closure this invoker made has been destroyed.
  ~AsyncInvoker() override;

  // Any thread. Runs functor() on `thread` later; its result is dropped.
  // Once destruction has begun, logs a warning and never runs it.
  template <class ReturnT, class FunctorT>
  void Invoke(const PostLocation& posted_from, Thread* thread, const FunctorT& functor,
              uint32_t message_id = 0) {
    std::unique_ptr<AsyncClosure> closure(
        new FireAndForgetAsyncClosure<FunctorT>(this, functor));
    PostClosure(posted_from, thread, &closure, message_id);
  }

  // The same for any callable, taken by value (it may be move-only); its
  // result, if any, is dropped.
  template <class FunctorT,
            class = std::enable_if_t<std::is_invocable_v<std::decay_t<FunctorT>&>>>
  void Invoke(const PostLocation& posted_from, Thread* thread, FunctorT&& functor,
              uint32_t message_id = 0) {
    std::unique_ptr<AsyncClosure> closure(new FireAndForgetAsyncClosure<std::decay_t<FunctorT>>(
        this, std::decay_t<FunctorT>(std::forward<FunctorT>(functor))));
    PostClosure(posted_from, thread, &closure, message_id);
  }

  void HandleMessage(Message* message) override;

 private:
  friend class AsyncClosure;

  // Takes `*closure` only when it posts it.
  void PostClosure(const PostLocation& posted_from, Thread* thread,
                   std::unique_ptr<AsyncClosure>* closure, uint32_t message_id);

  // Closures of this invoker that exist (made and not yet destroyed).
  std::atomic<int> pending_invocations_{0};
  // Auto-reset; set by every closure's destruction.
  RefPtr<RefCountedObject<Event>> invocation_complete_;
  std::atomic<bool> destroying_{false};
};

}  // namespace rtc

#endif  // RTC_BASE_ASYNCINVOKER_H_
