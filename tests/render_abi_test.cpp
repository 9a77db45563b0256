// The engine's side of the interfaces, declared here on their own from the
// slot tables (this file does not include the library's headers), with
// names of the engine's choosing. The library and the engine agree only on
// slot positions and argument types; every call below must land on the
// intended operation.

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace engine_view {

class DestroyNotify;

class DestroyObserver {
 public:
  virtual void OnDestroy(DestroyNotify* notify) = 0;
  virtual ~DestroyObserver() = default;
};

class DestroyNotify {
 public:
  virtual int AddObserver(DestroyObserver* observer) = 0;
  virtual int RemoveObserver(DestroyObserver* observer) = 0;
  virtual ~DestroyNotify() = default;
};

class IVideoFrame {
 public:
  virtual ~IVideoFrame() = default;
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  virtual int Rotation() const = 0;
  virtual const uint8_t* DataY() const = 0;
  virtual const uint8_t* DataU() const = 0;
  virtual const uint8_t* DataV() const = 0;
  virtual int64_t TimestampUs() const = 0;
  virtual int64_t NtpTimeMs() const = 0;
  virtual bool IsTexture() const = 0;
  virtual int32_t StrideY() const = 0;
  virtual int32_t StrideU() const = 0;
  virtual int32_t StrideV() const = 0;
  virtual void* NativeHandle() const = 0;
  virtual IVideoFrame* Copy() const = 0;
  virtual int ConvertTo(uint32_t fourcc, uint8_t* buffer, size_t size, int32_t stride) const = 0;
};

class IVideoRender : public DestroyNotify {
 public:
  virtual void SetSize(int width, int height) = 0;
  virtual void RenderFrame(IVideoFrame* frame) = 0;
  virtual int EnableCapture(bool enable) = 0;
  virtual int CaptureImage(const std::string& file_name, int quality) = 0;
  virtual int SetMirror(bool mirror) = 0;
  virtual int SetRotation(int degrees) = 0;
  virtual int SetBackground(uint32_t argb) = 0;
  virtual int SetCropRect(int x, int y, int w, int h) = 0;
  virtual int Pause() = 0;
  virtual int Resume() = 0;
  virtual int FillBlack() = 0;
  virtual int Flush() = 0;
};

}  // namespace engine_view

namespace abi_support {
void* NewRenderer(const char* id);
int RendererWidth(const char* id);
// PluginManager::GetRenderStatistics(id, out): the figures' call as an
// engine built against their first layout makes it.
bool FirstLayoutStatistics(const char* id, void* out);
void ReleaseRenderer(const char* id);
}  // namespace abi_support

namespace {

using ::testing::ElementsAre;

// An engine frame that records which of its operations the library calls.
class EngineFrame : public engine_view::IVideoFrame {
 public:
  explicit EngineFrame(std::vector<std::string>* calls) : calls_(calls), planes_(48, 128) {}
  int32_t Width() const override { return Log("Width", 4); }
  int32_t Height() const override { return Log("Height", 4); }
  int Rotation() const override { return Log("Rotation", 0); }
  const uint8_t* DataY() const override { Log("DataY", 0); return planes_.data(); }
  const uint8_t* DataU() const override { Log("DataU", 0); return planes_.data() + 16; }
  const uint8_t* DataV() const override { Log("DataV", 0); return planes_.data() + 20; }
  int64_t TimestampUs() const override { return Log("TimestampUs", 0); }
  int64_t NtpTimeMs() const override { return Log("NtpTimeMs", 0); }
  bool IsTexture() const override { return Log("IsTexture", 0); }
  int32_t StrideY() const override { return Log("StrideY", 4); }
  int32_t StrideU() const override { return Log("StrideU", 2); }
  int32_t StrideV() const override { return Log("StrideV", 2); }
  void* NativeHandle() const override { Log("NativeHandle", 0); return nullptr; }
  IVideoFrame* Copy() const override {
    Log("Copy", 0);
    return new EngineFrame(calls_);
  }
  int ConvertTo(uint32_t fourcc, uint8_t* buffer, size_t size, int32_t stride) const override {
    char text[96];
    snprintf(text, sizeof(text), "ConvertTo %08X %zu %d", fourcc, size, stride);
    Log(text, 0);
    if (buffer != nullptr)
      for (size_t i = 0; i < size; ++i) buffer[i] = 0x7f;
    return 0;
  }

 private:
  int Log(const std::string& call, int result) const {
    calls_->push_back(call);
    return result;
  }
  std::vector<std::string>* calls_;
  std::vector<uint8_t> planes_;
};

class EngineObserver : public engine_view::DestroyObserver {
 public:
  void OnDestroy(engine_view::DestroyNotify* notify) override { told.push_back(notify); }
  std::vector<engine_view::DestroyNotify*> told;
};

TEST(RenderAbiTest, EverySlotLandsOnItsOperation) {
  auto* render = static_cast<engine_view::IVideoRender*>(abi_support::NewRenderer("abi"));
  EngineObserver observer, stranger;
  EXPECT_EQ(render->AddObserver(&observer), 0);
  EXPECT_EQ(render->RemoveObserver(&stranger), 0);

  EXPECT_EQ(render->SetMirror(true), 1004);
  EXPECT_EQ(render->SetRotation(90), 1004);
  EXPECT_EQ(render->SetBackground(0xff00ff00u), 1004);
  EXPECT_EQ(render->SetCropRect(1, 2, 3, 4), 1004);
  EXPECT_EQ(render->Pause(), 1004);
  EXPECT_EQ(render->Resume(), 1004);
  EXPECT_EQ(render->FillBlack(), 0);
  EXPECT_EQ(render->Flush(), 0);

  render->SetSize(320, 240);
  EXPECT_EQ(abi_support::RendererWidth("abi"), 320);

  // The figures as an engine built against their first layout has them:
  // filled, and not a byte written past them.
  struct FirstLayout {
    int64_t received, drawn, dropped;
    int32_t width, height;
    int64_t first_ms, last_ms, draw_mean_us, draw_max_us, draw_frames;
  };
  struct {
    FirstLayout figures;
    uint8_t after[64];
  } engine_memory;
  memset(&engine_memory, 0xA5, sizeof(engine_memory));
  ASSERT_TRUE(abi_support::FirstLayoutStatistics("abi", &engine_memory.figures));
  EXPECT_EQ(engine_memory.figures.received, 0);
  EXPECT_EQ(engine_memory.figures.draw_frames, 0);
  for (uint8_t byte : engine_memory.after)
    ASSERT_EQ(byte, 0xA5);

  const std::string path = ::testing::TempDir() + "abi_capture.bmp";
  EXPECT_EQ(render->CaptureImage(path, 50), -1);  // not armed yet
  EXPECT_EQ(render->EnableCapture(true), 0);
  EXPECT_EQ(render->CaptureImage(path, 50), 0);

  std::vector<std::string> calls;
  EngineFrame frame(&calls);
  render->RenderFrame(&frame);
  ASSERT_GE(calls.size(), 9u);
  // Drawing reads the planes, the size and the row strides; the armed
  // capture copies the frame.
  EXPECT_THAT(std::vector<std::string>(calls.begin(), calls.begin() + 9),
              ElementsAre("DataY", "DataU", "DataV", "Width", "Height", "StrideY", "StrideU",
                          "StrideV", "Copy"));
  // The BMP writer converts the copy to 32-bit pixels: 4 x 4 x 4 bytes, rows of 16.
  EXPECT_THAT(calls, ::testing::Contains("ConvertTo 42475241 64 16"));
  for (const std::string& call : calls) {
    EXPECT_NE(call, "Rotation");
    EXPECT_NE(call, "NativeHandle");
  }

  abi_support::ReleaseRenderer("abi");
  ASSERT_EQ(observer.told.size(), 1u);
  EXPECT_EQ(observer.told[0], static_cast<engine_view::DestroyNotify*>(render));
}

}  // namespace
