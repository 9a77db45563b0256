// Desktop stand-in for the platform's native window interface. The native
// window of an XComponent is, on the desktop, the id of an X11 window; the
// queries below ask the X server about it.
#ifndef NATIVE_WINDOW_EXTERNAL_WINDOW_H
#define NATIVE_WINDOW_EXTERNAL_WINDOW_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct NativeWindow OHNativeWindow;

typedef enum NativeWindowOperation {
  SET_BUFFER_GEOMETRY = 0,  // int32_t width, int32_t height (not supported here)
  GET_BUFFER_GEOMETRY = 1,  // [out] int32_t* height, [out] int32_t* width
} NativeWindowOperation;

// 0 on success. GET_BUFFER_GEOMETRY fails (non-zero) for a null window, null
// outputs, or a window the display does not know; nothing is written then.
int32_t OH_NativeWindow_NativeWindowHandleOpt(OHNativeWindow* window, int code, ...);

#ifdef __cplusplus
}
#endif

#endif  // NATIVE_WINDOW_EXTERNAL_WINDOW_H
