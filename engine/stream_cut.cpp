#include "engine/stream_cut.h"

#include <stdio.h>

namespace engine {

namespace {

std::string Seconds(double seconds) {
  char text[32];
  snprintf(text, sizeof text, "%.2f s", seconds);
  return text;
}

}  // namespace

std::string CutReason(const StreamEnd& end) {
  if (end.last_packet_cut)
    return "the file is cut short: it ends inside the frame after " + Seconds(end.last_time_s);
  if (end.stated_end && end.latest_end && *end.latest_end + end.slack < *end.stated_end)
    return "its frames stop at " + Seconds(end.latest_end_s) + " of the " +
           Seconds(end.stated_end_s) + " it states: the rest is missing or unreadable";
  return std::string();
}

}  // namespace engine
