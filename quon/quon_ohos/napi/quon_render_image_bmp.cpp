// The BMP writer: the frame's ExportArgb pixels behind a 58-byte header,
// one write from one buffer.

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/statfs.h>

#include <memory>

#include "quon_render_image.h"
#include "quon_render_image_writer.h"
#include "rtc_base/logging.h"

using capture::Failed;
using capture::kLogFile;
using capture::PutInPlace;

namespace {

constexpr uint32_t kBmpHeaderBytes = 58;  // 14-byte file header + 44-byte information block
constexpr uint32_t kBmpInfoHeaderSize = 40;
constexpr size_t kBmpPixelsAt = 64;  // offset of the pixels in the writer's buffer

void PutLe16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(uint8_t* p, uint32_t value) {
  PutLe16(p, static_cast<uint16_t>(value));
  PutLe16(p + 2, static_cast<uint16_t>(value >> 16));
}

// Reserves the blocks of a file about to get `bytes` bytes, where that
// makes the write cheaper. ext4 otherwise reserves each delayed block as
// the write copies into it, a sixth of a 1080p capture; its size still
// grows only with what is written. Not elsewhere: tmpfs, for one, would
// clear every page that the write then fills. Only a hint: where it fails,
// the write goes on as it would have.
void ReserveBlocks(FILE* file, size_t bytes) {
#if defined(__linux__) && defined(FALLOC_FL_KEEP_SIZE)
  constexpr unsigned long kExt4Magic = 0xEF53;  // ext2 and ext3 share it, and refuse the call
  struct statfs fs;
  const int fd = fileno(file);
  if (fstatfs(fd, &fs) == 0 && static_cast<unsigned long>(fs.f_type) == kExt4Magic)
    fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes));
#else
  (void)file;
  (void)bytes;
#endif
}

}  // namespace

bool write_BMP_file(rtc::IVideoFrame* frame, const std::string& fileName, int* error) {
  if (frame == nullptr) {
    LOG(Error) << "write_BMP_file"
               << ": "
               << "frame is null. filename=" << fileName;
    return Failed(error, EINVAL);
  }
  const int32_t width = frame->Width();
  const int32_t height = frame->Height();
  if (width <= 0 || height <= 0) {
    LOG(Error) << "write_BMP_file"
               << ": "
               << "invalid frame size. width=" << width << ", height=" << height;
    return Failed(error, EINVAL);
  }
  // Every size field of the file is 32 bits, and the row stride handed to
  // the frame is a signed 32-bit value.
  const uint64_t imageBytes64 = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4;
  if (imageBytes64 > UINT32_MAX - kBmpHeaderBytes || static_cast<uint64_t>(width) * 4 > INT32_MAX) {
    LOG(Error) << "write_BMP_file"
               << ": "
               << "frame too large for a BMP file. width=" << width << ", height=" << height;
    return Failed(error, EFBIG);
  }
  const uint32_t imageBytes = static_cast<uint32_t>(imageBytes64);

  // One buffer holds the header and, right after it, the pixels, so that the
  // whole file is one write from one buffer. The pixels start 64 bytes in
  // (the header fills the 58 bytes before them), so the frame converts into
  // rows as aligned as the allocation itself.
  //
  // Zeroed, so that pixels an engine's ExportArgb leaves unwritten reach the
  // file black rather than as whatever the heap held. calloc rather than a
  // pass of memset: a buffer this large comes from fresh pages, zero already.
  std::unique_ptr<uint8_t, decltype(&free)> buffer(
      static_cast<uint8_t*>(calloc(1, kBmpPixelsAt + imageBytes)), &free);
  if (!buffer) {
    LOG(Error) << "write_BMP_file"
               << ": "
               << "out of memory. bytes=" << imageBytes;
    return Failed(error, ENOMEM);
  }
  uint8_t* const pixels = buffer.get() + kBmpPixelsAt;
  uint8_t* const header = pixels - kBmpHeaderBytes;
  memset(header, 0, kBmpHeaderBytes);
  header[0] = 'B';
  header[1] = 'M';
  PutLe32(header + 2, imageBytes + kBmpHeaderBytes);
  PutLe32(header + 10, kBmpHeaderBytes);
  // The information block is 44 bytes though its size field says 40;
  // readers find the pixels through the offset above.
  PutLe32(header + 14, kBmpInfoHeaderSize);
  PutLe32(header + 18, static_cast<uint32_t>(width));
  PutLe32(header + 22, static_cast<uint32_t>(-height));  // negative: rows run top to bottom
  PutLe16(header + 26, 1);                               // planes
  PutLe16(header + 28, 32);                              // bits per pixel
  PutLe32(header + 34, imageBytes);                      // compression 0 at 30, then image size

  // The pixels are ready before the file is opened: a frame that cannot
  // export then leaves an existing file of that name untouched, and the conversion does not wait
  // behind the truncation of a file still being written back.
  // Engines return 0, a byte count or true on success: only a negative
  // result is a failure.
  const int exported = frame->ExportArgb(rtc::kFourccArgb, pixels, imageBytes, width * 4);
  if (exported < 0) {
    LOG(Error) << "write_BMP_file"
               << ": "
               << "ExportArgb failed. result=" << exported << ", filename=" << fileName;
    return Failed(error, EIO);
  }

  // Written beside the target and renamed over it once complete: readers,
  // and a process killed halfway, never see a part of the file.
  rtc::FileReplacer output;
  if (!output.Open(fileName)) {
    const int openError = errno;
    LOG_AT(kLogFile, 212, Error) << "write_BMP_file"
                                 << ": "
                                 << "open file failed. filename=" << fileName;
    capture::SayWhyRefused(output, "write_BMP_file", fileName);
    return Failed(error, openError);
  }

  // Unbuffered: the one fwrite below is one write(2), with no copy through
  // stdio's buffer.
  setvbuf(output.file(), nullptr, _IONBF, 0);
  const size_t fileBytes = kBmpHeaderBytes + static_cast<size_t>(imageBytes);
  ReserveBlocks(output.file(), fileBytes);
  errno = 0;
  if (fwrite(header, 1, fileBytes, output.file()) != fileBytes) {
    const int writeError = errno != 0 ? errno : EIO;
    output.Discard();
    LOG_E(Error, Errno, writeError) << "write_BMP_file"
                                    << ": "
                                    << "write file failed. filename=" << fileName;
    return Failed(error, writeError);
  }
  return PutInPlace(&output, "write_BMP_file", 237, fileName, error);
}
