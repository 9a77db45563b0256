#include "quon_png_writer.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <new>

#include "quon_render_image_writer.h"
#include "rtc_base/filereplacer.h"
#include "rtc_base/logging.h"

namespace png {

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// A stored block holds at most this many bytes (its length is 16 bits).
constexpr size_t kStoredBlockMax = 65535;
// The zlib stream is cut into IDAT chunks of this much (any cut is valid).
constexpr size_t kIdatMax = size_t{1} << 20;

struct CrcTable {
  uint32_t entry[256];
  CrcTable() {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k)
        c = (c & 1) != 0 ? 0xedb88320u ^ (c >> 1) : c >> 1;
      entry[n] = c;
    }
  }
};

void PutBe32(std::vector<uint8_t>* out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out->push_back(static_cast<uint8_t>(value >> shift));
}

// A chunk: length, type, data, and the CRC of type and data.
void PutChunk(std::vector<uint8_t>* out, const char type[5], const uint8_t* data, size_t size) {
  PutBe32(out, static_cast<uint32_t>(size));
  const size_t typeAt = out->size();
  out->insert(out->end(), type, type + 4);
  out->insert(out->end(), data, data + size);
  PutBe32(out, Crc32(0, out->data() + typeAt, size + 4));
}

}  // namespace

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size) {
  static const CrcTable table;
  crc = ~crc;
  for (size_t i = 0; i < size; ++i)
    crc = table.entry[(crc ^ data[i]) & 0xff] ^ (crc >> 8);
  return ~crc;
}

uint32_t Adler32(uint32_t adler, const uint8_t* data, size_t size) {
  constexpr uint32_t kBase = 65521;
  // The most bytes summed before the sums must be reduced to stay in 32 bits.
  constexpr size_t kRun = 5552;
  uint32_t a = adler & 0xffff, b = adler >> 16;
  while (size > 0) {
    const size_t run = std::min(size, kRun);
    for (size_t i = 0; i < run; ++i) {
      a += data[i];
      b += a;
    }
    a %= kBase;
    b %= kBase;
    data += run;
    size -= run;
  }
  return b << 16 | a;
}

bool EncodeRgb(const uint8_t* rgba, int32_t width, int32_t height, int32_t stride,
               std::vector<uint8_t>* file) {
  file->clear();
  if (rgba == nullptr || width < 1 || height < 1 || stride / 4 < width)
    return false;
  // Each row: its filter type (0, none), then the row's RGB.
  const uint64_t rowBytes = uint64_t{1} + uint64_t{3} * static_cast<uint64_t>(width);
  const uint64_t rawBytes = rowBytes * static_cast<uint64_t>(height);
  const uint64_t blocks = (rawBytes + kStoredBlockMax - 1) / kStoredBlockMax;
  const uint64_t zlibBytes = 2 + rawBytes + 5 * blocks + 4;
  const uint64_t fileBytes = 8 + 25 + zlibBytes + 12 * (zlibBytes / kIdatMax + 1) + 12;
  if (fileBytes > SIZE_MAX / 2)
    return false;
  std::vector<uint8_t> raw, zlib;
  try {
    raw.resize(static_cast<size_t>(rawBytes));
    zlib.reserve(static_cast<size_t>(zlibBytes));
    file->reserve(static_cast<size_t>(fileBytes));
  } catch (const std::bad_alloc&) {
    file->clear();
    return false;
  }
  uint8_t* out = raw.data();
  for (int32_t row = 0; row < height; ++row) {
    const uint8_t* in = rgba + static_cast<size_t>(row) * static_cast<size_t>(stride);
    *out++ = 0;
    for (int32_t col = 0; col < width; ++col, in += 4, out += 3) {
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
    }
  }

  // The zlib stream: deflate, 32K window, no dictionary (0x78 0x01: the
  // pair is a multiple of 31, as the format asks), then stored blocks,
  // each its last-block bit, type 00, length and the length's complement.
  zlib.push_back(0x78);
  zlib.push_back(0x01);
  for (size_t at = 0;;) {
    const size_t size = std::min(kStoredBlockMax, raw.size() - at);
    const bool last = at + size == raw.size();
    zlib.push_back(last ? 1 : 0);
    zlib.push_back(static_cast<uint8_t>(size));
    zlib.push_back(static_cast<uint8_t>(size >> 8));
    zlib.push_back(static_cast<uint8_t>(~size));
    zlib.push_back(static_cast<uint8_t>(~size >> 8));
    zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                raw.begin() + static_cast<std::ptrdiff_t>(at + size));
    at += size;
    if (last)
      break;
  }
  PutBe32(&zlib, Adler32(1, raw.data(), raw.size()));

  file->insert(file->end(), kSignature, kSignature + sizeof(kSignature));
  std::vector<uint8_t> header;
  PutBe32(&header, static_cast<uint32_t>(width));
  PutBe32(&header, static_cast<uint32_t>(height));
  header.push_back(8);  // bits per sample
  header.push_back(2);  // colour type: RGB
  header.push_back(0);  // compression: deflate
  header.push_back(0);  // filter method: adaptive (every row uses none)
  header.push_back(0);  // not interlaced
  PutChunk(file, "IHDR", header.data(), header.size());
  for (size_t at = 0; at < zlib.size(); at += kIdatMax)
    PutChunk(file, "IDAT", zlib.data() + at, std::min(kIdatMax, zlib.size() - at));
  PutChunk(file, "IEND", nullptr, 0);
  return true;
}

bool WriteFile(const uint8_t* rgba, int32_t width, int32_t height, int32_t stride,
               const std::string& fileName, int* error) {
  const char* const writer = "WritePng";
  if (fileName.empty()) {
    LOG(Error) << writer << ": "
               << "the file name is empty";
    return capture::Failed(error, EINVAL);
  }
  std::vector<uint8_t> file;
  if (!EncodeRgb(rgba, width, height, stride, &file)) {
    const bool sound = rgba != nullptr && width >= 1 && height >= 1 && stride / 4 >= width;
    LOG(Error) << writer << ": " << (sound ? "out of memory" : "invalid picture")
               << ". width=" << width << ", height=" << height << ", stride=" << stride
               << ", filename=" << fileName;
    return capture::Failed(error, sound ? ENOMEM : EINVAL);
  }
  // Written beside the target and renamed over it once complete, as the
  // captures are.
  rtc::FileReplacer output;
  if (!output.Open(fileName)) {
    const int openError = errno;
    LOG_E(Error, Errno, openError) << writer << ": "
                                   << "open file failed. filename=" << fileName;
    capture::SayWhyRefused(output, writer, fileName);
    return capture::Failed(error, openError);
  }
  setvbuf(output.file(), nullptr, _IONBF, 0);
  errno = 0;
  if (fwrite(file.data(), 1, file.size(), output.file()) != file.size()) {
    const int writeError = errno != 0 ? errno : EIO;
    output.Discard();
    LOG_E(Error, Errno, writeError) << writer << ": "
                                    << "write file failed. filename=" << fileName;
    return capture::Failed(error, writeError);
  }
  const int closeError = output.Commit();
  if (closeError != 0) {
    LOG_E(Error, Errno, closeError) << writer << ": "
                                    << "write file failed. filename=" << fileName;
    return capture::Failed(error, closeError);
  }
  if (output.written_in_place() != 0)
    LOG_E(Warning, Errno, output.written_in_place())
        << writer << ": "
        << "written in place, the file could not be replaced whole. filename=" << fileName;
  LOG(Info) << writer << ": "
            << "ok " << width << "x" << height << " " << fileName;
  return capture::Written(error);
}

}  // namespace png
