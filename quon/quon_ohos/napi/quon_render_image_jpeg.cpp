// The JPEG writer: libjpeg fed raw 4:2:0 data from the frame's planes,
// converted to the JFIF colours where the frame was described otherwise.

#include <errno.h>
#include <setjmp.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <new>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include "quon_render_image.h"
#include "quon_render_image_colour.h"
#include "quon_render_image_writer.h"
#include "rtc_base/filereplacer.h"
#include "rtc_base/logging.h"

using capture::Failed;
using capture::kLogFile;
using capture::PutInPlace;

namespace {

using capture::LimitedToFull;
using capture::MatrixConversion;
using colour::YuvMatrix;

// libjpeg takes one MCU row of 4:2:0 raw data per call: 16 luma rows and 8
// rows of each chroma plane.
constexpr int kLumaRowsPerGroup = 16;
constexpr int kChromaRowsPerGroup = 8;
constexpr int kDctSize = 8;
// The chroma rows one group's luma draws on when filtered: its own eight
// and one on either side.
constexpr int kChromaTermRows = kChromaRowsPerGroup + 2;

// The output file's stdio buffer. libjpeg's stdio destination hands over
// 4 KiB at a time; with the default buffer of the same size every hand-over
// is a write(2). A larger buffer turns a typical capture into a few writes.
constexpr size_t kJpegFileBufferBytes = size_t{256} * 1024;

// libjpeg's standard error handler ends the process. This one keeps the
// library's message and jumps back to the writer, which cleans up.
struct JpegErrorManager {
  jpeg_error_mgr pub;  // first: libjpeg sees only this part
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  int systemError;  // errno when the library gave up (a failed write's), or 0
};

void OnJpegError(j_common_ptr cinfo) {
  auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  manager->systemError = errno;
  (*cinfo->err->format_message)(cinfo, manager->message);
  longjmp(manager->jump, 1);
}

// Warnings (for instance about corrupt parameters) go to the runtime log
// rather than to stderr.
void OnJpegMessage(j_common_ptr cinfo) {
  char message[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, message);
  LOG(Warning) << "write_JPEG_file"
               << ": " << message;
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
  int padded_width;              // width rounded up to whole blocks
  uint8_t* scratch;              // rows_per_group rows of padded_width bytes, or null
  const uint8_t* lut = nullptr;  // 256 values every sample goes through, or null
};

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
  // Set for a matrix other than BT.601: every row is converted into the
  // scratch rows, with kChromaTermRows rows of chroma terms beside them.
  const MatrixConversion* conversion;
  int32_t* chromaTerms;
  char* fileBuffer;  // kJpegFileBufferBytes, or null for stdio's default
  rtc::FileReplacer* output;
};

const uint8_t* PlaneRow(const JpegPlane& plane, int row) {
  row = std::min(std::max(row, 0), plane.rows - 1);
  return plane.data + static_cast<size_t>(row) * plane.stride;
}

void PadRow(uint8_t* row, int width, int padded_width) {
  memset(row + width, row[width - 1], static_cast<size_t>(padded_width - width));
}

// One group's rows converted by `job.conversion` into the scratch rows.
// The chroma converts sample by sample. The luma's chroma term is taken
// from the chroma as a JPEG reader upsamples it (a triangle filter, each
// luma sample 9:3:3:1 from its four nearest chroma samples), so that the
// reader's R'G'B' are the source's wherever the chroma changes too.
void ConvertGroup(const JpegJob& job, int r0, JSAMPROW* yRows, JSAMPROW* uRows, JSAMPROW* vRows) {
  const MatrixConversion& m = *job.conversion;
  const JpegPlane& luma = job.planes[0];
  const JpegPlane& cb = job.planes[1];
  const JpegPlane& cr = job.planes[2];
  const int chromaWidth = cb.width;

  // The luma's chroma term for the group's chroma rows and one row on
  // either side, which the filter reaches.
  const int firstTermRow = r0 / 2 - 1;
  for (int i = 0; i < kChromaTermRows; ++i) {
    const uint8_t* u = PlaneRow(cb, firstTermRow + i);
    const uint8_t* v = PlaneRow(cr, firstTermRow + i);
    int32_t* term = job.chromaTerms + static_cast<size_t>(i) * chromaWidth;
    for (int x = 0; x < chromaWidth; ++x)
      term[x] = m.lumaFromCb * (u[x] - 128) + m.lumaFromCr * (v[x] - 128);
  }

  for (int k = 0; k < kChromaRowsPerGroup; ++k) {
    const uint8_t* u = PlaneRow(cb, r0 / 2 + k);
    const uint8_t* v = PlaneRow(cr, r0 / 2 + k);
    uint8_t* uOut = cb.scratch + static_cast<size_t>(k) * cb.padded_width;
    uint8_t* vOut = cr.scratch + static_cast<size_t>(k) * cr.padded_width;
    for (int x = 0; x < chromaWidth; ++x) {
      const int32_t du = u[x] - 128;
      const int32_t dv = v[x] - 128;
      uOut[x] = MatrixConversion::ToSample(128 * MatrixConversion::kOne + m.cbFromCb * du +
                                           m.cbFromCr * dv);
      vOut[x] = MatrixConversion::ToSample(128 * MatrixConversion::kOne + m.crFromCb * du +
                                           m.crFromCr * dv);
    }
    PadRow(uOut, chromaWidth, cb.padded_width);
    PadRow(vOut, chromaWidth, cr.padded_width);
    uRows[k] = uOut;
    vRows[k] = vOut;
  }

  for (int i = 0; i < kLumaRowsPerGroup; ++i) {
    const int row = std::min(r0 + i, luma.rows - 1);
    const int nearRow = row / 2;
    const int farRow = std::min(std::max(row % 2 == 0 ? nearRow - 1 : nearRow + 1, 0), cb.rows - 1);
    const int32_t* near =
        job.chromaTerms + static_cast<size_t>(nearRow - firstTermRow) * chromaWidth;
    const int32_t* far = job.chromaTerms + static_cast<size_t>(farRow - firstTermRow) * chromaWidth;
    const uint8_t* y = PlaneRow(luma, row);
    uint8_t* out = luma.scratch + static_cast<size_t>(i) * luma.padded_width;
    for (int x = 0; x < luma.width; ++x) {
      const int nearCol = x / 2;
      const int farCol =
          std::min(std::max(x % 2 == 0 ? nearCol - 1 : nearCol + 1, 0), chromaWidth - 1);
      const int32_t term =
          (9 * near[nearCol] + 3 * near[farCol] + 3 * far[nearCol] + far[farCol]) / 16;
      out[x] = MatrixConversion::ToSample(m.luma * (y[x] - m.yOffset) + term);
    }
    PadRow(out, luma.width, luma.padded_width);
    yRows[i] = out;
  }
}

void FeedPlanes(jpeg_compress_struct* cinfo, const JpegJob& job) {
  JSAMPROW yRows[kLumaRowsPerGroup];
  JSAMPROW uRows[kChromaRowsPerGroup];
  JSAMPROW vRows[kChromaRowsPerGroup];
  JSAMPARRAY tables[3] = {yRows, uRows, vRows};
  for (int r0 = 0; r0 < job.height; r0 += kLumaRowsPerGroup) {
    if (job.conversion != nullptr) {
      ConvertGroup(job, r0, yRows, uRows, vRows);
    } else {
      PointRows(job.planes[0], r0, kLumaRowsPerGroup, yRows);
      PointRows(job.planes[1], r0 / 2, kChromaRowsPerGroup, uRows);
      PointRows(job.planes[2], r0 / 2, kChromaRowsPerGroup, vRows);
    }
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

  if (!job->output->Open(*job->fileName))
    return JpegOutcome::kOpenFailed;
  if (job->fileBuffer != nullptr)
    setvbuf(job->output->file(), job->fileBuffer, _IOFBF, kJpegFileBufferBytes);

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

  jpeg_stdio_dest(cinfo, job->output->file());
  jpeg_start_compress(cinfo, TRUE);
  FeedPlanes(cinfo, *job);
  jpeg_finish_compress(cinfo);
  return JpegOutcome::kOk;
}

int RoundUpToBlock(int samples) {
  return (samples + kDctSize - 1) / kDctSize * kDctSize;
}

}  // namespace

bool write_JPEG_file(rtc::IVideoFrame* frame, const std::string& fileName, int quality,
                     bool limitedRange, YuvMatrix matrix, int* error) {
  if (frame == nullptr) {
    LOG(Error) << "write_JPEG_file"
               << ": "
               << "frame is null. filename=" << fileName;
    return Failed(error, EINVAL);
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
    LOG(Error) << "write_JPEG_file"
               << ": "
               << "invalid frame size. width=" << width << ", height=" << height;
    return Failed(error, EINVAL);
  }
  // Beyond what a JPEG file can hold: refused before any file is made.
  if (width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION) {
    LOG(Error) << "write_JPEG_file"
               << ": "
               << "frame too large for a JPEG file. width=" << width << ", height=" << height;
    return Failed(error, EFBIG);
  }
  if (yPlane == nullptr || uPlane == nullptr || vPlane == nullptr) {
    LOG(Error) << "write_JPEG_file"
               << ": "
               << "frame has a null plane. filename=" << fileName;
    return Failed(error, EINVAL);
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
    LOG(Error) << "write_JPEG_file"
               << ": "
               << "invalid stride. width=" << width << ", ystride=" << yStride
               << ", ustride=" << uStride << ", vstride=" << vStride;
    return Failed(error, EINVAL);
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
  job.planes[1] = JpegPlane{
      uPlane, static_cast<size_t>(uStride), chromaWidth, chromaHeight, chromaPadded, nullptr};
  job.planes[2] = JpegPlane{
      vPlane, static_cast<size_t>(vStride), chromaWidth, chromaHeight, chromaPadded, nullptr};

  // Row scratch for planes whose width is not whole blocks or whose samples
  // are converted (limited-range BT.601 through the expansion tables,
  // BT.709 and BT.2020 through the matrix conversion), the chroma terms of a
  // matrix conversion, and the file buffer: one allocation, freed on every
  // path.
  const bool otherMatrix = matrix != YuvMatrix::kBt601;
  if (otherMatrix) {
    job.conversion = &capture::ToJfif(matrix, limitedRange);
  } else if (limitedRange) {
    job.planes[0].lut = LimitedToFull().luma;
    job.planes[1].lut = job.planes[2].lut = LimitedToFull().chroma;
  }
  const bool converted = limitedRange || otherMatrix;
  const size_t lumaScratch =
      lumaPadded != width || converted ? static_cast<size_t>(lumaPadded) * kLumaRowsPerGroup : 0;
  const size_t chromaScratch = chromaPadded != chromaWidth || converted
                                   ? static_cast<size_t>(chromaPadded) * kChromaRowsPerGroup
                                   : 0;
  const size_t termBytes =
      otherMatrix ? sizeof(int32_t) * static_cast<size_t>(chromaWidth) * kChromaTermRows : 0;
  const size_t workBytes = kJpegFileBufferBytes + termBytes + lumaScratch + 2 * chromaScratch;
  std::unique_ptr<char[]> work(new (std::nothrow) char[workBytes]);
  if (!work) {
    LOG(Error) << "write_JPEG_file"
               << ": "
               << "out of memory. bytes=" << workBytes;
    return Failed(error, ENOMEM);
  }
  job.fileBuffer = work.get();
  // The terms first: right after the file buffer they are aligned as the
  // allocation is.
  job.chromaTerms =
      otherMatrix ? reinterpret_cast<int32_t*>(work.get() + kJpegFileBufferBytes) : nullptr;
  uint8_t* scratch = reinterpret_cast<uint8_t*>(work.get()) + kJpegFileBufferBytes + termBytes;
  if (lumaScratch != 0) {
    job.planes[0].scratch = scratch;
    scratch += lumaScratch;
  }
  if (chromaScratch != 0) {
    job.planes[1].scratch = scratch;
    job.planes[2].scratch = scratch + chromaScratch;
  }

  rtc::FileReplacer output;
  job.output = &output;
  jpeg_compress_struct cinfo{};
  JpegErrorManager errors{};
  const JpegOutcome outcome = Compress(&job, &cinfo, &errors);
  const int openError = errno;  // the file replacer's, when it could not open
  switch (outcome) {
    case JpegOutcome::kOpenFailed:
      LOG_AT(kLogFile, 19, Error) << "write_JPEG_file"
                                  << ": "
                                  << "filename: " << fileName;
      capture::SayWhyRefused(output, "write_JPEG_file", fileName);
      jpeg_destroy_compress(&cinfo);
      return Failed(error, openError);
    case JpegOutcome::kLibraryError:
      LOG(Error) << "write_JPEG_file"
                 << ": "
                 << "jpeg error: " << errors.message << ". filename=" << fileName;
      jpeg_destroy_compress(&cinfo);
      output.Discard();
      return Failed(error, errors.systemError != 0 ? errors.systemError : EIO);
    case JpegOutcome::kOk:
      break;
  }
  jpeg_destroy_compress(&cinfo);
  // The file goes in place of the target only now, complete.
  return PutInPlace(&output, "write_JPEG_file", 135, fileName, error);
}
