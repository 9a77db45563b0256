// Capturing one 1080p frame to a file. JPEG: our writer against TurboJPEG
// compressing the same planes with a reused handle (then writing the same
// file), and against the route many capture paths take: convert to RGB with
// libyuv, then compress the RGB rows. BMP: our writer against the bare
// minimum at the same quality, the conversion the frame's ExportArgb makes
// (libyuv's, with the frame's matrix and bilinear chroma) into a ready
// buffer plus one fwrite; and, for reference, libyuv's plain conversion,
// which repeats chroma samples instead of interpolating them. Ours does more
// than the minimum (a zeroed buffer, a file replaced whole) and one thing
// the minimum does not: on ext4 it reserves the file's blocks before its
// write.
//
// The methods take turns round by round and each keeps its best round, so
// the ratios hold on a busy machine. Files go to a fresh folder under
// $TMPDIR (or /tmp), removed at the end.

#include <stdio.h>
#include <stdlib.h>

// After stdio.h.
#include <jpeglib.h>
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from.h>
#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/frame_generator.h"
#include "engine/i420_frame.h"
#include "harness.h"
#include "quon_render_image.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kQuality = 80;
// Many short rounds: a single capture takes a few milliseconds, so the
// best of many rounds finds the ones no other work interrupted.
constexpr int kRounds = 60;
constexpr int kCapturesPerRound = 1;

[[noreturn]] void Fail(const char* what) {
  fprintf(stderr, "bench_capture: %s\n", what);
  exit(1);
}

struct Method {
  const char* name;
  std::function<void()> capture;
  double best_ms = 1e300;
};

// Runs every method kCapturesPerRound times per round, in turns, after one
// warm-up round; keeps each method's best milliseconds per capture. The
// method that starts a round rotates, so that none always runs after the
// same one (and finds the caches as that one left them).
void Measure(std::vector<Method>& methods) {
  const int count = static_cast<int>(methods.size());
  for (int round = -1; round < kRounds; ++round) {
    for (int turn = 0; turn < count; ++turn) {
      Method& method = methods[(std::max(round, 0) + turn) % count];
      const auto start = std::chrono::steady_clock::now();
      for (int i = 0; i < kCapturesPerRound; ++i)
        method.capture();
      const auto end = std::chrono::steady_clock::now();
      if (round < 0)
        continue;
      const double ms =
          std::chrono::duration<double, std::milli>(end - start).count() / kCapturesPerRound;
      method.best_ms = std::min(method.best_ms, ms);
    }
  }
}

// The usual RGB route: libyuv to R, G, B bytes, then libjpeg from scanlines
// with the same quality and DCT as ours. The RGB buffer is reused.
class RgbJpegWriter {
 public:
  explicit RgbJpegWriter(const engine::I420Frame& frame)
      : frame_(frame), rgb_(static_cast<size_t>(frame.Width()) * frame.Height() * 3) {}

  void Write(const std::string& path) {
    const int w = frame_.Width();
    const int h = frame_.Height();
    libyuv::I420ToRAW(frame_.YPlane(), frame_.YStride(), frame_.UPlane(), frame_.UStride(),
                      frame_.VPlane(), frame_.VStride(), rgb_.data(), w * 3, w, h);
    remove(path.c_str());  // a new file, as WriteAll writes
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr)
      Fail("cannot open the RGB route's file");
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(w);
    cinfo.image_height = static_cast<JDIMENSION>(h);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, kQuality, TRUE);
    cinfo.dct_method = JDCT_IFAST;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
      JSAMPROW row = rgb_.data() + static_cast<size_t>(cinfo.next_scanline) * w * 3;
      jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    fclose(file);
  }

 private:
  const engine::I420Frame& frame_;
  std::vector<uint8_t> rgb_;
};

// The bare write: a new file each time. The previous one is removed first
// rather than truncated, which on ext4 would write its pages out on close
// (the file system's guard for files rewritten in place) and charge that
// to the peer.
void WriteAll(const std::string& path, const uint8_t* data, size_t size) {
  remove(path.c_str());
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr || fwrite(data, 1, size, file) != size)
    Fail("cannot write a peer's file");
  if (fclose(file) != 0)
    Fail("cannot close a peer's file");
}

}  // namespace

int main() {
  const char* tmp = getenv("TMPDIR");
  std::string dir =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/bench-capture-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr)
    Fail("cannot make a temporary folder");
  // A file of its own for each method, replaced round after round as an
  // app's capture file is: sharing one, each would pay for what the one
  // before left (a file system writing out a truncated file's pages first).
  const std::string jpg = dir + "/capture.jpg";
  const std::string bmp = dir + "/capture.bmp";
  const std::string turbo_jpg = dir + "/turbojpeg.jpg";
  const std::string rgb_jpg = dir + "/rgb.jpg";
  const std::string limit_bmp = dir + "/limit.bmp";
  const std::string nearest_bmp = dir + "/limit_nearest.bmp";

  engine::FrameGenerator generator(kWidth, kHeight, engine::FrameGenerator::Pattern::kGradient);
  std::unique_ptr<engine::I420Frame> frame = generator.Generate(0);
  if (!frame)
    Fail("cannot make the frame");

  tjhandle turbo = tjInitCompress();
  if (turbo == nullptr)
    Fail("tjInitCompress failed");
  const unsigned long turbo_capacity = tjBufSize(kWidth, kHeight, TJSAMP_420);
  unsigned char* turbo_buffer = tjAlloc(static_cast<int>(turbo_capacity));
  const unsigned char* planes[3] = {frame->YPlane(), frame->UPlane(), frame->VPlane()};
  const int strides[3] = {frame->YStride(), frame->UStride(), frame->VStride()};

  RgbJpegWriter rgb_writer(*frame);

  const size_t argb_bytes = static_cast<size_t>(kWidth) * kHeight * 4;
  std::vector<uint8_t> argb(argb_bytes);

  std::vector<Method> jpeg_methods = {
      {"ours",
       [&] {
         if (!write_JPEG_file(frame.get(), jpg, kQuality))
           Fail("write_JPEG_file failed");
       }},
      {"turbojpeg",
       [&] {
         unsigned long size = turbo_capacity;
         if (tjCompressFromYUVPlanes(turbo, planes, kWidth, strides, kHeight, TJSAMP_420,
                                     &turbo_buffer, &size, kQuality,
                                     TJFLAG_FASTDCT | TJFLAG_NOREALLOC) != 0)
           Fail(tjGetErrorStr2(turbo));
         WriteAll(turbo_jpg, turbo_buffer, size);
       }},
      {"rgb", [&] { rgb_writer.Write(rgb_jpg); }},
  };
  std::vector<Method> bmp_methods = {
      {"ours",
       [&] {
         if (!write_BMP_file(frame.get(), bmp))
           Fail("write_BMP_file failed");
       }},
      {"limit",
       [&] {
         // The generator's frames are limited-range BT.601, untagged.
         libyuv::I420ToARGBMatrixFilter(frame->YPlane(), frame->YStride(), frame->UPlane(),
                                        frame->UStride(), frame->VPlane(), frame->VStride(),
                                        argb.data(), kWidth * 4, &libyuv::kYuvI601Constants, kWidth,
                                        kHeight, libyuv::kFilterBilinear);
         WriteAll(limit_bmp, argb.data(), argb_bytes);
       }},
      {"limit_nearest",
       [&] {
         libyuv::I420ToARGB(frame->YPlane(), frame->YStride(), frame->UPlane(), frame->UStride(),
                            frame->VPlane(), frame->VStride(), argb.data(), kWidth * 4, kWidth,
                            kHeight);
         WriteAll(nearest_bmp, argb.data(), argb_bytes);
       }},
  };
  Measure(jpeg_methods);
  Measure(bmp_methods);

  const double ours = jpeg_methods[0].best_ms;
  bench::ReportBeside("capture.jpeg.1080p.", "ms", ours, "turbojpeg_ms", jpeg_methods[1].best_ms,
                      "ratio_turbojpeg", "ms");
  bench::Report("capture.jpeg.1080p.ratio_rgb", ours / jpeg_methods[2].best_ms, "x");
  bench::Report("capture.bmp.1080p.ms", bmp_methods[0].best_ms, "ms");
  bench::Report("capture.bmp.1080p.limit_ms", bmp_methods[1].best_ms, "ms");
  bench::Report("capture.bmp.1080p.ratio_limit", bmp_methods[0].best_ms / bmp_methods[1].best_ms,
                "x");
  bench::Report("capture.bmp.1080p.ratio_limit_nearest",
                bmp_methods[0].best_ms / bmp_methods[2].best_ms, "x");

  tjFree(turbo_buffer);
  tjDestroy(turbo);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return 0;
}
