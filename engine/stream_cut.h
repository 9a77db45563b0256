#ifndef ENGINE_STREAM_CUT_H_
#define ENGINE_STREAM_CUT_H_

// Whether a container's stream, read to the end of its data, was cut short:
// its last packet was marked damaged (the file ends inside a frame), or its
// pictures stop well before the length the stream states.

#include <stdint.h>

#include <optional>
#include <string>

namespace engine {

struct StreamEnd {
  bool last_packet_cut = false;  // the last packet read was marked damaged
  double last_time_s = 0;        // of the last frame read
  // In the stream's ticks: where the stream says it ends, and the furthest
  // a picture reached (unknown when absent); `slack`, how far short of the
  // stated end the pictures may stop (a stated length may round up).
  std::optional<int64_t> stated_end;
  std::optional<int64_t> latest_end;
  int64_t slack = 0;
  double latest_end_s = 0;  // latest_end and stated_end in seconds from the start
  double stated_end_s = 0;
};

// Why the data stopped before the stream did, or empty when it did not.
std::string CutReason(const StreamEnd& end);

// A time as the source's lines give it: "1.50 s".
std::string SecondsText(double seconds);

}  // namespace engine

#endif  // ENGINE_STREAM_CUT_H_
