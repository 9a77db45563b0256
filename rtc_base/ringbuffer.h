#ifndef RTC_BASE_RINGBUFFER_H_
#define RTC_BASE_RINGBUFFER_H_

// A first-in first-out buffer over one growable array. Once it has grown to
// its working size it no longer allocates, which keeps allocation out of the
// critical sections of the message queue. An array grown large by a burst
// is given back when the buffer next runs empty.

#include <stddef.h>

#include <utility>
#include <vector>

namespace rtc {

template <class T>
class RingBuffer {
 public:
  bool empty() const { return size_ == 0; }
  size_t size() const { return size_; }

  void push_back(T value) {
    if (size_ == slots_.size())
      Grow();
    slots_[(head_ + size_) & (slots_.size() - 1)] = std::move(value);
    ++size_;
  }

  // Requires !empty().
  T& front() { return slots_[head_]; }
  void pop_front() {
    head_ = (head_ + 1) & (slots_.size() - 1);
    if (--size_ == 0)
      ReleaseIfLarge();
  }

  // Hands every element, oldest first, to `remove`; keeps, in order, those
  // for which it returns false.
  template <class Predicate>
  void RemoveIf(Predicate remove) {
    const size_t mask = slots_.size() - 1;
    size_t kept = 0;
    for (size_t i = 0; i < size_; ++i) {
      T& element = slots_[(head_ + i) & mask];
      if (!remove(element))
        slots_[(head_ + kept++) & mask] = std::move(element);
    }
    size_ = kept;
    if (size_ == 0)
      ReleaseIfLarge();
  }

 private:
  static constexpr size_t kRetainedSlots = 1024;

  void ReleaseIfLarge() {
    if (slots_.size() > kRetainedSlots) {
      std::vector<T>().swap(slots_);
      head_ = 0;
    }
  }

  // Doubles the array (a power of two, so positions wrap with a mask),
  // laying the elements out from the start again.
  void Grow() {
    std::vector<T> larger(slots_.empty() ? 16 : slots_.size() * 2);
    for (size_t i = 0; i < size_; ++i)
      larger[i] = std::move(slots_[(head_ + i) & (slots_.size() - 1)]);
    slots_.swap(larger);
    head_ = 0;
  }

  std::vector<T> slots_;
  size_t head_ = 0;
  size_t size_ = 0;
};

}  // namespace rtc

#endif  // RTC_BASE_RINGBUFFER_H_
