#include "rtc_base/signalthread.h"

#include "rtc_base/logging.h"

namespace rtc {

namespace {

constexpr uint32_t kWorkDoneMessageId = 0;

}  // namespace

// --- Reference counting ------------------------------------------------------

SignalThread::Guard::Guard(SignalThread* owner) : owner_(owner) {
  ScopedLock lock(&owner_->lock_);
  ++owner_->refcount_;
}

SignalThread::Guard::~Guard() {
  bool last;
  {
    ScopedLock lock(&owner_->lock_);
    last = --owner_->refcount_ == 0;
  }
  if (last)
    delete owner_;
}

// --- Worker ------------------------------------------------------------------

SignalThread::Worker::Worker(SignalThread* parent)
    : Thread(std::make_unique<NullSocketServer>(), false), parent_(parent) {
  Initialize();
}

void SignalThread::Worker::Run() {
  parent_->Run();
}

// --- SignalThread ------------------------------------------------------------

SignalThread::SignalThread() : main_(Thread::Current()), worker_(this) {
  worker_.SetName("SignalThread", this);
  if (main_ != nullptr) {
    main_->SignalDestroyed.connect(this, &SignalThread::OnMainThreadDestroyed);
  } else {
    LOG(Warning) << "SignalThread created on a thread without a Thread: "
                    "its completion cannot be reported";
  }
}

SignalThread::~SignalThread() {
  // Before any member goes: the worker may still be on its way out of Run.
  worker_.Stop();
}

void SignalThread::Start() {
  Guard guard(this);
  State previous;
  {
    ScopedLock lock(&lock_);
    if (state_ != State::kIdle && state_ != State::kComplete)
      return;
    previous = state_;
    state_ = State::kRunning;
  }
  BeforeWork();
  if (!worker_.Start()) {
    // No worker, so no completion: leave the object as it was, so that a
    // Destroy() can still release it.
    LOG(Error) << "SignalThread could not start its worker";
    ScopedLock lock(&lock_);
    state_ = previous;
  }
}

void SignalThread::Destroy(bool wait) {
  Guard guard(this);
  State state;
  {
    ScopedLock lock(&lock_);
    state = state_;
    if (state == State::kIdle || state == State::kComplete) {
      --refcount_;  // the creator's
      return;
    }
    if (state == State::kStopping)
      return;
    state_ = State::kStopping;
  }
  worker_.Quit();
  AbortWork();
  if (!wait)
    return;  // the completion message gives up the creator's reference
  // The worker takes lock_ to post its completion: not held here.
  worker_.Stop();
  ScopedLock lock(&lock_);
  --refcount_;
}

// The creator's reference cannot go while this runs: it goes in Destroy(true)
// only after the join, and otherwise with the message posted here. Holding
// lock_ across the post keeps the message's handling, which starts by taking
// it, behind us.
void SignalThread::Run() {
  PerformWork();
  ScopedLock lock(&lock_);
  if (main_ != nullptr) {
    main_->Post(PostLocation("Run", "../../rtc_base/signalthread:147"), this,
                kWorkDoneMessageId, nullptr, false);
  }
}

void SignalThread::HandleMessage(Message* message) {
  if (message->message_id != kWorkDoneMessageId)
    return;
  Guard guard(this);
  AfterWork();
  bool stopping;
  {
    ScopedLock lock(&lock_);
    stopping = state_ == State::kStopping;
    if (state_ == State::kRunning)
      state_ = State::kComplete;
    else
      --refcount_;  // destroyed while running: the creator's reference
  }
  if (stopping)
    return;
  // The work has finished: this only joins, so a later Start() can run a
  // new worker.
  worker_.Stop();
  WorkDone.emit(this);
}

void SignalThread::OnMainThreadDestroyed() {
  Guard guard(this);
  ScopedLock lock(&lock_);
  main_ = nullptr;
}

}  // namespace rtc
