// The engine's container source and its conversions: decoder frames handed
// on without a copy (NV12 and NV21 too) and outliving their source, other layouts converted
// with a note, colours, rotation and times from the stream, seeks that land
// on the exact frame, and one clear line for each input that cannot play.
// The inputs are made here with FFmpeg's own encoders and muxers.

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/media_source.h"
#include "engine/stream_cut.h"
#include "engine/video_source.h"

#ifdef NATIVERENDER_TEST_FFMPEG

#include "engine/decoded_frame.h"
#include "engine/frame_presenter.h"
#include "support/media_clip.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

namespace {

using engine::ColorMatrix;
using engine::ColorRange;
using Status = engine::VideoSource::Status;
using ::testing::AllOf;
using ::testing::AnyOf;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "media_source_test_" + name;
}

// Flat planes of `frame`: each sample of each plane within `slack` of
// luma, 96, 160.
void ExpectFlat(const rtc::IVideoFrame& frame, int luma, int slack, const char* what, int cb = 96,
                int cr = 160) {
  const int w = frame.Width(), h = frame.Height();
  const struct {
    const uint8_t* data;
    int stride, width, height, value;
  } planes[] = {{frame.YPlane(), frame.YStride(), w, h, luma},
                {frame.UPlane(), frame.UStride(), (w + 1) / 2, (h + 1) / 2, cb},
                {frame.VPlane(), frame.VStride(), (w + 1) / 2, (h + 1) / 2, cr}};
  for (const auto& plane : planes)
    for (int row = 0; row < plane.height; ++row)
      for (int x = 0; x < plane.width; ++x)
        ASSERT_NEAR(plane.data[row * plane.stride + x], plane.value, slack)
            << what << ": plane of " << plane.value << ", " << x << "," << row;
}

std::unique_ptr<engine::VideoSource> Open(const std::string& path) {
  std::string error;
  std::unique_ptr<engine::VideoSource> source = engine::OpenMedia(path, &error);
  EXPECT_NE(source, nullptr) << error;
  return source;
}

TEST(MediaSourceTest, FramesPlayAsTheDecoderMadeThemOrConvertedWithANote) {
  // H.264 with padded rows: 98 luma samples a row, BT.709 tags, a display
  // matrix turning it a quarter clockwise, as a phone's portrait video.
  Clip h264{"mp4", "libx264"};
  h264.width = 98;
  h264.height = 56;
  h264.colorspace = AVCOL_SPC_BT709;
  h264.turn_clockwise = 90;
  const std::string mp4 = TempPath("h264.mp4");
  ASSERT_EQ(WriteClip(mp4, h264), "");
  std::unique_ptr<engine::VideoSource> source = Open(mp4);
  ASSERT_NE(source, nullptr);
  EXPECT_THAT(source->notes(), IsEmpty());
  EXPECT_EQ(source->width(), 98);
  EXPECT_EQ(source->height(), 56);
  EXPECT_EQ(source->rotation(), 90);
  EXPECT_EQ(source->codec(), "h264");
  EXPECT_EQ(source->color(), (engine::ColorDescription{ColorRange::kLimited, ColorMatrix::kBt709}));
  EXPECT_TRUE(source->frame()->bt709());  // the frame converts (BMP captures) as it is drawn
  EXPECT_DOUBLE_EQ(source->fps(), 25);
  std::unique_ptr<rtc::IVideoFrame> clone;
  std::vector<uint8_t> before(size_t{98} * 56 * 4), after(size_t{98} * 56 * 4);
  for (int n = 0; n < 5; ++n) {
    ASSERT_EQ(source->Next(), Status::kFrame) << n;
    const auto* decoded = dynamic_cast<const engine::DecodedFrame*>(source->frame());
    ASSERT_NE(decoded, nullptr) << "frame " << n << " was copied";
    EXPECT_EQ(decoded->YPlane(), decoded->av_frame()->data[0]);
    EXPECT_EQ(decoded->UStride(), decoded->av_frame()->linesize[1]);
    EXPECT_GT(decoded->YStride(), 98);
    ExpectFlat(*decoded, Luma(n), 0, "h264");
    if (n == 1) {  // what a capture keeps: a reference, not a copy
      clone.reset(decoded->Clone());
      ASSERT_NE(clone, nullptr);
      EXPECT_EQ(clone->YPlane(), decoded->YPlane());
      ASSERT_EQ(clone->ExportArgb(rtc::kFourccArgb, before.data(), before.size(), 98 * 4), 0);
    }
  }
  EXPECT_EQ(source->Next(), Status::kEnd) << source->error();
  EXPECT_EQ(source->decode_errors(), 0);
  // The clone, and its own clone, keep the pixels and colours after the
  // source and its decoder are gone (an AddressSanitizer build proves the
  // reads).
  source.reset();
  ExpectFlat(*clone, Luma(1), 0, "clone");
  std::unique_ptr<rtc::IVideoFrame> second(clone->Clone());
  clone.reset();
  ASSERT_EQ(second->ExportArgb(rtc::kFourccArgb, after.data(), after.size(), 98 * 4), 0);
  EXPECT_EQ(after, before);

  // 10-bit VP9: converted, its samples shifted down to 8 bits. Untagged and
  // below HD size: BT.601 by the guess.
  Clip deep{"webm", "libvpx-vp9", AV_PIX_FMT_YUV420P10LE};
  const std::string webm = TempPath("vp9_10bit.webm");
  const std::string written = WriteClip(webm, deep);
  if (written.find("no encoder") == std::string::npos) {
    ASSERT_EQ(written, "");
    source = Open(webm);
    ASSERT_NE(source, nullptr);
    EXPECT_THAT(source->notes(), Contains("converting yuv420p10le to yuv420p"));
    EXPECT_EQ(source->color(),
              (engine::ColorDescription{ColorRange::kLimited, ColorMatrix::kBt601}));
    ASSERT_EQ(source->Next(), Status::kFrame);
    EXPECT_NE(dynamic_cast<engine::I420Frame*>(source->frame()), nullptr);
    ExpectFlat(*source->frame(), Luma(0), 1, "vp9 10-bit");
  }

  // NV12 and NV21, as hardware-style decoders hand them over (raw video in
  // Matroska here): kept as they are, no conversion and no note, described
  // by their layout with the decoder's own planes and strides. The I420
  // planes a BMP capture or square pixels need come from the pair plane,
  // when asked for.
  for (const AVPixelFormat format : {AV_PIX_FMT_NV12, AV_PIX_FMT_NV21}) {
    const bool nv12 = format == AV_PIX_FMT_NV12;
    SCOPED_TRACE(nv12 ? "NV12" : "NV21");
    Clip pairs{"matroska", "rawvideo", format};
    pairs.width = 34;
    pairs.height = 18;
    const std::string mkv = TempPath(nv12 ? "nv12.mkv" : "nv21.mkv");
    ASSERT_EQ(WriteClip(mkv, pairs), "");
    source = Open(mkv);
    ASSERT_NE(source, nullptr);
    EXPECT_THAT(source->notes(), IsEmpty());
    ASSERT_EQ(source->Next(), Status::kFrame);
    ASSERT_EQ(source->Next(), Status::kFrame);
    const auto* decoded = dynamic_cast<const engine::DecodedFrame*>(source->frame());
    ASSERT_NE(decoded, nullptr) << "converted";
    EXPECT_EQ(decoded->layout(), nv12 ? kFrameLayoutNv12 : kFrameLayoutNv21);
    const FrameDescription described = decoded->Describe();
    EXPECT_EQ(described.layout, decoded->layout());
    EXPECT_EQ(described.width, 34);
    EXPECT_EQ(described.height, 18);
    EXPECT_EQ(described.planes[0], decoded->av_frame()->data[0]);
    EXPECT_EQ(described.planes[1], decoded->av_frame()->data[1]);
    EXPECT_EQ(described.strides[1], decoded->av_frame()->linesize[1]);
    EXPECT_EQ(described.colorRange, static_cast<int>(ColorRange::kLimited));
    EXPECT_EQ(described.colorMatrix, static_cast<int>(ColorMatrix::kBt601));
    EXPECT_EQ(described.planes[1][0], nv12 ? 96 : 160);
    EXPECT_EQ(described.planes[1][1], nv12 ? 160 : 96);
    ExpectFlat(*decoded, Luma(1), 0, "its I420 planes");
    remove(mkv.c_str());
  }

  remove(mp4.c_str());
  remove(webm.c_str());
}

// The presenter alone, on pictures made here: the decoder's own frame where
// the layout allows, a conversion named once however often it runs, and a
// picture it cannot convert refused with the frame on show kept.
TEST(FramePresenterTest, ConvertsWhatItMustNotesItOnceAndKeepsTheFrameOnShowOnFailure) {
  std::vector<std::string> notes;
  engine::FramePresenter presenter(&notes);
  auto picture = [](AVPixelFormat format, int luma) {
    AVFrame* made = av_frame_alloc();
    made->format = format;
    made->width = 20;
    made->height = 10;
    if (av_frame_get_buffer(made, 0) < 0)
      return made;  // a hardware format: no planes in memory
    const int chroma_rows = AV_CEIL_RSHIFT(10, av_pix_fmt_desc_get(format)->log2_chroma_h);
    for (int plane = 0; plane < 4 && made->data[plane] != nullptr; ++plane)
      memset(made->data[plane], plane == 0 ? luma : 128,
             static_cast<size_t>(made->linesize[plane]) * (plane == 0 ? 10 : chroma_rows));
    return made;
  };
  const struct {
    AVPixelFormat format;
    bool presented;
    bool decoders_own;
  } steps[] = {{AV_PIX_FMT_NV12, true, true},     {AV_PIX_FMT_YUV444P, true, false},
               {AV_PIX_FMT_YUV444P, true, false}, {AV_PIX_FMT_YUV420P, true, true},
               {AV_PIX_FMT_YUV422P, true, false}, {AV_PIX_FMT_VAAPI, false, false}};
  const engine::VideoFrame* shown = nullptr;
  for (int n = 0; n < static_cast<int>(std::size(steps)); ++n) {
    SCOPED_TRACE(n);
    AVFrame* made = picture(steps[n].format, 20 + n);
    std::string error;
    EXPECT_EQ(presenter.Present(made, &error), steps[n].presented) << error;
    EXPECT_EQ(made->buf[0], nullptr) << "the picture was not let go";
    av_frame_free(&made);
    if (!steps[n].presented) {
      EXPECT_EQ(error, "cannot convert its vaapi pictures of 20x10");
      EXPECT_EQ(presenter.frame(), shown);
      EXPECT_EQ(shown->YPlane()[0], 20 + n - 1) << "the frame on show changed";
      continue;
    }
    shown = presenter.frame();
    EXPECT_EQ(dynamic_cast<const engine::DecodedFrame*>(shown) != nullptr, steps[n].decoders_own);
    EXPECT_EQ(shown->YPlane()[0], 20 + n);
  }
  EXPECT_EQ(notes, (std::vector<std::string>{"converting yuv444p to yuv420p",
                                             "converting yuv422p to yuv420p"}));
}

TEST(MediaSourceTest, FramesCarryTheirTimesAndSeeksLandOnTheExactFrame) {
  // Variable frame rate, with an audio stream beside the video.
  Clip variable{"matroska", "libx264"};
  variable.times_ms = {0, 40, 80, 200, 220, 500};
  variable.audio = true;
  const std::string mkv = TempPath("vfr.mkv");
  ASSERT_EQ(WriteClip(mkv, variable), "");
  std::unique_ptr<engine::VideoSource> source = Open(mkv);
  ASSERT_NE(source, nullptr);
  EXPECT_THAT(source->notes(), Contains("audio ignored: the pcm_s16le stream is not played"));
  EXPECT_TRUE(source->has_timestamps());
  for (size_t n = 0; n < variable.times_ms.size(); ++n) {
    ASSERT_EQ(source->Next(), Status::kFrame) << n;
    EXPECT_DOUBLE_EQ(source->timestamp(), variable.times_ms[n] / 1000.0) << n;
  }
  EXPECT_EQ(source->Next(), Status::kEnd) << source->error();

  // Two seconds at 25 fps with a key frame every 10 frames: each seek lands
  // on the first frame at or after the time asked, whichever way it goes.
  Clip steady{"mp4", "libx264"};
  steady.times_ms.clear();
  for (int n = 0; n < 50; ++n)
    steady.times_ms.push_back(int64_t{40} * n);
  steady.key_interval = 10;
  const std::string mp4 = TempPath("steady.mp4");
  ASSERT_EQ(WriteClip(mp4, steady), "");
  source = Open(mp4);
  ASSERT_NE(source, nullptr);
  EXPECT_TRUE(source->seekable());
  EXPECT_DOUBLE_EQ(source->duration(), 2.0);
  const struct {
    double seconds;
    int frame;
  } seeks[] = {{1.32, 33}, {1.33, 34}, {0.5, 13}, {0, 0}, {1.96, 49}, {0.04, 1}};
  for (const auto& seek : seeks) {
    ASSERT_TRUE(source->Seek(seek.seconds)) << seek.seconds << ": " << source->error();
    ExpectFlat(*source->frame(), Luma(seek.frame), 0, "before Next");
    ASSERT_EQ(source->Next(), Status::kFrame) << seek.seconds;
    EXPECT_DOUBLE_EQ(source->timestamp(), seek.frame * 0.04) << seek.seconds;
    ExpectFlat(*source->frame(), Luma(seek.frame), 0, "sought frame");
    if (seek.frame + 1 < 50) {  // and it plays on from there
      ASSERT_EQ(source->Next(), Status::kFrame) << seek.seconds;
      ExpectFlat(*source->frame(), Luma(seek.frame + 1), 0, "the frame after");
    }
  }
  // Past the end: the end; a rewind (--loop) starts again.
  ASSERT_TRUE(source->Seek(5));
  EXPECT_EQ(source->Next(), Status::kEnd) << source->error();
  ASSERT_TRUE(source->Rewind());
  ASSERT_EQ(source->Next(), Status::kFrame);
  ExpectFlat(*source->frame(), Luma(0), 0, "rewound");
  remove(mkv.c_str());
  remove(mp4.c_str());
}

// Each input that cannot play is refused with one line that names it.
TEST(MediaSourceTest, BadInputsAreRefusedWithOneClearLine) {
  const std::string text = TempPath("notes.mp4");
  std::ofstream(text) << "these are notes, not a video\n";
  const std::string empty = TempPath("empty.mkv");
  std::ofstream(empty).close();
  const std::string audio_only = TempPath("audio.mka");
  Clip audio{"matroska", nullptr};
  audio.audio = true;
  ASSERT_EQ(WriteClip(audio_only, audio), "");
  // An mp4 whose recording stopped before its index (moov) was written.
  const std::string whole = TempPath("whole.mp4");
  ASSERT_EQ(WriteClip(whole, Clip{"mp4", "libx264"}), "");
  const std::string cut = TempPath("cut.mp4");
  {
    std::ifstream in(whole, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  }
  // A few kilobytes whose header declares 16384x8704 pictures: refused
  // before anything is decoded (its decoder would take a gigabyte).
  const std::string bomb = TempPath("bomb.mkv");
  Clip square{"matroska", "libx264"};
  square.width = square.height = 256;
  ASSERT_EQ(WriteClip(bomb, square), "");
  {
    std::ifstream in(bomb, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The track's PixelWidth and PixelHeight elements, two bytes each.
    for (const auto& [side, value] : {std::pair{'\xB0', '\x40'}, std::pair{'\xBA', '\x22'}}) {
      const size_t at = bytes.find(std::string{side, '\x82', '\x01', '\x00'});
      ASSERT_NE(at, std::string::npos);
      bytes[at + 2] = value;
    }
    std::ofstream(bomb, std::ios::binary) << bytes;
  }
  const struct {
    std::string path, reason;
  } cases[] = {
      {bomb, bomb + ": its h264 pictures of 16384x8704 are too large to play"},
      {TempPath("missing.mp4"), "cannot open " + TempPath("missing.mp4") + ": No such file"},
      {text, text + ": not a video file of any format this build reads"},
      {empty, empty + " is empty"},
      {audio_only, audio_only + ": no video stream in this Matroska / WebM file (audio only)"},
      {cut, cut + ": cannot read this QuickTime / MOV file: moov atom not found"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(engine::OpenMedia(c.path, &error), nullptr) << c.path;
    EXPECT_THAT(error, HasSubstr(c.reason));
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }

  // Damaged files play what they can and say what was wrong: one with its
  // index first whose data is cut short, one with five frames overwritten
  // in the middle (a key frame every five frames: the play recovers).
  const std::string intact = TempPath("intact.mp4"), early = TempPath("early.mp4"),
                    damaged = TempPath("damaged.mp4");
  ASSERT_EQ(WriteDamagedClips(intact, early, damaged), "");

  std::unique_ptr<engine::VideoSource> source = Open(early);
  ASSERT_NE(source, nullptr);
  Status status;
  while ((status = source->Next()) == Status::kFrame) {
  }
  EXPECT_EQ(status, Status::kTruncated);
  EXPECT_GT(source->frames_read(), 0);
  EXPECT_LT(source->frames_read(), 25);
  EXPECT_THAT(source->error(),
              AllOf(HasSubstr(early + ": "),
                    AnyOf(HasSubstr("cut short"), HasSubstr("the rest is missing"))));

  source = Open(damaged);
  ASSERT_NE(source, nullptr);
  while ((status = source->Next()) == Status::kFrame) {
  }
  EXPECT_EQ(status, Status::kEnd) << source->error();
  EXPECT_GE(source->frames_read(), 20);
  ExpectFlat(*source->frame(), Luma(24), 0, "the last frame");
  EXPECT_GT(source->decode_errors(), 0);
  EXPECT_THAT(source->first_decode_error(), HasSubstr(damaged + ": the decoder"));
  for (const std::string& path :
       {text, empty, audio_only, whole, cut, intact, early, damaged, bomb})
    remove(path.c_str());
}

}  // namespace

#else  // !NATIVERENDER_TEST_FFMPEG

TEST(MediaSourceTest, ContainersNeedFfmpegsLibraries) {
  std::string error;
  EXPECT_EQ(engine::OpenMedia("clip.mp4", &error), nullptr);
  EXPECT_THAT(error, ::testing::HasSubstr("containers are not supported in this build"));
  GTEST_SKIP() << error;
}

#endif  // NATIVERENDER_TEST_FFMPEG

// How a stream's end is judged, without a file: a damaged last packet, or
// pictures stopping short of the stated end by more than the slack.
TEST(StreamCutTest, DataStoppingBeforeTheStreamIsACut) {
  struct Case {
    const char* name;
    engine::StreamEnd end;
    const char* reason;  // empty: not cut
  };
  auto end = [](bool packet_cut, std::optional<int64_t> stated, std::optional<int64_t> latest) {
    engine::StreamEnd value;
    value.last_packet_cut = packet_cut;
    value.last_time_s = 1.5;
    value.stated_end = stated;
    value.latest_end = latest;
    value.slack = 20;
    value.latest_end_s = latest ? *latest / 1000.0 : 0;
    value.stated_end_s = stated ? *stated / 1000.0 : 0;
    return value;
  };
  const Case cases[] = {
      {"whole", end(false, 1000, 990), ""},
      {"short by the slack", end(false, 1000, 980), ""},
      {"short by more", end(false, 1000, 979),
       "its frames stop at 0.98 s of the 1.00 s it states: the rest is missing or unreadable"},
      {"no stated end", end(false, std::nullopt, 100), ""},
      {"no picture", end(false, 1000, std::nullopt), ""},
      {"damaged last packet", end(true, 1000, 500),
       "the file is cut short: it ends inside the frame after 1.50 s"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(engine::CutReason(c.end), c.reason) << c.name;
}
