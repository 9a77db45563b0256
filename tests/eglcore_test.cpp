// The drawing core on the real EGL and GLES, drawing into real X11 windows:
// pixels are read back from the window after the swap.

#include <EGL/egl.h>
#include <stdlib.h>
#include <libyuv/convert_argb.h>

#include <string.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "desktop/x11_surface.h"
#include "quon_eglcore.h"
#include "rtc_base/logging.h"
#include "support/eglcore_peer.h"
#include "support/guarded_plane.h"
#include "support/log_capture.h"
#include "support/module_fixture.h"

namespace {

using ohos_desktop::X11Surface;
using test_support::AnyContains;
using test_support::PixelsWhen;
using test_support::ShaderColourIs;
using test_support::kShaderRounding;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

// --- Helpers -------------------------------------------------------------------

// An I420 frame whose planes end at a guard page.
struct Frame {
  Frame(int w, int h, uint8_t y, uint8_t u, uint8_t v)
      : width(w),
        height(h),
        chroma_width((w + 1) / 2),
        chroma_height((h + 1) / 2),
        Y(static_cast<size_t>(w) * h, y),
        U(static_cast<size_t>(chroma_width) * chroma_height, u),
        V(static_cast<size_t>(chroma_width) * chroma_height, v) {}

  // Sets the luma of columns [x0, x1) of every row.
  void FillLumaColumns(int x0, int x1, uint8_t y) {
    for (int row = 0; row < height; ++row)
      std::fill(&Y[static_cast<size_t>(row) * width + x0], &Y[static_cast<size_t>(row) * width + x1], y);
  }

  void Draw(EGLCore& core) const { core.onRenderData(Y.data(), U.data(), V.data(), width, height); }

  int width, height, chroma_width, chroma_height;
  GuardedPlane Y, U, V;
};

struct Rgb {
  int r, g, b;
};

Rgb RgbOf(uint32_t pixel) {
  return {static_cast<int>(pixel >> 16 & 0xff), static_cast<int>(pixel >> 8 & 0xff),
          static_cast<int>(pixel & 0xff)};
}

// What the fragment shader computes for flat planes.
Rgb ShaderRgb(uint8_t y, uint8_t u, uint8_t v) {
  const float fy = y / 255.0f, fu = u / 255.0f - 0.5f, fv = v / 255.0f - 0.5f;
  auto to8 = [](float c) { return static_cast<int>(std::lround(std::clamp(c, 0.0f, 1.0f) * 255.0f)); };
  return {to8(fy + 1.403f * fv), to8(fy - 0.344f * fu - 0.714f * fv), to8(fy + 1.77f * fu)};
}

// An independent full-range conversion of a 2x2 frame of one colour.
Rgb LibyuvRgb(uint8_t y, uint8_t u, uint8_t v) {
  const uint8_t ys[4] = {y, y, y, y};
  uint8_t argb[16];
  libyuv::J420ToARGB(ys, 2, &u, 1, &v, 1, argb, 8, 2, 2);
  return {argb[2], argb[1], argb[0]};  // little-endian ARGB is B, G, R, A in memory
}

void ExpectNear(const Rgb& actual, const Rgb& expected, const std::string& what) {
  EXPECT_NEAR(actual.r, expected.r, kShaderRounding) << what << " red";
  EXPECT_NEAR(actual.g, expected.g, kShaderRounding) << what << " green";
  EXPECT_NEAR(actual.b, expected.b, kShaderRounding) << what << " blue";
}

class EGLCoreTest : public test_support::ModuleFixture {
 protected:
  void SetUp() override {
    ModuleFixture::SetUp();
    test_support::RequireDisplay();
  }

  std::unique_ptr<X11Surface> Window(int w, int h) {
    auto surface = X11Surface::Create(w, h, "eglcore test");
    EXPECT_NE(surface, nullptr) << "no X display (scripts/test provides one)";
    return surface;
  }

  // Traces written since the last call.
  std::vector<std::string> Traces() { return sink_.TakeLines(); }

  static uint32_t At(const std::vector<uint32_t>& pixels, const X11Surface& s, int x, int y) {
    return pixels[static_cast<size_t>(y) * s.width() + x] & 0xffffff;
  }
};

// --- Environment ------------------------------------------------------------------

TEST_F(EGLCoreTest, ShadersAreTheExactTexts) {
  EXPECT_EQ(strlen(EGLCore::kVertexShader), 173u);
  EXPECT_EQ(strlen(EGLCore::kFragmentShader), 409u);
  EXPECT_THAT(EGLCore::kFragmentShader,
              HasSubstr("vec4(y + 1.403 * v,                       y - 0.344 * u"));
}

TEST_F(EGLCoreTest, InitBuildsEverythingAndLeavesNoContextCurrent) {
  auto window = Window(64, 48);
  EGLCore core;
  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 64, 48));
  EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
  EXPECT_NE(Peek(core).display(), nullptr);
  EXPECT_NE(Peek(core).surface(), nullptr);
  EXPECT_NE(Peek(core).context(), nullptr);
  EXPECT_NE(Peek(core).program(), 0u);
  const EGLCoreTestPeer state = Peek(core);
  for (GLint location : {state.m_positionHandle(), state.matrixHandle(), state.coordHandle(),
                         state.yhandle(), state.uhandle(), state.vhandle()})
    EXPECT_GE(location, 0);
  EXPECT_FLOAT_EQ(Peek(core).drawnAspectRatio(), 64.0f / 48.0f);

  const auto traces = Traces();
  EXPECT_TRUE(AnyContains(traces, ": EglContextInit: w,h=64,48,1.33333"));
  EXPECT_TRUE(AnyContains(traces, ": CreateEnvironment: context:0x"));
  EXPECT_TRUE(AnyContains(traces, ": CreateProgram: linked success!!!"));
  EXPECT_TRUE(AnyContains(traces, ": CreateEnvironment: m_positionHandle:"));
  const auto platform = PlatformLines();
  EXPECT_THAT(platform, Contains("[NATIVE] EGLCore::EglContextInit 1 64,48,"));
  EXPECT_THAT(platform, Contains("[NATIVE] EGLCore1:: createProgram linked success"));
}

TEST_F(EGLCoreTest, NullWindowReportsBothErrors) {
  EGLCore core;
  Traces();
  EXPECT_FALSE(core.EglContextInit(nullptr, 64, 48));
  const auto traces = Traces();
  ASSERT_EQ(traces.size(), 2u);
  EXPECT_THAT(traces[0], HasSubstr(": EglContextInit: window=nullptr\n"));
  EXPECT_THAT(traces[1], HasSubstr(": EglContextInit:  param error\n"));
  EXPECT_THAT(PlatformLines(),
              ::testing::ElementsAre("[NATIVE] GLCore::EglContextInit window=nullptr",
                                     "[NATIVE] EGLCore::EglContextInit: param error"));
}

TEST_F(EGLCoreTest, BadSizeReportsParamErrorAndChangesNothing) {
  auto window = Window(32, 32);
  EGLCore core;
  Traces();
  for (auto [w, h] : {std::pair{0, 32}, {32, 0}, {-5, 32}, {32, -1}}) {
    EXPECT_FALSE(core.EglContextInit(window->NativeWindow(), w, h));
    EXPECT_EQ(Peek(core).width(), 0);
    EXPECT_EQ(Peek(core).height(), 0);
    EXPECT_EQ(Peek(core).nativeWindow(), nullptr);
    EXPECT_EQ(Peek(core).display(), nullptr);
  }
  const auto traces = Traces();
  EXPECT_EQ(traces.size(), 4u);
  EXPECT_FALSE(AnyContains(traces, "window=nullptr"));
}

// A window id the display does not know: the surface step fails, and the
// release that follows reports each missing object and still finishes.
TEST_F(EGLCoreTest, UnknownWindowFailsAtSurfaceAndReleaseCleansUp) {
  auto window = Window(16, 16);  // keeps the display busy with a real client
  EGLCore core;
  void* bogus = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1fffff0));
  EXPECT_FALSE(core.EglContextInit(bogus, 16, 16));
  EXPECT_TRUE(AnyContains(Traces(), ": CreateEnvironment: surface is null"));
  EXPECT_THAT(PlatformLines(),
              Contains("[NATIVE] EGLCore:: eglCreateWindowSurface: unable to create surface"));
  EXPECT_NE(Peek(core).display(), nullptr);
  EXPECT_EQ(Peek(core).surface(), nullptr);
  EXPECT_EQ(Peek(core).program(), 0u);

  core.Release();
  const auto platform = PlatformLines();
  EXPECT_THAT(platform, Contains("EGLCore Release eglDestroySurface failed"));
  EXPECT_THAT(platform, Contains("EGLCore Release eglDestroyContext failed"));
  EXPECT_THAT(platform, Contains("[NATIVE] egl Release end"));
  EXPECT_THAT(platform, Not(Contains("EGLCore Release eglTerminate failed")));
  EXPECT_EQ(Peek(core).display(), nullptr);

  core.Release();
  EXPECT_THAT(PlatformLines(), ::testing::ElementsAre("[NATIVE] no again"));
}

TEST_F(EGLCoreTest, ReleaseOfNeverInitialisedCoreOnlySaysNoAgain) {
  EGLCore core;
  Traces();
  core.Release();
  const auto traces = Traces();
  ASSERT_EQ(traces.size(), 2u);
  EXPECT_THAT(traces[0], HasSubstr(": Release: begine.\n"));
  EXPECT_THAT(traces[1], HasSubstr(": Release: no again.\n"));
  EXPECT_THAT(PlatformLines(), ::testing::ElementsAre("[NATIVE] no again"));
}

TEST_F(EGLCoreTest, ReleaseTwiceThenInitAgainDrawsAgain) {
  auto window = Window(40, 30);
  EGLCore core;
  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 40, 30));
  Frame(40, 30, 255, 128, 128).Draw(core);
  PlatformLines();
  core.Release();
  auto platform = PlatformLines();
  EXPECT_THAT(platform, Contains("[NATIVE] delete program."));
  EXPECT_THAT(platform, Contains("[NATIVE]  delete txture"));
  EXPECT_THAT(platform, Contains("[NATIVE] egl Release begin"));
  EXPECT_THAT(platform, Contains("[NATIVE] egl Release end"));
  EXPECT_EQ(Peek(core).program(), 0u);
  EXPECT_EQ(Peek(core)._ytid(), 0u);
  EXPECT_EQ(Peek(core).display(), nullptr);

  core.Release();
  EXPECT_THAT(PlatformLines(), ::testing::ElementsAre("[NATIVE] no again"));

  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 40, 30));
  Frame(40, 30, 0, 128, 255).Draw(core);  // dark red
  const int red = ShaderRgb(0, 128, 255).r;
  const auto pixels = PixelsWhen(*window, [&](const auto& p) {
    return std::abs(RgbOf(At(p, *window, 20, 15)).r - red) <= kShaderRounding;
  });
  ExpectNear(RgbOf(At(pixels, *window, 20, 15)), ShaderRgb(0, 128, 255), "after re-init");
}

// The environment, the programs and the textures write their lines as the
// core's own: under the core's address, which is how a log ties them to
// the renderer's core.
TEST_F(EGLCoreTest, EveryPartWritesUnderTheCoresAddress) {
  auto window = Window(32, 32);
  EGLCore core;
  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 32, 32));
  Frame(32, 32, 90, 100, 160).Draw(core);
  core.SetColorDescription(/*limitedRange=*/true, colour::YuvMatrix::kBt709);
  Frame(32, 32, 90, 100, 160).Draw(core);
  core.Release();
  const auto traces = Traces();
  const std::string core_address = test_support::PointerText(&core) + ": ";
  for (const std::string& line : traces)
    EXPECT_THAT(line, HasSubstr(core_address));
  for (const char* part_line : {"CreateEnvironment: context:", "CreateProgram: linked success!!!",
                                "onRenderData: colour program ", "onRenderData: ytid:",
                                "DeleteTexture: delete txture.", "ReleaseObj: delete program."})
    EXPECT_TRUE(AnyContains(traces, core_address + part_line)) << part_line;
}

// --- Drawing: colour ------------------------------------------------------------

struct ColourCase {
  const char* name;
  uint8_t y, u, v;
};

TEST_F(EGLCoreTest, FlatFramesRenderTheShaderColour) {
  const ColourCase cases[] = {
      {"black", 0, 128, 128},  {"white", 255, 128, 128}, {"red", 76, 85, 255},
      {"green", 150, 44, 21},  {"blue", 29, 255, 107},   {"grey", 128, 128, 128},
  };
  auto window = Window(48, 32);
  EGLCore core;
  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 48, 32));
  for (const ColourCase& c : cases) {
    Frame frame(48, 32, c.y, c.u, c.v);
    frame.Draw(core);
    const Rgb expected = ShaderRgb(c.y, c.u, c.v);
    auto close = [&](const std::vector<uint32_t>& p) {
      const Rgb got = RgbOf(At(p, *window, 24, 16));
      return std::abs(got.r - expected.r) <= kShaderRounding &&
             std::abs(got.g - expected.g) <= kShaderRounding &&
             std::abs(got.b - expected.b) <= kShaderRounding;
    };
    const auto pixels = PixelsWhen(*window, close);
    for (auto [x, y] : {std::pair{0, 0}, {47, 0}, {24, 16}, {0, 31}, {47, 31}}) {
      const Rgb got = RgbOf(At(pixels, *window, x, y));
      ExpectNear(got, expected, std::string(c.name) + " against the shader formula");
      ExpectNear(got, LibyuvRgb(c.y, c.u, c.v), std::string(c.name) + " against libyuv");
    }
  }
}

// A levels clip in limited range: black (Y 16), white (Y 235) and pure red.
// Described as limited they reach the ends of the scale; undescribed they
// are drawn exactly as the specified formula gives, as before.
TEST_F(EGLCoreTest, LimitedRangeFramesReachTrueBlackAndWhite) {
  const ColourCase levels[] = {{"black", 16, 128, 128}, {"white", 235, 128, 128},
                               {"red", 81, 90, 240}};
  auto window = Window(48, 32);
  EGLCore core;
  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 48, 32));
  for (bool described : {true, false}) {
    core.SetColorDescription(described, false);
    for (const ColourCase& c : levels) {
      SCOPED_TRACE(testing::Message() << c.name << (described ? " limited" : " undescribed"));
      Frame frame(48, 32, c.y, c.u, c.v);
      frame.Draw(core);
      const Rgb formula = ShaderRgb(c.y, c.u, c.v);
      // Waits for this case's colour, not merely its red: the white of the
      // case before would pass for the red one.
      const auto pixels = PixelsWhen(*window, [&](const auto& p) {
        const Rgb got = RgbOf(At(p, *window, 24, 16));
        if (!described)
          return std::abs(got.r - formula.r) <= kShaderRounding &&
                 std::abs(got.g - formula.g) <= kShaderRounding;
        if (c.y == 16)
          return std::max({got.r, got.g, got.b}) <= kShaderRounding;
        return c.y == 235 ? std::min({got.r, got.g, got.b}) >= 253
                          : got.r >= 250 && std::max(got.g, got.b) <= 8;
      });
      const Rgb got = RgbOf(At(pixels, *window, 24, 16));
      if (!described) {
        ExpectNear(got, formula, "the specified formula");
      } else if (c.y == 16) {
        EXPECT_LE(std::max({got.r, got.g, got.b}), kShaderRounding);
      } else if (c.y == 235) {
        EXPECT_GE(std::min({got.r, got.g, got.b}), 253);
      } else {
        EXPECT_GE(got.r, 250);
        EXPECT_LE(std::max(got.g, got.b), 8);
      }
    }
  }
}

// BT.2020 frames, limited and full range, drawn in the colours of the
// textbook equations (BT.709 beside them, through the same program).
TEST_F(EGLCoreTest, Bt2020FramesDrawTheirEquationsColours) {
  using colour::YuvMatrix;
  const struct {
    YuvMatrix matrix;
    double kr, kb;
  } matrices[] = {{YuvMatrix::kBt2020, 0.2627, 0.0593}, {YuvMatrix::kBt709, 0.2126, 0.0722}};
  const ColourCase colours[] = {{"orange", 150, 90, 190},
                                {"teal", 110, 150, 80},
                                {"white", 235, 128, 128},
                                {"purple", 70, 170, 170}};
  auto window = Window(48, 32);
  EGLCore core;
  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 48, 32));
  for (const auto& m : matrices) {
    for (bool limited : {true, false}) {
      core.SetColorDescription(limited, m.matrix);
      for (const ColourCase& c : colours) {
        SCOPED_TRACE(testing::Message()
                     << c.name << (limited ? " limited" : " full") << " kr " << m.kr);
        const double luma = limited ? (c.y - 16) / 219.0 : c.y / 255.0;
        const double cb = (c.u - 128) / (limited ? 224.0 : 255.0);
        const double cr = (c.v - 128) / (limited ? 224.0 : 255.0);
        const double r = luma + 2 * (1 - m.kr) * cr, b = luma + 2 * (1 - m.kb) * cb;
        const double g = (luma - m.kr * r - m.kb * b) / (1 - m.kr - m.kb);
        auto to8 = [](double v) {
          return static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
        };
        const Rgb expected{to8(r), to8(g), to8(b)};
        const uint32_t want =
            static_cast<uint32_t>(expected.r << 16 | expected.g << 8 | expected.b);
        Frame(48, 32, c.y, c.u, c.v).Draw(core);
        const auto p = PixelsWhen(
            *window, [&](const auto& px) { return ShaderColourIs(At(px, *window, 24, 16), want); });
        ExpectNear(RgbOf(At(p, *window, 24, 16)), expected, "the equations");
      }
    }
  }
}

// --- Drawing: geometry ----------------------------------------------------------

// A 64x36 (16:9) frame: red in the left eighth, blue in the right eighth,
// white between, drawn on a 160x120 (4:3) window.
class GeometryTest : public EGLCoreTest {
 protected:
  void SetUp() override {
    EGLCoreTest::SetUp();
    window_ = Window(160, 120);
    ASSERT_NE(window_, nullptr);
    ASSERT_TRUE(core_.EglContextInit(window_->NativeWindow(), 160, 120));
    frame_ = std::make_unique<Frame>(64, 36, 255, 128, 128);
    frame_->FillLumaColumns(0, 8, 76);
    frame_->FillLumaColumns(56, 64, 29);
    // Chroma for the coloured bands (chroma columns 0..3 and 28..31).
    for (int row = 0; row < frame_->chroma_height; ++row) {
      for (int col = 0; col < frame_->chroma_width; ++col) {
        const size_t i = static_cast<size_t>(row) * frame_->chroma_width + col;
        if (col < 4) { frame_->U[i] = 85; frame_->V[i] = 255; }
        if (col >= 28) { frame_->U[i] = 255; frame_->V[i] = 107; }
      }
    }
  }

  std::vector<uint32_t> DrawWithType(int type) {
    core_.SetScaleType(type);
    frame_->Draw(core_);
    // The middle of the window shows the frame's white in every mode.
    return PixelsWhen(*window_, [&](const auto& p) {
      return ShaderColourIs(At(p, *window_, 80, 60), 0xffffff) && Peek(core_).scaleType() == type;
    });
  }

  bool IsBlack(const std::vector<uint32_t>& p, int x, int y) { return At(p, *window_, x, y) == 0; }
  bool IsWhite(const std::vector<uint32_t>& p, int x, int y) {
    return ShaderColourIs(At(p, *window_, x, y), 0xffffff);
  }
  bool IsRed(const std::vector<uint32_t>& p, int x, int y) {
    const Rgb c = RgbOf(At(p, *window_, x, y));
    return c.r > 200 && c.g < 60 && c.b < 60;
  }

  std::unique_ptr<X11Surface> window_;
  EGLCore core_;
  std::unique_ptr<Frame> frame_;
};

TEST_F(GeometryTest, FitLeavesBarsAboveAndBelow) {
  const auto p = DrawWithType(2);
  EXPECT_FLOAT_EQ(Peek(core_).texMatrix()[0], 1.0f);
  EXPECT_FLOAT_EQ(Peek(core_).texMatrix()[5], 0.75f);
  // scaleY 0.75 on 120 rows: the picture spans rows 15..104.
  for (int x : {3, 80, 156}) {
    EXPECT_TRUE(IsBlack(p, x, 0)) << x;
    EXPECT_TRUE(IsBlack(p, x, 13)) << x;
    EXPECT_FALSE(IsBlack(p, x, 17)) << x;
    EXPECT_FALSE(IsBlack(p, x, 102)) << x;
    EXPECT_TRUE(IsBlack(p, x, 106)) << x;
    EXPECT_TRUE(IsBlack(p, x, 119)) << x;
  }
  EXPECT_TRUE(IsRed(p, 3, 60));  // the whole width of the frame is visible
}

TEST_F(GeometryTest, FillCropsTheSides) {
  const auto p = DrawWithType(3);
  EXPECT_NEAR(Peek(core_).texMatrix()[0], (16.0f / 9.0f) / (4.0f / 3.0f), 1e-5);
  EXPECT_FLOAT_EQ(Peek(core_).texMatrix()[5], 1.0f);
  // No bars, and the red and blue eighths of the frame are cropped away.
  for (int y : {0, 60, 119}) {
    EXPECT_TRUE(IsWhite(p, 3, y)) << y;
    EXPECT_TRUE(IsWhite(p, 156, y)) << y;
  }
}

TEST_F(GeometryTest, StretchCoversTheSurface) {
  const auto p = DrawWithType(1);
  EXPECT_FLOAT_EQ(Peek(core_).texMatrix()[0], 1.0f);
  EXPECT_FLOAT_EQ(Peek(core_).texMatrix()[5], 1.0f);
  for (int y : {0, 60, 119}) {
    EXPECT_TRUE(IsRed(p, 3, y)) << y;
    EXPECT_TRUE(IsWhite(p, 80, y)) << y;
  }
}

TEST_F(GeometryTest, UnknownScaleTypeActsAsStretch) {
  DrawWithType(2);
  DrawWithType(42);
  EXPECT_FLOAT_EQ(Peek(core_).texMatrix()[0], 1.0f);
  EXPECT_FLOAT_EQ(Peek(core_).texMatrix()[5], 1.0f);
}

// Every turn, mirrored and not, under every scale type: a 64x36 frame of
// four coloured quadrants (red, green / blue, white) on a 160x120 window.
// Each quadrant must show where the turn and then the mirror take it, the
// picture fitted by its turned shape (a quarter turn makes it 36 wide and
// 64 high), with bars exactly where the fit leaves them.
TEST_F(EGLCoreTest, TurnedAndMirroredPicturesLandWhereTheyShould) {
  constexpr int kW = 160, kH = 120;
  auto window = Window(kW, kH);
  ASSERT_NE(window, nullptr);
  EGLCore core;
  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), kW, kH));
  Frame frame(64, 36, 255, 128, 128);
  const ColourCase quadrants[2][2] = {{{"red", 76, 85, 255}, {"green", 150, 44, 21}},
                                      {{"blue", 29, 255, 107}, {"white", 255, 128, 128}}};
  for (int row = 0; row < 36; ++row) {
    for (int col = 0; col < 64; ++col) {
      const ColourCase& q = quadrants[row / 18][col / 32];
      frame.Y[static_cast<size_t>(row) * 64 + col] = q.y;
      if (row % 2 == 0 && col % 2 == 0) {
        const size_t c = static_cast<size_t>(row / 2) * 32 + col / 2;
        frame.U[c] = q.u;
        frame.V[c] = q.v;
      }
    }
  }
  for (int type : {1, 2, 3}) {
    for (int rotation : {0, 90, 180, 270}) {
      for (bool mirror : {false, true}) {
        SCOPED_TRACE(testing::Message() << "type " << type << ", rotation " << rotation
                                        << (mirror ? ", mirrored" : ""));
        core.SetScaleType(type);
        core.SetOrientation(rotation, mirror);
        frame.Draw(core);
        // The picture's rectangle on the window, clipped to it.
        const bool quarter = rotation % 180 != 0;
        const double f = quarter ? 36.0 / 64.0 : 64.0 / 36.0, d = 4.0 / 3.0;
        double w = kW, h = kH;  // stretch, and fill (which covers the window)
        if (type == 2 && f > d)
          h = kW / f;
        else if (type == 2)
          w = kH * f;
        const double x0 = (kW - w) / 2, y0 = (kH - h) / 2;
        // Where frame quadrant (fx, fy) goes: turned clockwise, then flipped.
        const auto place = [&](int fx, int fy) {
          int px = fx, py = fy;
          if (rotation == 90)
            px = 1 - fy, py = fx;
          else if (rotation == 180)
            px = 1 - fx, py = 1 - fy;
          else if (rotation == 270)
            px = fy, py = 1 - fx;
          return std::pair{mirror ? 1 - px : px, py};
        };
        const auto centre = [&](int px, int py) {
          return std::pair{static_cast<int>(x0 + w * (px * 2 + 1) / 4),
                           static_cast<int>(y0 + h * (py * 2 + 1) / 4)};
        };
        const auto expected = [&](int fx, int fy) {
          const ColourCase& q = quadrants[fy][fx];
          const Rgb rgb = ShaderRgb(q.y, q.u, q.v);
          return static_cast<uint32_t>(rgb.r << 16 | rgb.g << 8 | rgb.b);
        };
        const auto all_in_place = [&](const std::vector<uint32_t>& p) {
          for (int fy : {0, 1})
            for (int fx : {0, 1}) {
              const auto [px, py] = place(fx, fy);
              const auto [x, y] = centre(px, py);
              if (!ShaderColourIs(At(p, *window, x, y), expected(fx, fy)))
                return false;
            }
          return true;
        };
        const auto p = PixelsWhen(*window, all_in_place);
        for (int fy : {0, 1})
          for (int fx : {0, 1}) {
            const auto [px, py] = place(fx, fy);
            const auto [x, y] = centre(px, py);
            EXPECT_PRED2(ShaderColourIs, At(p, *window, x, y), expected(fx, fy))
                << quadrants[fy][fx].name << " at " << x << "," << y;
          }
        // Bars three pixels outside a fitted picture's edges, none inside.
        if (w < kW) {
          for (int x : {static_cast<int>(x0) - 3, static_cast<int>(x0 + w) + 3})
            EXPECT_EQ(At(p, *window, x, kH / 2), 0u) << "bar at x " << x;
          for (int x : {static_cast<int>(x0) + 3, static_cast<int>(x0 + w) - 4})
            EXPECT_NE(At(p, *window, x, kH / 2), 0u) << "picture at x " << x;
        }
        if (h < kH) {
          for (int y : {static_cast<int>(y0) - 3, static_cast<int>(y0 + h) + 3})
            EXPECT_EQ(At(p, *window, kW / 2, y), 0u) << "bar at y " << y;
          for (int y : {static_cast<int>(y0) + 3, static_cast<int>(y0 + h) - 4})
            EXPECT_NE(At(p, *window, kW / 2, y), 0u) << "picture at y " << y;
        }
      }
    }
  }
}

TEST_F(EGLCoreTest, EqualAspectRatiosCoverTheSurfaceInEveryType) {
  auto window = Window(160, 120);
  EGLCore core;
  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 160, 120));
  for (int type : {1, 2, 3}) {
    core.SetScaleType(type);
    Frame(64, 48, 255, 128, 128).Draw(core);
    EXPECT_FLOAT_EQ(Peek(core).texMatrix()[0], 1.0f) << type;
    EXPECT_FLOAT_EQ(Peek(core).texMatrix()[5], 1.0f) << type;
    const auto p = PixelsWhen(
        *window, [&](const auto& px) { return ShaderColourIs(At(px, *window, 0, 0), 0xffffff); });
    for (auto [x, y] : {std::pair{0, 0}, {159, 0}, {0, 119}, {159, 119}})
      EXPECT_PRED2(ShaderColourIs, At(p, *window, x, y), 0xffffffu) << "type " << type;
  }
}

TEST_F(EGLCoreTest, FirstRowOfTheFrameIsAtTheTop) {
  auto window = Window(64, 64);
  EGLCore core;
  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 64, 64));
  Frame frame(32, 32, 0, 128, 128);
  std::fill(&frame.Y[0], &frame.Y[16 * 32], 255);  // top half white
  frame.Draw(core);
  const auto p = PixelsWhen(
      *window, [&](const auto& px) { return ShaderColourIs(At(px, *window, 32, 2), 0xffffff); });
  EXPECT_PRED2(ShaderColourIs, At(p, *window, 32, 2), 0xffffffu);
  ExpectNear(RgbOf(At(p, *window, 32, 61)), ShaderRgb(0, 128, 128), "bottom half");
}

// --- Drawing: odd sizes -----------------------------------------------------------

// Columns of distinct grey: rows read with the wrong alignment would shift.
TEST_F(EGLCoreTest, OddWidthPlanesAreReadExactly) {
  auto window = Window(100, 60);
  EGLCore core;
  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 100, 60));
  core.SetScaleType(1);
  Frame frame(5, 3, 0, 128, 128);
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 5; ++col)
      frame.Y[static_cast<size_t>(row) * 5 + col] = static_cast<uint8_t>(40 * col + 20);
  frame.Draw(core);
  const auto p = PixelsWhen(*window, [&](const auto& px) { return At(px, *window, 10, 10) != 0; });
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 5; ++col) {
      const Rgb got = RgbOf(At(p, *window, col * 20 + 10, row * 20 + 10));
      EXPECT_NEAR(got.g, 40 * col + 20, kShaderRounding) << "row " << row << " column " << col;
    }
  }
}

// A picture drawn smaller than its frame is minified with nearest filtering:
// as the first frame on new textures, after frames drawn at their own size,
// and on the textures made again after FillBlack. Columns white, black,
// white repeating, shrunk by 1.5, put every pixel's sample a quarter texel
// from a white column's centre, which nearest filtering keeps white and
// linear filtering would grey.
TEST_F(EGLCoreTest, ShrunkPicturesAreMinifiedWithNearestFiltering) {
  auto window = Window(32, 8);
  EGLCore core;
  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 32, 8));
  core.SetScaleType(1);
  Frame shrunk(48, 8, 255, 128, 128);
  for (int col = 1; col < 48; col += 3)
    shrunk.FillLumaColumns(col, col + 1, 0);
  const std::pair<const char*, std::function<void()>> preludes[] = {
      {"first frame", [] {}},
      {"after a frame at its own size", [&] { Frame(32, 8, 0, 128, 128).Draw(core); }},
      {"after FillBlack", [&] { core.FillBlack(); }}};
  for (const auto& [name, prelude] : preludes) {
    SCOPED_TRACE(name);
    prelude();  // each leaves the window dark
    PixelsWhen(*window, [&](const auto& px) { return RgbOf(At(px, *window, 0, 4)).g < 64; });
    shrunk.Draw(core);
    const auto p =
        PixelsWhen(*window, [&](const auto& px) { return RgbOf(At(px, *window, 0, 4)).g > 128; });
    for (int x = 0; x < 32; ++x)
      EXPECT_PRED2(ShaderColourIs, At(p, *window, x, 4), 0xffffffu) << x;
  }
}

// Rows padded as decoders align them (odd widths included) draw exactly
// what the same picture with tight rows draws, whatever the padding holds;
// a stride below its plane's width is refused before anything is drawn.
TEST_F(EGLCoreTest, PaddedRowsDrawLikeTightOnes) {
  auto window = Window(122, 66);
  EGLCore core;
  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 122, 66));
  core.SetScaleType(1);
  for (auto [w, h, stride] : {std::tuple{61, 33, 64}, {40, 22, 64}, {7, 5, 16}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h << " stride " << stride);
    Frame tight(w, h, 0, 0, 0);
    const int cw = tight.chroma_width, ch = tight.chroma_height, cstride = stride / 2 + 3;
    std::vector<uint8_t> y(static_cast<size_t>(stride) * h, 255);
    std::vector<uint8_t> u(static_cast<size_t>(cstride) * ch, 0), v(u.size(), 255);
    for (int row = 0; row < h; ++row)
      for (int col = 0; col < w; ++col)
        y[static_cast<size_t>(row) * stride + col] = tight.Y[static_cast<size_t>(row) * w + col] =
            static_cast<uint8_t>(16 + (row * 7 + col * 3) % 220);
    for (int row = 0; row < ch; ++row)
      for (int col = 0; col < cw; ++col) {
        u[static_cast<size_t>(row) * cstride + col] = tight.U[static_cast<size_t>(row) * cw + col] =
            static_cast<uint8_t>(64 + col * 4 % 128);
        v[static_cast<size_t>(row) * cstride + col] = tight.V[static_cast<size_t>(row) * cw + col] =
            static_cast<uint8_t>(192 - row * 4 % 128);
      }
    core.FillBlack();
    tight.Draw(core);
    const auto want = PixelsWhen(*window, [&](const auto& p) { return At(p, *window, 60, 32) != 0; });
    core.FillBlack();
    PixelsWhen(*window, [&](const auto& p) { return At(p, *window, 60, 32) == 0; });
    core.onRenderData(y.data(), u.data(), v.data(), w, h, stride, cstride, cstride);
    const auto got = PixelsWhen(*window, [&](const auto& p) { return p == want; });
    EXPECT_TRUE(got == want);
    // The copy follows the frame's size, down as well as up.
    EXPECT_EQ(Peek(core).repackedCapacity(0), static_cast<size_t>(w) * h);
  }
  core.FillBlack();
  Traces();
  Frame frame(16, 16, 128, 128, 128);
  core.onRenderData(frame.Y.data(), frame.U.data(), frame.V.data(), 16, 16, 15, 8, 8);
  EXPECT_TRUE(AnyContains(Traces(), ": onRenderData: invalid frame: strides 15,8,8 below the plane "
                                    "widths 16,8"));
  // The largest width: refused by the same check, with no arithmetic
  // overflowing on the way (UndefinedBehaviorSanitizer stops on one).
  core.onRenderData(frame.Y.data(), frame.U.data(), frame.V.data(), INT32_MAX, 1, 16, 8, 8);
  EXPECT_TRUE(AnyContains(Traces(),
                          ": onRenderData: invalid frame: strides 16,8,8 below the plane "
                          "widths 2147483647,1073741824"));
  EXPECT_EQ(Peek(core)._ytid(), 0u);  // nothing uploaded
  // Tight frames need no copy, and the one kept is let go; a frame larger
  // than the context's textures is refused before anything is copied.
  core.onRenderData(frame.Y.data(), frame.U.data(), frame.V.data(), 16, 16, 16, 8, 8);
  EXPECT_EQ(Peek(core).repackedCapacity(0), 0u);
  const int wide = Peek(core).maxTextureSize() + 1;
  std::vector<uint8_t> row(static_cast<size_t>(wide) + 16, 128);
  core.onRenderData(row.data(), row.data(), row.data(), wide, 2, wide + 16, wide, wide);
  EXPECT_TRUE(AnyContains(Traces(), ": onRenderData: invalid frame: size " + std::to_string(wide) +
                                        "x2 above the largest texture"));
  EXPECT_EQ(Peek(core).repackedCapacity(0), 0u);
}

// NV12 and NV21 frames, rows padded, against the same picture drawn from
// I420, in every scale type, unturned and with a quarter turn: the I420
// picture turned by the core's orientation, the two-plane one by its own
// (SetFrameRotation) added to the core's. The windows match pixel for pixel, within the
// rounding of the two programs' coefficients.
TEST_F(EGLCoreTest, TwoPlaneFramesDrawAsTheirI420Picture) {
  constexpr int kW = 122, kH = 66, w = 61, h = 33, yStride = 64, uvStride = 70;
  auto window = Window(kW, kH);
  ASSERT_NE(window, nullptr);
  EGLCore core;
  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), kW, kH));
  Frame i420(w, h, 0, 0, 0);
  const int cw = i420.chroma_width, ch = i420.chroma_height;
  std::vector<uint8_t> y(static_cast<size_t>(yStride) * h, 7);
  std::vector<uint8_t> nv12(static_cast<size_t>(uvStride) * ch, 9), nv21(nv12);
  for (int row = 0; row < h; ++row)
    for (int col = 0; col < w; ++col)
      y[static_cast<size_t>(row) * yStride + col] = i420.Y[static_cast<size_t>(row) * w + col] =
          static_cast<uint8_t>(40 + (row * 5 + col * 3) % 180);
  for (int row = 0; row < ch; ++row)
    for (int col = 0; col < cw; ++col) {
      const uint8_t u = static_cast<uint8_t>(60 + col * 4 % 140);
      const uint8_t v = static_cast<uint8_t>(200 - row * 7 % 140);
      i420.U[static_cast<size_t>(row) * cw + col] = u;
      i420.V[static_cast<size_t>(row) * cw + col] = v;
      const size_t at = static_cast<size_t>(row) * uvStride + col * 2;
      nv12[at] = nv21[at + 1] = u;
      nv12[at + 1] = nv21[at] = v;
    }
  const auto close = [](const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    if (a.size() != b.size())
      return false;
    for (size_t i = 0; i < a.size(); ++i)
      for (int shift : {0, 8, 16})
        if (std::abs(static_cast<int>(a[i] >> shift & 0xff) -
                     static_cast<int>(b[i] >> shift & 0xff)) > kShaderRounding)
          return false;
    return true;
  };
  const int cx = kW / 2, cy = kH / 2;
  for (bool crFirst : {false, true}) {
    for (int type : {1, 2, 3}) {
      // The id's turn and the frame's own: none, the frame's alone, and both
      // (180 + 270 = a quarter turn).
      for (auto [idTurn, frameTurn] : {std::pair{0, 0}, {0, 90}, {180, 270}}) {
        const int rotation = (idTurn + frameTurn) % 360;
        SCOPED_TRACE(testing::Message() << (crFirst ? "NV21" : "NV12") << ", type " << type
                                        << ", turns " << idTurn << " + " << frameTurn);
        core.SetScaleType(type);
        core.FillBlack();
        PixelsWhen(*window, [&](const auto& p) { return At(p, *window, cx, cy) == 0; });
        core.SetOrientation(rotation, false);
        core.SetFrameRotation(0);
        i420.Draw(core);
        const auto want =
            PixelsWhen(*window, [&](const auto& p) { return At(p, *window, cx, cy) != 0; });
        core.FillBlack();
        PixelsWhen(*window, [&](const auto& p) { return At(p, *window, cx, cy) == 0; });
        core.SetOrientation(idTurn, false);
        core.SetFrameRotation(frameTurn);
        ASSERT_TRUE(core.onRenderBiplanar(y.data(), crFirst ? nv21.data() : nv12.data(), w, h,
                                          yStride, uvStride, crFirst));
        const auto got = PixelsWhen(*window, [&](const auto& p) { return close(p, want); });
        EXPECT_TRUE(close(got, want));
      }
    }
  }
  // Strides below the planes' widths are refused before anything is drawn.
  core.SetFrameRotation(0);
  Traces();
  EXPECT_FALSE(core.onRenderBiplanar(y.data(), nv12.data(), w, h, yStride, 61, false));
  EXPECT_TRUE(AnyContains(Traces(),
                          ": onRenderData: invalid frame: strides 64,61 below the "
                          "plane widths 61,62"));
}

TEST_F(EGLCoreTest, LargeOddFrameRendersWithoutReadingPastPlanes) {
  auto window = Window(160, 90);
  EGLCore core;
  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 160, 90));
  Frame frame(641, 361, 128, 128, 128);
  frame.Draw(core);
  const auto p = PixelsWhen(*window, [&](const auto& px) { return At(px, *window, 80, 45) != 0; });
  ExpectNear(RgbOf(At(p, *window, 80, 45)), ShaderRgb(128, 128, 128), "grey");
}

// --- State and traces -------------------------------------------------------------

TEST_F(EGLCoreTest, TexturesAndMatrixAreMadeOnceThenReused) {
  auto window = Window(64, 48);
  EGLCore core;
  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 64, 48));
  Traces();
  PlatformLines();

  Frame(32, 24, 100, 128, 128).Draw(core);
  auto traces = Traces();
  EXPECT_TRUE(AnyContains(traces, ": onRenderData: ytid:"));
  EXPECT_TRUE(AnyContains(traces, ": onRenderData: utid:"));
  EXPECT_TRUE(AnyContains(traces, ": onRenderData: vtid:"));
  EXPECT_TRUE(AnyContains(traces, ": matraix: w:h=32,24,frameWidth:frameHeight=0,0"));
  EXPECT_TRUE(AnyContains(traces, ": matraix: type = 2"));
  EXPECT_FALSE(PlatformLines().empty());
  const GLuint y = Peek(core)._ytid(), u = Peek(core)._utid(), v = Peek(core)._vtid();
  EXPECT_NE(y, 0u);

  // Steady state: not a single line.
  Frame(32, 24, 100, 128, 128).Draw(core);
  EXPECT_TRUE(Traces().empty());
  EXPECT_TRUE(PlatformLines().empty());

  // A new size recomputes the matrix and keeps the textures.
  Frame(31, 23, 100, 128, 128).Draw(core);
  traces = Traces();
  EXPECT_TRUE(AnyContains(traces, ": matraix: w:h=31,23,frameWidth:frameHeight=32,24"));
  EXPECT_FALSE(AnyContains(traces, "ytid:"));
  EXPECT_EQ(Peek(core)._ytid(), y);
  EXPECT_EQ(Peek(core)._utid(), u);
  EXPECT_EQ(Peek(core)._vtid(), v);
}

TEST_F(EGLCoreTest, ScaleTypeTakesEffectOnlyWhenItChanges) {
  auto window = Window(64, 48);
  EGLCore core;
  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 64, 48));
  Frame frame(64, 36, 100, 128, 128);
  frame.Draw(core);
  Traces();
  core.SetScaleType(2);  // already in force
  EXPECT_TRUE(AnyContains(Traces(), ": SetScaleType: before.type:2,new :2"));
  frame.Draw(core);
  EXPECT_TRUE(Traces().empty());
  core.SetScaleType(3);
  Traces();
  frame.Draw(core);
  EXPECT_TRUE(AnyContains(Traces(), ": matraix: type = 3"));
  EXPECT_EQ(Peek(core).scaleType(), 3);
}

TEST_F(EGLCoreTest, FillBlackClearsAndDropsTextures) {
  auto window = Window(64, 48);
  EGLCore core;
  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 64, 48));
  core.FillBlack();  // no textures yet: no " delete txture"
  EXPECT_THAT(PlatformLines(), Not(Contains("[NATIVE]  delete txture")));

  Frame frame(64, 48, 255, 128, 128);
  frame.Draw(core);
  PixelsWhen(*window,
             [&](const auto& p) { return ShaderColourIs(At(p, *window, 32, 24), 0xffffff); });
  PlatformLines();
  Traces();
  core.FillBlack();
  EXPECT_THAT(PlatformLines(), Contains("[NATIVE]  delete txture"));
  EXPECT_EQ(Peek(core)._ytid(), 0u);
  const auto p = PixelsWhen(*window, [&](const auto& px) { return At(px, *window, 32, 24) == 0; });
  EXPECT_EQ(At(p, *window, 32, 24), 0u);
  EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);

  // Same size afterwards: fresh textures, same matrix.
  frame.Draw(core);
  const auto traces = Traces();
  EXPECT_TRUE(AnyContains(traces, "ytid:"));
  EXPECT_FALSE(AnyContains(traces, "matraix"));
}

TEST_F(EGLCoreTest, DrawingWithoutEnvironmentReportsAndChangesNothing) {
  EGLCore core;
  Frame frame(8, 8, 1, 2, 3);
  Traces();
  frame.Draw(core);
  core.FillBlack();
  const auto traces = Traces();
  EXPECT_TRUE(AnyContains(traces, ": onRenderData: makecureent failed"));
  EXPECT_TRUE(AnyContains(traces, ": FillBlack: makecureent failed"));
  const auto platform = PlatformLines();
  EXPECT_THAT(platform, Contains("[NATIVE] EGLCore shard contxt makecureent failed!!!"));
  EXPECT_THAT(platform, Contains("[NATIVE] EGLCore shard1 contxt makecureent failed!!!"));
  EXPECT_EQ(Peek(core)._ytid(), 0u);
  EXPECT_EQ(Peek(core).frameWidth(), 0);

  // After Release the same.
  auto window = Window(16, 16);
  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 16, 16));
  core.Release();
  Traces();
  frame.Draw(core);
  EXPECT_TRUE(AnyContains(Traces(), "makecureent failed"));
}

TEST_F(EGLCoreTest, BadFramesAreRefusedBeforeAnyDrawing) {
  auto window = Window(16, 16);
  EGLCore core;
  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 16, 16));
  Frame frame(16, 16, 255, 128, 128);
  Traces();
  PlatformLines();
  core.onRenderData(nullptr, frame.U.data(), frame.V.data(), 16, 16);
  core.onRenderData(frame.Y.data(), nullptr, frame.V.data(), 16, 16);
  core.onRenderData(frame.Y.data(), frame.U.data(), nullptr, 16, 16);
  core.onRenderData(frame.Y.data(), frame.U.data(), frame.V.data(), 0, 16);
  core.onRenderData(frame.Y.data(), frame.U.data(), frame.V.data(), 16, -3);
  const auto traces = Traces();
  EXPECT_EQ(traces.size(), 5u);
  for (const auto& line : traces)
    EXPECT_THAT(line, HasSubstr(": onRenderData: invalid frame"));
  EXPECT_EQ(Peek(core)._ytid(), 0u);
  EXPECT_EQ(Peek(core).frameWidth(), 0);
}

// --- Threads and several cores ------------------------------------------------------

TEST_F(EGLCoreTest, BuiltOnOneThreadDrawnFromAnother) {
  auto window = Window(32, 32);
  EGLCore core;
  ASSERT_TRUE(core.EglContextInit(window->NativeWindow(), 32, 32));
  std::thread engine([&] {
    Frame frame(32, 32, 255, 128, 128);
    for (int i = 0; i < 5; ++i)
      frame.Draw(core);
    eglReleaseThread();
  });
  engine.join();
  const auto p = PixelsWhen(
      *window, [&](const auto& px) { return ShaderColourIs(At(px, *window, 16, 16), 0xffffff); });
  EXPECT_PRED2(ShaderColourIs, At(p, *window, 16, 16), 0xffffffu);
  core.Release();
  EXPECT_EQ(Peek(core).display(), nullptr);
}

// Both cores share the process's one EGL display: releasing the first must
// not pull the display from under the second.
TEST_F(EGLCoreTest, ReleasingOneCoreLeavesAnotherDrawing) {
  auto first_window = Window(32, 32);
  auto second_window = Window(32, 32);
  EGLCore first, second;
  ASSERT_TRUE(first.EglContextInit(first_window->NativeWindow(), 32, 32));
  ASSERT_TRUE(second.EglContextInit(second_window->NativeWindow(), 32, 32));
  Frame white(32, 32, 255, 128, 128);
  white.Draw(first);
  first.Release();
  white.Draw(second);
  EXPECT_FALSE(AnyContains(Traces(), "makecureent failed"));
  const auto p = PixelsWhen(*second_window, [&](const auto& px) {
    return ShaderColourIs(At(px, *second_window, 16, 16), 0xffffff);
  });
  EXPECT_PRED2(ShaderColourIs, At(p, *second_window, 16, 16), 0xffffffu);
}

}  // namespace
