#include "rtc_base/filereplacer.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#if defined(__has_include)
#if __has_include(<sys/random.h>)
#include <sys/random.h>
#define RTC_HAVE_GETRANDOM 1
#endif
#endif

#include <dirent.h>
#include <string.h>

#include <atomic>
#include <mutex>
#include <vector>

// renameat2's flag, from <linux/fs.h>, which the C library's headers may
// not bring.
#if defined(__linux__)
#define RENAME_EXCHANGE_FLAG (1 << 1)
#endif

namespace rtc {

namespace {

constexpr int kSuffixLength = 8;
constexpr int kNameAttempts = 100;
// The temporary name keeps at most this much of the target's name, so that
// a target near the longest name a folder takes still gets one.
constexpr size_t kKeptNameBytes = 200;
// Temporary files this much older than now were left by a writer that died.
constexpr time_t kLeftTemporaryAgeS = 60;

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

// What a target of a kind that is refused is, for the caller's line.
const char* RefusedKind(mode_t mode) {
  if (S_ISFIFO(mode))
    return "a FIFO";
  if (S_ISSOCK(mode))
    return "a socket";
  if (S_ISBLK(mode))
    return "a block device";
  return "not a regular file";
}

bool IsTemporarySuffix(const char* suffix) {
  for (int i = 0; i < kSuffixLength; ++i) {
    const char c = suffix[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
      return false;
  }
  return strcmp(suffix + kSuffixLength, ".tmp") == 0;
}

// Removes the temporary files `stem` names in `folder` that a writer killed
// mid-file left behind: only names of this naming exactly, only regular
// files, and only those untouched for a minute, so that a write still in
// progress in another process keeps its file.
void RemoveLeftTemporaries(const std::string& folder, const std::string& stem) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr)
    return;
  const time_t now = time(nullptr);
  while (const dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (strlen(name) != stem.size() + kSuffixLength + 4 ||
        strncmp(name, stem.data(), stem.size()) != 0 || !IsTemporarySuffix(name + stem.size()))
      continue;
    struct stat left;
    if (fstatat(dirfd(dir), name, &left, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(left.st_mode) ||
        now - left.st_mtime < kLeftTemporaryAgeS)
      continue;
    unlinkat(dirfd(dir), name, 0);
  }
  closedir(dir);
}

// Whether `stem` (folder and name) was swept less than a minute ago: a
// target written over and over is swept once a minute, not on every write,
// which reading the folder each time would slow by a few per cent. Only
// the last target is remembered, the one state this file keeps.
bool SweptLately(const std::string& stem) {
  static std::mutex* const mutex = new std::mutex;
  static std::string* const last = new std::string;
  static time_t lastAt = 0;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  std::lock_guard<std::mutex> lock(*mutex);
  if (*last == stem && now.tv_sec - lastAt < kLeftTemporaryAgeS)
    return true;
  *last = stem;
  lastAt = now.tv_sec;
  return false;
}

// Clears O_NONBLOCK, with which the file was opened so that the open
// itself could not block, and hands the descriptor to stdio.
FILE* BlockingStream(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
    return nullptr;
  return fdopen(fd, "wb");
}

}  // namespace

FileReplacer::~FileReplacer() {
  Discard();
}

bool FileReplacer::Open(const std::string& path) {
  Discard();
  refused_kind_ = nullptr;
  in_place_reason_ = 0;
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
    // A device is written in place, as it always was; a folder fails here
    // as it would anywhere.
    return OpenDirectly(path, /*create=*/false, 0);
  }

  // A file this process may not write stays as it is, as it would with
  // fopen: the rename below needs only the folder's permission. Asked by
  // opening it (not truncated), so that the answer is the one fopen would
  // get, whichever of the process's ids decide it; without blocking, should
  // the file have become a FIFO since.
  if (exists) {
    const int probe = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (probe < 0)
      return false;
    close(probe);
  }

  // Hidden, and marked as work in progress: ".NAME.XXXXXXXX.tmp".
  const std::string leaf = "." + name.substr(0, kKeptNameBytes) + ".";
  const std::string stem = folder + leaf;
  if (!SweptLately(stem))
    RemoveLeftTemporaries(folder, leaf);
  int fd = -1;
  std::string temporary;
  for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
    temporary = stem + RandomSuffix() + ".tmp";
    // 0666 less the umask, as fopen creates files.
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0 && errno == ENAMETOOLONG)
      return OpenDirectly(path, /*create=*/true, ENAMETOOLONG);  // the target's name fits
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
  replaces_file_ = exists;
  return true;
}

// Opens `path` itself: a character device, or a regular file that cannot
// be replaced (`reason`). Opened without blocking and then looked at, so
// that a FIFO, however it got there, is refused before anything waits.
bool FileReplacer::OpenDirectly(const std::string& path, bool create, int reason) {
  const int flags = O_WRONLY | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (create ? O_CREAT : 0);
  struct stat opened;
  if (!create) {
    // Refused before it is opened: opening a FIFO that has a reader would
    // already disturb it.
    if (stat(path.c_str(), &opened) == 0 && !S_ISREG(opened.st_mode) && !S_ISCHR(opened.st_mode) &&
        !S_ISDIR(opened.st_mode)) {
      refused_kind_ = RefusedKind(opened.st_mode);
      errno = EINVAL;
      return false;
    }
  }
  const int fd = open(path.c_str(), flags, 0666);
  if (fd < 0)
    return false;
  if (fstat(fd, &opened) != 0 || !(S_ISREG(opened.st_mode) || S_ISCHR(opened.st_mode))) {
    refused_kind_ = RefusedKind(opened.st_mode);
    close(fd);
    errno = EINVAL;
    return false;
  }
  file_ = BlockingStream(fd);
  if (file_ == nullptr) {
    const int error = errno;
    close(fd);
    errno = error;
    return false;
  }
  target_ = path;
  temporary_.clear();
  in_place_reason_ = S_ISREG(opened.st_mode) ? reason : 0;
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
    if (error == 0 && PutInPlaceOfTarget() != 0) {
      error = errno;
      // A file the caller may write but not replace (another user's, in a
      // sticky folder): written in place, as it could have been directly.
      if (error == EPERM || error == EACCES || error == EBUSY) {
        const int renameError = error;
        error = CopyOverTarget();
        if (error == 0)
          in_place_reason_ = renameError;
      }
    }
    // Gone after a rename; the previous file after an exchange; else the
    // new file, not put in place.
    unlink(temporary_.c_str());
    temporary_.clear();
  }
  return error;
}

// Puts the temporary file in the target's place: 0, or -1 with errno.
// Over an existing file the two are exchanged, and the previous file is
// then left under the temporary name for Commit to remove. Renaming over a
// file makes some file systems (ext4) write the new file out before the
// rename returns, three times the cost of the whole capture; an exchange
// is as atomic for readers, and a writer killed before the removal leaves
// a temporary file of this naming behind, as one killed while writing.
int FileReplacer::PutInPlaceOfTarget() {
#if defined(SYS_renameat2) && defined(RENAME_EXCHANGE_FLAG)
  // Whatever kept the exchange from being made (an old kernel, a file
  // system or a sandbox without it, the target gone meanwhile, a refusal),
  // the plain rename decides.
  if (replaces_file_ && syscall(SYS_renameat2, AT_FDCWD, temporary_.c_str(), AT_FDCWD,
                                target_.c_str(), RENAME_EXCHANGE_FLAG) == 0) {
    // A folder put in the file's place meanwhile would now be under the
    // temporary name: put it back, and fail as the rename would have.
    struct stat previous;
    if (lstat(temporary_.c_str(), &previous) != 0 || !S_ISDIR(previous.st_mode))
      return 0;
    syscall(SYS_renameat2, AT_FDCWD, temporary_.c_str(), AT_FDCWD, target_.c_str(),
            RENAME_EXCHANGE_FLAG);
    errno = EISDIR;
    return -1;
  }
#endif
  return rename(temporary_.c_str(), target_.c_str());
}

// Copies the complete temporary file over the target; 0 or an errno.
int FileReplacer::CopyOverTarget() {
  const int in = open(temporary_.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0)
    return errno;
  const int out = open(target_.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (out < 0) {
    const int error = errno;
    close(in);
    return error;
  }
  int error = 0;
  struct stat target;
  if (fstat(out, &target) != 0 || !S_ISREG(target.st_mode))
    error = EINVAL;
  std::vector<char> buffer(256 * 1024);
  while (error == 0) {
    const ssize_t got = read(in, buffer.data(), buffer.size());
    if (got == 0)
      break;
    if (got < 0) {
      if (errno != EINTR)
        error = errno;
      continue;
    }
    for (ssize_t done = 0; done < got && error == 0;) {
      const ssize_t put = write(out, buffer.data() + done, static_cast<size_t>(got - done));
      if (put < 0 && errno != EINTR)
        error = errno;
      else if (put > 0)
        done += put;
    }
  }
  close(in);
  if (close(out) != 0 && error == 0)
    error = errno;
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
