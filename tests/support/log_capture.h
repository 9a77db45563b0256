#ifndef TESTS_SUPPORT_LOG_CAPTURE_H_
#define TESTS_SUPPORT_LOG_CAPTURE_H_

// What the code under test logged: runtime lines through a recording sink,
// platform lines from the stand-in's record list.

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "desktop/hilog_records.h"
#include "support/recording_sink.h"

namespace test_support {

// Platform lines recorded since the last call, as "tag text".
inline std::vector<std::string> TakePlatformLines() {
  std::vector<std::string> lines;
  for (const auto& record : ohos_desktop::HilogRecords())
    lines.push_back(record.tag + " " + record.text);
  ohos_desktop::ClearHilogRecords();
  return lines;
}

inline bool AnyContains(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

// A pointer as a log line shows it: as the standard stream formats it,
// which is the C++ library's choice (a null pointer is "0" with GCC's
// library and "(nil)" with LLVM's on glibc).
inline std::string PointerText(const void* pointer) {
  std::ostringstream text;
  text << pointer;
  return text.str();
}

}  // namespace test_support

#endif  // TESTS_SUPPORT_LOG_CAPTURE_H_
