#ifndef TOOLS_PLAYER_WINDOW_WATCH_H_
#define TOOLS_PLAYER_WINDOW_WATCH_H_

// The player's own connection to the display, beside the host shell's: the
// screen's size, where the windows go, and which of them another program
// destroyed (the shell hears only its own close requests).

#include <memory>
#include <string>
#include <vector>

typedef struct _XDisplay Display;

namespace player {

// Keeps X errors about windows that are gone (destroyed by another program
// while the GL stack still draws into them, or while the shell tears them
// down) from ending the process, which is what Xlib's default handler does
// with every error. Other errors still go to that handler. Call once, before
// any thread uses X.
void InstallXErrorHandler();

class WindowWatch {
 public:
  // Null, with a line that says why, when the display cannot be opened.
  static std::unique_ptr<WindowWatch> Open(std::string* error);
  ~WindowWatch();
  WindowWatch(const WindowWatch&) = delete;
  WindowWatch& operator=(const WindowWatch&) = delete;

  int screen_width() const { return screen_width_; }
  int screen_height() const { return screen_height_; }
  // Moves `window` to (x, y) and reports it in Destroyed() once it is gone.
  void Watch(unsigned long window, int x, int y, const std::string& id);
  // The ids of the watched windows destroyed since the last call.
  std::vector<std::string> Destroyed();

 private:
  explicit WindowWatch(Display* display);
  Display* display_;
  int screen_width_ = 0, screen_height_ = 0;
  std::vector<std::pair<unsigned long, std::string>> windows_;
};

}  // namespace player

#endif  // TOOLS_PLAYER_WINDOW_WATCH_H_
