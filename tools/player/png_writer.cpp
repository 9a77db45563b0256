#include "png_writer.h"

#include <errno.h>
#include <png.h>
#include <stdio.h>
#include <string.h>

#include "rtc_base/filereplacer.h"

namespace player {

namespace {

bool WriteRows(png_structp png, png_infop info, FILE* file, const std::vector<uint32_t>& pixels,
               int width, int height) {
  // libpng reports errors by longjmp; nothing with a destructor lives here.
  if (setjmp(png_jmpbuf(png)))
    return false;
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<png_byte> row(static_cast<size_t>(width) * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint32_t p = pixels[static_cast<size_t>(y) * width + x];
      row[x * 3] = static_cast<png_byte>(p >> 16);
      row[x * 3 + 1] = static_cast<png_byte>(p >> 8);
      row[x * 3 + 2] = static_cast<png_byte>(p);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

bool WritePng(const std::string& path, const std::vector<uint32_t>& pixels, int width, int height,
              std::string* error) {
  if (width <= 0 || height <= 0 || pixels.size() != static_cast<size_t>(width) * height) {
    *error = "no pixels to write";
    return false;
  }
  // Renamed into place once complete: the previous screenshot stays until
  // then, and a run killed halfway leaves no half a file.
  rtc::FileReplacer output;
  if (!output.Open(path)) {
    *error = "cannot open " + path + ": " + strerror(errno);
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  const bool written =
      info != nullptr && WriteRows(png, info, output.file(), pixels, width, height);
  png_destroy_write_struct(&png, &info);
  if (!written) {
    output.Discard();
    *error = "cannot write " + path;
    return false;
  }
  const int failed = output.Commit();
  if (failed != 0) {
    *error = "cannot write " + path + ": " + strerror(failed);
    return false;
  }
  return true;
}

}  // namespace player
