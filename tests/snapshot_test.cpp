// Snapshots: the picture as shown against what reached the window, the
// frame itself against the textbook conversion of its planes, one call per
// request, failures told, and the PNG files the module writes, read back
// with libpng.

#include <errno.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <array>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "desktop/x11_surface.h"
#include "desktop/xcomponent_host.h"
#include "quon_egl_api.h"
#include "quon_png_writer.h"
#include "quon_render.h"
#include "quon_renderManager.h"
#include "support/log_capture.h"
#include "support/module_fixture.h"
#include "support/test_frame.h"

namespace {

using test_support::AnyContains;

// Every OnSnapshot call, with a copy of its pixels (tight rows).
struct Recorder : ISnapshotListener {
  struct Call {
    std::string id;
    int32_t kind = -1;
    int error = -1;
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgba;
    std::string path;
    std::thread::id thread;
  };
  void OnSnapshot(const std::string& id, const SnapshotImage& image) override {
    Call call{id,           image.kind, image.error, image.width,
              image.height, {},         "",          std::this_thread::get_id()};
    if (image.path != nullptr)
      call.path = image.path;
    if (image.pixels != nullptr)
      for (int32_t row = 0; row < image.height; ++row)
        call.rgba.insert(call.rgba.end(), image.pixels + row * image.stride,
                         image.pixels + row * image.stride + image.width * 4);
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(std::move(call));
    if (then)
      then();
  }
  std::mutex mutex;
  std::vector<Call> calls;
  std::function<void()> then;  // run inside the call
};

// A frame's planes, made from a picture whose left third is light and
// reddish and whose other two thirds are dark and bluish, with a
// gradient down the rows: its turn, its mirror and its colours all show.
struct Planes {
  Planes(int w, int h) : width(w), height(h), cw((w + 1) / 2), ch((h + 1) / 2) {
    y.resize(static_cast<size_t>(w) * h);
    u.resize(static_cast<size_t>(cw) * ch);
    v.resize(u.size());
    for (int row = 0; row < h; ++row)
      for (int col = 0; col < w; ++col)
        y[row * w + col] = static_cast<uint8_t>((col * 3 < w ? 200 : 50) + row % 16);
    for (int row = 0; row < ch; ++row)
      for (int col = 0; col < cw; ++col) {
        u[row * cw + col] = static_cast<uint8_t>(col * 6 < w ? 100 : 170);
        v[row * cw + col] = static_cast<uint8_t>(col * 6 < w ? 180 : 90);
      }
    for (size_t i = 0; i < u.size(); ++i) {
      uv.insert(uv.end(), {u[i], v[i]});
      vu.insert(vu.end(), {v[i], u[i]});
    }
  }
  FrameDescription Describe(int32_t layout) const {
    FrameDescription frame;
    frame.layout = layout;
    frame.width = width;
    frame.height = height;
    frame.planes[0] = y.data();
    frame.planes[1] = layout == kFrameLayoutI420   ? u.data()
                      : layout == kFrameLayoutNv12 ? uv.data()
                                                   : vu.data();
    frame.planes[2] = layout == kFrameLayoutI420 ? v.data() : nullptr;
    return frame;
  }
  int width, height, cw, ch;
  std::vector<uint8_t> y, u, v, uv, vu;
};

// libpng's reading of `path` as RGB; empty when it cannot read it.
std::vector<uint8_t> DecodePng(const std::string& path, int* width, int* height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str()))
    return {};
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
    return {};
  *width = static_cast<int>(image.width);
  *height = static_cast<int>(image.height);
  return rgb;
}

std::vector<uint8_t> RgbOf(const std::vector<uint8_t>& rgba) {
  std::vector<uint8_t> rgb;
  for (size_t i = 0; i < rgba.size(); i += 4)
    rgb.insert(rgb.end(), rgba.begin() + i, rgba.begin() + i + 3);
  return rgb;
}

class SnapshotTest : public test_support::ModuleFixture {
 protected:
  void SetUp() override {
    ModuleFixture::SetUp();
    test_support::RequireDisplay();
  }
  void TearDown() override {
    if (component_)
      ohos_desktop::DispatchSurfaceDestroyed(component_.get());
    ModuleFixture::TearDown();
  }

  // A window of width x height bound to `id_`, its surface created.
  PluginRender* Bind(int width, int height, bool created = true) {
    window_ = ohos_desktop::X11Surface::Create(width, height, id_.c_str());
    if (window_ == nullptr)
      return nullptr;
    component_.reset(ohos_desktop::CreateXComponent(id_, width, height, window_->NativeWindow()));
    PluginRender* render = PluginRender::GetInstance(id_);
    render->SetNativeXComponent(component_.get());
    if (created)
      ohos_desktop::DispatchSurfaceCreated(component_.get());
    return render;
  }

  // The test's own id: an id keeps its settings for the process's life.
  std::string id_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::unique_ptr<ohos_desktop::X11Surface> window_;
  ohos_desktop::ScopedXComponent component_;
  PluginManager& manager_ = *PluginManager::GetInstance();
};

// As shown: a 4:3 frame fitted into a wide window (bars in the id's
// background colour), turned a quarter, mirrored. What the snapshot holds is what the window shows,
// exactly, at the window's size.
TEST_F(SnapshotTest, AsShownIsWhatTheWindowShows) {
  const struct {
    const char* name;
    int scale, rotation;
    bool mirror;
  } cases[] = {{"fit with bars", 2, 0, false},
               {"a quarter turn", 2, 90, false},
               {"mirrored and stretched", 1, 0, true},
               {"turned and mirrored, filled", 3, 270, true}};
  PluginRender* render = Bind(96, 40);
  ASSERT_NE(render, nullptr);
  const Planes planes(32, 24);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(manager_.SetScaleType(id_, c.scale));
    ASSERT_TRUE(manager_.SetRotation(id_, c.rotation));
    ASSERT_TRUE(manager_.SetMirror(id_, c.mirror));
    ASSERT_TRUE(manager_.SetBackgroundColor(id_, 0xff204060));
    Recorder recorder;
    ASSERT_TRUE(manager_.TakeSnapshot(id_, &recorder));
    ASSERT_TRUE(render->PushFrame(planes.Describe(kFrameLayoutI420)));
    ASSERT_EQ(recorder.calls.size(), 1u);
    const Recorder::Call& shot = recorder.calls[0];
    ASSERT_EQ(shot.error, 0);
    EXPECT_EQ(shot.kind, kSnapshotShown);
    ASSERT_EQ(shot.width, 96);
    ASSERT_EQ(shot.height, 40);
    std::vector<uint32_t> expected;
    for (size_t i = 0; i < shot.rgba.size(); i += 4)
      expected.push_back(static_cast<uint32_t>(shot.rgba[i]) << 16 | shot.rgba[i + 1] << 8 |
                         shot.rgba[i + 2]);
    const std::vector<uint32_t> shown = test_support::PixelsWhen(
        *window_, [&](const std::vector<uint32_t>& pixels) { return pixels == expected; });
    EXPECT_EQ(shown, expected);
    if (c.scale == 2) {
      EXPECT_EQ(expected[20 * 96 + 1], 0x204060u) << "a bar, in the id's background colour";
    }
  }
}

// The colour of Y'CbCr (y, cb, cr) by the textbook definition: the matrix
// of luma weights kr and kb, in limited range or full.
std::array<double, 3> Rgb(int y, int cb, int cr, double kr, double kb, bool limited) {
  const double luma = limited ? (y - 16) * 255.0 / 219.0 : y;
  const double pb = (cb - 128) * (limited ? 255.0 / 224.0 : 1.0);
  const double pr = (cr - 128) * (limited ? 255.0 / 224.0 : 1.0);
  const double red = luma + 2 * (1 - kr) * pr, blue = luma + 2 * (1 - kb) * pb;
  const double green = (luma - kr * red - kb * blue) / (1 - kr - kb);
  return {std::clamp(red, 0.0, 255.0), std::clamp(green, 0.0, 255.0), std::clamp(blue, 0.0, 255.0)};
}

// The frame itself: its own size, no turn or mirror, converted with the
// colour description it was drawn with (the frame's own, or the id's).
TEST_F(SnapshotTest, TheFrameItselfIsItsOwnPixels) {
  const struct {
    const char* name;
    int32_t layout;
    int32_t range;  // the frame's own, or the id's
    int id_range, id_matrix;
    double kr, kb;
    bool limited;
  } cases[] = {
      {"I420, the frame's full range BT.601", kFrameLayoutI420, kColorRangeFull, kColorRangeLimited,
       kColorMatrixBt709, 0.299, 0.114, false},
      {"NV12, the id's limited range BT.709", kFrameLayoutNv12, kFrameColourOfId,
       kColorRangeLimited, kColorMatrixBt709, 0.2126, 0.0722, true},
      {"NV21, the id's full range BT.2020", kFrameLayoutNv21, kFrameColourOfId, kColorRangeFull,
       kColorMatrixBt2020, 0.2627, 0.0593, false},
  };
  PluginRender* render = Bind(64, 64);
  ASSERT_NE(render, nullptr);
  ASSERT_TRUE(manager_.SetRotation(id_, 90));
  ASSERT_TRUE(manager_.SetMirror(id_, true));
  const Planes planes(37, 23);  // odd sides: chroma rounded up
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(manager_.SetColorDescription(id_, c.id_range, c.id_matrix));
    FrameDescription frame = planes.Describe(c.layout);
    frame.colorRange = c.range;
    frame.colorMatrix = c.range == kFrameColourOfId ? kFrameColourOfId : kColorMatrixBt601;
    Recorder recorder;
    ASSERT_TRUE(manager_.TakeSnapshot(id_, &recorder, kSnapshotFrame));
    ASSERT_TRUE(render->PushFrame(frame));
    ASSERT_EQ(recorder.calls.size(), 1u);
    const Recorder::Call& shot = recorder.calls[0];
    ASSERT_EQ(shot.error, 0);
    ASSERT_EQ(shot.width, 37);
    ASSERT_EQ(shot.height, 23);
    double worst = 0;
    for (int row = 0; row < 23; ++row)
      for (int col = 0; col < 37; ++col) {
        const size_t at = static_cast<size_t>(row / 2) * planes.cw + col / 2;
        const auto rgb =
            Rgb(planes.y[row * 37 + col], planes.u[at], planes.v[at], c.kr, c.kb, c.limited);
        for (int k = 0; k < 3; ++k)
          worst = std::max(worst, std::abs(shot.rgba[(row * 37 + col) * 4 + k] - rgb[k]));
        EXPECT_EQ(shot.rgba[(row * 37 + col) * 4 + 3], 255);
      }
    EXPECT_LE(worst, 0.51);
    EXPECT_GT(shot.rgba[0], shot.rgba[36 * 4]) << "turned or mirrored: the light third is left";
  }
}

// Each request is answered once, by the next frame drawn: two waiting for
// the same frame each get it, a later frame tells nobody again, and a
// listener may ask for the next snapshot from inside its call.
TEST_F(SnapshotTest, EachRequestIsAnsweredOnceByTheNextFrame) {
  PluginRender* render = Bind(32, 24);
  ASSERT_NE(render, nullptr);
  TestFrame::Counters counters;
  TestFrame frame(16, 12, &counters, 235);
  Recorder shown, own;
  ASSERT_TRUE(manager_.TakeSnapshot(id_, &shown));
  ASSERT_TRUE(manager_.TakeSnapshot(id_, &own, kSnapshotFrame));
  own.then = [&] { EXPECT_TRUE(manager_.TakeSnapshot(id_, &own, kSnapshotFrame)); };
  render->RenderFrame(&frame);
  ASSERT_EQ(shown.calls.size(), 1u);
  ASSERT_EQ(own.calls.size(), 1u);
  EXPECT_EQ(shown.calls[0].id, id_);
  EXPECT_EQ(shown.calls[0].thread, std::this_thread::get_id());
  EXPECT_EQ(shown.calls[0].width, 32);
  EXPECT_EQ(own.calls[0].width, 16);
  EXPECT_EQ(own.calls[0].rgba[0], 235) << "grey Y 235, full range by default";
  own.then = nullptr;
  render->RenderFrame(&frame);
  render->RenderFrame(&frame);
  EXPECT_EQ(shown.calls.size(), 1u);
  EXPECT_EQ(own.calls.size(), 2u) << "the request made from inside the call";

  // A frame the id's rate drops is not drawn: the snapshot waits for the
  // next frame that is.
  ASSERT_TRUE(manager_.SetMaxFrameRate(id_, 1));
  const Planes planes(16, 12);
  FrameDescription pushed = planes.Describe(kFrameLayoutI420);
  pushed.captureTimeUs = 1000000;
  ASSERT_TRUE(render->PushFrame(pushed));
  ASSERT_TRUE(manager_.TakeSnapshot(id_, &shown));
  pushed.captureTimeUs += 1000;
  ASSERT_TRUE(render->PushFrame(pushed));
  EXPECT_EQ(shown.calls.size(), 1u) << "answered by a frame dropped by the rate";
  pushed.captureTimeUs += 2000000;
  ASSERT_TRUE(render->PushFrame(pushed));
  EXPECT_EQ(shown.calls.size(), 2u);
}

// Never silence: a frame that cannot be drawn (no surface yet), a read-back
// the driver refuses, and a renderer destroyed with a snapshot waiting,
// which is told on the thread that destroys it.
TEST_F(SnapshotTest, SnapshotsThatCannotBeHadFail) {
  PluginRender* render = Bind(32, 24, /*created=*/false);
  ASSERT_NE(render, nullptr);
  const Planes planes(16, 12);
  Recorder recorder;
  ASSERT_TRUE(manager_.TakeSnapshot(id_, &recorder));
  EXPECT_FALSE(render->PushFrame(planes.Describe(kFrameLayoutNv12)));
  ASSERT_EQ(recorder.calls.size(), 1u);
  EXPECT_EQ(recorder.calls[0].error, ENODEV);
  EXPECT_TRUE(recorder.calls[0].rgba.empty());

  ohos_desktop::DispatchSurfaceCreated(component_.get());
  EglApi& api = eglcore_testing::MutableApi();
  const EglApi driver = api;
  api.glGetError = []() -> GLenum { return GL_INVALID_OPERATION; };
  ASSERT_TRUE(manager_.TakeSnapshot(id_, &recorder));
  const bool drawn = render->PushFrame(planes.Describe(kFrameLayoutNv12));
  api = driver;
  EXPECT_TRUE(drawn);
  ASSERT_EQ(recorder.calls.size(), 2u);
  EXPECT_EQ(recorder.calls[1].error, EIO);
  EXPECT_TRUE(AnyContains(sink_.lines(), "ReadBack: glReadPixels failed"));

  Recorder pending;
  ASSERT_TRUE(manager_.TakeSnapshot(id_, &pending, kSnapshotFrame));
  ASSERT_TRUE(manager_.TakeSnapshotToFile(id_, "/nonexistent/never.png", &pending));
  std::thread ui([&] { ohos_desktop::DispatchSurfaceDestroyed(component_.get()); });
  const std::thread::id ui_id = ui.get_id();
  ui.join();
  component_.reset();
  ASSERT_EQ(pending.calls.size(), 2u);
  for (const Recorder::Call& call : pending.calls) {
    EXPECT_EQ(call.error, ECANCELED);
    EXPECT_EQ(call.thread, ui_id);
  }
  EXPECT_EQ(pending.calls[1].path, "/nonexistent/never.png");
}

// An engine thread drawing while the app asks for snapshots of both kinds
// and the surface is destroyed under them: every request made is answered,
// once, by a frame or by the destruction.
TEST_F(SnapshotTest, EveryRequestIsAnsweredOnceWhileAnotherThreadDraws) {
  ASSERT_NE(Bind(32, 24), nullptr);
  struct Counter : ISnapshotListener {
    void OnSnapshot(const std::string&, const SnapshotImage&) override { ++answered; }
    std::atomic<int> answered{0};
  } counter;
  const Planes planes(16, 12);
  std::atomic<bool> stop{false};
  std::thread engine([&] {
    const FrameDescription frame = planes.Describe(kFrameLayoutNv12);
    while (!stop)
      manager_.PushFrame(id_, &frame);
  });
  int asked = 0;
  for (int i = 0; i < 300; ++i) {
    if (manager_.TakeSnapshot(id_, &counter, i % 2 == 0 ? kSnapshotShown : kSnapshotFrame))
      ++asked;
    if (i == 200) {
      ohos_desktop::DispatchSurfaceDestroyed(component_.get());
      component_.reset();
    }
    std::this_thread::yield();
  }
  stop = true;
  engine.join();
  EXPECT_GT(asked, 200);
  EXPECT_EQ(counter.answered.load(), asked);
}

// Refused with one line and false, nothing asked: a null listener, a kind
// that is neither, an id without a renderer, an empty path.
TEST_F(SnapshotTest, BadRequestsAreRefused) {
  PluginRender* render = Bind(32, 24);
  ASSERT_NE(render, nullptr);
  Recorder recorder;
  std::string stranger = "no-such-id";
  const struct {
    const char* line;
    std::function<bool()> ask;
  } cases[] = {
      {"TakeSnapshot: refused, the listener is null",
       [&] { return manager_.TakeSnapshot(id_, nullptr); }},
      {"TakeSnapshot: refused, the listener is null",
       [&] { return render->TakeSnapshot(nullptr, 0); }},
      {"TakeSnapshot: refused, unknown kind, kind=2",
       [&] { return manager_.TakeSnapshot(id_, &recorder, 2); }},
      {"TakeSnapshot: refused, no renderer for id=no-such-id",
       [&] { return manager_.TakeSnapshot(stranger, &recorder); }},
      {"TakeSnapshotToFile: refused, the path is empty",
       [&] { return manager_.TakeSnapshotToFile(id_, "", &recorder); }},
      {"TakeSnapshotToFile: refused, no renderer for id=no-such-id",
       [&] { return manager_.TakeSnapshotToFile(stranger, "x.png"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    sink_.TakeLines();
    EXPECT_FALSE(c.ask());
    const auto lines = sink_.TakeLines();
    EXPECT_TRUE(AnyContains(lines, c.line));
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(),
                      [](const std::string& l) { return l.find("refused") != std::string::npos; }),
        1);
  }
  EXPECT_EQ(PluginRender::FindInstance(stranger), nullptr) << "a look-up made a renderer";
  TestFrame::Counters counters;
  TestFrame frame(16, 12, &counters);
  render->RenderFrame(&frame);
  EXPECT_TRUE(recorder.calls.empty());
}

// What is shown, to a PNG file: libpng reads back the same pixels as the
// snapshot in memory of the same frame. A FIFO or a missing folder is
// told as captures tell it, and the previous file stays.
TEST_F(SnapshotTest, AsShownToAPngFile) {
  PluginRender* render = Bind(90, 50);
  ASSERT_NE(render, nullptr);
  ASSERT_TRUE(manager_.SetRotation(id_, 90));
  const Planes planes(40, 30);
  const std::string dir = ::testing::TempDir();
  const std::string path = dir + "snapshot_shown.png", fifo = dir + "snapshot_fifo.png";
  remove(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  Recorder memory, file;
  ASSERT_TRUE(manager_.TakeSnapshot(id_, &memory));
  ASSERT_TRUE(manager_.TakeSnapshotToFile(id_, path, &file));
  ASSERT_TRUE(manager_.TakeSnapshotToFile(id_, fifo, &file));
  ASSERT_TRUE(manager_.TakeSnapshotToFile(id_, dir + "missing/x.png", &file));
  ASSERT_TRUE(manager_.TakeSnapshotToFile(id_, dir + "snapshot_unheard.png"));  // no listener
  ASSERT_TRUE(render->PushFrame(planes.Describe(kFrameLayoutNv21)));
  ASSERT_EQ(memory.calls.size(), 1u);
  ASSERT_EQ(file.calls.size(), 3u);
  EXPECT_EQ(file.calls[0].path, path);
  EXPECT_EQ(file.calls[0].error, 0);
  EXPECT_EQ(file.calls[0].rgba, memory.calls[0].rgba);
  EXPECT_EQ(file.calls[1].error, EINVAL);
  EXPECT_EQ(file.calls[2].error, ENOENT);
  EXPECT_EQ(file.calls[2].rgba, memory.calls[0].rgba) << "the pixels are still given";
  int w = 0, h = 0;
  EXPECT_EQ(DecodePng(path, &w, &h), RgbOf(memory.calls[0].rgba));
  EXPECT_EQ(w * 1000 + h, 90050);
  EXPECT_FALSE(DecodePng(dir + "snapshot_unheard.png", &w, &h).empty());
  remove(fifo.c_str());
}

// The writer on its own: pictures of more than one stored block and more
// than one IDAT chunk, rows with padding, and the checksums against their
// known values.
TEST(PngWriterTest, LibpngReadsWhatItWrites) {
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(png::Crc32(0, digits, sizeof(digits)), 0xcbf43926u);
  const std::string wiki = "Wikipedia";
  EXPECT_EQ(png::Adler32(1, reinterpret_cast<const uint8_t*>(wiki.data()), wiki.size()),
            0x11e60398u);
  const struct {
    int width, height, stride;
  } cases[] = {{1, 1, 4}, {3, 5, 16}, {200, 120, 800}, {700, 600, 2804}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    std::vector<uint8_t> rgba(static_cast<size_t>(c.stride) * c.height);
    for (size_t i = 0; i < rgba.size(); ++i)
      rgba[i] = static_cast<uint8_t>(i * 7 + i / 1000);
    std::vector<uint8_t> rgb;
    for (int row = 0; row < c.height; ++row)
      for (int col = 0; col < c.width; ++col)
        for (int k = 0; k < 3; ++k)
          rgb.push_back(rgba[static_cast<size_t>(row) * c.stride + col * 4 + k]);
    const std::string path = ::testing::TempDir() + "png_writer.png";
    int error = -1;
    ASSERT_TRUE(png::WriteFile(rgba.data(), c.width, c.height, c.stride, path, &error));
    EXPECT_EQ(error, 0);
    int w = 0, h = 0;
    EXPECT_EQ(DecodePng(path, &w, &h), rgb);
    EXPECT_EQ(w, c.width);
    EXPECT_EQ(h, c.height);
  }
  std::vector<uint8_t> file;
  const uint8_t pixel[4] = {};
  EXPECT_FALSE(png::EncodeRgb(pixel, 0, 1, 4, &file));
  EXPECT_FALSE(png::EncodeRgb(pixel, 2, 1, 4, &file)) << "a stride below the row";
  EXPECT_FALSE(png::EncodeRgb(nullptr, 1, 1, 4, &file));
  int error = 0;
  EXPECT_FALSE(png::WriteFile(pixel, 1, 1, 4, "", &error));
  EXPECT_EQ(error, EINVAL);
}

}  // namespace
