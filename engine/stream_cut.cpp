#include "engine/stream_cut.h"

#include <stdio.h>

namespace engine {

std::string SecondsText(double seconds) {
  char text[32];
  snprintf(text, sizeof text, "%.2f s", seconds);
  return text;
}

std::string CutReason(const StreamEnd& end) {
  if (end.last_packet_cut)
    return "the file is cut short: it ends inside the frame after " + SecondsText(end.last_time_s);
  if (end.stated_end && end.latest_end && *end.latest_end + end.slack < *end.stated_end)
    return "its frames stop at " + SecondsText(end.latest_end_s) + " of the " +
           SecondsText(end.stated_end_s) + " it states: the rest is missing or unreadable";
  return std::string();
}

}  // namespace engine
