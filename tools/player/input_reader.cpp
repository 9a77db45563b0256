#include "input_reader.h"

#include <stdio.h>

#include <utility>

#include "messages.h"

namespace player {

InputReader::InputReader(std::string id, engine::VideoSource* source, const Options& options,
                         bool speaks_for_input)
    : id_(std::move(id)), source_(source), options_(options), speaks_for_input_(speaks_for_input) {}

bool InputReader::TakeLooped() {
  const bool looped = looped_;
  looped_ = false;
  return looped;
}

bool InputReader::Next() {
  engine::VideoSource::Status status = source_->Next();
  const bool cut = status == engine::VideoSource::Status::kTruncated;
  const long long whole = source_->frames_read();
  bool looped = false;
  if (status != engine::VideoSource::Status::kFrame && options_.Loops() && whole > 0 &&
      status != engine::VideoSource::Status::kError) {
    if (source_->Rewind()) {
      status = source_->Next();
      looped = true;
      looped_ = true;
    } else if (status == engine::VideoSource::Status::kEnd) {
      truncated_ = true;
      Say(stderr, id_ + ": the input ended after " + std::to_string(whole) +
                      " frames, before --duration, and a pipe cannot be read again");
      return false;
    }
  }
  // A cut input is said once, looped or not (a loop plays its whole frames
  // on). A container says how its data stopped.
  if (cut && !truncated_) {
    truncated_ = true;
    const std::string what = looped ? "looping" : "stopped after";
    if (source_->has_timestamps())
      Say(stderr, id_ + ": " + source_->error() + ": " + what + " its " + std::to_string(whole) +
                      " frame" + Plural(whole));
    else
      Say(stderr, id_ + ": input ends inside frame " + std::to_string(whole + 1) + ": " + what +
                      (looped ? " its " : " ") + std::to_string(whole) + " whole frames");
  }
  SayNotes();
  switch (status) {
    case engine::VideoSource::Status::kFrame:
      return true;
    case engine::VideoSource::Status::kTruncated:
      return false;  // said above
    case engine::VideoSource::Status::kError:
      truncated_ = true;
      Say(stderr, id_ + ": " + source_->error());
      return false;
    case engine::VideoSource::Status::kEnd:
      return false;
  }
  return false;
}

// The input's notes (a conversion, streams left out), each once, as they
// arise; the first window speaks for all.
void InputReader::SayNotes() {
  const std::vector<std::string>& notes = source_->notes();
  for (; speaks_for_input_ && notes_said_ < notes.size(); ++notes_said_)
    Fail((options_.input == "-" ? std::string("standard input") : options_.input) + ": " +
         notes[notes_said_]);
}

// Damage the decoder skipped, said once at the end: the play went on. A
// cut input was said already: its last, cut frame is what the decoder
// failed on.
void InputReader::SayDamage() {
  const long long errors = source_->decode_errors();
  if (errors == 0 || truncated_) {
    truncated_ = truncated_ || errors > 0;
    return;
  }
  truncated_ = true;
  Say(stderr, id_ + ": " + source_->first_decode_error() + " (" + std::to_string(errors) +
                  " fault" + Plural(errors) + " in all, skipped)");
}

}  // namespace player
