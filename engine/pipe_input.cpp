#include "engine/pipe_input.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

namespace engine {

std::unique_ptr<PipeInput> PipeInput::Open(const std::string& path, std::string* error) {
  const bool standard_input = path == "-";
  const std::string name = standard_input ? "standard input" : path;
  int fd = -1;
  do {
    fd = standard_input ? fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)
                        : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    *error = "cannot open " + name + ": " + strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<PipeInput>(new PipeInput(fd, name));
}

PipeInput::~PipeInput() {
  close(fd_);
}

const std::string& PipeInput::Peek(size_t size) {
  char buffer[4096];
  while (kept_.size() < size) {
    const ssize_t got = read(fd_, buffer, std::min(sizeof buffer, size - kept_.size()));
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      break;
    kept_.append(buffer, static_cast<size_t>(got));
  }
  return kept_;
}

ssize_t PipeInput::Read(void* buffer, size_t size) {
  if (replayed_ < kept_.size()) {
    const size_t n = std::min(size, kept_.size() - replayed_);
    memcpy(buffer, kept_.data() + replayed_, n);
    replayed_ += n;
    return static_cast<ssize_t>(n);
  }
  for (;;) {
    const ssize_t got = read(fd_, buffer, size);
    if (got >= 0 || errno != EINTR)
      return got;
  }
}

FILE* PipeInput::ToFile(std::unique_ptr<PipeInput> input) {
  cookie_io_functions_t functions = {};
  functions.read = [](void* cookie, char* buffer, size_t size) {
    return static_cast<PipeInput*>(cookie)->Read(buffer, size);
  };
  functions.close = [](void* cookie) {
    delete static_cast<PipeInput*>(cookie);
    return 0;
  };
  FILE* file = fopencookie(input.get(), "rb", functions);
  if (file != nullptr)
    input.release();  // the stream's now
  return file;
}

}  // namespace engine
