#include "window_watch.h"

#include <X11/Xlib.h>
#include <stdlib.h>

namespace player {

namespace {

XErrorHandler g_default_handler = nullptr;

int OnXError(Display* display, XErrorEvent* event) {
  if (event->error_code == BadWindow || event->error_code == BadDrawable)
    return 0;
  return g_default_handler != nullptr ? g_default_handler(display, event) : 0;
}

}  // namespace

void InstallXErrorHandler() {
  XInitThreads();  // before any other X call, as every connection here is shared
  g_default_handler = XSetErrorHandler(OnXError);
}

std::unique_ptr<WindowWatch> WindowWatch::Open(std::string* error) {
  const char* name = getenv("DISPLAY");
  if (name == nullptr || name[0] == '\0') {
    *error = "no X display: DISPLAY is not set (scripts/demo runs the player under Xvfb when"
             " there is none)";
    return nullptr;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    *error = std::string("cannot open the X display '") + name + "'";
    return nullptr;
  }
  return std::unique_ptr<WindowWatch>(new WindowWatch(display));
}

WindowWatch::WindowWatch(Display* display) : display_(display) {
  screen_width_ = DisplayWidth(display_, DefaultScreen(display_));
  screen_height_ = DisplayHeight(display_, DefaultScreen(display_));
}

WindowWatch::~WindowWatch() {
  XCloseDisplay(display_);
}

void WindowWatch::Watch(unsigned long window, int x, int y, const std::string& id) {
  XSelectInput(display_, window, StructureNotifyMask);
  XMoveWindow(display_, window, x, y);
  XSync(display_, False);
  windows_.emplace_back(window, id);
}

std::vector<std::string> WindowWatch::Destroyed() {
  std::vector<std::string> ids;
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    if (event.type != DestroyNotify)
      continue;
    for (auto it = windows_.begin(); it != windows_.end(); ++it) {
      if (it->first == event.xdestroywindow.window) {
        ids.push_back(it->second);
        windows_.erase(it);
        break;
      }
    }
  }
  return ids;
}

}  // namespace player
