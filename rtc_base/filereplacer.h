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
// A target that is a character device (/dev/null) cannot be replaced: it
// is opened and written directly. Any other target that is not a regular
// file (a FIFO, a socket, a block device, or a link to one) is refused, and
// nothing opened could block: a FIFO without a reader never holds the
// caller up.
//
// Where the replacement cannot be made, the target is written in place
// (written_in_place() says why), so that a capture still succeeds: a name
// too long for the temporary file beside it (a path within 14 bytes of
// PATH_MAX), or a rename refused over a file the caller may write but not
// replace (another user's 0666 file in a sticky folder). A process killed
// while writing in place leaves a part of the file.
//
// Temporary files of this naming for the same target left by a writer that
// was killed (a new file, or the previous one just replaced), older than a
// minute, are removed by the next Open of it (of the same target written
// over and over, by one Open a minute).
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
  // created, when it cannot be made; EINVAL for a target of a kind that is
  // refused (refused_kind() names it).
  bool Open(const std::string& path);
  // What the refused target was ("a FIFO", "a socket", "a block device"),
  // or null when the last Open refused none.
  const char* refused_kind() const { return refused_kind_; }
  // The errno that kept the last committed (or open) file from replacing
  // its target whole, so that it was written in place; 0 when it was
  // replaced whole or is a device.
  int written_in_place() const { return in_place_reason_; }
  // The open file (for fwrite, setvbuf, libjpeg's stdio destination), or
  // null before Open and after Commit or Discard.
  FILE* file() const { return file_; }

  // Closes the file and puts it in place of the target. 0, or the errno of
  // the failed close, rename or copy, after which the new file is gone.
  int Commit();
  // Closes the file and removes it; the target keeps what it held.
  void Discard();

 private:
  bool OpenDirectly(const std::string& path, bool create, int reason);
  int PutInPlaceOfTarget();
  int CopyOverTarget();

  std::string target_;
  std::string temporary_;  // empty when the target is written directly
  FILE* file_ = nullptr;
  bool replaces_file_ = false;  // the target is a file that exists
  const char* refused_kind_ = nullptr;
  int in_place_reason_ = 0;
};

}  // namespace rtc

#endif  // RTC_BASE_FILEREPLACER_H_
