#ifndef TESTS_SUPPORT_GUARDED_PLANE_H_
#define TESTS_SUPPORT_GUARDED_PLANE_H_

#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

// A byte buffer whose last byte sits right before an inaccessible page, so
// that a read one byte past its end faults instead of passing silently.
class GuardedPlane {
 public:
  explicit GuardedPlane(size_t size, uint8_t fill = 0) : size_(size) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    mapped_ = (size + page - 1) / page * page + page;
    base_ = static_cast<uint8_t*>(
        mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (base_ == MAP_FAILED) {
      base_ = nullptr;
      return;
    }
    mprotect(base_ + mapped_ - page, page, PROT_NONE);
    data_ = base_ + mapped_ - page - size;
    memset(data_, fill, size);
  }
  ~GuardedPlane() {
    if (base_ != nullptr)
      munmap(base_, mapped_);
  }
  GuardedPlane(const GuardedPlane&) = delete;
  GuardedPlane& operator=(const GuardedPlane&) = delete;

  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  uint8_t& operator[](size_t i) { return data_[i]; }

 private:
  size_t size_;
  size_t mapped_ = 0;
  uint8_t* base_ = nullptr;
  uint8_t* data_ = nullptr;
};

#endif  // TESTS_SUPPORT_GUARDED_PLANE_H_
