#ifndef RTC_BASE_STRINGBUILDER_H_
#define RTC_BASE_STRINGBUILDER_H_

#include <stddef.h>

namespace rtc {

// vsnprintf into `buffer`, which is always left terminated, even when the
// text was cut or formatting failed. Returns what vsnprintf returned: the
// length the full text would have had, or a negative value on error.
int FormatBounded(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Appends into a caller-supplied buffer of fixed size, keeping it
// terminated at every step; what does not fit is dropped, never overrun.
class BoundedStringBuilder {
 public:
  // `size` must be at least 1 (room for the terminator).
  BoundedStringBuilder(char* buffer, size_t size);
  BoundedStringBuilder(const BoundedStringBuilder&) = delete;
  BoundedStringBuilder& operator=(const BoundedStringBuilder&) = delete;

  // Copies as much of the terminated string `text` as fits. Null is ignored.
  BoundedStringBuilder& operator<<(const char* text);
  // Formats at the current end; the length grows by the characters written,
  // capped at the space left. On a formatting error the text stays as it was.
  BoundedStringBuilder& AppendFormatted(const char* format, ...)
      __attribute__((format(printf, 2, 3)));

  const char* str() const { return buffer_; }
  size_t size() const { return length_; }

 private:
  char* const buffer_;
  const size_t capacity_;
  size_t length_ = 0;
};

}  // namespace rtc

#endif  // RTC_BASE_STRINGBUILDER_H_
