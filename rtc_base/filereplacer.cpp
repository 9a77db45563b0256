#include "rtc_base/filereplacer.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#if defined(__has_include)
#if __has_include(<sys/random.h>)
#include <sys/random.h>
#define RTC_HAVE_GETRANDOM 1
#endif
#endif

#include <atomic>

namespace rtc {

namespace {

constexpr int kSuffixLength = 8;
constexpr int kNameAttempts = 100;
// The temporary name keeps at most this much of the target's name, so that
// a target near the longest name a folder takes still gets one.
constexpr size_t kKeptNameBytes = 200;

uint64_t SplitMix64(uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

// Random bits from the kernel; where it has none to give, a mix of the
// clock, the process and a counter, which still differs on every call.
uint64_t RandomBits() {
  uint64_t bits = 0;
#if defined(RTC_HAVE_GETRANDOM)
  if (getrandom(&bits, sizeof(bits), GRND_NONBLOCK) == static_cast<ssize_t>(sizeof(bits)))
    return bits;
#endif
  static std::atomic<uint64_t> counter{0};
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  bits = static_cast<uint64_t>(now.tv_sec) * 1000000000ULL + static_cast<uint64_t>(now.tv_nsec);
  bits ^= static_cast<uint64_t>(getpid()) << 40;
  return SplitMix64(bits ^ SplitMix64(counter.fetch_add(1)));
}

std::string RandomSuffix() {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  uint64_t bits = RandomBits();
  std::string suffix(kSuffixLength, '0');
  for (char& c : suffix) {
    c = kLetters[bits % 62];
    bits /= 62;
  }
  return suffix;
}

}  // namespace

FileReplacer::~FileReplacer() {
  Discard();
}

bool FileReplacer::Open(const std::string& path) {
  Discard();
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) {  // "dir/": a folder, never a file
    errno = EISDIR;
    return false;
  }

  struct stat existing;
  const bool exists = stat(path.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) {
    // A device or a pipe is written in place, as it always was; a folder
    // fails here as it would anywhere.
    file_ = fopen(path.c_str(), "wb");
    if (file_ == nullptr)
      return false;
    target_ = path;
    temporary_.clear();
    return true;
  }

  // A file this process may not write stays as it is, as it would with
  // fopen: the rename below needs only the folder's permission. Asked by
  // opening it (not truncated), so that the answer is the one fopen would
  // get, whichever of the process's ids decide it.
  if (exists) {
    const int probe = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (probe < 0)
      return false;
    close(probe);
  }

  // Hidden, and marked as work in progress: ".NAME.XXXXXXXX.tmp".
  const std::string stem = folder + "." + name.substr(0, kKeptNameBytes) + ".";
  int fd = -1;
  std::string temporary;
  for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
    temporary = stem + RandomSuffix() + ".tmp";
    // 0666 less the umask, as fopen creates files.
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0 && errno != EEXIST)
      return false;
  }
  if (fd < 0)
    return false;  // errno is EEXIST
  // A replaced file keeps its permissions, as it did when written in place.
  if (exists)
    fchmod(fd, existing.st_mode & 0777);
  file_ = fdopen(fd, "wb");
  if (file_ == nullptr) {
    const int error = errno;
    close(fd);
    unlink(temporary.c_str());
    errno = error;
    return false;
  }
  target_ = path;
  temporary_ = temporary;
  return true;
}

int FileReplacer::Commit() {
  if (file_ == nullptr)
    return EBADF;
  errno = 0;
  const int closed = fclose(file_);
  file_ = nullptr;
  int error = closed == 0 ? 0 : (errno != 0 ? errno : EIO);
  if (!temporary_.empty()) {
    if (error == 0 && rename(temporary_.c_str(), target_.c_str()) != 0)
      error = errno;
    if (error != 0)
      unlink(temporary_.c_str());
    temporary_.clear();
  }
  return error;
}

void FileReplacer::Discard() {
  if (file_ == nullptr)
    return;
  const int saved = errno;  // a caller may still report the failure's errno
  fclose(file_);
  file_ = nullptr;
  if (!temporary_.empty())
    unlink(temporary_.c_str());
  temporary_.clear();
  errno = saved;
}

}  // namespace rtc
