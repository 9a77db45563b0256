// One-frame capture to BMP and JPEG files, checked by readers other than the
// writers: libjpeg's decoder (raw planes and quantisation tables), libyuv's
// conversion for the BMP pixels, and PIL as a second decoder of both files.
// Planes end at guard pages, so any read past a plane faults.

#include <setjmp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/fsuid.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <limits.h>
#include <time.h>
#include <unistd.h>

// After stdio.h.
#include <jpeglib.h>
#include <libyuv/convert_argb.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/frame_generator.h"
#include "engine/i420_frame.h"
#include "quon_render_frame.h"
#include "quon_render_image.h"
#include "rtc_base/logging.h"
#include "support/deadline.h"
#include "support/log_capture.h"
#include "support/guarded_plane.h"
#include "support/stub_frame.h"

namespace {

using engine::FrameGenerator;
using engine::I420Frame;

// --- Helpers -------------------------------------------------------------------

using test_support::RecordingSink;

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in)
    return {};
  std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// The visible samples of a plane, rows packed.
std::vector<uint8_t> Visible(const uint8_t* plane, int stride, int width, int rows) {
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(width) * rows);
  for (int row = 0; row < rows; ++row)
    out.insert(out.end(), plane + static_cast<ptrdiff_t>(row) * stride,
               plane + static_cast<ptrdiff_t>(row) * stride + width);
  return out;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty())
    return 0;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  const double mse = sum / static_cast<double>(a.size());
  return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// A frame drawn by the generator into three planes that each end right
// after their last visible sample, at a guard page. Strides of 0 are
// reported as 0 (the planes are then tight).
struct GuardedFrame {
  GuardedFrame(int w, int h, FrameGenerator::Pattern pattern, int sy, int su, int sv)
      : width(w),
        height(h),
        cw(I420Frame::ChromaWidth(w)),
        ch(I420Frame::ChromaHeight(h)),
        stride_y(sy != 0 ? sy : w),
        stride_u(su != 0 ? su : cw),
        stride_v(sv != 0 ? sv : cw),
        y(static_cast<size_t>(stride_y) * (h - 1) + w),
        u(static_cast<size_t>(stride_u) * (ch - 1) + cw),
        v(static_cast<size_t>(stride_v) * (ch - 1) + cw) {
    FrameGenerator(w, h, pattern)
        .Draw(3, engine::PlaneSet{y.data(), stride_y, u.data(), stride_u, v.data(), stride_v});
    frame = I420Frame::Wrap(w, h, y.data(), sy, u.data(), su, v.data(), sv);
  }

  std::vector<uint8_t> VisibleY() const { return Visible(y.data(), stride_y, width, height); }
  std::vector<uint8_t> VisibleU() const { return Visible(u.data(), stride_u, cw, ch); }
  std::vector<uint8_t> VisibleV() const { return Visible(v.data(), stride_v, cw, ch); }

  // libyuv's 32-bit pixels of the frame (BT.601 limited range, chroma
  // upsampled bilinearly), rows packed.
  std::vector<uint8_t> Argb() const {
    std::vector<uint8_t> argb(static_cast<size_t>(width) * height * 4);
    libyuv::I420ToARGBMatrixFilter(y.data(), stride_y, u.data(), stride_u, v.data(), stride_v,
                                   argb.data(), width * 4, &libyuv::kYuvI601Constants, width,
                                   height, libyuv::kFilterBilinear);
    return argb;
  }

  int width, height, cw, ch, stride_y, stride_u, stride_v;
  GuardedPlane y, u, v;
  std::unique_ptr<I420Frame> frame;
};

// A frame that reports any size without having planes: for the size checks.
class FakeFrame : public StubFrame {
 public:
  FakeFrame(int w, int h, int export_result = 0) : StubFrame(w, h), result_(export_result) {}
  int ExportArgb(uint32_t, uint8_t*, size_t, int32_t) const override {
    ++export_calls;
    return result_;
  }
  mutable int export_calls = 0;

 private:
  int result_;
};

// --- A JPEG decoder: libjpeg in raw mode, so the planes come back as stored --------

struct DecodedJpeg {
  std::string error;  // empty when decoded
  int width = 0;
  int height = 0;
  int h_samp[3] = {};
  int v_samp[3] = {};
  std::vector<uint8_t> padded[3];  // whole blocks, as the decoder writes them
  int padded_width[3] = {};
  int plane_width[3] = {};
  int plane_height[3] = {};
  std::vector<uint16_t> quant[2];  // luma and chroma tables, natural order

  std::vector<uint8_t> Plane(int c) const {
    return Visible(padded[c].data(), padded_width[c], plane_width[c], plane_height[c]);
  }
};

struct DecodeErrors {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

void OnDecodeError(j_common_ptr cinfo) {
  longjmp(reinterpret_cast<DecodeErrors*>(cinfo->err)->jump, 1);
}

// Everything that outlives a library error lives in `out`.
void DecodeInto(const std::vector<uint8_t>* data, jpeg_decompress_struct* cinfo,
                DecodeErrors* errors, DecodedJpeg* out) {
  cinfo->err = jpeg_std_error(&errors->pub);
  errors->pub.error_exit = OnDecodeError;
  if (setjmp(errors->jump) != 0) {
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(reinterpret_cast<j_common_ptr>(cinfo), message);
    out->error = message;
    return;
  }
  jpeg_create_decompress(cinfo);
  jpeg_mem_src(cinfo, data->data(), static_cast<unsigned long>(data->size()));
  jpeg_read_header(cinfo, TRUE);
  if (cinfo->num_components != 3) {
    out->error = "not three components";
    return;
  }
  for (int t = 0; t < 2; ++t) {
    if (cinfo->quant_tbl_ptrs[t] != nullptr)
      out->quant[t].assign(cinfo->quant_tbl_ptrs[t]->quantval,
                           cinfo->quant_tbl_ptrs[t]->quantval + 64);
  }
  cinfo->raw_data_out = TRUE;
  cinfo->out_color_space = JCS_YCbCr;
  jpeg_start_decompress(cinfo);
  out->width = static_cast<int>(cinfo->output_width);
  out->height = static_cast<int>(cinfo->output_height);
  for (int c = 0; c < 3; ++c) {
    const jpeg_component_info& comp = cinfo->comp_info[c];
    out->h_samp[c] = comp.h_samp_factor;
    out->v_samp[c] = comp.v_samp_factor;
    out->padded_width[c] = static_cast<int>(comp.width_in_blocks) * DCTSIZE;
    out->plane_width[c] = static_cast<int>(comp.downsampled_width);
    out->plane_height[c] = static_cast<int>(comp.downsampled_height);
    const size_t rows = static_cast<size_t>(cinfo->total_iMCU_rows) * comp.v_samp_factor * DCTSIZE;
    out->padded[c].assign(rows * out->padded_width[c], 0);
  }
  const int group = cinfo->max_v_samp_factor * DCTSIZE;
  while (cinfo->output_scanline < cinfo->output_height) {
    const int imcu = static_cast<int>(cinfo->output_scanline) / group;
    JSAMPROW rows[3][2 * DCTSIZE];
    JSAMPARRAY tables[3];
    for (int c = 0; c < 3; ++c) {
      const int n = out->v_samp[c] * DCTSIZE;
      for (int i = 0; i < n && i < 2 * DCTSIZE; ++i)
        rows[c][i] =
            out->padded[c].data() + static_cast<size_t>(imcu * n + i) * out->padded_width[c];
      tables[c] = rows[c];
    }
    if (jpeg_read_raw_data(cinfo, tables, static_cast<JDIMENSION>(group)) == 0) {
      out->error = "short file";
      return;
    }
  }
  jpeg_finish_decompress(cinfo);
}

DecodedJpeg DecodeJpeg(const std::string& path) {
  const std::vector<uint8_t> data = ReadFile(path);
  DecodedJpeg out;
  if (data.empty()) {
    out.error = "no file";
    return out;
  }
  jpeg_decompress_struct cinfo{};
  DecodeErrors errors{};
  DecodeInto(&data, &cinfo, &errors, &out);
  jpeg_destroy_decompress(&cinfo);
  return out;
}

// The JPEG file as a JFIF reader shows it: libjpeg's RGB, rows packed.
// Empty when it does not decode.
std::vector<uint8_t> DecodeJpegRgb(const std::string& path) {
  const std::vector<uint8_t> data = ReadFile(path);
  std::vector<uint8_t> rgb;
  jpeg_decompress_struct cinfo{};
  DecodeErrors errors{};
  cinfo.err = jpeg_std_error(&errors.pub);
  errors.pub.error_exit = OnDecodeError;
  if (data.empty() || setjmp(errors.jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    return {};
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  const size_t row_bytes = static_cast<size_t>(cinfo.output_width) * 3;
  rgb.resize(row_bytes * cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = rgb.data() + cinfo.output_scanline * row_bytes;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return rgb;
}

// R'G'B' (0..255, unrounded) of one Y'CbCr sample by the textbook
// equations: `kr`, `kb` the matrix's red and blue luma weights.
void ReferenceRgb(double y, double u, double v, bool limited, double kr, double kb, double rgb[3]) {
  const double luma = limited ? (y - 16) / 219.0 : y / 255.0;
  const double cb = (u - 128) / (limited ? 224.0 : 255.0);
  const double cr = (v - 128) / (limited ? 224.0 : 255.0);
  const double r = luma + 2 * (1 - kr) * cr;
  const double b = luma + 2 * (1 - kb) * cb;
  const double g = (luma - kr * r - kb * b) / (1 - kr - kb);
  rgb[0] = r * 255;
  rgb[1] = g * 255;
  rgb[2] = b * 255;
}

// --- Fixture -------------------------------------------------------------------

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rtc::logging_internal::ResetForTesting();
    rtc::LogLine::AddSink(&sink_, rtc::LogSeverity::Verbose);
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                          "/capture-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    rtc::LogLine::RemoveSink(&sink_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::vector<std::string> Lines() { return sink_.lines(); }
  bool Logged(const std::string& text) {
    for (const std::string& line : Lines())
      if (line.find(text) != std::string::npos)
        return true;
    return false;
  }
  // Whether any writer reported success.
  bool LoggedOk() {
    return Logged("(quon_render:237): write_BMP_file: ok") ||
           Logged("(quon_render:135): write_JPEG_file: ok");
  }

  std::string dir_;
  RecordingSink sink_;
};

// --- File format choice --------------------------------------------------------

TEST_F(CaptureTest, ExtensionBmpInAnyCaseGivesBmpEverythingElseJpeg) {
  GuardedFrame f(16, 8, FrameGenerator::Pattern::kColourBars, 0, 0, 0);
  const struct {
    const char* name;
    bool bmp;
  } cases[] = {
      {"photo.BMP", true},  {"a.b.Bmp", true},  {"photo.bmp", true},  {"photo.bmpx", false},
      {"photo.jpg", false}, {"photo", false},   {"photo.", false},    {"bmp", false},
      {"photo.bm", false},  {"x.bmp.jpg", false},
  };
  for (const auto& c : cases) {
    const std::string path = Path(c.name);
    EXPECT_TRUE(Render2SaveImage(f.frame.get(), path, 90)) << c.name;
    const std::vector<uint8_t> bytes = ReadFile(path);
    ASSERT_GE(bytes.size(), 2u) << c.name;
    if (c.bmp) {
      EXPECT_TRUE(bytes[0] == 'B' && bytes[1] == 'M') << c.name;
    } else {
      EXPECT_TRUE(bytes[0] == 0xFF && bytes[1] == 0xD8) << c.name;
    }
  }
  EXPECT_TRUE(Logged("(quon_render:247): Render2SaveImage: begin\n"));
  EXPECT_TRUE(Logged("(quon_render:237): write_BMP_file: ok\n"));
  EXPECT_TRUE(Logged("(quon_render:135): write_JPEG_file: ok\n"));
}

TEST_F(CaptureTest, NullFrameOrEmptyNameWritesNothing) {
  GuardedFrame f(4, 4, FrameGenerator::Pattern::kFlat, 0, 0, 0);
  EXPECT_FALSE(Render2SaveImage(nullptr, Path("x.jpg"), 90));
  EXPECT_FALSE(Render2SaveImage(f.frame.get(), "", 90));
  const std::string warning =
      "(quon_render:244): Render2SaveImage: frame is null or filename is null.\n";
  int warnings = 0;
  for (const std::string& line : Lines())
    warnings += line.find(warning) != std::string::npos;
  EXPECT_EQ(warnings, 2);
  EXPECT_FALSE(Logged("Render2SaveImage: begin"));

  // The writers on their own refuse a null frame too.
  EXPECT_FALSE(write_BMP_file(nullptr, Path("y.bmp")));
  EXPECT_FALSE(write_JPEG_file(nullptr, Path("y.jpg"), 90));
  EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

// --- BMP -----------------------------------------------------------------------

TEST_F(CaptureTest, BmpOfTwoByTwoFrameHasExactHeaderAndLibyuvPixels) {
  std::unique_ptr<I420Frame> frame = I420Frame::Create(2, 2);
  const uint8_t luma[4] = {16, 81, 145, 235};
  memcpy(frame->MutableYPlane(), luma, 4);
  frame->MutableUPlane()[0] = 90;
  frame->MutableVPlane()[0] = 200;
  const std::string path = Path("tiny.bmp");
  ASSERT_TRUE(write_BMP_file(frame.get(), path));

  const std::vector<uint8_t> bytes = ReadFile(path);
  ASSERT_EQ(bytes.size(), 74u);
  const std::vector<uint8_t> header = {
      'B', 'M', 74, 0, 0, 0, 0, 0, 0, 0, 58, 0, 0, 0,  // file header
      40, 0, 0, 0,                                       // header size (of a 44-byte block)
      2, 0, 0, 0,                                        // width
      0xFE, 0xFF, 0xFF, 0xFF,                            // height -2: top row first
      1, 0, 32, 0,                                       // planes, bits per pixel
      0, 0, 0, 0,                                        // uncompressed
      16, 0, 0, 0,                                       // image size
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,    // resolutions, colours
      0, 0, 0, 0,                                        // the block's last four bytes
  };
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 58), header);

  std::vector<uint8_t> argb(16);
  libyuv::I420ToARGB(frame->YPlane(), 2, frame->UPlane(), 1, frame->VPlane(), 1, argb.data(), 8, 2,
                     2);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 58, bytes.end()), argb);
}

TEST_F(CaptureTest, BmpPixelsOfOddPaddedAndZeroStrideFrames) {
  const struct {
    int w, h, sy, su, sv;
  } cases[] = {{5, 3, 0, 0, 0}, {33, 17, 0, 0, 0}, {1, 1, 0, 0, 0}, {30, 7, 48, 24, 32}};
  for (const auto& c : cases) {
    GuardedFrame f(c.w, c.h, FrameGenerator::Pattern::kColourBars, c.sy, c.su, c.sv);
    const std::string path = Path("odd.bmp");
    ASSERT_TRUE(write_BMP_file(f.frame.get(), path)) << c.w << "x" << c.h;
    const std::vector<uint8_t> bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), 58u + static_cast<size_t>(c.w) * c.h * 4) << c.w << "x" << c.h;
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 58, bytes.end()), f.Argb()) << c.w << "x" << c.h;
  }
}

// A frame pushed as NV12 or NV21 (padded rows) is captured through an
// I420 copy: its planes are the picture's, the BMP has its full-range
// BT.601 pixels and the JPEG decodes to its planes.
TEST_F(CaptureTest, TwoPlaneFramesAreCapturedAsTheirI420Picture) {
  constexpr int w = 33, h = 17, yStride = 40, uvStride = 38;
  GuardedFrame f(w, h, FrameGenerator::Pattern::kGradient, 0, 0, 0);
  const std::vector<uint8_t> y = f.VisibleY(), u = f.VisibleU(), v = f.VisibleV();
  const int cw = (w + 1) / 2, ch = (h + 1) / 2;
  for (int32_t layout : {kFrameLayoutNv12, kFrameLayoutNv21}) {
    SCOPED_TRACE(layout == kFrameLayoutNv12 ? "NV12" : "NV21");
    std::vector<uint8_t> luma(static_cast<size_t>(yStride) * h, 1);
    std::vector<uint8_t> pairs(static_cast<size_t>(uvStride) * ch, 2);
    for (int row = 0; row < h; ++row)
      std::copy_n(&y[static_cast<size_t>(row) * w], w, &luma[static_cast<size_t>(row) * yStride]);
    for (int row = 0; row < ch; ++row)
      for (int col = 0; col < cw; ++col) {
        const size_t at = static_cast<size_t>(row) * uvStride + col * 2;
        const size_t c = static_cast<size_t>(row) * cw + col;
        pairs[at] = layout == kFrameLayoutNv12 ? u[c] : v[c];
        pairs[at + 1] = layout == kFrameLayoutNv12 ? v[c] : u[c];
      }
    FrameDescription d;
    d.layout = layout;
    d.width = w;
    d.height = h;
    d.planes[0] = luma.data();
    d.planes[1] = pairs.data();
    d.strides[0] = yStride;
    d.strides[1] = uvStride;
    ASSERT_EQ(pushed_frame::FaultOf(d), nullptr);
    pushed_frame::OwnedI420Frame copy(d, false, colour::YuvMatrix::kBt601);
    EXPECT_EQ(std::vector<uint8_t>(copy.YPlane(), copy.YPlane() + y.size()), y);
    EXPECT_EQ(std::vector<uint8_t>(copy.UPlane(), copy.UPlane() + u.size()), u);
    EXPECT_EQ(std::vector<uint8_t>(copy.VPlane(), copy.VPlane() + v.size()), v);

    int error = -1;
    ASSERT_TRUE(
        Render2SaveImage(&copy, Path("nv.bmp"), 90, false, colour::YuvMatrix::kBt601, &error));
    EXPECT_EQ(error, 0);
    const std::vector<uint8_t> bytes = ReadFile(Path("nv.bmp"));
    ASSERT_EQ(bytes.size(), 58u + static_cast<size_t>(w) * h * 4);
    std::vector<uint8_t> argb(static_cast<size_t>(w) * h * 4);
    libyuv::J420ToARGB(y.data(), w, u.data(), cw, v.data(), cw, argb.data(), w * 4, w, h);
    for (size_t i = 0; i < argb.size(); ++i)
      ASSERT_NEAR(bytes[58 + i], argb[i], 2) << "byte " << i;

    ASSERT_TRUE(
        Render2SaveImage(&copy, Path("nv.jpg"), 90, false, colour::YuvMatrix::kBt601, &error));
    const DecodedJpeg jpeg = DecodeJpeg(Path("nv.jpg"));
    ASSERT_EQ(jpeg.error, "");
    EXPECT_GT(Psnr(jpeg.Plane(0), y), 35.0);
    EXPECT_GT(Psnr(jpeg.Plane(1), u), 35.0);
    EXPECT_GT(Psnr(jpeg.Plane(2), v), 35.0);
  }
}

TEST_F(CaptureTest, BmpRefusesSizesItCannotWrite) {
  // 40000 x 40000 x 4 bytes does not fit the 32-bit size fields.
  FakeFrame huge(40000, 40000);
  EXPECT_FALSE(write_BMP_file(&huge, Path("huge.bmp")));
  EXPECT_EQ(huge.export_calls, 0);
  EXPECT_TRUE(Logged("write_BMP_file: frame too large for a BMP file. width=40000, height=40000"));

  FakeFrame empty(0, 4), negative(4, -2);
  EXPECT_FALSE(write_BMP_file(&empty, Path("empty.bmp")));
  EXPECT_FALSE(write_BMP_file(&negative, Path("negative.bmp")));
  EXPECT_TRUE(Logged("write_BMP_file: invalid frame size. width=0, height=4"));
  EXPECT_TRUE(Logged("write_BMP_file: invalid frame size. width=4, height=-2"));
  EXPECT_FALSE(LoggedOk());
  EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

// Engines disagree on ExportArgb's success value: a byte count or true
// still gives a file, and pixels the engine left alone read as zero.
TEST_F(CaptureTest, BmpTakesAnyNonNegativeExportResultAsSuccess) {
  for (int result : {1, 4 * 4 * 4}) {
    SCOPED_TRACE(result);
    FakeFrame lazy(4, 4, result);
    const std::string path = Path("export-" + std::to_string(result) + ".bmp");
    ASSERT_TRUE(Render2SaveImage(&lazy, path, 90));
    const std::vector<uint8_t> bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), 58u + 4 * 4 * 4);
    EXPECT_TRUE(std::all_of(bytes.begin() + 58, bytes.end(), [](uint8_t b) { return b == 0; }));
  }
}

TEST_F(CaptureTest, BmpOfFrameThatCannotExportWritesNothing) {
  FakeFrame refusing(4, 4, /*export_result=*/-1);
  const std::string path = Path("refused.bmp");
  EXPECT_FALSE(Render2SaveImage(&refusing, path, 90));
  EXPECT_EQ(refusing.export_calls, 1);
  EXPECT_TRUE(Logged("write_BMP_file: ExportArgb failed. result=-1, filename=" + path));
  EXPECT_FALSE(LoggedOk());
  EXPECT_FALSE(Exists(path));

  // An earlier capture of the same name survives the failed one.
  std::ofstream(path) << "earlier";
  EXPECT_FALSE(write_BMP_file(&refusing, path));
  const std::vector<uint8_t> kept = ReadFile(path);
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "earlier");
}

// --- JPEG ----------------------------------------------------------------------

TEST_F(CaptureTest, JpegDecodesToTheFramePlanes) {
  const struct {
    const char* what;
    int w, h, sy, su, sv;
  } cases[] = {
      {"even", 640, 360, 0, 0, 0},          {"odd", 641, 361, 641, 321, 321},
      {"tiny odd", 5, 3, 5, 3, 3},          {"one pixel", 1, 1, 1, 1, 1},
      {"padded rows", 100, 50, 128, 64, 72}, {"zero strides, odd width", 33, 17, 0, 0, 0},
      {"zero strides, even", 64, 40, 0, 0, 0}, {"height not a multiple of 16", 48, 23, 64, 32, 32},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.what << " " << c.w << "x" << c.h);
    GuardedFrame f(c.w, c.h, FrameGenerator::Pattern::kGradient, c.sy, c.su, c.sv);
    const std::string path = Path("frame.jpg");
    ASSERT_TRUE(write_JPEG_file(f.frame.get(), path, 90));

    const DecodedJpeg jpeg = DecodeJpeg(path);
    ASSERT_EQ(jpeg.error, "");
    EXPECT_EQ(jpeg.width, c.w);
    EXPECT_EQ(jpeg.height, c.h);
    EXPECT_EQ(jpeg.h_samp[0], 2);
    EXPECT_EQ(jpeg.v_samp[0], 2);
    EXPECT_EQ(jpeg.h_samp[1], 1);
    EXPECT_EQ(jpeg.v_samp[2], 1);
    EXPECT_GT(Psnr(jpeg.Plane(0), f.VisibleY()), 35.0);
    EXPECT_GT(Psnr(jpeg.Plane(1), f.VisibleU()), 35.0);
    EXPECT_GT(Psnr(jpeg.Plane(2), f.VisibleV()), 35.0);
  }
}

// A limited-range levels clip (left half Y 16, right half Y 235): captured
// as limited it is stretched to the full range a JFIF file is read in, so
// black decodes to at most 3 and white to at least 252; captured as it is,
// its levels stay where they were.
TEST_F(CaptureTest, LimitedRangeJpegIsStretchedToFullRange) {
  const int w = 32, h = 16;
  std::vector<uint8_t> y(w * h), uv((w / 2) * (h / 2), 128);
  for (int row = 0; row < h; ++row)
    for (int col = 0; col < w; ++col)
      y[row * w + col] = col < w / 2 ? 16 : 235;
  auto frame = I420Frame::Wrap(w, h, y.data(), 0, uv.data(), 0, uv.data(), 0);
  for (bool limited : {true, false}) {
    SCOPED_TRACE(limited ? "limited" : "as it is");
    const std::string path = Path(limited ? "levels_limited.jpg" : "levels.jpg");
    ASSERT_TRUE(Render2SaveImage(frame.get(), path, 95, limited));
    const DecodedJpeg jpeg = DecodeJpeg(path);
    ASSERT_EQ(jpeg.error, "");
    const std::vector<uint8_t> luma = jpeg.Plane(0);
    const int black = luma[8 * w + 4], white = luma[8 * w + 27];
    if (limited) {
      EXPECT_LE(black, 3);
      EXPECT_GE(white, 252);
    } else {
      EXPECT_NEAR(black, 16, 3);
      EXPECT_NEAR(white, 235, 3);
    }
  }
}

// Every range and matrix an engine can describe: a JFIF reader shows the
// JPEG file, and a BMP reader the engine frame's pixels, in the colours of
// the textbook equations for that description.
TEST_F(CaptureTest, BothWritersGiveTheColoursOfEveryRangeAndMatrix) {
  using colour::YuvMatrix;
  const struct {
    bool limited;
    int matrix;
    YuvMatrix yuv;
    double kr, kb;
  } descriptions[] = {
      {true, 601, YuvMatrix::kBt601, 0.299, 0.114},
      {false, 601, YuvMatrix::kBt601, 0.299, 0.114},
      {true, 709, YuvMatrix::kBt709, 0.2126, 0.0722},
      {false, 709, YuvMatrix::kBt709, 0.2126, 0.0722},
      {true, 2020, YuvMatrix::kBt2020, 0.2627, 0.0593},
      {false, 2020, YuvMatrix::kBt2020, 0.2627, 0.0593},
  };
  const engine::Yuv colours[] = {{120, 100, 170}, {150, 160, 90}, {60, 140, 120}, {200, 110, 135}};
  for (const auto& d : descriptions) {
    SCOPED_TRACE(testing::Message() << (d.limited ? "limited" : "full") << " BT." << d.matrix);
    for (const engine::Yuv& colour : colours) {
      SCOPED_TRACE(testing::Message()
                   << "Y'CbCr " << int{colour.y} << "," << int{colour.u} << "," << int{colour.v});
      std::unique_ptr<I420Frame> frame =
          FrameGenerator(32, 32, FrameGenerator::Pattern::kFlat, colour).Generate(0);
      ASSERT_NE(frame, nullptr);
      frame->set_color({d.limited ? engine::ColorRange::kLimited : engine::ColorRange::kFull,
                        static_cast<engine::ColorMatrix>(d.matrix)});
      double expected[3];
      ReferenceRgb(colour.y, colour.u, colour.v, d.limited, d.kr, d.kb, expected);

      ASSERT_TRUE(Render2SaveImage(frame.get(), Path("flat.jpg"), 100, d.limited, d.yuv));
      const std::vector<uint8_t> rgb = DecodeJpegRgb(Path("flat.jpg"));
      ASSERT_EQ(rgb.size(), 32u * 32 * 3);
      ASSERT_TRUE(Render2SaveImage(frame.get(), Path("flat.bmp"), 100, d.limited, d.yuv));
      const std::vector<uint8_t> bmp = ReadFile(Path("flat.bmp"));
      ASSERT_EQ(bmp.size(), 58u + 32 * 32 * 4);
      const size_t centre = 16 * 32 + 16;
      for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(rgb[centre * 3 + c], expected[c], 2.5) << "JPEG channel " << c;
        // libyuv's coefficients have 6 fractional bits.
        EXPECT_NEAR(bmp[58 + centre * 4 + 2 - c], expected[c], 2.5) << "BMP channel " << c;
      }
    }

    // Where the chroma changes (the bars' edges) the file still holds the
    // source's colours, with the chroma upsampled as JPEG readers do it
    // (each sample 9:3:3:1 from its four nearest chroma samples).
    const int w = 96, h = 64;
    GuardedFrame bars(w, h, FrameGenerator::Pattern::kColourBars, 0, 0, 0);
    ASSERT_TRUE(Render2SaveImage(bars.frame.get(), Path("bars.jpg"), 100, d.limited, d.yuv));
    const std::vector<uint8_t> rgb = DecodeJpegRgb(Path("bars.jpg"));
    std::vector<uint8_t> reference(rgb.size());
    auto upsampled = [&](GuardedPlane& plane, int x, int y) {
      const int cx = x / 2, cy = y / 2;
      const int nx = std::min(std::max(x % 2 == 0 ? cx - 1 : cx + 1, 0), bars.cw - 1);
      const int ny = std::min(std::max(y % 2 == 0 ? cy - 1 : cy + 1, 0), bars.ch - 1);
      const int s = bars.stride_u;
      return (9.0 * plane[cy * s + cx] + 3.0 * plane[cy * s + nx] + 3.0 * plane[ny * s + cx] +
              plane[ny * s + nx]) /
             16;
    };
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        double exact[3];
        ReferenceRgb(bars.y[y * w + x], upsampled(bars.u, x, y), upsampled(bars.v, x, y), d.limited,
                     d.kr, d.kb, exact);
        for (int c = 0; c < 3; ++c)
          reference[(y * w + x) * 3 + c] =
              static_cast<uint8_t>(std::min(255.0, std::max(0.0, exact[c] + 0.5)));
      }
    }
    // 44-46 dB; a luma term from the nearest chroma sample alone gives 41.
    EXPECT_GT(Psnr(rgb, reference), 43.0);
  }
}

TEST_F(CaptureTest, JpegQualityIsClampedToOneToHundred) {
  GuardedFrame f(64, 48, FrameGenerator::Pattern::kColourBars, 0, 0, 0);
  std::vector<uint16_t> tables[5];
  size_t sizes[5];
  const int qualities[5] = {-5, 0, 1, 100, 250};
  for (int i = 0; i < 5; ++i) {
    const std::string path = Path("q" + std::to_string(i) + ".jpg");
    ASSERT_TRUE(write_JPEG_file(f.frame.get(), path, qualities[i])) << qualities[i];
    const DecodedJpeg jpeg = DecodeJpeg(path);
    ASSERT_EQ(jpeg.error, "") << qualities[i];
    tables[i] = jpeg.quant[0];
    tables[i].insert(tables[i].end(), jpeg.quant[1].begin(), jpeg.quant[1].end());
    ASSERT_EQ(tables[i].size(), 128u);
    sizes[i] = ReadFile(path).size();
  }
  // Quality 1 scales every baseline entry to its ceiling, quality 100 to 1.
  EXPECT_EQ(tables[2], std::vector<uint16_t>(128, 255));
  EXPECT_EQ(tables[0], tables[2]);  // -5
  EXPECT_EQ(tables[1], tables[2]);  // 0
  EXPECT_EQ(tables[3], std::vector<uint16_t>(128, 1));
  EXPECT_EQ(tables[4], tables[3]);  // 250
  EXPECT_LT(sizes[2], sizes[3]);
}

TEST_F(CaptureTest, JpegRefusesFramesItCannotRead) {
  FakeFrame no_planes(16, 16), empty(0, 0);
  EXPECT_FALSE(write_JPEG_file(&no_planes, Path("a.jpg"), 90));
  EXPECT_FALSE(write_JPEG_file(&empty, Path("b.jpg"), 90));
  EXPECT_TRUE(Logged("write_JPEG_file: frame has a null plane. filename=" + Path("a.jpg")));
  EXPECT_TRUE(Logged("write_JPEG_file: invalid frame size. width=0, height=0"));

  // Rows shorter than the picture.
  GuardedFrame f(16, 16, FrameGenerator::Pattern::kFlat, 0, 0, 0);
  std::unique_ptr<I420Frame> narrow =
      I420Frame::Wrap(16, 16, f.y.data(), 12, f.u.data(), 8, f.v.data(), 8);
  EXPECT_FALSE(write_JPEG_file(narrow.get(), Path("c.jpg"), 90));
  EXPECT_TRUE(
      Logged("write_JPEG_file: invalid stride. width=16, ystride=12, ustride=8, vstride=8"));
  EXPECT_FALSE(LoggedOk());
  EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

TEST_F(CaptureTest, JpegRefusesFramesLargerThanAJpegFile) {
  std::unique_ptr<I420Frame> wide = I420Frame::Create(70000, 2);
  ASSERT_NE(wide, nullptr);
  const std::string path = Path("wide.jpg");
  EXPECT_FALSE(write_JPEG_file(wide.get(), path, 90));
  EXPECT_TRUE(Logged("write_JPEG_file: frame too large for a JPEG file. width=70000, height=2"));
  EXPECT_FALSE(Exists(path));
}

// Sets the largest file this process may write, for the life of the object.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_handler_ = signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, previous_handler_);
  }

 private:
  rlimit saved_;
  void (*previous_handler_)(int);
};

// While it lives the calling thread has an unprivileged user's file access,
// so that permissions hold even in a test run as root: an unprivileged file
// system uid drops the capabilities that override them.
class UnprivilegedFileAccess {
 public:
  UnprivilegedFileAccess() : root_(geteuid() == 0) {
    if (root_)
      setfsuid(65534);
  }
  ~UnprivilegedFileAccess() {
    if (root_)
      setfsuid(0);
  }

 private:
  bool root_;
};

// The names in the test's folder.
std::vector<std::string> FolderEntries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(CaptureTest, WriteFailureMidFileKeepsThePreviousFile) {
  GuardedFrame f(320, 240, FrameGenerator::Pattern::kColourBars, 0, 0, 0);
  const std::string bmp = Path("cut.bmp");
  const std::string jpg = Path("cut.jpg");
  for (bool earlier : {false, true}) {
    SCOPED_TRACE(earlier ? "over an earlier capture" : "new files");
    if (earlier) {
      ASSERT_TRUE(Render2SaveImage(f.frame.get(), bmp, 90));
      ASSERT_TRUE(Render2SaveImage(f.frame.get(), jpg, 90));
    }
    const std::vector<uint8_t> bmpBefore = ReadFile(bmp), jpgBefore = ReadFile(jpg);
    sink_.TakeLines();
    {
      FileSizeLimit limit(1000);
      EXPECT_FALSE(Render2SaveImage(f.frame.get(), bmp, 90));
      EXPECT_FALSE(Render2SaveImage(f.frame.get(), jpg, 90));
    }
    EXPECT_TRUE(Logged("write_BMP_file: write file failed. filename=" + bmp));
    // The JPEG library's own error, returned to the writer instead of
    // ending the process.
    EXPECT_TRUE(Logged("write_JPEG_file: jpeg error: Output file write error"));
    EXPECT_FALSE(LoggedOk());
    // What was there stays, whole; the temporary files are gone.
    EXPECT_EQ(Exists(bmp), earlier);
    EXPECT_EQ(Exists(jpg), earlier);
    EXPECT_EQ(ReadFile(bmp), bmpBefore);
    EXPECT_EQ(ReadFile(jpg), jpgBefore);
    const std::vector<std::string> kept =
        earlier ? std::vector<std::string>{"cut.bmp", "cut.jpg"} : std::vector<std::string>{};
    EXPECT_EQ(FolderEntries(dir_), kept);
  }
  // Without the limit the same captures succeed.
  EXPECT_TRUE(Render2SaveImage(f.frame.get(), jpg, 90));
  EXPECT_GT(ReadFile(jpg).size(), 1000u);
}

// A capture is a new file renamed over the old one: a reader that opened
// the old file keeps reading it whole. The new file has the old one's
// permissions, or fopen's (0666 less the umask) where there was none; a
// file this process may not write is left alone.
TEST_F(CaptureTest, CaptureReplacesTheFileWhole) {
  GuardedFrame f(64, 32, FrameGenerator::Pattern::kColourBars, 0, 0, 0);
  const mode_t savedMask = umask(027);
  for (const char* name : {"replaced.bmp", "replaced.jpg"}) {
    SCOPED_TRACE(name);
    const std::string path = Path(name);
    ASSERT_TRUE(Render2SaveImage(f.frame.get(), path, 90));
    struct stat first;
    ASSERT_EQ(stat(path.c_str(), &first), 0);
    EXPECT_EQ(first.st_mode & 0777, 0640u);

    ASSERT_EQ(chmod(path.c_str(), 0604), 0);
    FILE* reader = fopen(path.c_str(), "rb");
    ASSERT_NE(reader, nullptr);
    ASSERT_TRUE(Render2SaveImage(f.frame.get(), path, 90));
    struct stat second, held;
    ASSERT_EQ(stat(path.c_str(), &second), 0);
    ASSERT_EQ(fstat(fileno(reader), &held), 0);
    EXPECT_NE(second.st_ino, first.st_ino);
    EXPECT_EQ(held.st_ino, first.st_ino);
    EXPECT_EQ(held.st_size, first.st_size);
    EXPECT_EQ(second.st_mode & 0777, 0604u);
    fclose(reader);

    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);  // the rename alone would be allowed
    {
      UnprivilegedFileAccess unprivileged;
      EXPECT_FALSE(Render2SaveImage(f.frame.get(), path, 90));
    }
    struct stat third;
    ASSERT_EQ(stat(path.c_str(), &third), 0);
    EXPECT_EQ(third.st_ino, second.st_ino);
  }
  umask(savedMask);
  EXPECT_TRUE(Logged("(quon_render:212): write_BMP_file: open file failed. filename=" +
                     Path("replaced.bmp") + "\n"));
  EXPECT_TRUE(
      Logged("(quon_render:19): write_JPEG_file: filename: " + Path("replaced.jpg") + "\n"));
  EXPECT_EQ(FolderEntries(dir_), (std::vector<std::string>{"replaced.bmp", "replaced.jpg"}));
}

// A writer killed at any point of a large capture leaves the target as it
// was: no file until a capture has completed, then always a whole one.
// The temporary files of killed writers stay behind under their own names.
TEST_F(CaptureTest, KilledWriterLeavesAWholeFileOrNone) {
  const int w = 3840, h = 2160;
  std::unique_ptr<I420Frame> frame =
      FrameGenerator(w, h, FrameGenerator::Pattern::kColourBars).Generate(7);
  ASSERT_NE(frame, nullptr);
  const std::string path = Path("uhd.bmp");
  ASSERT_TRUE(write_BMP_file(frame.get(), Path("expected.bmp")));
  const std::vector<uint8_t> expected = ReadFile(Path("expected.bmp"));
  ASSERT_EQ(expected.size(), 58u + size_t{w} * h * 4);

  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> delayUs(0, 300000);
  bool completed = false;  // the child reported a whole capture
  int kills = 0, absent = 0, whole = 0;
  for (; kills < 20; ++kills) {
    int reports[2];
    ASSERT_EQ(pipe(reports), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      close(reports[0]);
      for (;;) {
        if (write_BMP_file(frame.get(), path) && write(reports[1], "w", 1) != 1)
          _exit(1);
      }
    }
    close(reports[1]);
    usleep(static_cast<useconds_t>(delayUs(random)));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    char report;
    while (read(reports[0], &report, 1) == 1)
      completed = true;
    close(reports[0]);

    if (!Exists(path)) {
      ++absent;
      EXPECT_FALSE(completed) << "kill " << kills << ": the capture went missing";
      continue;
    }
    ++whole;
    EXPECT_TRUE(ReadFile(path) == expected) << "kill " << kills << ": a partial file";
  }
  const size_t leftovers = FolderEntries(dir_).size() - 1 - (whole > 0 ? 1 : 0);
  RecordProperty("kills", kills);
  RecordProperty("whole_file", whole);
  RecordProperty("no_file_yet", absent);
  RecordProperty("temporary_files_left", static_cast<int>(leftovers));
  printf("kills %d: whole file %d, no file yet %d, temporary files left %zu\n", kills, whole,
         absent, leftovers);

  // The next capture to the target removes what killed writers left, once
  // a minute old, and nothing else: a younger one may be another process's
  // write in progress; names not of the naming, or another target's, stay.
  const std::string left = ".uhd.bmp.Kq3xZ09a.tmp", young = ".uhd.bmp.Yn7Tq2Lm.tmp";
  const std::vector<std::string> kept = {".other.bmp.Kq3xZ09a.tmp", ".uhd.bmp.K.tmp",
                                         ".uhd.bmp.Kq3xZ09a.tmp.part", "expected.bmp", young};
  for (const std::string& name : kept) {
    if (!Exists(Path(name))) {
      ASSERT_TRUE(std::ofstream(Path(name)).good());
    }
  }
  ASSERT_TRUE(std::ofstream(Path(left)).good());
  const timespec minutesAgo[2] = {{time(nullptr) - 120, 0}, {time(nullptr) - 120, 0}};
  for (const std::string& name : FolderEntries(dir_)) {
    if (name != young) {
      ASSERT_EQ(utimensat(AT_FDCWD, Path(name).c_str(), minutesAgo, 0), 0) << name;
    }
  }
  std::unique_ptr<I420Frame> small =
      FrameGenerator(16, 16, FrameGenerator::Pattern::kColourBars).Generate(1);
  ASSERT_TRUE(write_BMP_file(small.get(), path));
  std::vector<std::string> expectedNames = kept;
  expectedNames.push_back("uhd.bmp");
  std::sort(expectedNames.begin(), expectedNames.end());
  EXPECT_EQ(FolderEntries(dir_), expectedNames);
}

// --- Paths that cannot be written -------------------------------------------------

TEST_F(CaptureTest, UnopenablePathsLogTheWritersOpenFailure) {
  GuardedFrame f(8, 8, FrameGenerator::Pattern::kFlat, 0, 0, 0);
  ASSERT_TRUE(std::ofstream(Path("plain")).good());  // a file where a directory should be
  // Each with the reason the caller is given: the system's own.
  const std::pair<std::string, int> parents[] = {
      {Path("missing"), ENOENT}, {Path("plain"), ENOTDIR}, {"/proc", ENOENT}};
  for (const auto& [parent, reason] : parents) {
    const std::string bmp = parent + "/capture-test.bmp";
    const std::string jpg = parent + "/capture-test.jpg";
    int bmpError = 0, jpgError = 0;
    EXPECT_FALSE(Render2SaveImage(f.frame.get(), bmp, 90, false, false, &bmpError)) << bmp;
    EXPECT_FALSE(Render2SaveImage(f.frame.get(), jpg, 90, false, false, &jpgError)) << jpg;
    EXPECT_EQ(bmpError, reason) << bmp << ": " << strerror(bmpError);
    EXPECT_EQ(jpgError, reason) << jpg << ": " << strerror(jpgError);
    EXPECT_TRUE(
        Logged("(quon_render:212): write_BMP_file: open file failed. filename=" + bmp + "\n"))
        << bmp;
    EXPECT_TRUE(Logged("(quon_render:19): write_JPEG_file: filename: " + jpg + "\n")) << jpg;
    EXPECT_FALSE(Exists(bmp));
    EXPECT_FALSE(Exists(jpg));
  }
  EXPECT_FALSE(LoggedOk());
}

TEST_F(CaptureTest, ReadOnlyDirectoryRefusesBothWriters) {
  GuardedFrame f(32, 16, FrameGenerator::Pattern::kColourBars, 0, 0, 0);
  const std::string readonly = Path("readonly");
  ASSERT_EQ(mkdir(readonly.c_str(), 0555), 0);
  ASSERT_EQ(chmod(dir_.c_str(), 0711), 0);  // reachable by anyone
  const std::string bmp = readonly + "/capture.bmp";
  const std::string jpg = readonly + "/capture.jpg";
  {
    UnprivilegedFileAccess unprivileged;
    EXPECT_FALSE(Render2SaveImage(f.frame.get(), bmp, 90));
    EXPECT_FALSE(Render2SaveImage(f.frame.get(), jpg, 90));
  }
  EXPECT_TRUE(Logged("write_BMP_file: open file failed. filename=" + bmp));
  EXPECT_TRUE(Logged("(quon_render:19): write_JPEG_file: filename: " + jpg + "\n"));
  EXPECT_FALSE(LoggedOk());
  EXPECT_FALSE(Exists(bmp));
  EXPECT_FALSE(Exists(jpg));
  // The same frame is captured fine elsewhere: nothing is left broken.
  EXPECT_TRUE(Render2SaveImage(f.frame.get(), Path("capture.jpg"), 90));
}

TEST_F(CaptureTest, FullDiskIsAFailureAndTheDeviceStays) {
  // A private node of the full device where the test may make one (as
  // root), so that a writer that wrongly unlinks its target cannot take the
  // system's /dev/full with it; otherwise /dev/full itself, which an
  // unprivileged process cannot unlink.
  std::string full = Path("full");
  if (mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0)
    full = "/dev/full";
  GuardedFrame small(16, 16, FrameGenerator::Pattern::kGradient, 0, 0, 0);
  GuardedFrame large(640, 480, FrameGenerator::Pattern::kGradient, 0, 0, 0);
  for (GuardedFrame* f : {&small, &large}) {
    int bmpError = 0, jpgError = 0;
    EXPECT_FALSE(write_BMP_file(f->frame.get(), full, &bmpError)) << f->width;
    EXPECT_FALSE(write_JPEG_file(f->frame.get(), full, 90, false, false, &jpgError)) << f->width;
    EXPECT_EQ(bmpError, ENOSPC) << f->width << ": " << strerror(bmpError);
    EXPECT_EQ(jpgError, ENOSPC) << f->width << ": " << strerror(jpgError);
  }
  EXPECT_TRUE(Logged("write_BMP_file: write file failed. filename=" + full));
  EXPECT_TRUE(Logged("write_JPEG_file: jpeg error: Output file write error"));
  EXPECT_FALSE(LoggedOk());
  struct stat st;
  ASSERT_EQ(stat(full.c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// A FIFO at the target, or a link to one, with a reader or none: both
// writers refuse it at once with a line and EINVAL (opening it to write
// would wait for a reader for ever, on the engine's thread inside
// RenderFrame), and nothing reaches the pipe.
TEST_F(CaptureTest, FifoTargetIsRefusedWithoutBlocking) {
  GuardedFrame f(8, 8, FrameGenerator::Pattern::kFlat, 0, 0, 0);
  std::vector<std::string> targets;
  for (const char* extension : {".bmp", ".jpg"}) {
    targets.push_back(Path(std::string("pipe") + extension));
    ASSERT_EQ(mkfifo(targets.back().c_str(), 0666), 0);
    targets.push_back(Path(std::string("link") + extension));
    ASSERT_EQ(symlink(targets[targets.size() - 2].c_str(), targets.back().c_str()), 0);
  }
  for (bool reader : {false, true}) {
    SCOPED_TRACE(reader ? "a reader waits" : "no reader");
    std::vector<int> reading;
    if (reader) {
      for (const std::string& target : targets)
        reading.push_back(open(target.c_str(), O_RDONLY | O_NONBLOCK));
    }
    for (const std::string& target : targets) {
      bool written = true;
      int reason = 0;
      test_support::RunOrAbort(target.c_str(), [&] {
        written = Render2SaveImage(f.frame.get(), target, 90, false, false, &reason);
      });
      EXPECT_FALSE(written) << target;
      EXPECT_EQ(reason, EINVAL) << target << ": " << strerror(reason);
      EXPECT_TRUE(
          Logged("refused, the target is a FIFO, neither a file nor a character device. filename=" +
                 target));
    }
    for (int fd : reading) {
      char byte;
      EXPECT_LE(read(fd, &byte, 1), 0);  // nothing was written
      close(fd);
    }
  }
  EXPECT_FALSE(LoggedOk());
}

// Where the file cannot be replaced whole, it is written in place and the
// line says so: another user's 0666 file in a sticky folder, which this
// process may write but not rename over, and a path within 14 bytes of
// PATH_MAX, too long for the temporary name beside it.
TEST_F(CaptureTest, FilesThatCannotBeReplacedAreWrittenInPlace) {
  GuardedFrame f(8, 8, FrameGenerator::Pattern::kColourBars, 0, 0, 0);
  const auto wellFormed = [](const std::vector<uint8_t>& data, bool bmp) {
    return bmp ? data.size() == 58u + 8 * 8 * 4 && data[0] == 'B' && data[1] == 'M'
               : data.size() > 100 && data[0] == 0xFF && data[1] == 0xD8;
  };
  if (geteuid() == 0) {
    const std::string sticky = Path("sticky");
    ASSERT_EQ(mkdir(sticky.c_str(), 0777), 0);
    ASSERT_EQ(chmod(sticky.c_str(), 01777), 0);
    ASSERT_EQ(chmod(dir_.c_str(), 0711), 0);
    for (const char* name : {"/shared.bmp", "/shared.jpg"}) {
      const std::string path = sticky + name;
      SCOPED_TRACE(path);
      ASSERT_TRUE(std::ofstream(path) << "an earlier file");
      ASSERT_EQ(chmod(path.c_str(), 0666), 0);
      ASSERT_EQ(chown(path.c_str(), 65533, 65533), 0);  // another user's
      int reason = -1;
      bool written = false;
      {
        UnprivilegedFileAccess unprivileged;
        written = Render2SaveImage(f.frame.get(), path, 90, false, false, &reason);
      }
      EXPECT_TRUE(written);
      EXPECT_EQ(reason, 0) << strerror(reason);
      EXPECT_TRUE(wellFormed(ReadFile(path), path.back() == 'p'));
      struct stat st;
      ASSERT_EQ(stat(path.c_str(), &st), 0);
      EXPECT_EQ(st.st_uid, 65533u);  // the same file, written over
      EXPECT_TRUE(Logged(": written in place, the file could not be replaced whole. filename=" +
                         path + " : [0x00000001] " + strerror(EPERM)));
    }
    EXPECT_EQ(FolderEntries(sticky), (std::vector<std::string>{"shared.bmp", "shared.jpg"}));
  }

  // Folders of 200-byte names down to a path of PATH_MAX - 6 bytes.
  std::string folder = dir_;
  while (folder.size() + 201 < PATH_MAX - 6 - 20) {
    folder += "/" + std::string(200, 'd');
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0) << strerror(errno);
  }
  for (const char* extension : {".bmp", ".jpg"}) {
    std::string path = folder + "/";
    path += std::string(PATH_MAX - 6 - path.size() - 4, 'n') + extension;
    ASSERT_EQ(path.size(), static_cast<size_t>(PATH_MAX - 6));
    int reason = -1;
    EXPECT_TRUE(Render2SaveImage(f.frame.get(), path, 90, false, false, &reason)) << extension;
    EXPECT_EQ(reason, 0) << strerror(reason);
    EXPECT_TRUE(wellFormed(ReadFile(path), std::string(extension) == ".bmp"));
    EXPECT_TRUE(Logged(": written in place, the file could not be replaced whole. filename=" +
                       path + " : [0x00000024] " + strerror(ENAMETOOLONG)));
  }
  EXPECT_EQ(FolderEntries(folder).size(), 2u);
}

// --- A second decoder -------------------------------------------------------------

TEST_F(CaptureTest, PilOpensBothFiles) {
  GuardedFrame f(65, 17, FrameGenerator::Pattern::kColourBars, 80, 40, 48);
  const std::string bmp = Path("bars.bmp");
  const std::string jpg = Path("bars.jpg");
  ASSERT_TRUE(write_BMP_file(f.frame.get(), bmp));
  ASSERT_TRUE(write_JPEG_file(f.frame.get(), jpg, 90));

  // Prints format, size and the pixel in the middle of the third bar, away
  // from the edges that chroma upsampling blurs.
  const int x = 20, y = 8;
  const std::string script = Path("read.py");
  std::ofstream(script) << "import sys\n"
                           "from PIL import Image\n"
                           "for path in sys.argv[1:]:\n"
                           "    im = Image.open(path)\n"
                           "    im.load()\n"
                           "    r, g, b = im.convert('RGB').getpixel(("
                        << x << ", " << y << "))\n"
                        << "    print(im.format, im.size[0], im.size[1], r, g, b)\n";
  const std::string command = "/usr/bin/python3 " + script + " " + bmp + " " + jpg + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[512];
  while (fgets(buffer, sizeof(buffer), pipe) != nullptr)
    output += buffer;
  ASSERT_EQ(pclose(pipe), 0) << output;

  char format[2][16] = {};
  int w[2], h[2], rgb[2][3];
  ASSERT_EQ(sscanf(output.c_str(), "%15s %d %d %d %d %d\n%15s %d %d %d %d %d", format[0], &w[0],
                   &h[0], &rgb[0][0], &rgb[0][1], &rgb[0][2], format[1], &w[1], &h[1], &rgb[1][0],
                   &rgb[1][1], &rgb[1][2]),
            12)
      << output;
  EXPECT_STREQ(format[0], "BMP");
  EXPECT_STREQ(format[1], "JPEG");
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(w[i], 65);
    EXPECT_EQ(h[i], 17);
  }
  // The BMP pixel is exactly libyuv's.
  const std::vector<uint8_t> argb = f.Argb();
  const uint8_t* expected = &argb[static_cast<size_t>(y * 65 + x) * 4];  // B, G, R, A
  EXPECT_EQ(rgb[0][0], expected[2]);
  EXPECT_EQ(rgb[0][1], expected[1]);
  EXPECT_EQ(rgb[0][2], expected[0]);
  // The JPEG holds the planes as they are, which a JFIF reader converts
  // with the full-range equations.
  const double Y = f.y[y * f.stride_y + x];
  const double Cb = f.u[(y / 2) * f.stride_u + x / 2] - 128.0;
  const double Cr = f.v[(y / 2) * f.stride_v + x / 2] - 128.0;
  EXPECT_NEAR(rgb[1][0], Y + 1.402 * Cr, 6);
  EXPECT_NEAR(rgb[1][1], Y - 0.344136 * Cb - 0.714136 * Cr, 6);
  EXPECT_NEAR(rgb[1][2], Y + 1.772 * Cb, 6);
}

}  // namespace
