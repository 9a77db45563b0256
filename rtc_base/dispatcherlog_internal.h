#ifndef RTC_BASE_DISPATCHERLOG_INTERNAL_H_
#define RTC_BASE_DISPATCHERLOG_INTERNAL_H_

// Where the lines of the waiting loop, its wake-up pipe, the sockets and
// the signal dispatch say they come from; not for callers outside rtc_base.

#include "rtc_base/logging.h"

// Log tooling in the field keys on one file name and these line numbers for
// the server, its sockets and its signal dispatch alike, so their lines
// carry them explicitly, whichever file they are written in.
#define PSS_LOG(line, sev) LOG_AT(::rtc::pss_internal::kLogFile, line, sev)
#define PSS_LOG_ERRNO(line, sev, error)                                      \
  RTC_LOG_IMPL(::rtc::pss_internal::kLogFile, line, ::rtc::LogSeverity::sev, \
               ::rtc::LogErrorContext::Errno, error)

namespace rtc {
namespace pss_internal {

inline constexpr char kLogFile[] = "../../rtc_base/physicalsocketserver";

}  // namespace pss_internal
}  // namespace rtc

#endif  // RTC_BASE_DISPATCHERLOG_INTERNAL_H_
