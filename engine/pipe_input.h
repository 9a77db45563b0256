#ifndef ENGINE_PIPE_INPUT_H_
#define ENGINE_PIPE_INPUT_H_

// An input that can be read only once, as it comes: standard input, a FIFO,
// a character device. It is opened once; the bytes read to tell its format
// are kept, and whichever reader takes it reads them again first.

#include <stdio.h>
#include <sys/types.h>

#include <memory>
#include <string>

namespace engine {

class PipeInput {
 public:
  // `path` "-" is standard input, read through a descriptor of its own so
  // that closing the input leaves the process's stdin alone. Null, with one
  // line naming the input and the reason, when it cannot be opened.
  static std::unique_ptr<PipeInput> Open(const std::string& path, std::string* error);
  ~PipeInput();
  PipeInput(const PipeInput&) = delete;
  PipeInput& operator=(const PipeInput&) = delete;

  // How messages name the input: its path, or "standard input".
  const std::string& name() const { return name_; }

  // The input's first `size` bytes (fewer when it ends first), read as
  // they come and kept. Only before the first Read().
  const std::string& Peek(size_t size);

  // As read(2): the kept bytes first, then the rest; 0 at the end, -1 with
  // errno on a failure. Interrupted reads are retried.
  ssize_t Read(void* buffer, size_t size);

  // A stdio stream reading through `input`, which it owns from then on
  // (fclose frees it). Null when the stream cannot be made.
  static FILE* ToFile(std::unique_ptr<PipeInput> input);

 private:
  PipeInput(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}

  const int fd_;
  const std::string name_;
  std::string kept_;
  size_t replayed_ = 0;
};

}  // namespace engine

#endif  // ENGINE_PIPE_INPUT_H_
