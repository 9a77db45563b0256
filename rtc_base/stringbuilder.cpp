#include "rtc_base/stringbuilder.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace rtc {

int FormatBounded(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = vsnprintf(buffer, size, format, args);
  va_end(args);
  if (size > 0 && (result < 0 || static_cast<size_t>(result) >= size))
    buffer[size - 1] = '\0';
  return result;
}

BoundedStringBuilder::BoundedStringBuilder(char* buffer, size_t size)
    : buffer_(buffer), capacity_(size) {
  if (capacity_ > 0)
    buffer_[0] = '\0';
}

BoundedStringBuilder& BoundedStringBuilder::operator<<(const char* text) {
  if (text == nullptr || capacity_ == 0)
    return *this;
  const size_t room = capacity_ - 1 - length_;
  const size_t count = strnlen(text, room);
  memcpy(buffer_ + length_, text, count);
  length_ += count;
  buffer_[length_] = '\0';
  return *this;
}

BoundedStringBuilder& BoundedStringBuilder::AppendFormatted(const char* format,
                                                            ...) {
  if (capacity_ == 0)
    return *this;
  const size_t space = capacity_ - length_;
  va_list args;
  va_start(args, format);
  const int written = vsnprintf(buffer_ + length_, space, format, args);
  va_end(args);
  if (written < 0) {
    buffer_[length_] = '\0';
    return *this;
  }
  const size_t room = space - 1;
  length_ += static_cast<size_t>(written) < room ? static_cast<size_t>(written) : room;
  buffer_[length_] = '\0';
  return *this;
}

}  // namespace rtc
