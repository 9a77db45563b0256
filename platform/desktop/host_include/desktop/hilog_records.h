// Host side of the platform log: the lines logged in this process, for
// tests, and the switch for the copy written to stderr.
#ifndef OHOS_DESKTOP_HILOG_RECORDS_H
#define OHOS_DESKTOP_HILOG_RECORDS_H

#include <cstddef>
#include <string>
#include <vector>

#include "hilog/log.h"

namespace ohos_desktop {

struct HilogRecord {
  LogType type;
  LogLevel level;
  unsigned int domain;
  std::string tag;
  std::string text;  // formatted, without a trailing newline of its own
};

// The list keeps the most recent lines only, so that a long-running host
// does not grow without bound.
constexpr size_t kMaxHilogRecords = 65536;

// A copy of the recorded lines, oldest first.
std::vector<HilogRecord> HilogRecords();
void ClearHilogRecords();

// Writing to stderr is on unless OHOS_DESKTOP_HILOG_QUIET=1 is set when the
// first line is logged; this switch overrides that. Lines are recorded
// either way.
void SetHilogStderrEnabled(bool enabled);
bool HilogStderrEnabled();

}  // namespace ohos_desktop

#endif  // OHOS_DESKTOP_HILOG_RECORDS_H
