#ifndef RTC_BASE_SIGSLOT_H_
#define RTC_BASE_SIGSLOT_H_

// Signals and slots.
//
//   class Socket {
//    public:
//     sigslot::notifier<sigslot::single_threaded, Socket*, int> Closed;
//   };
//   class Watcher : public sigslot::has_slots<> {
//    public:
//     void OnClosed(Socket* socket, int error);
//   };
//   socket.Closed.connect(&watcher, &Watcher::OnClosed);
//   socket.Closed.emit(&socket, 0);
//
// A signal calls its slots in connection order. Both sides keep track of
// each other, so whichever is destroyed first removes its connections from
// the other and no call ever reaches a dead receiver. A slot may disconnect
// itself, or any other receiver, while it is being called; the emission goes
// on with the next connection, and a connection made during an emission is
// called by that same emission. Emission allocates nothing.
//
// Policies: with single_threaded a signal and its receivers are used on one
// thread at a time. With multi_threaded, connecting, emitting and
// disconnecting a signal are serialised by the signal's own lock, which the
// emitting thread holds while the slots run (it is recursive, so a slot may
// still connect or disconnect on that signal). A receiver's own sender set
// is never locked: connect or destroy one receiver on one thread at a time.
// A receiver that another thread may be emitting to while it is destroyed
// calls disconnect_all() in its own destructor, before its members go.

#include <stddef.h>
#include <string.h>

#include <set>
#include <type_traits>

#include "rtc_base/recursive_mutex.h"

namespace sigslot {

// Locking policies. A policy is a base of the signal; lock() and unlock()
// bracket every operation on the signal's connections.
class RTC_CAPABILITY("mutex") single_threaded {
 public:
  void lock() RTC_ACQUIRE() {}
  void unlock() RTC_RELEASE() {}
};

class RTC_CAPABILITY("mutex") multi_threaded {
 public:
  void lock() RTC_ACQUIRE() { mutex_.Lock(); }
  void unlock() RTC_RELEASE() { mutex_.Unlock(); }

 private:
  rtc::RecursiveMutex mutex_;
};

class has_slots_interface;

// The part of every signal that receivers see. Its two operations are
// plain function pointers set by the concrete signal.
class notifier_base {
 public:
  // Removes every connection to `receiver` (the receiver is going away).
  void receiver_gone(has_slots_interface* receiver) {
    on_receiver_gone_(this, receiver);
  }
  // Adds, for each connection to `from`, the same connection to `to`.
  void receiver_copied(const has_slots_interface* from, has_slots_interface* to) {
    on_receiver_copied_(this, from, to);
  }

 protected:
  using gone_fn = void (*)(notifier_base*, has_slots_interface*);
  using copied_fn = void (*)(notifier_base*, const has_slots_interface*,
                             has_slots_interface*);

  notifier_base(gone_fn on_gone, copied_fn on_copied)
      : on_receiver_gone_(on_gone), on_receiver_copied_(on_copied) {}
  ~notifier_base() = default;
  notifier_base(const notifier_base&) = delete;
  notifier_base& operator=(const notifier_base&) = delete;

 private:
  const gone_fn on_receiver_gone_;
  const copied_fn on_receiver_copied_;
};

// The receiver side: remembers each signal it is connected to once, however
// many of its slots that signal calls.
class has_slots_interface {
 public:
  // Called by a signal when it gains or loses its connections to us.
  void signal_connect(notifier_base* sender) { add_sender_(this, sender); }
  void signal_disconnect(notifier_base* sender) { remove_sender_(this, sender); }
  // Disconnects this receiver from every signal.
  void disconnect_all() { drop_all_senders_(this); }

  size_t sender_count() const { return senders_.size(); }

 protected:
  using sender_fn = void (*)(has_slots_interface*, notifier_base*);
  using drop_fn = void (*)(has_slots_interface*);

  has_slots_interface(sender_fn add, sender_fn remove, drop_fn drop)
      : add_sender_(add), remove_sender_(remove), drop_all_senders_(drop) {}
  ~has_slots_interface() = default;
  has_slots_interface(const has_slots_interface&) = delete;
  has_slots_interface& operator=(const has_slots_interface&) = delete;

  const sender_fn add_sender_;
  const sender_fn remove_sender_;
  const drop_fn drop_all_senders_;
  std::set<notifier_base*> senders_;
};

// Base class of every object whose member functions are slots.
template <class Policy = single_threaded>
class has_slots : public has_slots_interface, public Policy {
 public:
  has_slots() : has_slots_interface(&add_sender, &remove_sender, &drop_all_senders) {}
  // The copy receives every signal the original receives.
  has_slots(const has_slots& other) : has_slots() {
    for (notifier_base* sender : other.senders_) {
      sender->receiver_copied(&other, this);
      senders_.insert(sender);
    }
  }
  has_slots& operator=(const has_slots&) = delete;
  virtual ~has_slots() { disconnect_all(); }

 private:
  static void add_sender(has_slots_interface* self, notifier_base* sender) {
    static_cast<has_slots*>(self)->senders_.insert(sender);
  }
  static void remove_sender(has_slots_interface* self, notifier_base* sender) {
    static_cast<has_slots*>(self)->senders_.erase(sender);
  }
  static void drop_all_senders(has_slots_interface* self) {
    std::set<notifier_base*>& senders = static_cast<has_slots*>(self)->senders_;
    // A signal may connect us again while we leave it; go round until the
    // set stays empty.
    while (!senders.empty()) {
      std::set<notifier_base*> leaving;
      leaving.swap(senders);
      for (notifier_base* sender : leaving)
        sender->receiver_gone(self);
    }
  }
};

namespace internal {

// Room for any member function pointer: one of a class the compiler knows
// nothing about needs the most general representation.
class unknown_class;
using generic_method = void (unknown_class::*)();

template <class Policy>
class RTC_SCOPED_CAPABILITY lock_block {
 public:
  explicit lock_block(Policy* policy) RTC_ACQUIRE(policy) : policy_(policy) { policy_->lock(); }
  ~lock_block() RTC_RELEASE() { policy_->unlock(); }
  lock_block(const lock_block&) = delete;
  lock_block& operator=(const lock_block&) = delete;

 private:
  Policy* const policy_;
};

}  // namespace internal

// One connection: the receiver, its member function and the trampoline that
// calls that member function with the signal's arguments.
template <class... Args>
struct link {
  using trampoline_fn = void (*)(const link&, Args...);

  link* prev;
  link* next;
  has_slots_interface* receiver;
  trampoline_fn trampoline;
  union {
    internal::generic_method aligner;
    unsigned char bytes[sizeof(internal::generic_method)];
  } method;
};

// A signal with the argument list Args.
template <class Policy, class... Args>
class notifier : public notifier_base, private Policy {
 public:
  notifier() : notifier_base(&on_receiver_gone, &on_receiver_copied) {}
  ~notifier() { disconnect_all(); }

  // Calls receiver->*method(args...) on every emission from now on.
  template <class Dest>
  void connect(Dest* receiver, void (Dest::*method)(Args...)) {
    static_assert(std::is_base_of<has_slots_interface, Dest>::value,
                  "a receiver must derive from sigslot::has_slots");
    using Method = void (Dest::*)(Args...);
    static_assert(sizeof(Method) <= sizeof(internal::generic_method),
                  "member function pointer too large");
    auto* new_link = new link_type{nullptr, nullptr, receiver, &call<Dest>, {}};
    memcpy(new_link->method.bytes, &method, sizeof(Method));
    {
      internal::lock_block<Policy> lock(this);
      append(new_link);
    }
    receiver->signal_connect(this);
  }

  void emit(Args... args) {
    internal::lock_block<Policy> lock(this);
    emission current(this);
    while (current.next != nullptr) {
      const link_type* called = current.next;
      current.next = called->next;
      called->trampoline(*called, args...);
    }
  }
  void operator()(Args... args) { emit(args...); }

  // Removes every connection to `receiver`.
  void disconnect(has_slots_interface* receiver) {
    on_receiver_gone(this, receiver);
    receiver->signal_disconnect(this);
  }

  // Removes every connection; the receivers forget this signal.
  void disconnect_all() {
    internal::lock_block<Policy> lock(this);
    while (head_ != nullptr) {
      link_type* first = head_;
      unlink(first);
      first->receiver->signal_disconnect(this);
      delete first;
    }
  }

  size_t connection_count() {
    internal::lock_block<Policy> lock(this);
    return length_;
  }

 private:
  using link_type = link<Args...>;

  // An emission in progress: the link it calls next, or null at the end.
  // Emissions nest when a slot emits the same signal; each one keeps its
  // own position, so the inner one cannot end the outer one early.
  struct emission {
// The signal points at this stack object only while it exists.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdangling-pointer"
#endif
    explicit emission(notifier* signal)
        : signal(signal), next(signal->head_), outer(signal->emissions_) {
      signal->emissions_ = this;
    }
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic pop
#endif
    ~emission() { signal->emissions_ = outer; }
    emission(const emission&) = delete;
    emission& operator=(const emission&) = delete;

    notifier* const signal;
    link_type* next;
    emission* const outer;
  };

  template <class Dest>
  static void call(const link_type& target, Args... args) {
    using Method = void (Dest::*)(Args...);
    Method method;
    memcpy(&method, target.method.bytes, sizeof(Method));
    // The slot may free `target`: nothing of it is read after this point.
    (static_cast<Dest*>(target.receiver)->*method)(args...);
  }

  void append(link_type* added) {
    added->prev = tail_;
    added->next = nullptr;
    if (tail_ != nullptr)
      tail_->next = added;
    else
      head_ = added;
    tail_ = added;
    ++length_;
    // An emission that has passed the old end calls the new link too.
    for (emission* e = emissions_; e != nullptr; e = e->outer) {
      if (e->next == nullptr)
        e->next = added;
    }
  }

  void unlink(link_type* gone) {
    for (emission* e = emissions_; e != nullptr; e = e->outer) {
      if (e->next == gone)
        e->next = gone->next;
    }
    (gone->prev != nullptr ? gone->prev->next : head_) = gone->next;
    (gone->next != nullptr ? gone->next->prev : tail_) = gone->prev;
    --length_;
  }

  static void on_receiver_gone(notifier_base* base, has_slots_interface* receiver) {
    notifier* self = static_cast<notifier*>(base);
    internal::lock_block<Policy> lock(self);
    link_type* current = self->head_;
    while (current != nullptr) {
      link_type* next = current->next;
      if (current->receiver == receiver) {
        self->unlink(current);
        delete current;
      }
      current = next;
    }
  }

  static void on_receiver_copied(notifier_base* base, const has_slots_interface* from,
                                 has_slots_interface* to) {
    notifier* self = static_cast<notifier*>(base);
    internal::lock_block<Policy> lock(self);
    // Links appended here point at `to`, so the walk may run past them.
    for (link_type* current = self->head_; current != nullptr; current = current->next) {
      if (current->receiver != from)
        continue;
      auto* copy = new link_type(*current);
      copy->receiver = to;
      self->append(copy);
    }
  }

  link_type* head_ = nullptr;
  link_type* tail_ = nullptr;
  size_t length_ = 0;
  emission* emissions_ = nullptr;
};

}  // namespace sigslot

#endif  // RTC_BASE_SIGSLOT_H_
