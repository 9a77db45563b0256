#include "rtc_base/checks.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "rtc_base/logging.h"

namespace rtc {

FatalMessage::FatalMessage(const char* file, int line) {
  const int last_error = errno;
  stream_ << std::endl
          << std::endl
          << "#" << std::endl
          << "# Fatal error in " << (file != nullptr ? file : "") << ", line "
          << line << std::endl
          << "# last system error: " << last_error << std::endl
          << "# ";
}

FatalMessage::~FatalMessage() {
  fflush(stdout);
  fflush(stderr);
  stream_ << std::endl << "#" << std::endl;
  const std::string report = stream_.str();
  fprintf(stderr, "%s", report.c_str());
  // Hand the report to the sinks too, so a host that only sees forwarded
  // lines still learns why the process ended.
  if (LogLine::IsLoggable(LogSeverity::Error)) {
    LogLine(__FILE__, __LINE__, LogSeverity::Error).stream()
        << static_cast<const void*>(this) << ": " << "~FatalMessage" << ": "
        << " FatalMessage:" << report;
  }
  fflush(stderr);
  abort();
}

}  // namespace rtc
