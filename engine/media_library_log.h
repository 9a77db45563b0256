#ifndef ENGINE_MEDIA_LIBRARY_LOG_H_
#define ENGINE_MEDIA_LIBRARY_LOG_H_

// FFmpeg's libraries log through one callback for the whole process. This
// is the one place the engine sets it: once a media file is opened, their
// lines are kept off the standard error and each thread's last error line
// is kept to detail a refusal, unless the host said it routes that log
// itself (LeaveLibraryLogAlone, engine/media_source.h).

#include <string>

namespace engine {

// Takes the libraries' log over, once, unless the host keeps it.
void TakeLibraryLog();
// The last error line the libraries logged on this thread since the last
// Forget, or empty (always, while the host keeps the log).
void ForgetLastLibraryError();
const std::string& LastLibraryError();
// The libraries' text for one of their error codes.
std::string LibraryErrorText(int code);

}  // namespace engine

#endif  // ENGINE_MEDIA_LIBRARY_LOG_H_
