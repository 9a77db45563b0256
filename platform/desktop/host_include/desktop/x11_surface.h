// An X11 window that stands in for a UI surface on the desktop. Its window
// id is the native window handed to EGL: the Mesa X11 platform takes the XID
// as EGLNativeWindowType, and EGL's own connection to $DISPLAY reaches the
// same server, so the id is valid there too.
#ifndef OHOS_DESKTOP_X11_SURFACE_H
#define OHOS_DESKTOP_X11_SURFACE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Forward declarations, so that users do not inherit Xlib's macros.
typedef struct _XDisplay Display;
typedef union _XEvent XEvent;

namespace ohos_desktop {

class X11Surface {
 public:
  // Opens a connection of its own to $DISPLAY and maps a width x height
  // window with a 24-bit TrueColor visual and a black background. Returns
  // null, with a message on stderr, when there is no display, no such
  // visual, the size is out of range or the window does not appear within a
  // few seconds.
  // (x, y) places the window's top-left corner on the screen.
  static std::unique_ptr<X11Surface> Create(int width, int height,
                                            const char* title = "nativerender", int x = 0,
                                            int y = 0);
  // The same window on `display`, a connection the caller opened and keeps
  // open for the window's life (a host's windows share its one connection).
  // Events for other windows stay in the connection's queue.
  static std::unique_ptr<X11Surface> CreateOn(Display* display, int width, int height,
                                              const char* title, int x, int y);
  // Destroys the window (unless it is gone already) and closes the
  // connection if it opened it.
  ~X11Surface();

  X11Surface(const X11Surface&) = delete;
  X11Surface& operator=(const X11Surface&) = delete;

  void* NativeWindow() const { return reinterpret_cast<void*>(static_cast<uintptr_t>(window_)); }
  unsigned long WindowId() const { return window_; }
  Display* display() const { return display_; }
  int width() const { return width_; }
  int height() const { return height_; }

  // Gives the window a new title (UTF-8): WM_NAME in Latin-1 or compound
  // text, and _NET_WM_NAME in UTF-8 for window managers that show names
  // outside Latin-1. Windows carry the program's name as WM_CLASS.
  void SetTitle(const std::string& title);

  // Resizes the window and waits (a few seconds at most) until the server
  // reports the new size. False when the size is out of range or the server
  // did not apply it.
  bool Resize(int width, int height);

  // The window's pixels as 0x00RRGGBB, row-major, top row first, at the
  // window's current size (width() and height() follow it, also after a
  // resize by someone else). Empty when the window is not viewable or not
  // wholly on the screen (the server would refuse the read).
  std::vector<uint32_t> ReadPixels();

  // True for the window manager's request to close this window: the window
  // takes part in that protocol, so a manager asks instead of killing the
  // connection.
  bool IsCloseRequest(const XEvent& event) const;
  // True for the server's notice that this window was destroyed, which only
  // another client does (this object destroys its window in its destructor,
  // and hears nothing after). The window is then gone, and the destructor
  // leaves it alone.
  bool TakeDestroyNotice(const XEvent& event);

 private:
  X11Surface(Display* display, bool owns_display, unsigned long window, unsigned long colormap,
             unsigned long delete_atom, int width, int height);
  static std::unique_ptr<X11Surface> Open(Display* display, bool owns_display, int width,
                                          int height, const char* title, int x, int y);

  Display* display_;
  bool owns_display_;
  bool window_gone_ = false;
  unsigned long window_;
  unsigned long colormap_;
  unsigned long delete_atom_;
  int width_;
  int height_;
};

}  // namespace ohos_desktop

#endif  // OHOS_DESKTOP_X11_SURFACE_H
