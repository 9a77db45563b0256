// Snapshots: the renderer's and the manager's calls that ask for them, and
// their way from a frame's draw to the listener.

#include "quon_render_snapshot.h"

#include <errno.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

#include "quon_png_writer.h"
#include "quon_render.h"
#include "quon_renderManager.h"
#include "rtc_base/logging.h"

namespace snapshot {

namespace {

// The conversion's terms for every sample value, in 16.16 fixed point:
// the luma's, and each chroma sample's share of red, green and blue.
// Rounded at 2^-16, the sum stays within a hair of the exact colour.
struct Terms {
  static constexpr int kShift = 16;
  int32_t luma[256];
  int32_t redFromCr[256], greenFromCb[256], greenFromCr[256], blueFromCb[256];

  Terms(bool limitedRange, colour::YuvMatrix matrix) {
    const colour::LumaWeights w = colour::WeightsOf(matrix);
    const double kg = 1.0 - w.kr - w.kb;
    const double lumaScale = limitedRange ? 255.0 / 219.0 : 1.0;
    const double chromaScale = limitedRange ? 255.0 / 224.0 : 1.0;
    const double lumaOffset = limitedRange ? 16.0 : 0.0;
    for (int v = 0; v < 256; ++v) {
      const double c = (v - 128.0) * chromaScale;
      // The half that rounds the sum to nearest rides on the luma.
      luma[v] = Fixed((v - lumaOffset) * lumaScale + 0.5);
      redFromCr[v] = Fixed(2.0 * (1.0 - w.kr) * c);
      blueFromCb[v] = Fixed(2.0 * (1.0 - w.kb) * c);
      greenFromCb[v] = Fixed(2.0 * (1.0 - w.kb) * w.kb / kg * c);
      greenFromCr[v] = Fixed(2.0 * (1.0 - w.kr) * w.kr / kg * c);
    }
  }
  static int32_t Fixed(double value) { return static_cast<int32_t>(std::lround(value * 65536.0)); }
  static uint8_t Sample(int32_t fixed) {
    return static_cast<uint8_t>(std::min(255, std::max(0, fixed >> kShift)));
  }
};

const char* KindName(int32_t kind) {
  return kind == kSnapshotFrame ? "frame" : "shown";
}

}  // namespace

bool FrameToRgba(const FrameDescription& frame, bool limitedRange, colour::YuvMatrix matrix,
                 std::vector<uint8_t>* rgba) {
  const size_t width = static_cast<size_t>(frame.width);
  const size_t height = static_cast<size_t>(frame.height);
  const size_t chromaW = (width + 1) / 2;
  try {
    rgba->resize(width * height * 4);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const bool biplanar = frame.layout != kFrameLayoutI420;
  const size_t yStride = frame.strides[0] != 0 ? static_cast<size_t>(frame.strides[0]) : width;
  const size_t cStride = frame.strides[1] != 0 ? static_cast<size_t>(frame.strides[1])
                                               : (biplanar ? chromaW * 2 : chromaW);
  const size_t vStride = frame.strides[2] != 0 ? static_cast<size_t>(frame.strides[2]) : chromaW;
  const Terms terms(limitedRange, matrix);
  // Where a pixel's Cb and Cr are: their plane, and the step between pairs.
  const size_t cbAt = frame.layout == kFrameLayoutNv21 ? 1 : 0;
  const size_t step = biplanar ? 2 : 1;
  for (size_t row = 0; row < height; ++row) {
    const uint8_t* y = frame.planes[0] + row * yStride;
    const uint8_t* cb = frame.planes[1] + (row / 2) * cStride + (biplanar ? cbAt : 0);
    const uint8_t* cr = biplanar ? frame.planes[1] + (row / 2) * cStride + (1 - cbAt)
                                 : frame.planes[2] + (row / 2) * vStride;
    uint8_t* out = rgba->data() + row * width * 4;
    for (size_t col = 0; col < width; ++col, out += 4) {
      const size_t c = (col / 2) * step;
      const int32_t luma = terms.luma[y[col]];
      out[0] = Terms::Sample(luma + terms.redFromCr[cr[c]]);
      out[1] = Terms::Sample(luma - terms.greenFromCb[cb[c]] - terms.greenFromCr[cr[c]]);
      out[2] = Terms::Sample(luma + terms.blueFromCb[cb[c]]);
      out[3] = 255;
    }
  }
  return true;
}

FrameDescription DescribeI420(const rtc::IVideoFrame& frame) {
  FrameDescription description;
  description.layout = kFrameLayoutI420;
  description.width = frame.Width();
  description.height = frame.Height();
  description.planes[0] = frame.YPlane();
  description.planes[1] = frame.UPlane();
  description.planes[2] = frame.VPlane();
  description.strides[0] = frame.YStride();
  description.strides[1] = frame.UStride();
  description.strides[2] = frame.VStride();
  return description;
}

}  // namespace snapshot

// --- Waiting ------------------------------------------------------------------------

void RenderSnapshots::Add(snapshot::Request request) {
  rtc::MutexLock lock(&mutex_);
  waiting_.push_back(std::move(request));
  any_ = true;
}

void RenderSnapshots::Take(EGLCore* core, SnapshotBatch* batch) {
  if (!any_.load())
    return;
  {
    rtc::MutexLock lock(&mutex_);
    batch->requests_.swap(waiting_);
    any_ = false;
  }
  const bool shown =
      std::any_of(batch->requests_.begin(), batch->requests_.end(),
                  [](const snapshot::Request& r) { return r.kind == kSnapshotShown; });
  if (shown)
    core->ReadBackNextFrame(&batch->shown_);
}

void RenderSnapshots::FailWaiting(const std::string& id) {
  std::vector<snapshot::Request> waiting;
  {
    rtc::MutexLock lock(&mutex_);
    waiting.swap(waiting_);
    any_ = false;
  }
  for (const snapshot::Request& request : waiting) {
    LOG(Warning) << "Snapshot"
                 << ": "
                 << "failed, the renderer was destroyed first. id=" << id
                 << ",kind=" << snapshot::KindName(request.kind);
    if (request.listener == nullptr)
      continue;
    SnapshotImage image;
    image.kind = request.kind;
    image.error = ECANCELED;
    image.path = request.path.empty() ? nullptr : request.path.c_str();
    request.listener->OnSnapshot(id, image);
  }
}

// --- One frame's ----------------------------------------------------------------------

void SnapshotBatch::Drawn(EGLCore* core, bool drawn) {
  if (requests_.empty())
    return;
  core->ReadBackNextFrame(nullptr);  // the frame failed before its read
  drawn_ = drawn;
}

void SnapshotBatch::Deliver(const std::string& id, const FrameDescription& frame, bool limitedRange,
                            colour::YuvMatrix matrix) {
  if (requests_.empty())
    return;
  std::vector<uint8_t> own;  // the frame's pixels, converted once
  bool converted = false;
  int ownError = 0;
  for (const snapshot::Request& request : requests_) {
    SnapshotImage image;
    image.kind = request.kind;
    image.path = request.path.empty() ? nullptr : request.path.c_str();
    if (!drawn_) {
      image.error = ENODEV;
    } else if (request.kind == kSnapshotShown) {
      if (shown_.taken) {
        image.pixels = shown_.rgba.data();
        image.width = shown_.width;
        image.height = shown_.height;
      } else {
        image.error = shown_.failed && shown_.rgba.empty() ? ENOMEM : EIO;
      }
    } else {
      if (!converted) {
        converted = true;
        ownError = snapshot::FrameToRgba(frame, limitedRange, matrix, &own) ? 0 : ENOMEM;
      }
      image.error = ownError;
      if (ownError == 0) {
        image.pixels = own.data();
        image.width = frame.width;
        image.height = frame.height;
      }
    }
    image.stride = image.width * 4;
    if (image.error == 0 && !request.path.empty())
      png::WriteFile(image.pixels, image.width, image.height, image.stride, request.path,
                     &image.error);
    if (image.error != 0)
      LOG_E(Warning, Errno, image.error)
          << "Snapshot"
          << ": "
          << "failed. id=" << id << ",kind=" << snapshot::KindName(request.kind)
          << (request.path.empty() ? "" : ",path=") << request.path;
    if (request.listener != nullptr)
      request.listener->OnSnapshot(id, image);
  }
}

// --- The calls that ask -----------------------------------------------------------------

bool PluginRender::TakeSnapshot(ISnapshotListener* listener, int32_t kind) {
  InFlight call(this);
  if (listener == nullptr || (kind != kSnapshotShown && kind != kSnapshotFrame)) {
    LOG(Warning) << static_cast<const void*>(this) << ": "
                 << "TakeSnapshot"
                 << ": "
                 << "refused, " << (listener == nullptr ? "the listener is null" : "unknown kind")
                 << ", kind=" << kind;
    return false;
  }
  m_snapshots->Add({listener, kind, std::string()});
  return true;
}

bool PluginRender::TakeSnapshotToFile(const std::string& path, ISnapshotListener* listener) {
  InFlight call(this);
  if (path.empty()) {
    LOG(Warning) << static_cast<const void*>(this) << ": "
                 << "TakeSnapshotToFile"
                 << ": "
                 << "refused, the path is empty";
    return false;
  }
  m_snapshots->Add({listener, kSnapshotShown, path});
  return true;
}
