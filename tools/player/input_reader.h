#ifndef TOOLS_PLAYER_INPUT_READER_H_
#define TOOLS_PLAYER_INPUT_READER_H_

// How one window's engine reads its input: frame by frame, rewound for a
// loop, with a cut, a fault, the input's notes and the damage its decoder
// skipped each said once. Engine thread only.

#include <stddef.h>

#include <string>

#include "engine/video_source.h"
#include "options.h"

namespace player {

class InputReader {
 public:
  // `speaks_for_input`: this window says the input's notes (the first
  // window speaks for all).
  InputReader(std::string id, engine::VideoSource* source, const Options& options,
              bool speaks_for_input);

  // The next frame: false at the end of the input (a loop rewinds it), or
  // when it was cut or could not be read (said).
  bool Next();
  // Whether the input was rewound since the last call: its times start
  // again.
  bool TakeLooped();
  // The input's notes (a conversion, streams left out), each once, as they
  // arise.
  void SayNotes();
  // At the end: damage the decoder skipped, said once.
  void SayDamage();
  // The input was cut, damaged (frames its decoder skipped), could not be
  // read, or (a pipe) ran out before a timed play was over.
  bool truncated() const { return truncated_; }

 private:
  const std::string id_;
  engine::VideoSource* const source_;
  const Options& options_;
  const bool speaks_for_input_;
  bool looped_ = false;
  size_t notes_said_ = 0;
  bool truncated_ = false;
};

}  // namespace player

#endif  // TOOLS_PLAYER_INPUT_READER_H_
