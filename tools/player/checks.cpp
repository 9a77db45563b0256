#include "checks.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>
#include <vector>

#include "engine/i420_frame.h"

namespace player {

namespace {

std::string Folder(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string WhyNotWritableFolder(const std::string& folder) {
  struct stat info;
  if (stat(folder.c_str(), &info) != 0)
    return "no directory " + folder + " (" + strerror(errno) + ")";
  if (!S_ISDIR(info.st_mode))
    return folder + " is not a directory";
  if (access(folder.c_str(), W_OK | X_OK) != 0)
    return "the directory " + folder + " is not writable (" + strerror(errno) + ")";
  return std::string();
}

// The file `path` names, spelled one way whatever way it is given
// ("x.log", "./x.log", "dir/../x.log", a link to the folder); its folder
// exists. Where the file is itself a link, the file it leads to.
std::string CanonicalFile(const std::string& path) {
  if (char* resolved = realpath(path.c_str(), nullptr)) {
    const std::string file = resolved;
    free(resolved);
    return file;
  }
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  char* folder = realpath(Folder(path).c_str(), nullptr);
  if (folder == nullptr)
    return path;
  const std::string file = std::string(folder) + "/" + name;
  free(folder);
  return file;
}

}  // namespace

std::string WhyNotWritable(const std::string& path) {
  if (!path.empty() && path.back() == '/')
    return path + " is a directory, not a file";
  struct stat info;
  if (stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode))
      return path + " is a directory, not a file";
    if (!S_ISREG(info.st_mode))
      return path + " exists and is not a regular file";
    if (access(path.c_str(), W_OK) != 0)
      return path + " is not writable (" + strerror(errno) + ")";
  }
  return WhyNotWritableFolder(Folder(path));
}

bool CheckInput(const Options& options, bool* pipe, std::string* error) {
  *pipe = false;
  if (options.input.empty())
    return true;
  const bool stdin_input = options.input == "-";
  const std::string name = stdin_input ? "standard input" : options.input;
  struct stat info;
  const int got = stdin_input ? fstat(STDIN_FILENO, &info) : stat(options.input.c_str(), &info);
  if (got != 0) {
    *error = "cannot open " + name + ": " + strerror(errno);
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    *error = name + " is a directory, not a video file";
    return false;
  }
  // A FIFO, a socket or a device: what was read cannot be read again.
  *pipe = !S_ISREG(info.st_mode);
  if (S_ISREG(info.st_mode)) {
    if (info.st_size == 0) {
      *error = name + " is empty";
      return false;
    }
    if (options.RawInput()) {
      const int w = options.raw_width, h = options.raw_height;
      const long long frame = static_cast<long long>(w) * h +
                              2LL * engine::I420Frame::ChromaWidth(w) *
                                  engine::I420Frame::ChromaHeight(h);
      if (info.st_size % frame != 0) {
        *error = name + ": " + std::to_string(info.st_size) + " bytes is not a whole number of " +
                 std::to_string(w) + "x" + std::to_string(h) + " I420 frames (" +
                 std::to_string(frame) + " bytes each); check --size";
        return false;
      }
    }
  }
  if (*pipe) {
    const std::string why = name + " is a pipe, which can be read only once: ";
    if (options.loop) {
      *error = why + "--loop cannot start it again";
      return false;
    }
    if (options.windows > 1) {
      *error = why + "--windows above 1 would need one reading per window";
      return false;
    }
  }
  return true;
}

bool CheckOutputs(const Options& options, std::string* error) {
  struct Output {
    const std::string& path;
    const char* what;
  };
  std::vector<Output> outputs = {{options.screenshot, "--screenshot"},
                                 {options.log, options.log_append ? "--log-append" : "--log"},
                                 {options.stats, "--stats"}};
  for (const Capture& capture : options.captures)
    outputs.push_back({capture.path, "--capture"});
  std::vector<std::pair<std::string, const Output*>> files;
  for (const Output& output : outputs) {
    if (output.path.empty())
      continue;
    const std::string why = WhyNotWritable(output.path);
    if (!why.empty()) {
      *error = std::string(output.what) + " " + output.path + ": " + why;
      return false;
    }
    // Two outputs in one file would overwrite or interleave each other.
    const std::string file = CanonicalFile(output.path);
    for (const auto& earlier : files) {
      if (earlier.first == file) {
        *error = std::string(output.what) + " " + output.path + ": the same file as " +
                 earlier.second->what + " " + earlier.second->path;
        return false;
      }
    }
    files.emplace_back(file, &output);
  }
  if (!options.capture_dir.empty()) {
    const std::string why = WhyNotWritableFolder(options.capture_dir);
    if (!why.empty()) {
      *error = "--capture-every " + options.capture_dir + ": " + why;
      return false;
    }
  }
  return true;
}

}  // namespace player
