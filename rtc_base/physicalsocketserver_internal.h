#ifndef RTC_BASE_PHYSICALSOCKETSERVER_INTERNAL_H_
#define RTC_BASE_PHYSICALSOCKETSERVER_INTERNAL_H_

// Shared by the physical server, its sockets and the signal dispatch; not
// for callers outside rtc_base.

#include <stdint.h>
#include <sys/epoll.h>

#include "rtc_base/logging.h"
#include "rtc_base/socketserver.h"

// Log tooling in the field keys on one file name and these line numbers for
// the server, its sockets and its signal dispatch alike, so their lines
// carry them explicitly, whichever file they are written in.
#define PSS_LOG(line, sev) LOG_AT(::rtc::pss_internal::kLogFile, line, sev)
#define PSS_LOG_ERRNO(line, sev, error)                                     \
  RTC_LOG_IMPL(::rtc::pss_internal::kLogFile, line, ::rtc::LogSeverity::sev, \
               ::rtc::LogErrorContext::Errno, error)

namespace rtc {
namespace pss_internal {

inline constexpr char kLogFile[] = "../../rtc_base/physicalsocketserver";

inline bool WantsRead(uint32_t wanted) {
  return (wanted & (DISPATCH_READ | DISPATCH_ACCEPT)) != 0;
}

inline bool WantsWrite(uint32_t wanted) {
  return (wanted & (DISPATCH_WRITE | DISPATCH_CONNECT)) != 0;
}

// Level-triggered: a dispatcher that leaves data unread is told again.
inline uint32_t EpollMaskFor(uint32_t wanted) {
  return (WantsRead(wanted) ? EPOLLIN : 0u) | (WantsWrite(wanted) ? EPOLLOUT : 0u);
}

}  // namespace pss_internal
}  // namespace rtc

#endif  // RTC_BASE_PHYSICALSOCKETSERVER_INTERNAL_H_
