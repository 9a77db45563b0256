#ifndef QUON_OHOS_NAPI_QUON_PNG_WRITER_H_
#define QUON_OHOS_NAPI_QUON_PNG_WRITER_H_

// A PNG writer small enough to carry in the module, which links no image
// library but libjpeg: 8-bit RGB, no filtering, the image data in deflate's
// "stored" blocks. Exact and quick to write; the file is about as large as
// the pixels.

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace png {

// CRC-32 (ISO 3309, as PNG chunks carry it) of `size` bytes, continuing
// `crc` (0 to start).
uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size);
// Adler-32 (as a zlib stream ends with it), continuing `adler` (1 to start).
uint32_t Adler32(uint32_t adler, const uint8_t* data, size_t size);

// The whole PNG file of `rgba` (width x height pixels of 4 bytes, red
// first; rows top first, `stride` bytes apart) into `file`, alpha left
// out. False, with `file` empty, for a size below 1x1, a stride below
// width * 4, or a picture whose file would not fit in memory.
bool EncodeRgb(const uint8_t* rgba, int32_t width, int32_t height, int32_t stride,
               std::vector<uint8_t>* file);

// Writes that file to `fileName` as the capture writers do: replaced whole
// once complete, a character device written directly, a FIFO or another
// target that is not a file refused. Logs how it went. `error`, when
// given, receives 0 for a file written or an errno value: EINVAL for a
// picture or target that cannot be written, ENOMEM, or the system's own.
bool WriteFile(const uint8_t* rgba, int32_t width, int32_t height, int32_t stride,
               const std::string& fileName, int* error = nullptr);

}  // namespace png

#endif  // QUON_OHOS_NAPI_QUON_PNG_WRITER_H_
