#ifndef RTC_BASE_CHECKS_H_
#define RTC_BASE_CHECKS_H_

// CHECK(condition) << "optional detail";
//
// For conditions that must never fail. When the condition is false the
// process writes a framed report to stderr (and, when loggable, to the log
// sinks at Error) and aborts. There is no recovery.

#include <sstream>

namespace rtc {

// Collects the report; its destructor writes it and aborts.
class FatalMessage {
 public:
  FatalMessage(const char* file, int line);
  // Does not return.
  ~FatalMessage();
  FatalMessage(const FatalMessage&) = delete;
  FatalMessage& operator=(const FatalMessage&) = delete;

  std::ostream& stream() { return stream_; }

 private:
  std::ostringstream stream_;
};

class FatalMessageVoidify {
 public:
  void operator&(std::ostream&) {}
};

}  // namespace rtc

#define CHECK(condition)                                                  \
  (condition) ? (void)0                                                   \
              : ::rtc::FatalMessageVoidify() &                            \
                    ::rtc::FatalMessage(__FILE__, __LINE__).stream()      \
                        << "Check failed: " #condition << std::endl       \
                        << "# "

#endif  // RTC_BASE_CHECKS_H_
