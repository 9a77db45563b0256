// The engine's I420 frames, test patterns and file readers: copies that do
// not share memory with their source, conversions that refuse bad buffers
// without touching them, odd sizes read within their planes, headers whose
// sizes do not fit refused, other y4m layouts converted.

#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "engine/frame_generator.h"
#include "engine/i420_frame.h"
#include "engine/picture_converter.h"
#include "engine/video_source.h"
#include "support/emulation.h"
#include "support/guarded_plane.h"

namespace {

using engine::FrameGenerator;
using engine::I420Frame;
using engine::PlaneSet;

std::vector<uint8_t> PlaneBytes(const uint8_t* plane, int stride, int width, int rows) {
  std::vector<uint8_t> bytes;
  for (int row = 0; row < rows; ++row)
    bytes.insert(bytes.end(), plane + static_cast<ptrdiff_t>(row) * stride,
                 plane + static_cast<ptrdiff_t>(row) * stride + width);
  return bytes;
}

// The visible samples of all three planes, without row padding.
std::vector<uint8_t> Pixels(const rtc::IVideoFrame& frame) {
  const int w = frame.Width();
  const int h = frame.Height();
  const int cw = I420Frame::ChromaWidth(w);
  const int ch = I420Frame::ChromaHeight(h);
  const int sy = frame.YStride() != 0 ? frame.YStride() : w;
  const int su = frame.UStride() != 0 ? frame.UStride() : cw;
  const int sv = frame.VStride() != 0 ? frame.VStride() : cw;
  std::vector<uint8_t> all = PlaneBytes(frame.YPlane(), sy, w, h);
  std::vector<uint8_t> u = PlaneBytes(frame.UPlane(), su, cw, ch);
  std::vector<uint8_t> v = PlaneBytes(frame.VPlane(), sv, cw, ch);
  all.insert(all.end(), u.begin(), u.end());
  all.insert(all.end(), v.begin(), v.end());
  return all;
}

TEST(I420FrameTest, CloneIsTightIndependentCopy) {
  FrameGenerator bars(37, 21, FrameGenerator::Pattern::kColourBars);
  std::unique_ptr<I420Frame> frame = bars.Generate(0, 64, 40, 48);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->YStride(), 64);
  EXPECT_EQ(frame->UStride(), 40);
  frame->set_color({engine::ColorRange::kFull, engine::ColorMatrix::kBt709});

  std::unique_ptr<rtc::IVideoFrame> copy(frame->Clone());
  ASSERT_NE(copy, nullptr);
  // The copy converts as the source does: a BMP capture has its colours.
  EXPECT_FALSE(static_cast<I420Frame*>(copy.get())->limited_range());
  EXPECT_TRUE(static_cast<I420Frame*>(copy.get())->bt709());
  EXPECT_EQ(copy->Width(), 37);
  EXPECT_EQ(copy->Height(), 21);
  EXPECT_EQ(copy->YStride(), 37);
  EXPECT_EQ(copy->UStride(), 19);
  EXPECT_EQ(copy->VStride(), 19);
  const std::vector<uint8_t> before = Pixels(*frame);
  EXPECT_EQ(Pixels(*copy), before);

  // Writing the source afterwards leaves the copy alone, in every plane.
  memset(frame->MutableYPlane(), 1, size_t{64} * 21);
  memset(frame->MutableUPlane(), 2, size_t{40} * 11);
  memset(frame->MutableVPlane(), 3, size_t{48} * 11);
  EXPECT_EQ(Pixels(*copy), before);

  frame->set_clone_fails_for_testing(true);
  EXPECT_EQ(frame->Clone(), nullptr);
}

TEST(I420FrameTest, BorrowedOddFrameWithZeroStridesStaysInsideItsPlanes) {
  // 5 x 3: chroma is 3 x 2. Each plane ends at a guard page.
  GuardedPlane y(15, 235), u(6, 128), v(6, 128);
  std::unique_ptr<I420Frame> frame =
      I420Frame::Wrap(5, 3, y.data(), 0, u.data(), 0, v.data(), 0);
  EXPECT_EQ(frame->YStride(), 0);  // reported as given
  EXPECT_EQ(frame->UStride(), 0);
  EXPECT_EQ(frame->MutableYPlane(), nullptr);

  std::unique_ptr<rtc::IVideoFrame> copy(frame->Clone());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(Pixels(*copy), Pixels(*frame));

  std::vector<uint8_t> argb(size_t{5} * 3 * 4, 0);
  ASSERT_EQ(frame->ExportArgb(rtc::kFourccArgb, argb.data(), argb.size(), 5 * 4), 0);
  for (size_t i = 0; i < argb.size(); ++i)
    ASSERT_EQ(argb[i], 255) << "byte " << i;  // video white, opaque
}

TEST(I420FrameTest, ExportArgbRefusesWithoutWriting) {
  FrameGenerator flat(6, 4, FrameGenerator::Pattern::kFlat, {16, 128, 128});
  std::unique_ptr<I420Frame> frame = flat.Generate(0);
  ASSERT_NE(frame, nullptr);
  const int stride = 6 * 4;
  const size_t size = static_cast<size_t>(stride) * 4;
  std::vector<uint8_t> buffer(size, 0xAB);
  const std::vector<uint8_t> untouched = buffer;

  EXPECT_NE(frame->ExportArgb(0x34324241 /* ABGR */, buffer.data(), size, stride), 0);
  EXPECT_NE(frame->ExportArgb(rtc::kFourccArgb, nullptr, size, stride), 0);
  EXPECT_NE(frame->ExportArgb(rtc::kFourccArgb, buffer.data(), size - 1, stride), 0);
  EXPECT_NE(frame->ExportArgb(rtc::kFourccArgb, buffer.data(), size, stride - 4), 0);
  EXPECT_NE(frame->ExportArgb(rtc::kFourccArgb, buffer.data(), size, -stride), 0);
  EXPECT_EQ(buffer, untouched);

  // The last row needs no padding; padding between rows is left alone.
  std::vector<uint8_t> padded(32 * 3 + stride, 0xAB);
  ASSERT_EQ(frame->ExportArgb(rtc::kFourccArgb, padded.data(), padded.size(), 32), 0);
  for (int row = 0; row < 4; ++row) {
    for (int x = 0; x < stride; x += 4) {
      EXPECT_EQ(padded[row * 32 + x + 2], 0) << row << "," << x;    // red of video black
      EXPECT_EQ(padded[row * 32 + x + 3], 255) << row << "," << x;  // alpha
    }
    if (row < 3) {
      EXPECT_EQ(padded[row * 32 + stride], 0xAB) << "row " << row;
    }
  }
}

// A frame converts by its own matrix: one limited-range sample (Y 128,
// Cb 128, Cr 200) gives each matrix's red and green.
TEST(I420FrameTest, ExportArgbConvertsByTheFramesMatrix) {
  std::unique_ptr<I420Frame> frame =
      FrameGenerator(4, 2, FrameGenerator::Pattern::kFlat, {128, 128, 200}).Generate(0);
  ASSERT_NE(frame, nullptr);
  const struct {
    engine::ColorMatrix matrix;
    int red, green;
  } cases[] = {{engine::ColorMatrix::kBt601, 245, 72},
               {engine::ColorMatrix::kBt709, 255, 92},
               {engine::ColorMatrix::kBt2020, 251, 84}};
  for (const auto& c : cases) {
    frame->set_color({engine::ColorRange::kLimited, c.matrix});
    std::vector<uint8_t> argb(4 * 2 * 4);
    ASSERT_EQ(frame->ExportArgb(rtc::kFourccArgb, argb.data(), argb.size(), 4 * 4), 0);
    EXPECT_NEAR(argb[2], c.red, 2) << static_cast<int>(c.matrix);
    EXPECT_NEAR(argb[1], c.green, 2) << static_cast<int>(c.matrix);
    EXPECT_NEAR(argb[0], 130, 2) << static_cast<int>(c.matrix);  // blue: Cb is neutral
  }
}

TEST(I420FrameTest, CreateRefusesEmptySizes) {
  EXPECT_EQ(I420Frame::Create(0, 4), nullptr);
  EXPECT_EQ(I420Frame::Create(4, -1), nullptr);
  EXPECT_EQ(FrameGenerator(0, 0, FrameGenerator::Pattern::kGradient).Generate(0), nullptr);
}

TEST(FrameGeneratorTest, SameIndexSameBytesAtAnySize) {
  const std::pair<int, int> sizes[] = {{1, 1}, {2, 2}, {3, 5}, {17, 9}, {64, 36}};
  const FrameGenerator::Pattern patterns[] = {
      FrameGenerator::Pattern::kFlat, FrameGenerator::Pattern::kGradient,
      FrameGenerator::Pattern::kColourBars, FrameGenerator::Pattern::kMovingMarker};
  for (const auto& [w, h] : sizes) {
    for (FrameGenerator::Pattern pattern : patterns) {
      FrameGenerator generator(w, h, pattern);
      std::unique_ptr<I420Frame> a = generator.Generate(7);
      std::unique_ptr<I420Frame> b = generator.Generate(7, w + 3, 0, 64);
      ASSERT_NE(a, nullptr);
      ASSERT_NE(b, nullptr);
      EXPECT_EQ(Pixels(*a), Pixels(*b))
          << w << "x" << h << " pattern " << static_cast<int>(pattern);

      // Drawing into planes that end at a guard page stays inside them.
      const int cw = I420Frame::ChromaWidth(w), ch = I420Frame::ChromaHeight(h);
      GuardedPlane y(static_cast<size_t>(w) * h), u(static_cast<size_t>(cw) * ch),
          v(static_cast<size_t>(cw) * ch);
      generator.Draw(7, PlaneSet{y.data(), w, u.data(), cw, v.data(), cw});
      std::unique_ptr<I420Frame> guarded =
          I420Frame::Wrap(w, h, y.data(), w, u.data(), cw, v.data(), cw);
      EXPECT_EQ(Pixels(*guarded), Pixels(*a));
    }
  }
}

TEST(FrameGeneratorTest, MarkerMovesAndStaysInsideThePicture) {
  FrameGenerator generator(41, 23, FrameGenerator::Pattern::kMovingMarker);
  std::set<std::pair<int, int>> positions;
  for (int64_t index = 0; index < 200; ++index) {
    const engine::MarkerRect m = generator.Marker(index);
    ASSERT_GE(m.size, 2);
    ASSERT_GE(m.x, 0);
    ASSERT_GE(m.y, 0);
    ASSERT_LE(m.x + m.size, 41) << "index " << index;
    ASSERT_LE(m.y + m.size, 23) << "index " << index;
    EXPECT_EQ(m.x % 2, 0);
    EXPECT_EQ(m.y % 2, 0);
    positions.insert({m.x, m.y});
  }
  EXPECT_GT(positions.size(), 20u);

  // The picture shows the marker where Marker() says, and only there.
  std::unique_ptr<I420Frame> frame = generator.Generate(5);
  const engine::MarkerRect m = generator.Marker(5);
  for (int row = 0; row < 23; ++row) {
    for (int x = 0; x < 41; ++x) {
      const bool inside = x >= m.x && x < m.x + m.size && row >= m.y && row < m.y + m.size;
      ASSERT_EQ(frame->YPlane()[row * frame->YStride() + x], inside ? 235 : 128) << x << "," << row;
    }
  }
  EXPECT_NE(Pixels(*generator.Generate(5)), Pixels(*generator.Generate(6)));
}

// --- File readers ------------------------------------------------------------

TEST(VideoSourceTest, Y4mSizesPastIntAreRefusedNotWrapped) {
  // Read as int these would wrap to 2 and to 16.
  for (const char* line : {"YUV4MPEG2 W4294967298 H2", "YUV4MPEG2 W2 H4294967312",
                           "YUV4MPEG2 W-4294967294 H2", "YUV4MPEG2 W99999999999999999999 H2"}) {
    engine::Y4mHeader header;
    std::string error;
    EXPECT_FALSE(engine::ParseY4mHeader(line, &header, &error)) << line;
    EXPECT_NE(error.find("bad frame size"), std::string::npos) << line << ": " << error;
  }
  engine::Y4mHeader header;
  std::string error;
  ASSERT_TRUE(engine::ParseY4mHeader("YUV4MPEG2 W16384 H2 F25:1", &header, &error)) << error;
  EXPECT_EQ(header.width, 16384);
  EXPECT_EQ(header.height, 2);
}

// One 16x16 y4m file per case, read with the y4m reader: the frame line's
// and the rate's limits, and files too short for their first frame.
TEST(VideoSourceTest, Y4mReaderTakesLinesUpToItsLimitAndRefusesFilesWithoutAFrame) {
  const std::string frame(16 * 16 * 3 / 2, '\x50');
  const std::string header = "YUV4MPEG2 W16 H16 F25:1\n";
  // A FRAME line of `length` bytes without its newline.
  auto frame_line = [](size_t length) { return "FRAME X" + std::string(length - 7, 'x') + "\n"; };
  const struct {
    const char* name;
    std::string contents;
    const char* open_error;  // null: opens at `fps`, and the first read gives `first`
    double fps = 0;
    engine::VideoSource::Status first = engine::VideoSource::Status::kFrame;
    const char* read_error = "";
  } cases[] = {
      {"unknown rate", "YUV4MPEG2 W16 H16 F0:0\nFRAME\n" + frame, nullptr, 0,
       engine::VideoSource::Status::kFrame, ""},
      {"frame line at the limit", header + frame_line(4096) + frame, nullptr, 25,
       engine::VideoSource::Status::kFrame, ""},
      {"frame line past the limit", header + frame_line(4097) + frame, nullptr, 25,
       engine::VideoSource::Status::kError, "the FRAME line of frame 1 is longer than 4096 bytes"},
      {"header only", header, "too short for its header and one 16x16 frame (414 bytes)"},
      {"partial frame", header + "FRAME\n" + frame.substr(1), "too short"},
      {"huge size in a small file", "YUV4MPEG2 W16384 H16384\n" + std::string(1000, 'x'),
       "1024 bytes, too short for its header and one 16384x16384 frame"},
  };
  const std::string path = ::testing::TempDir() + "engine_frame_test_limits.y4m";
  for (const auto& c : cases) {
    std::ofstream(path, std::ios::binary) << c.contents;
    std::string error;
    std::unique_ptr<engine::VideoSource> source = engine::OpenY4m(path, &error);
    if (c.open_error != nullptr) {
      EXPECT_EQ(source, nullptr) << c.name;
      EXPECT_NE(error.find(c.open_error), std::string::npos) << c.name << ": " << error;
      continue;
    }
    ASSERT_NE(source, nullptr) << c.name << ": " << error;
    EXPECT_EQ(source->fps(), c.fps) << c.name;
    EXPECT_EQ(source->Next(), c.first) << c.name;
    EXPECT_EQ(source->error(), c.read_error) << c.name;
  }
  remove(path.c_str());
}

// Layouts other than 8-bit 4:2:0 play converted to it, with a note that
// names the conversion, odd sizes included (5 x 3: chroma 3 x 3 in 4:2:2,
// 3 x 2 in 4:2:0). The samples: luma 100, Cb 96, Cr 160, at the layout's
// depth. Untagged and below HD size, they are BT.601, limited range.
TEST(VideoSourceTest, Y4mLayoutsOtherThan8Bit420PlayConverted) {
  if (!engine::Y4mLayoutConvertible("422"))
    GTEST_SKIP() << "this build converts no chroma layout (built without FFmpeg's libraries)";
  const struct {
    const char* tag;
    int chroma_samples, bytes, cb, cr;
    const char* note;
  } layouts[] = {
      {"422", 9, 1, 96, 160, "converting yuv422p to yuv420p"},
      {"444", 15, 1, 96, 160, "converting yuv444p to yuv420p"},
      {"420p10", 6, 2, 96, 160, "converting yuv420p10le to yuv420p"},
      {"mono", 0, 1, 128, 128, "converting gray to yuv420p"},
  };
  const std::string path = ::testing::TempDir() + "engine_frame_test_layout.y4m";
  for (const auto& layout : layouts) {
    {
      std::ofstream file(path, std::ios::binary);
      file << "YUV4MPEG2 W5 H3 F25:1 C" << layout.tag << "\nFRAME\n";
      auto samples = [&](int count, int value) {
        for (int i = 0; i < count; ++i) {
          const int sample = value << (layout.bytes == 2 ? 2 : 0);
          file.put(static_cast<char>(sample & 0xff));
          if (layout.bytes == 2)
            file.put(static_cast<char>(sample >> 8));
        }
      };
      samples(15, 100);
      samples(layout.chroma_samples, 96);
      samples(layout.chroma_samples, 160);
    }
    std::string error;
    std::unique_ptr<engine::VideoSource> source = engine::OpenY4m(path, &error);
    ASSERT_NE(source, nullptr) << layout.tag << ": " << error;
    EXPECT_EQ(source->notes(), std::vector<std::string>{layout.note});
    EXPECT_EQ(source->color(), (engine::ColorDescription{engine::ColorRange::kLimited,
                                                         engine::ColorMatrix::kBt601}));
    ASSERT_EQ(source->Next(), engine::VideoSource::Status::kFrame) << layout.tag;
    std::vector<uint8_t> want(15, 100);
    want.insert(want.end(), 6, static_cast<uint8_t>(layout.cb));
    want.insert(want.end(), 6, static_cast<uint8_t>(layout.cr));
    EXPECT_EQ(Pixels(*source->frame()), want) << layout.tag;
    EXPECT_EQ(source->Next(), engine::VideoSource::Status::kEnd) << layout.tag;
  }
  remove(path.c_str());
}

// Untagged pictures: BT.709 from HD sizes up, in either orientation.
TEST(VideoSourceTest, UntaggedColoursAreGuessedBySize) {
  EXPECT_EQ(engine::GuessColorMatrix(1279, 719), engine::ColorMatrix::kBt601);
  EXPECT_EQ(engine::GuessColorMatrix(1280, 534), engine::ColorMatrix::kBt709);
  EXPECT_EQ(engine::GuessColorMatrix(720, 1280), engine::ColorMatrix::kBt709);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define NR_UNDER_SANITIZER 1
#endif

// In a child: caps the address space a little above what the process uses,
// then opens 16384x16384 inputs (400 MB frames). 0 when every reader
// refused with a reason.
[[maybe_unused]] int OpenHugeFramesWithLittleAddressSpace(const std::string& y4m) {
  long pages = 0;
  FILE* statm = fopen("/proc/self/statm", "r");
  if (statm == nullptr || fscanf(statm, "%ld", &pages) != 1)
    return 3;
  fclose(statm);
  const rlim_t cap = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (128u << 20);
  const rlimit limit = {cap, cap};
  if (setrlimit(RLIMIT_AS, &limit) != 0)
    return 4;
  std::string raw_error, y4m_error;
  const bool raw_refused = engine::OpenRawYuv("/dev/zero", 16384, 16384, &raw_error) == nullptr &&
                           raw_error.find("cannot allocate") != std::string::npos;
  const bool y4m_refused = engine::OpenY4m(y4m, &y4m_error) == nullptr &&
                           y4m_error.find("cannot allocate") != std::string::npos;
  const bool pattern_refused = engine::OpenPattern(16384, 16384, 25) == nullptr;
  return raw_refused && y4m_refused && pattern_refused ? 0 : 1;
}

// Short of memory, the readers refuse a large input with a reason instead
// of handing out a source without a frame.
TEST(VideoSourceTest, ReadersRefuseAFrameTheyCannotAllocate) {
#ifdef NR_UNDER_SANITIZER
  GTEST_SKIP() << "the sanitizers' shadow memory needs an unlimited address space";
#else
  if (test_support::kEmulated)
    GTEST_SKIP() << "the emulator does not apply RLIMIT_AS (tests/emulation/address_space_limit.c)";
  const std::string y4m = ::testing::TempDir() + "engine_frame_test_huge.y4m";
  std::ofstream(y4m) << "YUV4MPEG2 W16384 H16384 F25:1\n";
  // Long enough for one frame (a sparse file), so that the reader gets as
  // far as allocating it.
  ASSERT_EQ(truncate(y4m.c_str(), 32 + 6 + 16384LL * 16384 * 3 / 2), 0);
  EXPECT_EXIT(_exit(OpenHugeFramesWithLittleAddressSpace(y4m)), ::testing::ExitedWithCode(0), "");
  remove(y4m.c_str());
#endif
}

}  // namespace
