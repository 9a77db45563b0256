#include "quon_render_image.h"

#include <ctype.h>
#include <errno.h>
#include <setjmp.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <new>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include "rtc_base/logging.h"

namespace {

// Log tooling knows the capture lines by this file name and their lines.
constexpr char kLogFile[] = "quon_render";

constexpr uint32_t kBmpHeaderBytes = 58;  // 14-byte file header + 44-byte information block
constexpr uint32_t kBmpInfoHeaderSize = 40;
constexpr size_t kBmpPixelsAt = 64;  // offset of the pixels in the writer's buffer

// libjpeg takes one MCU row of 4:2:0 raw data per call: 16 luma rows and 8
// rows of each chroma plane.
constexpr int kLumaRowsPerGroup = 16;
constexpr int kChromaRowsPerGroup = 8;
constexpr int kDctSize = 8;

// The output file's stdio buffer. libjpeg's stdio destination hands over
// 4 KiB at a time; with the default buffer of the same size every hand-over
// is a write(2). A larger buffer turns a typical capture into a few writes.
constexpr size_t kJpegFileBufferBytes = size_t{256} * 1024;

void PutLe16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(uint8_t* p, uint32_t value) {
  PutLe16(p, static_cast<uint16_t>(value));
  PutLe16(p + 2, static_cast<uint16_t>(value >> 16));
}

bool IsRegularFile(FILE* file) {
  struct stat st;
  return fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode);
}

// Closes `file` and removes the partial file at `path`, so that a failed
// capture never leaves a file that looks valid. Devices (/dev/full, a pipe)
// are closed but never unlinked.
void DiscardFile(FILE* file, const std::string& path) {
  const bool regular = IsRegularFile(file);
  fclose(file);
  if (regular)
    remove(path.c_str());
}

// Closes a completely written file. Returns 0, or the errno of a failed
// close (the last buffered bytes did not reach the file), after which the
// file has been removed as in DiscardFile.
int CloseWrittenFile(FILE* file, const std::string& path) {
  const bool regular = IsRegularFile(file);
  errno = 0;
  if (fclose(file) == 0)
    return 0;
  const int error = errno != 0 ? errno : EIO;
  if (regular)
    remove(path.c_str());
  return error;
}

bool IsBmpFileName(const std::string& fileName) {
  const size_t dot = fileName.rfind('.');
  if (dot == std::string::npos)
    return false;
  std::string extension = fileName.substr(dot + 1);
  for (char& c : extension)
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return extension == "bmp";
}

// --- JPEG -----------------------------------------------------------------

// libjpeg's standard error handler ends the process. This one keeps the
// library's message and jumps back to the writer, which cleans up.
struct JpegErrorManager {
  jpeg_error_mgr pub;  // first: libjpeg sees only this part
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void OnJpegError(j_common_ptr cinfo) {
  auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, manager->message);
  longjmp(manager->jump, 1);
}

// Warnings (for instance about corrupt parameters) go to the runtime log
// rather than to stderr.
void OnJpegMessage(j_common_ptr cinfo) {
  char message[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, message);
  LOG(Warning) << "write_JPEG_file" << ": " << message;
}

// One plane as libjpeg reads it in raw mode: whole 8 x 8 blocks. Rows below
// the plane repeat its last row. When the plane's width is not a whole
// number of blocks, the rows are copied into `scratch` with the last sample
// repeated to the block edge, as libjpeg pads its own input; reading the
// plane itself there would run past the end of its last row.
struct JpegPlane {
  const uint8_t* data;
  size_t stride;
  int width;
  int rows;
  int padded_width;  // width rounded up to whole blocks
  uint8_t* scratch;  // rows_per_group rows of padded_width bytes, or null
  const uint8_t* lut = nullptr;  // 256 values every sample goes through, or null
};

// Limited-range samples (Y 16..235, chroma 16..240 around 128) stretched to
// the full range a JFIF file is read in, clamped; one table per kind.
struct RangeExpansion {
  uint8_t luma[256];
  uint8_t chroma[256];

  RangeExpansion() {
    for (int v = 0; v < 256; ++v) {
      luma[v] = Clamp((v - 16) * 255.0 / 219.0);
      chroma[v] = Clamp((v - 128) * 255.0 / 224.0 + 128.0);
    }
  }
  static uint8_t Clamp(double value) {
    return static_cast<uint8_t>(std::min(255.0, std::max(0.0, value + 0.5)));
  }
};

const RangeExpansion& LimitedToFull() {
  static const RangeExpansion tables;
  return tables;
}

void PointRows(const JpegPlane& plane, int first_row, int count, JSAMPROW* table) {
  for (int i = 0; i < count; ++i) {
    const int row = std::min(first_row + i, plane.rows - 1);
    const uint8_t* source = plane.data + static_cast<size_t>(row) * plane.stride;
    if (plane.scratch == nullptr) {
      table[i] = const_cast<JSAMPROW>(source);  // libjpeg only reads its input
      continue;
    }
    uint8_t* padded = plane.scratch + static_cast<size_t>(i) * plane.padded_width;
    if (plane.lut != nullptr) {
      for (int x = 0; x < plane.width; ++x)
        padded[x] = plane.lut[source[x]];
    } else {
      memcpy(padded, source, static_cast<size_t>(plane.width));
    }
    memset(padded + plane.width, padded[plane.width - 1],
           static_cast<size_t>(plane.padded_width - plane.width));
    table[i] = padded;
  }
}

struct JpegJob {
  const std::string* fileName;
  int width;
  int height;
  int quality;  // already clamped
  JpegPlane planes[3];
  char* fileBuffer;  // kJpegFileBufferBytes, or null for stdio's default
  FILE* file;        // set once the file is open
};

void FeedPlanes(jpeg_compress_struct* cinfo, const JpegJob& job) {
  JSAMPROW yRows[kLumaRowsPerGroup];
  JSAMPROW uRows[kChromaRowsPerGroup];
  JSAMPROW vRows[kChromaRowsPerGroup];
  JSAMPARRAY tables[3] = {yRows, uRows, vRows};
  for (int r0 = 0; r0 < job.height; r0 += kLumaRowsPerGroup) {
    PointRows(job.planes[0], r0, kLumaRowsPerGroup, yRows);
    PointRows(job.planes[1], r0 / 2, kChromaRowsPerGroup, uRows);
    PointRows(job.planes[2], r0 / 2, kChromaRowsPerGroup, vRows);
    jpeg_write_raw_data(cinfo, tables, kLumaRowsPerGroup);
  }
}

enum class JpegOutcome { kOk, kOpenFailed, kLibraryError };

// The compression proper, in libjpeg's canonical order. A library error
// lands back here through the jump and is reported as kLibraryError; the
// caller then destroys the compressor and discards the file. Nothing in
// this frame changes after setjmp except through `job`.
JpegOutcome Compress(JpegJob* job, jpeg_compress_struct* cinfo, JpegErrorManager* errors) {
  cinfo->err = jpeg_std_error(&errors->pub);
  errors->pub.error_exit = OnJpegError;
  errors->pub.output_message = OnJpegMessage;
  if (setjmp(errors->jump) != 0)
    return JpegOutcome::kLibraryError;
  jpeg_create_compress(cinfo);

  job->file = fopen(job->fileName->c_str(), "wb+");
  if (job->file == nullptr)
    return JpegOutcome::kOpenFailed;
  if (job->fileBuffer != nullptr)
    setvbuf(job->file, job->fileBuffer, _IOFBF, kJpegFileBufferBytes);

  cinfo->image_width = static_cast<JDIMENSION>(job->width);
  cinfo->image_height = static_cast<JDIMENSION>(job->height);
  cinfo->input_components = 3;
  cinfo->in_color_space = JCS_YCbCr;
  jpeg_set_defaults(cinfo);
  cinfo->raw_data_in = TRUE;
  jpeg_set_quality(cinfo, job->quality, TRUE);
  jpeg_set_colorspace(cinfo, JCS_YCbCr);
  cinfo->comp_info[0].h_samp_factor = 2;
  cinfo->comp_info[0].v_samp_factor = 2;
  cinfo->comp_info[1].h_samp_factor = 1;
  cinfo->comp_info[1].v_samp_factor = 1;
  cinfo->comp_info[2].h_samp_factor = 1;
  cinfo->comp_info[2].v_samp_factor = 1;
  cinfo->dct_method = JDCT_IFAST;

  jpeg_stdio_dest(cinfo, job->file);
  jpeg_start_compress(cinfo, TRUE);
  FeedPlanes(cinfo, *job);
  jpeg_finish_compress(cinfo);
  return JpegOutcome::kOk;
}

int RoundUpToBlock(int samples) {
  return (samples + kDctSize - 1) / kDctSize * kDctSize;
}

}  // namespace

bool Render2SaveImage(rtc::IVideoFrame* frameCopy, const std::string& fileName, int quality,
                      bool limitedRange) {
  if (frameCopy == nullptr || fileName.empty()) {
    LOG_AT(kLogFile, 244, Warning) << "Render2SaveImage" << ": "
                                   << "frame is null or filename is null.";
    return false;
  }
  LOG_AT(kLogFile, 247, Info) << "Render2SaveImage" << ": " << "begin";
  if (IsBmpFileName(fileName))
    return write_BMP_file(frameCopy, fileName);
  return write_JPEG_file(frameCopy, fileName, quality, limitedRange);
}

bool write_BMP_file(rtc::IVideoFrame* frame, const std::string& fileName) {
  if (frame == nullptr) {
    LOG(Error) << "write_BMP_file" << ": " << "frame is null. filename=" << fileName;
    return false;
  }
  const int32_t width = frame->Width();
  const int32_t height = frame->Height();
  if (width <= 0 || height <= 0) {
    LOG(Error) << "write_BMP_file" << ": " << "invalid frame size. width=" << width
               << ", height=" << height;
    return false;
  }
  // Every size field of the file is 32 bits, and the row stride handed to
  // the frame is a signed 32-bit value.
  const uint64_t imageBytes64 = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4;
  if (imageBytes64 > UINT32_MAX - kBmpHeaderBytes || static_cast<uint64_t>(width) * 4 > INT32_MAX) {
    LOG(Error) << "write_BMP_file" << ": " << "frame too large for a BMP file. width=" << width
               << ", height=" << height;
    return false;
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
    LOG(Error) << "write_BMP_file" << ": " << "out of memory. bytes=" << imageBytes;
    return false;
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
    LOG(Error) << "write_BMP_file" << ": " << "ExportArgb failed. result=" << exported
               << ", filename=" << fileName;
    return false;
  }

  FILE* file = fopen(fileName.c_str(), "wb+");
  if (file == nullptr) {
    LOG_AT(kLogFile, 212, Error) << "write_BMP_file" << ": " << "open file failed. filename="
                                 << fileName;
    return false;
  }

  // Unbuffered: the one fwrite below is one write(2), with no copy through
  // stdio's buffer.
  setvbuf(file, nullptr, _IONBF, 0);
  const size_t fileBytes = kBmpHeaderBytes + static_cast<size_t>(imageBytes);
  errno = 0;
  if (fwrite(header, 1, fileBytes, file) != fileBytes) {
    const int error = errno != 0 ? errno : EIO;
    DiscardFile(file, fileName);
    LOG_E(Error, Errno, error) << "write_BMP_file" << ": " << "write file failed. filename="
                               << fileName;
    return false;
  }
  const int closeError = CloseWrittenFile(file, fileName);
  if (closeError != 0) {
    LOG_E(Error, Errno, closeError) << "write_BMP_file" << ": " << "write file failed. filename="
                                    << fileName;
    return false;
  }
  LOG_AT(kLogFile, 237, Info) << "write_BMP_file" << ": " << "ok";
  return true;
}

bool write_JPEG_file(rtc::IVideoFrame* frame, const std::string& fileName, int quality,
                     bool limitedRange) {
  if (frame == nullptr) {
    LOG(Error) << "write_JPEG_file" << ": " << "frame is null. filename=" << fileName;
    return false;
  }
  const uint8_t* yPlane = frame->YPlane();
  const uint8_t* uPlane = frame->UPlane();
  const uint8_t* vPlane = frame->VPlane();
  int32_t yStride = frame->YStride();
  int32_t uStride = frame->UStride();
  int32_t vStride = frame->VStride();
  const int32_t width = frame->Width();
  const int32_t height = frame->Height();

  if (width <= 0 || height <= 0) {
    LOG(Error) << "write_JPEG_file" << ": " << "invalid frame size. width=" << width
               << ", height=" << height;
    return false;
  }
  // Beyond what a JPEG file can hold: refused before any file is made.
  if (width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION) {
    LOG(Error) << "write_JPEG_file" << ": " << "frame too large for a JPEG file. width=" << width
               << ", height=" << height;
    return false;
  }
  if (yPlane == nullptr || uPlane == nullptr || vPlane == nullptr) {
    LOG(Error) << "write_JPEG_file" << ": " << "frame has a null plane. filename=" << fileName;
    return false;
  }
  // A stride of 0 stands for the plane's own width; the chroma planes of an
  // odd width have (width + 1) / 2 samples per row.
  const int chromaWidth = width / 2 + width % 2;
  const int chromaHeight = height / 2 + height % 2;
  if (yStride == 0)
    yStride = width;
  if (uStride == 0)
    uStride = chromaWidth;
  if (vStride == 0)
    vStride = chromaWidth;
  // Rows shorter than the picture would overlap: not an I420 frame.
  if (yStride < width || uStride < chromaWidth || vStride < chromaWidth) {
    LOG(Error) << "write_JPEG_file" << ": " << "invalid stride. width=" << width
               << ", ystride=" << yStride << ", ustride=" << uStride << ", vstride=" << vStride;
    return false;
  }

  JpegJob job{};
  job.fileName = &fileName;
  job.width = width;
  job.height = height;
  job.quality = std::min(100, std::max(1, quality));
  const int lumaPadded = RoundUpToBlock(width);
  const int chromaPadded = RoundUpToBlock(chromaWidth);
  job.planes[0] =
      JpegPlane{yPlane, static_cast<size_t>(yStride), width, height, lumaPadded, nullptr};
  job.planes[1] = JpegPlane{uPlane, static_cast<size_t>(uStride), chromaWidth, chromaHeight,
                            chromaPadded, nullptr};
  job.planes[2] = JpegPlane{vPlane, static_cast<size_t>(vStride), chromaWidth, chromaHeight,
                            chromaPadded, nullptr};

  // Row scratch for planes whose width is not whole blocks, and the file
  // buffer: one allocation, freed on every path.
  // Limited-range planes go through the expansion tables row by row, in
  // the same scratch rows.
  if (limitedRange) {
    job.planes[0].lut = LimitedToFull().luma;
    job.planes[1].lut = job.planes[2].lut = LimitedToFull().chroma;
  }
  const size_t lumaScratch = lumaPadded != width || limitedRange
                                 ? static_cast<size_t>(lumaPadded) * kLumaRowsPerGroup
                                 : 0;
  const size_t chromaScratch = chromaPadded != chromaWidth || limitedRange
                                   ? static_cast<size_t>(chromaPadded) * kChromaRowsPerGroup
                                   : 0;
  const size_t workBytes = kJpegFileBufferBytes + lumaScratch + 2 * chromaScratch;
  std::unique_ptr<char[]> work(new (std::nothrow) char[workBytes]);
  if (!work) {
    LOG(Error) << "write_JPEG_file" << ": " << "out of memory. bytes=" << workBytes;
    return false;
  }
  job.fileBuffer = work.get();
  uint8_t* scratch = reinterpret_cast<uint8_t*>(work.get()) + kJpegFileBufferBytes;
  if (lumaScratch != 0) {
    job.planes[0].scratch = scratch;
    scratch += lumaScratch;
  }
  if (chromaScratch != 0) {
    job.planes[1].scratch = scratch;
    job.planes[2].scratch = scratch + chromaScratch;
  }

  jpeg_compress_struct cinfo{};
  JpegErrorManager errors{};
  const JpegOutcome outcome = Compress(&job, &cinfo, &errors);
  switch (outcome) {
    case JpegOutcome::kOpenFailed:
      LOG_AT(kLogFile, 19, Error) << "write_JPEG_file" << ": " << "filename: " << fileName;
      jpeg_destroy_compress(&cinfo);
      return false;
    case JpegOutcome::kLibraryError:
      LOG(Error) << "write_JPEG_file" << ": " << "jpeg error: " << errors.message
                 << ". filename=" << fileName;
      jpeg_destroy_compress(&cinfo);
      if (job.file != nullptr)
        DiscardFile(job.file, fileName);
      return false;
    case JpegOutcome::kOk:
      break;
  }
  const int closeError = CloseWrittenFile(job.file, fileName);
  jpeg_destroy_compress(&cinfo);
  if (closeError != 0) {
    LOG_E(Error, Errno, closeError) << "write_JPEG_file" << ": " << "write file failed. filename="
                                    << fileName;
    return false;
  }
  LOG_AT(kLogFile, 135, Info) << "write_JPEG_file" << ": " << "ok";
  return true;
}
