// The capture writers on arbitrary frames: any size, any strides, any
// quality, null planes, a frame whose conversion fails, and file names with
// any extension, some in directories that do not exist. Every input must
// end one of two ways, and the one predicted from the frame:
//   - written: the writer reports success and logs "ok", and the file is
//     what it claims to be (a JPEG whose header libjpeg-turbo reads back
//     with the frame's size and 4:2:0 sampling, or a BMP whose header,
//     length and pixels match the frame's conversion);
//   - refused: the writer reports failure and logs why, and leaves no file
//     (a file that was there before a refusal is left as it was).
// The planes are exactly as large as the declared geometry says they may
// be read, and sit between inaccessible pages; when the frame must be
// refused they are empty, so that any read at all faults.
//
// Input, read front to back (missing bytes read as 0): the call and the
// file name, width, height, three strides, quality, frame behaviour, sample
// seed. See ReadCase.

#include <ctype.h>
#include <dirent.h>
#include <sanitizer/asan_interface.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "engine/i420_frame.h"
#include "quon_render_image.h"
#include "rtc_base/checks.h"
#include "rtc_base/logging.h"
#include "support/stub_frame.h"

namespace {

// Plane and picture bytes above these are not tried: the allocation, not
// the writer, would be what is tested.
constexpr uint64_t kMaxPlaneBytes = uint64_t{4} << 20;
constexpr uint64_t kMaxBmpBytes = uint64_t{16} << 20;

constexpr uint64_t kBmpHeaderBytes = 58;
constexpr int kJpegMaxSide = 65500;

// --- Input --------------------------------------------------------------------

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
  int32_t I32() {
    const uint32_t low = U16();
    return static_cast<int32_t>(low | static_cast<uint32_t>(U16()) << 16);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

enum class Call { kRender2SaveImage, kBmpWriter, kJpegWriter };
enum class Export { kConvert, kPattern, kFail };

struct Case {
  Call call;
  bool null_frame;     // Render2SaveImage only
  bool empty_name;     // Render2SaveImage only
  std::string suffix;  // appended to the base name
  bool file_exists;    // a file of that name is there before the call
  int32_t width, height;
  int32_t stride_y, stride_u, stride_v;
  int quality;
  bool null_plane[3];
  Export export_mode;
  bool planes_at_start;  // the plane begins right after a guard page instead of ending at one
  uint8_t seed;
  // How the frame is described: the JPEG writer converts all but BT.601
  // full range row by row.
  bool limited_range;
  bool bt709;
};

// Names: the extension cases that matter, then free-form suffixes over an
// alphabet that spells them, dots and slashes included.
constexpr std::array<const char*, 16> kSuffixes = {
    ".jpg", ".bmp",  ".BMP",   ".bMp",     "",       ".",      ".bmpx", ".bm",
    "bmp",  ".jpeg", ".b.bmp", ".bmp.jpg", "/x.bmp", "/x.jpg", "/",     ".Bmp"};
constexpr char kAlphabet[] = "bmpBMPjg./x";

std::string ReadSuffix(Reader* in) {
  const uint8_t choice = in->Byte();
  if (choice < 0xc0)
    return kSuffixes[choice % kSuffixes.size()];
  std::string suffix;
  for (int i = 0; i < (choice & 7); ++i)
    suffix += kAlphabet[in->Byte() % (sizeof(kAlphabet) - 1)];
  return suffix;
}

// Mostly ordinary sides, small ones most often; then tiny ones and zero,
// negative ones, the formats' limits and their neighbours, and anything.
int32_t ReadSide(Reader* in) {
  static constexpr std::array<int32_t, 8> kLimits = {
      kJpegMaxSide, kJpegMaxSide + 1, 65535, 32768, 46341, 536870911, 536870912, INT_MAX};
  const uint8_t mode = in->Byte();
  switch (mode >> 5) {
    case 4:
      return mode & 31;
    case 5:
      return (mode & 31) == 31 ? INT_MIN : -1 - (mode & 31);
    case 6:
      return kLimits[mode & 7];
    case 7:
      return in->I32();
    case 3:
      return 1 + in->U16() % 384;
    default:
      // Small sides reach every edge case (odd sizes, short last groups of
      // rows, partial blocks) at a fraction of the cost.
      return 1 + in->Byte() % 72;
  }
}

// `natural`: the plane's own width.
int32_t ReadStride(Reader* in, int32_t natural) {
  static constexpr std::array<int32_t, 4> kExtremes = {INT_MAX, INT_MIN, 65536, 1 << 20};
  const uint8_t mode = in->Byte();
  const int64_t n = natural;
  int64_t stride;
  switch (mode >> 5) {
    case 0:
    case 1:
      stride = (mode & 1) ? n : 0;
      break;
    case 2:
      stride = n + (mode & 31);
      break;
    case 3:
      stride = n + 32 + in->Byte() * 16;
      break;
    case 4:
      stride = n - 1 - (mode & 31);
      break;
    case 5:
      stride = -1 - (mode & 31);
      break;
    case 6:
      stride = kExtremes[mode & 3];
      break;
    default:
      return in->I32();
  }
  return static_cast<int32_t>(std::max<int64_t>(INT_MIN, std::min<int64_t>(INT_MAX, stride)));
}

int ReadQuality(Reader* in) {
  static constexpr std::array<int, 8> kSpecial = {INT_MIN, -5, 0, 1, 100, 101, 250, INT_MAX};
  const uint8_t mode = in->Byte();
  if (mode < 0xe0)
    return static_cast<int8_t>(in->Byte());
  return kSpecial[mode & 7];
}

int32_t ChromaSide(int32_t side) {
  return static_cast<int32_t>((static_cast<int64_t>(side) + 1) / 2);
}

Case ReadCase(Reader* in) {
  Case c{};
  const uint8_t call = in->Byte();
  c.call = static_cast<Call>(call % 3);
  c.null_frame = c.call == Call::kRender2SaveImage && (call & 0xf8) == 0xf8;
  c.empty_name = c.call == Call::kRender2SaveImage && (call & 0xf8) == 0xf0;
  c.file_exists = (call & 0x08) != 0;
  c.suffix = ReadSuffix(in);
  c.width = ReadSide(in);
  c.height = ReadSide(in);
  c.stride_y = ReadStride(in, c.width);
  c.stride_u = ReadStride(in, ChromaSide(c.width));
  c.stride_v = ReadStride(in, ChromaSide(c.width));
  c.quality = ReadQuality(in);
  // Bits 0-4: null planes (only when bits 0-2 are all set, which bits 3-4
  // then pick); 5-6: the conversion (real twice as often); 7: where the
  // planes meet their guard page.
  const uint8_t behaviour = in->Byte();
  if ((behaviour & 7) == 7) {
    c.null_plane[0] = (behaviour & 0x08) != 0;
    c.null_plane[1] = (behaviour & 0x10) != 0;
    c.null_plane[2] = !c.null_plane[0] && !c.null_plane[1];
  }
  static constexpr std::array<Export, 4> kExports = {Export::kConvert, Export::kConvert,
                                                     Export::kPattern, Export::kFail};
  c.export_mode = kExports[(behaviour >> 5) & 3];
  c.planes_at_start = (behaviour & 0x80) != 0;
  c.seed = in->Byte();
  c.limited_range = (c.seed & 0x40) != 0;
  c.bt709 = (c.seed & 0x80) != 0;
  return c;
}

// --- Planes between guard pages -----------------------------------------------

// Samples that vary along and across rows, copied from a table: byte loops
// under the sanitizers would cost most of the time of an input.
void Fill(uint8_t* data, size_t size, uint8_t seed) {
  static const std::array<uint8_t, 4099> kPattern = [] {
    std::array<uint8_t, 4099> pattern{};
    for (size_t i = 0; i < pattern.size(); ++i)
      pattern[i] = static_cast<uint8_t>(i * 7 + (i >> 5) * 3);
    return pattern;
  }();
  for (size_t done = 0; done < size;) {
    const size_t offset = (seed * 13 + done) % kPattern.size();
    const size_t chunk = std::min(size - done, kPattern.size() - offset);
    memcpy(data + done, kPattern.data() + offset, chunk);
    done += chunk;
  }
}

// [inaccessible page][the plane, padded to whole pages][inaccessible page].
// The plane ends right at the second guard, or starts right after the
// first; the padding on its other side is poisoned for AddressSanitizer, so
// instrumented code is caught there too. An empty plane points at a guard.
class GuardedPlane {
 public:
  GuardedPlane(size_t size, bool at_start, uint8_t seed) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t body = (size + page - 1) / page * page;
    mapped_ = body + 2 * page;
    void* base = mmap(nullptr, mapped_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    CHECK(base != MAP_FAILED) << "mmap of " << mapped_ << " bytes failed";
    base_ = static_cast<uint8_t*>(base);
    body_ = base_ + page;
    body_size_ = body;
    if (body != 0)
      CHECK(mprotect(body_, body, PROT_READ | PROT_WRITE) == 0);
    data_ = at_start ? body_ : body_ + body - size;
    Fill(data_, size, seed);
    if (at_start)
      ASAN_POISON_MEMORY_REGION(data_ + size, body - size);
    else
      ASAN_POISON_MEMORY_REGION(body_, body - size);
  }
  ~GuardedPlane() {
    ASAN_UNPOISON_MEMORY_REGION(body_, body_size_);
    munmap(base_, mapped_);
  }
  GuardedPlane(const GuardedPlane&) = delete;
  GuardedPlane& operator=(const GuardedPlane&) = delete;

  const uint8_t* data() const { return data_; }

 private:
  size_t mapped_ = 0;
  uint8_t* base_ = nullptr;
  uint8_t* body_ = nullptr;
  size_t body_size_ = 0;
  uint8_t* data_ = nullptr;
};

// --- The frame ------------------------------------------------------------------

// The fuzz build always runs under AddressSanitizer, which knows the size of
// every allocation; elsewhere writing the buffer at least faults past a page.
bool BufferIsAddressable(uint8_t* buffer, size_t size) {
#if defined(__has_feature) && __has_feature(address_sanitizer)
  return __asan_region_is_poisoned(buffer, size) == nullptr;
#else
  memset(buffer, 0xa5, size);
  return true;
#endif
}

// Reports the case's geometry as given. Its conversion is the engine
// frame's real one over the same planes, or a pattern that reads no plane,
// or a failure. It checks that the writer asks for the whole picture into a
// buffer as large as it says, and remembers what it produced.
class FuzzFrame : public StubFrame {
 public:
  FuzzFrame(const Case& c, const uint8_t* y, const uint8_t* u, const uint8_t* v)
      : StubFrame(c.width, c.height),
        c_(c),
        y_(c.null_plane[0] ? nullptr : y),
        u_(c.null_plane[1] ? nullptr : u),
        v_(c.null_plane[2] ? nullptr : v),
        engine_frame_(engine::I420Frame::Wrap(c.width, c.height, y_, c.stride_y, u_, c.stride_u, v_,
                                              c.stride_v)) {}

  const uint8_t* YPlane() const override { return y_; }
  const uint8_t* UPlane() const override { return u_; }
  const uint8_t* VPlane() const override { return v_; }
  int32_t YStride() const override { return c_.stride_y; }
  int32_t UStride() const override { return c_.stride_u; }
  int32_t VStride() const override { return c_.stride_v; }

  int ExportArgb(uint32_t fourcc, uint8_t* buffer, size_t size, int32_t stride) const override {
    ++exports;
    CHECK(fourcc == rtc::kFourccArgb) << "asked for FourCC " << fourcc;
    CHECK(c_.width > 0 && c_.height > 0) << "asked to convert a frame of no size";
    const uint64_t row = static_cast<uint64_t>(c_.width) * 4;
    CHECK(stride >= 0 && static_cast<uint64_t>(stride) >= row) << "stride " << stride;
    const uint64_t needed = static_cast<uint64_t>(stride) * (c_.height - 1) + row;
    CHECK(buffer != nullptr && size >= needed) << "buffer of " << size << " for " << needed;
    // Every byte the writer says is there must be.
    CHECK(BufferIsAddressable(buffer, size))
        << "the writer's buffer is smaller than the " << size << " bytes it says";
    int result = 0;
    switch (c_.export_mode) {
      case Export::kFail:
        return -1;
      case Export::kPattern:
        Fill(buffer, needed, c_.seed);
        break;
      case Export::kConvert:
        result = engine_frame_->ExportArgb(fourcc, buffer, size, stride);
        break;
    }
    if (result == 0)
      exported.assign(buffer, buffer + needed);
    return result;
  }

  mutable int exports = 0;
  mutable std::vector<uint8_t> exported;

 private:
  const Case& c_;
  const uint8_t* y_;
  const uint8_t* u_;
  const uint8_t* v_;
  std::unique_ptr<engine::I420Frame> engine_frame_;
};

// --- What the writers log ------------------------------------------------------

class LineSink : public rtc::LogSink {
 public:
  void OnLogMessage(const std::string& message) override { lines.push_back(message); }
  bool Any(const std::string& text) const {
    for (const std::string& line : lines) {
      if (line.find(text) != std::string::npos)
        return true;
    }
    return false;
  }
  std::vector<std::string> lines;
};

LineSink* g_all_lines = nullptr;      // Info and up
LineSink* g_trouble_lines = nullptr;  // Warning and up

// --- The temporary directory ----------------------------------------------------

std::string* g_dir = nullptr;

std::vector<std::string> DirectoryEntries() {
  std::vector<std::string> names;
  DIR* dir = opendir(g_dir->c_str());
  CHECK(dir != nullptr) << "cannot list " << *g_dir;
  while (dirent* entry = readdir(dir)) {
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
      names.push_back(entry->d_name);
  }
  closedir(dir);
  return names;
}

void RemoveDirectory() {
  if (g_dir == nullptr)
    return;
  for (const std::string& name : DirectoryEntries())
    unlink((*g_dir + "/" + name).c_str());
  rmdir(g_dir->c_str());
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out) {
  out->clear();
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr)
    return false;
  uint8_t chunk[1 << 16];
  size_t got;
  while ((got = fread(chunk, 1, sizeof(chunk), file)) > 0)
    out->insert(out->end(), chunk, chunk + got);
  fclose(file);
  return true;
}

void WriteWholeFile(const std::string& path, const std::string& contents) {
  FILE* file = fopen(path.c_str(), "wb");
  CHECK(file != nullptr) << "cannot create " << path;
  CHECK(fwrite(contents.data(), 1, contents.size(), file) == contents.size());
  CHECK(fclose(file) == 0);
}

// --- The prediction ---------------------------------------------------------------

bool IsBmpName(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos)
    return false;
  std::string extension = path.substr(dot + 1);
  for (char& ch : extension)
    ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
  return extension == "bmp";
}

int64_t EffectiveStride(int32_t stride, int32_t natural) {
  return stride == 0 ? natural : stride;
}

bool StridesValid(const Case& c) {
  const int32_t chroma = ChromaSide(c.width);
  return EffectiveStride(c.stride_y, c.width) >= c.width &&
         EffectiveStride(c.stride_u, chroma) >= chroma &&
         EffectiveStride(c.stride_v, chroma) >= chroma;
}

// Bytes a reader of the plane may touch: every row up to the last, and the
// last row's samples.
uint64_t PlaneBytes(int64_t stride, int32_t width, int32_t rows) {
  return static_cast<uint64_t>(stride) * static_cast<uint64_t>(rows - 1) +
         static_cast<uint64_t>(width);
}

struct Prediction {
  bool bmp = false;  // which writer runs
  bool reads_planes = false;
  bool written = false;
  bool skip = false;  // too large to try
};

Prediction Predict(const Case& c, const std::string& path) {
  Prediction p;
  if (c.null_frame || c.empty_name)
    return p;
  p.bmp = c.call == Call::kBmpWriter || (c.call == Call::kRender2SaveImage && IsBmpName(path));
  const bool path_ok = c.suffix.find('/') == std::string::npos;
  const bool sized = c.width > 0 && c.height > 0;
  const bool planes_ok = !c.null_plane[0] && !c.null_plane[1] && !c.null_plane[2];
  if (!sized)
    return p;
  if (p.bmp) {
    const uint64_t bytes = static_cast<uint64_t>(c.width) * static_cast<uint64_t>(c.height) * 4;
    if (bytes > UINT32_MAX - kBmpHeaderBytes || static_cast<uint64_t>(c.width) * 4 > INT32_MAX)
      return p;
    p.skip = bytes > kMaxBmpBytes;
    const bool converts = c.export_mode == Export::kConvert;
    p.reads_planes = converts && planes_ok && StridesValid(c);
    const bool exported = c.export_mode == Export::kPattern || p.reads_planes;
    p.written = exported && path_ok;
    return p;
  }
  if (c.width > kJpegMaxSide || c.height > kJpegMaxSide || !planes_ok || !StridesValid(c))
    return p;
  p.reads_planes = path_ok;
  p.written = path_ok;
  return p;
}

// --- The checks -----------------------------------------------------------------------

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void CheckBmp(const std::vector<uint8_t>& file, const Case& c, const FuzzFrame& frame) {
  const uint64_t pixels = static_cast<uint64_t>(c.width) * c.height * 4;
  CHECK(file.size() == kBmpHeaderBytes + pixels) << "BMP of " << file.size() << " bytes";
  CHECK(file[0] == 'B' && file[1] == 'M');
  CHECK(Le32(&file[2]) == file.size()) << "BMP size field " << Le32(&file[2]);
  CHECK(Le32(&file[6]) == 0 && Le32(&file[10]) == kBmpHeaderBytes && Le32(&file[14]) == 40);
  CHECK(Le32(&file[18]) == static_cast<uint32_t>(c.width));
  CHECK(static_cast<int32_t>(Le32(&file[22])) == -c.height);
  CHECK((Le32(&file[26]) & 0xffff) == 1 && (Le32(&file[26]) >> 16) == 32);
  CHECK(Le32(&file[30]) == 0 && Le32(&file[34]) == pixels);
  for (size_t i = 38; i < kBmpHeaderBytes; ++i)
    CHECK(file[i] == 0) << "BMP header byte " << i;
  CHECK(frame.exports == 1 && frame.exported.size() == pixels &&
        memcmp(&file[kBmpHeaderBytes], frame.exported.data(), pixels) == 0)
      << "BMP pixels are not the frame's conversion";
}

tjhandle g_decoder = nullptr;

void CheckJpeg(const std::vector<uint8_t>& file, const Case& c) {
  int width = 0;
  int height = 0;
  int subsampling = -1;
  int colorspace = -1;
  CHECK(tjDecompressHeader3(g_decoder, file.data(), static_cast<unsigned long>(file.size()), &width,
                            &height, &subsampling, &colorspace) == 0)
      << "JPEG header unreadable: " << tjGetErrorStr2(g_decoder);
  CHECK(width == c.width && height == c.height)
      << "JPEG of " << width << "x" << height << " for a frame of " << c.width << "x" << c.height;
  CHECK(subsampling == TJSAMP_420) << "JPEG subsampling " << subsampling;
  CHECK(file.size() >= 4 && file[file.size() - 2] == 0xff && file[file.size() - 1] == 0xd9)
      << "JPEG does not end with its end marker";
}

const char* WriterName(const Prediction& p) {
  return p.bmp ? "write_BMP_file: " : "write_JPEG_file: ";
}

// How the inputs ended, printed at exit when NATIVERENDER_FUZZ_STATS is set:
// proof that the written paths are reached, not only the refusals.
struct Outcomes {
  long bmp_written = 0, jpeg_written = 0, refused = 0, skipped = 0;
};
Outcomes g_outcomes;

void PrintOutcomes() {
  fprintf(stderr, "capture_writers: bmp written %ld, jpeg written %ld, refused %ld, skipped %ld\n",
          g_outcomes.bmp_written, g_outcomes.jpeg_written, g_outcomes.refused, g_outcomes.skipped);
}

void RunCase(const Case& c) {
  const std::string path = c.empty_name ? std::string() : *g_dir + "/capture" + c.suffix;
  const Prediction p = Predict(c, path);

  // Planes exactly as large as the geometry allows reading, or empty.
  const int32_t chroma_width = ChromaSide(c.width);
  const int32_t chroma_height = ChromaSide(c.height);
  uint64_t y_bytes = 0;
  uint64_t u_bytes = 0;
  uint64_t v_bytes = 0;
  if (p.reads_planes) {
    y_bytes = PlaneBytes(EffectiveStride(c.stride_y, c.width), c.width, c.height);
    u_bytes = PlaneBytes(EffectiveStride(c.stride_u, chroma_width), chroma_width, chroma_height);
    v_bytes = PlaneBytes(EffectiveStride(c.stride_v, chroma_width), chroma_width, chroma_height);
  }
  if (p.skip || y_bytes > kMaxPlaneBytes || u_bytes > kMaxPlaneBytes || v_bytes > kMaxPlaneBytes) {
    ++g_outcomes.skipped;
    return;
  }
  GuardedPlane y(y_bytes, c.planes_at_start, c.seed);
  GuardedPlane u(u_bytes, c.planes_at_start, static_cast<uint8_t>(c.seed + 85));
  GuardedPlane v(v_bytes, c.planes_at_start, static_cast<uint8_t>(c.seed + 170));
  FuzzFrame frame(c, y.data(), u.data(), v.data());

  static const std::string kPrevious = "the file that was there before";
  const bool pre_existing =
      c.file_exists && !c.empty_name && c.suffix.find('/') == std::string::npos;
  if (pre_existing)
    WriteWholeFile(path, kPrevious);

  g_all_lines->lines.clear();
  g_trouble_lines->lines.clear();
  bool result = false;
  switch (c.call) {
    case Call::kRender2SaveImage:
      result = Render2SaveImage(c.null_frame ? nullptr : &frame, path, c.quality, c.limited_range,
                                c.bt709);
      break;
    case Call::kBmpWriter:
      result = write_BMP_file(&frame, path);
      break;
    case Call::kJpegWriter:
      result = write_JPEG_file(&frame, path, c.quality, c.limited_range, c.bt709);
      break;
  }

  CHECK(result == p.written) << "writer returned " << result << " for a frame predicted "
                             << (p.written ? "written" : "refused") << ": " << c.width << "x"
                             << c.height << " strides " << c.stride_y << "/" << c.stride_u << "/"
                             << c.stride_v << " name '" << path << "'";
  CHECK(!p.bmp || frame.exports <= 1) << "ExportArgb called " << frame.exports << " times";
  const std::string ok_line = std::string(WriterName(p)) + "ok";
  static std::vector<uint8_t> file;
  if (result) {
    CHECK(g_all_lines->Any(ok_line)) << "success without '" << ok_line << "'";
    CHECK(g_trouble_lines->lines.empty()) << "success logged '" << g_trouble_lines->lines[0] << "'";
    CHECK(ReadWholeFile(path, &file)) << "success without a file at " << path;
    if (p.bmp)
      CheckBmp(file, c, frame);
    else
      CheckJpeg(file, c);
    CHECK(unlink(path.c_str()) == 0);
    ++(p.bmp ? g_outcomes.bmp_written : g_outcomes.jpeg_written);
  } else {
    ++g_outcomes.refused;
    const bool explained = c.null_frame || c.empty_name ? g_trouble_lines->Any("Render2SaveImage: ")
                                                        : g_trouble_lines->Any(WriterName(p));
    CHECK(explained) << "refusal without a log line";
    CHECK(!g_all_lines->Any(ok_line)) << "failure logged '" << ok_line << "'";
    if (pre_existing) {
      CHECK(ReadWholeFile(path, &file) && std::string(file.begin(), file.end()) == kPrevious)
          << "a refused capture changed the file already at " << path;
      CHECK(unlink(path.c_str()) == 0);
    }
  }
  const std::vector<std::string> left = DirectoryEntries();
  CHECK(left.empty()) << "left behind: " << left[0];
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                        "/nativerender-capture-fuzz-XXXXXX";
  CHECK(mkdtemp(&pattern[0]) != nullptr) << "cannot make a directory like " << pattern;
  g_dir = new std::string(pattern);
  atexit(RemoveDirectory);
  if (getenv("NATIVERENDER_FUZZ_STATS") != nullptr)
    atexit(PrintOutcomes);

  g_decoder = tjInitDecompress();
  CHECK(g_decoder != nullptr);
  g_all_lines = new LineSink;
  g_trouble_lines = new LineSink;
  rtc::LogLine::AddSink(g_all_lines, rtc::LogSeverity::Info);
  rtc::LogLine::AddSink(g_trouble_lines, rtc::LogSeverity::Warning);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  RunCase(ReadCase(&in));
  return 0;
}
