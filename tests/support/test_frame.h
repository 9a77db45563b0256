#ifndef TESTS_SUPPORT_TEST_FRAME_H_
#define TESTS_SUPPORT_TEST_FRAME_H_

#include <string.h>

#include <atomic>
#include <vector>

#include "support/stub_frame.h"

// A flat-coloured I420 frame that counts the copies made of it and the
// copies destroyed, and can be told to refuse copying.
class TestFrame : public StubFrame {
 public:
  struct Counters {
    std::atomic<int> clones{0};
    std::atomic<int> copies_destroyed{0};
    bool clone_returns_null = false;
    bool planes_null = false;  // the frame and its copies hand out no planes
  };

  TestFrame(int w, int h, Counters* counters, uint8_t y = 128)
      : StubFrame(w, h),
        counters_(counters),
        y_(static_cast<size_t>(w) * h, y),
        u_(static_cast<size_t>((w + 1) / 2) * ((h + 1) / 2), 128),
        v_(u_.size(), 128) {}
  ~TestFrame() override {
    if (is_copy_)
      ++counters_->copies_destroyed;
  }

  const uint8_t* YPlane() const override { return counters_->planes_null ? nullptr : y_.data(); }
  const uint8_t* UPlane() const override { return counters_->planes_null ? nullptr : u_.data(); }
  const uint8_t* VPlane() const override { return counters_->planes_null ? nullptr : v_.data(); }
  int32_t YStride() const override { return width_; }
  int32_t UStride() const override { return (width_ + 1) / 2; }
  int32_t VStride() const override { return (width_ + 1) / 2; }
  rtc::IVideoFrame* Clone() const override {
    ++counters_->clones;
    if (counters_->clone_returns_null)
      return nullptr;
    auto* copy = new TestFrame(*this);
    copy->is_copy_ = true;
    return copy;
  }
  int ExportArgb(uint32_t fourcc, uint8_t* buffer, size_t size, int32_t stride) const override {
    const size_t needed = static_cast<size_t>(stride) * height_;
    if (fourcc != rtc::kFourccArgb || buffer == nullptr || stride < width_ * 4 || size < needed)
      return -1;
    memset(buffer, y_.empty() ? 0 : y_[0], needed);
    return 0;
  }

 private:
  TestFrame(const TestFrame&) = default;

  Counters* counters_;
  std::vector<uint8_t> y_, u_, v_;
  bool is_copy_ = false;
};

#endif  // TESTS_SUPPORT_TEST_FRAME_H_
