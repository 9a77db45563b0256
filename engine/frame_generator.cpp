#include "engine/frame_generator.h"

#include <string.h>

#include <algorithm>

namespace engine {

namespace {

// BT.601 limited-range samples of the 75% bars, left to right.
constexpr Yuv kBars[8] = {
    {180, 128, 128},  // white
    {162, 44, 142},   // yellow
    {131, 156, 44},   // cyan
    {112, 72, 58},    // green
    {84, 184, 198},   // magenta
    {65, 100, 212},   // red
    {35, 212, 114},   // blue
    {16, 128, 128},   // black
};

// Position along [0, range] of a point moving one unit per step and
// bouncing off both ends.
int Bounce(int64_t step, int range) {
  if (range <= 0)
    return 0;
  const int64_t period = 2 * static_cast<int64_t>(range);
  int64_t t = step % period;
  if (t < 0)
    t += period;
  return static_cast<int>(t <= range ? t : period - t);
}

// `lo` + (`hi` - `lo`) * i / (n - 1), for i in [0, n).
uint8_t Ramp(int i, int n, int lo, int hi) {
  if (n <= 1)
    return static_cast<uint8_t>(lo);
  return static_cast<uint8_t>(lo + (static_cast<int64_t>(hi - lo) * i) / (n - 1));
}

void FillRect(uint8_t* plane, int stride, int x, int y, int w, int h, uint8_t value) {
  for (int row = y; row < y + h; ++row)
    memset(plane + static_cast<ptrdiff_t>(row) * stride + x, value, static_cast<size_t>(w));
}

}  // namespace

void FillFlat(const PlaneSet& planes, int width, int height, Yuv colour) {
  if (width <= 0 || height <= 0)
    return;
  const int cw = I420Frame::ChromaWidth(width);
  const int ch = I420Frame::ChromaHeight(height);
  FillRect(planes.y, planes.stride_y, 0, 0, width, height, colour.y);
  FillRect(planes.u, planes.stride_u, 0, 0, cw, ch, colour.u);
  FillRect(planes.v, planes.stride_v, 0, 0, cw, ch, colour.v);
}

FrameGenerator::FrameGenerator(int width, int height, Pattern pattern, Yuv colour)
    : width_(width), height_(height), pattern_(pattern), colour_(colour) {}

MarkerRect FrameGenerator::Marker(int64_t index) const {
  MarkerRect rect{0, 0, 0};
  if (width_ <= 0 || height_ <= 0)
    return rect;
  const int shorter = std::min(width_, height_);
  rect.size = std::min(shorter, std::max(2, (shorter / 8) & ~1));
  // Four pixels a frame across, two down: the marker visits every part of
  // the picture, and positions stay even.
  rect.x = Bounce(index * 4, width_ - rect.size) & ~1;
  rect.y = Bounce(index * 2, height_ - rect.size) & ~1;
  return rect;
}

void FrameGenerator::Draw(int64_t index, const PlaneSet& planes) const {
  if (width_ <= 0 || height_ <= 0)
    return;
  switch (pattern_) {
    case Pattern::kFlat:
      FillFlat(planes, width_, height_, colour_);
      break;
    case Pattern::kGradient:
      DrawGradient(planes);
      break;
    case Pattern::kColourBars:
      DrawColourBars(planes);
      break;
    case Pattern::kMovingMarker: {
      FillFlat(planes, width_, height_, colour_);
      const MarkerRect m = Marker(index);
      FillRect(planes.y, planes.stride_y, m.x, m.y, m.size, m.size, kWhite.y);
      // Chroma samples the square covers, partly covered ones at an odd edge included.
      const int cx0 = m.x / 2;
      const int cy0 = m.y / 2;
      const int cx1 = std::min(I420Frame::ChromaWidth(width_), (m.x + m.size + 1) / 2);
      const int cy1 = std::min(I420Frame::ChromaHeight(height_), (m.y + m.size + 1) / 2);
      FillRect(planes.u, planes.stride_u, cx0, cy0, cx1 - cx0, cy1 - cy0, kWhite.u);
      FillRect(planes.v, planes.stride_v, cx0, cy0, cx1 - cx0, cy1 - cy0, kWhite.v);
      break;
    }
  }
}

void FrameGenerator::DrawGradient(const PlaneSet& planes) const {
  const int cw = I420Frame::ChromaWidth(width_);
  const int ch = I420Frame::ChromaHeight(height_);
  for (int row = 0; row < height_; ++row) {
    uint8_t* y = planes.y + static_cast<ptrdiff_t>(row) * planes.stride_y;
    for (int x = 0; x < width_; ++x)
      y[x] = Ramp(x, width_, 16, 235);
  }
  for (int row = 0; row < ch; ++row) {
    uint8_t* u = planes.u + static_cast<ptrdiff_t>(row) * planes.stride_u;
    uint8_t* v = planes.v + static_cast<ptrdiff_t>(row) * planes.stride_v;
    memset(u, Ramp(row, ch, 16, 240), static_cast<size_t>(cw));
    for (int x = 0; x < cw; ++x)
      v[x] = Ramp(cw - 1 - x, cw, 16, 240);
  }
}

void FrameGenerator::DrawColourBars(const PlaneSet& planes) const {
  const int cw = I420Frame::ChromaWidth(width_);
  const int ch = I420Frame::ChromaHeight(height_);
  auto bar = [this](int x) { return kBars[static_cast<int64_t>(x) * 8 / width_]; };
  for (int row = 0; row < height_; ++row) {
    uint8_t* y = planes.y + static_cast<ptrdiff_t>(row) * planes.stride_y;
    for (int x = 0; x < width_; ++x)
      y[x] = bar(x).y;
  }
  for (int row = 0; row < ch; ++row) {
    uint8_t* u = planes.u + static_cast<ptrdiff_t>(row) * planes.stride_u;
    uint8_t* v = planes.v + static_cast<ptrdiff_t>(row) * planes.stride_v;
    for (int x = 0; x < cw; ++x) {
      // A chroma sample takes the bar of the left luma column it covers.
      u[x] = bar(2 * x).u;
      v[x] = bar(2 * x).v;
    }
  }
}

std::unique_ptr<I420Frame> FrameGenerator::Generate(int64_t index, int stride_y, int stride_u,
                                                    int stride_v) const {
  std::unique_ptr<I420Frame> frame =
      I420Frame::Create(width_, height_, stride_y, stride_u, stride_v);
  if (!frame)
    return nullptr;
  Draw(index, PlaneSet{frame->MutableYPlane(), frame->YStride(), frame->MutableUPlane(),
                       frame->UStride(), frame->MutableVPlane(), frame->VStride()});
  return frame;
}

}  // namespace engine
