#ifndef RTC_BASE_FILEREPLACER_H_
#define RTC_BASE_FILEREPLACER_H_

#include <stdio.h>

#include <string>

namespace rtc {

// Writes a file so that a reader of its path sees either what was there
// before or the complete new file, never a part of it, even when the
// writing process dies. The bytes go to a new temporary file in the
// target's folder, created exclusively under an unpredictable name (never
// through an existing name or link); Commit() renames it over the target.
// A failed or abandoned write removes the temporary file and leaves the
// previous file in place.
//
// A target that exists and is not a regular file (a device such as
// /dev/null, a pipe) cannot be replaced: it is opened and written directly.
//
// The file's mode is that of the file it replaces, or what fopen would
// give a new one (0666 less the umask). Nothing is synced to the disk: the
// rename is atomic for everything short of a power cut.
class FileReplacer {
 public:
  FileReplacer() = default;
  ~FileReplacer();  // discards a file not committed
  FileReplacer(const FileReplacer&) = delete;
  FileReplacer& operator=(const FileReplacer&) = delete;

  // Opens the file to write `path`. False, with errno set and nothing
  // created, when it cannot be made.
  bool Open(const std::string& path);
  // The open file (for fwrite, setvbuf, libjpeg's stdio destination), or
  // null before Open and after Commit or Discard.
  FILE* file() const { return file_; }

  // Closes the file and puts it in place of the target. 0, or the errno of
  // the failed close or rename, after which the new file is gone.
  int Commit();
  // Closes the file and removes it; the target keeps what it held.
  void Discard();

 private:
  std::string target_;
  std::string temporary_;  // empty when the target is written directly
  FILE* file_ = nullptr;
};

}  // namespace rtc

#endif  // RTC_BASE_FILEREPLACER_H_
