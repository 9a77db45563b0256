// X11 window used as a native surface on the desktop.

#include "desktop/x11_surface.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <errno.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string>
#include <cstdio>
#include <cstdlib>

namespace ohos_desktop {
namespace {

// The title as the ICCCM asks for WM_NAME: Latin-1 (STRING) where it fits,
// compound text otherwise; _NET_WM_NAME in UTF-8 for window managers that
// show names outside Latin-1.
void StoreTitle(Display* display, Window window, const std::string& title) {
  char* list[] = {const_cast<char*>(title.c_str())};
  XTextProperty name{};
  if (Xutf8TextListToTextProperty(display, list, 1, XStdICCTextStyle, &name) >= Success) {
    XSetWMName(display, window, &name);
    XFree(name.value);
  }
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                  XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(title.data()),
                  static_cast<int>(title.size()));
}

// WM_CLASS: the program's name, and the same capitalised as its class.
void StoreClass(Display* display, Window window) {
  std::string name = program_invocation_short_name;
  std::string type = name;
  if (!type.empty())
    type[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(type[0])));
  XClassHint hint{const_cast<char*>(name.c_str()), const_cast<char*>(type.c_str())};
  XSetClassHint(display, window, &hint);
}

// The protocol's window sizes are 16-bit.
constexpr int kMaxDimension = 32767;
// Bounds every wait on the server, so that a lost event can never hang a test.
constexpr std::chrono::milliseconds kEventTimeout(5000);

bool ValidSize(int width, int height) {
  return width > 0 && height > 0 && width <= kMaxDimension && height <= kMaxDimension;
}

struct Wanted {
  Window window;
  int type;
  int width;   // ConfigureNotify only
  int height;
};

Bool MatchesWanted(Display*, XEvent* event, XPointer arg) {
  const Wanted& wanted = *reinterpret_cast<const Wanted*>(arg);
  if (event->type != wanted.type || event->xany.window != wanted.window) return False;
  if (wanted.type != ConfigureNotify) return True;
  return event->xconfigure.width == wanted.width && event->xconfigure.height == wanted.height;
}

// Takes the wanted event out of the queue, leaving every other event there
// for the host's own loop. False when it does not arrive in time.
bool WaitForEvent(Display* display, Wanted wanted) {
  const auto deadline = std::chrono::steady_clock::now() + kEventTimeout;
  XEvent event;
  while (!XCheckIfEvent(display, &event, MatchesWanted, reinterpret_cast<XPointer>(&wanted))) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    // Short slices: Xlib may already have read new events into its queue.
    poll(&fd, 1, static_cast<int>(std::min<long long>(left.count(), 50)));
  }
  return true;
}

// Shift and width of a channel mask, to scale any TrueColor channel to 8 bits.
struct Channel {
  int shift = 0;
  unsigned long max = 0;

  explicit Channel(unsigned long mask) {
    if (mask == 0) return;
    while (((mask >> shift) & 1) == 0) ++shift;
    max = mask >> shift;
  }
  uint32_t To8Bits(unsigned long pixel) const {
    if (max == 0) return 0;
    unsigned long value = (pixel >> shift) & max;
    return static_cast<uint32_t>(max == 0xff ? value : value * 255 / max);
  }
};

std::vector<uint32_t> ConvertImage(XImage* image) {
  const Channel red(image->red_mask), green(image->green_mask), blue(image->blue_mask);
  std::vector<uint32_t> pixels;
  pixels.reserve(static_cast<size_t>(image->width) * static_cast<size_t>(image->height));
  for (int y = 0; y < image->height; ++y) {
    for (int x = 0; x < image->width; ++x) {
      unsigned long pixel = XGetPixel(image, x, y);
      pixels.push_back(red.To8Bits(pixel) << 16 | green.To8Bits(pixel) << 8 |
                       blue.To8Bits(pixel));
    }
  }
  return pixels;
}

// The server answers a read of a window that is unmapped or partly off the
// screen with an error, and Xlib's default handler exits the process.
bool ReadableOnScreen(Display* display, Window window, XWindowAttributes* attributes) {
  if (!XGetWindowAttributes(display, window, attributes)) return false;
  if (attributes->map_state != IsViewable) return false;
  int root_x = 0, root_y = 0;
  Window child;
  XTranslateCoordinates(display, window, attributes->root, 0, 0, &root_x, &root_y, &child);
  const Screen* screen = attributes->screen;
  return root_x >= 0 && root_y >= 0 && root_x + attributes->width <= screen->width &&
         root_y + attributes->height <= screen->height;
}

}  // namespace

std::unique_ptr<X11Surface> X11Surface::Create(int width, int height, const char* title, int x,
                                               int y) {
  if (!ValidSize(width, height)) {
    std::fprintf(stderr, "X11Surface: invalid window size %dx%d\n", width, height);
    return nullptr;
  }
  XInitThreads();  // the host's threads may share this connection
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    const char* name = std::getenv("DISPLAY");
    std::fprintf(stderr, "X11Surface: cannot open X display '%s' (is DISPLAY set?)\n",
                 name != nullptr ? name : "");
    return nullptr;
  }
  return Open(display, /*owns_display=*/true, width, height, title, x, y);
}

std::unique_ptr<X11Surface> X11Surface::CreateOn(Display* display, int width, int height,
                                                 const char* title, int x, int y) {
  if (!ValidSize(width, height)) {
    std::fprintf(stderr, "X11Surface: invalid window size %dx%d\n", width, height);
    return nullptr;
  }
  return Open(display, /*owns_display=*/false, width, height, title, x, y);
}

std::unique_ptr<X11Surface> X11Surface::Open(Display* display, bool owns_display, int width,
                                             int height, const char* title, int x, int y) {
  const int screen = DefaultScreen(display);
  XVisualInfo visual;
  if (!XMatchVisualInfo(display, screen, 24, TrueColor, &visual)) {
    std::fprintf(stderr, "X11Surface: display has no 24-bit TrueColor visual\n");
    if (owns_display)
      XCloseDisplay(display);
    return nullptr;
  }
  const Window root = RootWindow(display, screen);
  XSetWindowAttributes attributes{};
  attributes.colormap = XCreateColormap(display, root, visual.visual, AllocNone);
  attributes.background_pixel = BlackPixel(display, screen);
  attributes.border_pixel = 0;
  attributes.event_mask = StructureNotifyMask | ExposureMask | ButtonPressMask | KeyPressMask;
  const Window window = XCreateWindow(
      display, root, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
      visual.depth, InputOutput, visual.visual,
      CWColormap | CWBackPixel | CWBorderPixel | CWEventMask, &attributes);
  StoreTitle(display, window, title != nullptr ? title : "");
  StoreClass(display, window);
  Atom delete_atom = XInternAtom(display, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(display, window, &delete_atom, 1);
  std::unique_ptr<X11Surface> surface(new X11Surface(
      display, owns_display, window, attributes.colormap, delete_atom, width, height));
  XMapWindow(display, window);
  XFlush(display);
  if (!WaitForEvent(display, Wanted{window, MapNotify, 0, 0})) {
    std::fprintf(stderr, "X11Surface: window was not mapped within %lld ms\n",
                 static_cast<long long>(kEventTimeout.count()));
    return nullptr;
  }
  return surface;
}

X11Surface::X11Surface(Display* display, bool owns_display, unsigned long window,
                       unsigned long colormap, unsigned long delete_atom, int width, int height)
    : display_(display),
      owns_display_(owns_display),
      window_(window),
      colormap_(colormap),
      delete_atom_(delete_atom),
      width_(width),
      height_(height) {}

X11Surface::~X11Surface() {
  if (!window_gone_)
    XDestroyWindow(display_, window_);
  XFreeColormap(display_, colormap_);
  if (owns_display_)
    XCloseDisplay(display_);
  else
    XFlush(display_);  // the connection lives on: the requests must not wait in its buffer
}

void X11Surface::SetTitle(const std::string& title) {
  StoreTitle(display_, window_, title);
  XFlush(display_);
}

bool X11Surface::Resize(int width, int height) {
  if (!ValidSize(width, height)) return false;
  if (width == width_ && height == height_) return true;  // the server sends no event
  XResizeWindow(display_, window_, static_cast<unsigned>(width), static_cast<unsigned>(height));
  XSync(display_, False);
  if (!WaitForEvent(display_, Wanted{window_, ConfigureNotify, width, height})) return false;
  width_ = width;
  height_ = height;
  return true;
}

std::vector<uint32_t> X11Surface::ReadPixels() {
  XSync(display_, False);
  XWindowAttributes attributes;
  if (!ReadableOnScreen(display_, window_, &attributes)) return {};
  // The window's user (or window manager) may have resized it since: the
  // size read here is the one the pixels have.
  width_ = attributes.width;
  height_ = attributes.height;
  XImage* image = XGetImage(display_, window_, 0, 0, static_cast<unsigned>(attributes.width),
                            static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
  if (image == nullptr) return {};
  std::vector<uint32_t> pixels = ConvertImage(image);
  XDestroyImage(image);
  return pixels;
}

bool X11Surface::TakeDestroyNotice(const XEvent& event) {
  if (event.type != DestroyNotify || event.xdestroywindow.window != window_)
    return false;
  window_gone_ = true;
  return true;
}

bool X11Surface::IsCloseRequest(const XEvent& event) const {
  return event.type == ClientMessage && event.xclient.window == window_ &&
         event.xclient.format == 32 &&
         static_cast<unsigned long>(event.xclient.data.l[0]) == delete_atom_;
}

}  // namespace ohos_desktop
