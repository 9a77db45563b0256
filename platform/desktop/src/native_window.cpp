// Native window queries on the desktop: the window is an X11 window id, and
// the X server is asked about it over a connection of this library's own.
// xcb reports a bad id as an error reply to the caller, where Xlib would
// call a process-wide error handler that exits by default.

#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>

#include <mutex>

#include <xcb/xcb.h>

#include "native_window/external_window.h"

namespace {

constexpr int32_t kOk = 0;
constexpr int32_t kFailed = -1;

// Opened on first use, kept for the life of the process (xcb connections
// are thread-safe). Null when there is no display.
xcb_connection_t* Connection() {
  static xcb_connection_t* connection = [] {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
      xcb_disconnect(c);
      return static_cast<xcb_connection_t*>(nullptr);
    }
    return c;
  }();
  return connection;
}

bool WindowGeometry(uintptr_t window, int32_t* height, int32_t* width) {
  xcb_connection_t* connection = Connection();
  if (connection == nullptr || window == 0 || window > UINT32_MAX)
    return false;
  xcb_generic_error_t* error = nullptr;
  xcb_get_geometry_reply_t* reply = xcb_get_geometry_reply(
      connection, xcb_get_geometry(connection, static_cast<xcb_drawable_t>(window)), &error);
  free(error);
  if (reply == nullptr)
    return false;
  *height = reply->height;
  *width = reply->width;
  free(reply);
  return true;
}

}  // namespace

extern "C" int32_t OH_NativeWindow_NativeWindowHandleOpt(OHNativeWindow* window, int code, ...) {
  if (code != GET_BUFFER_GEOMETRY)
    return kFailed;
  va_list args;
  va_start(args, code);
  int32_t* height = va_arg(args, int32_t*);
  int32_t* width = va_arg(args, int32_t*);
  va_end(args);
  if (height == nullptr || width == nullptr)
    return kFailed;
  return WindowGeometry(reinterpret_cast<uintptr_t>(window), height, width) ? kOk : kFailed;
}
