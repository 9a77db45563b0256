#ifndef OHOS_DESKTOP_HOST_SHELL_H
#define OHOS_DESKTOP_HOST_SHELL_H

// The desktop stand-in for the application's UI runtime. It loads a native
// module library with dlopen (so the library registers itself the way it
// does on a device), binds XComponents to it through the module's init
// function, and runs the UI thread: an X11 event loop that turns each
// window's life into the XComponent callbacks.
//
//   window mapped            -> OnSurfaceCreated
//   window resized           -> OnSurfaceChanged (and the host's redraw handler)
//   window exposed           -> the host's redraw handler
//   button press             -> DispatchTouchEvent
//   window closed, destroyed
//   by another program,
//   shutdown                 -> OnSurfaceDestroyed (and, but for shutdown, the close handler)
//
// The shell is the one owner of the display: its windows share one
// connection, and every callback, the module init and every X11 call of
// that connection run on the UI thread. (The GL stack keeps a connection of
// its own.)

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "napi/native_api.h"

namespace ohos_desktop {

class X11Surface;

// Keeps every GL driver loaded now (Mesa's DRI drivers) loaded for the life
// of the process, as an app's graphics stack stays loaded on a device.
// Without it the last eglTerminate unloads the driver, the next surface
// loads it again, and the allocations the driver keeps can no longer be
// attributed by LeakSanitizer. Safe to call any number of times.
void PinLoadedGraphicsDrivers();

// The platform log as a host sees it. Whether its lines are also written to
// stderr (they are unless OHOS_DESKTOP_HILOG_QUIET=1 is set), and the lines
// this process keeps of it for tests, which a host that never reads them
// forgets now and then so that a long run does not carry them.
void SetPlatformLogEcho(bool enabled);
void ForgetPlatformLogRecords();

class HostShell {
 public:
  // Opens the display ($DISPLAY), loads the library at `module_path` and
  // finds the module registered as `module_name`. Null, with the reason in
  // `error`, when any of these fails. The first Load also keeps X errors
  // about windows that are gone (destroyed by another program while the GL
  // stack still draws into them) from ending the process, which is what
  // Xlib's default handler does with every error; other errors still go to
  // that handler.
  static std::unique_ptr<HostShell> Load(const std::string& module_path,
                                         const std::string& module_name, std::string* error);
  ~HostShell();  // Shutdown()
  HostShell(const HostShell&) = delete;
  HostShell& operator=(const HostShell&) = delete;

  // The screen's size: a window is read back only when it is wholly on it.
  int screen_width() const;
  int screen_height() const;

  // Opens a width x height window titled with `id`, binds an XComponent
  // with that id, size and window through the module's init function, and
  // reports its surface as created. False, with the reason, on failure.
  // Windows go side by side, left to right, and on to a new row where the
  // screen ends, so that none covers another.
  bool AddXComponent(const std::string& id, int width, int height, std::string* error);
  // Titles the window of `id` (at first its id). False for an unknown id.
  bool SetTitle(const std::string& id, const std::string& title);
  // Reports the surface of `id` destroyed and then created again on the
  // same window (what the UI does when a component leaves and re-enters the
  // screen). False for an unknown id.
  bool RecreateSurface(const std::string& id);
  // The window's pixels (0x00RRGGBB, rows top first); empty for an unknown id.
  std::vector<uint32_t> ReadPixels(const std::string& id, int* width, int* height);

  // Keys that type no character, as the key handler is given them: codes
  // above every character's.
  enum Key : int { kKeyLeft = 0x100, kKeyRight, kKeyUp, kKeyDown };

  // Called on the UI thread for a key pressed in a component's window
  // (the character it types, 1 to 255, one of the Key codes, or 0 for any
  // other key), and once a window was closed by its user or destroyed by
  // another program (its surface already reported destroyed).
  void SetKeyHandler(std::function<void(const std::string& id, int key)> handler);
  void SetCloseHandler(std::function<void(const std::string& id)> handler);
  // Called on the UI thread when a window's picture was lost (exposed) or
  // its size changed (after the surface was told): a host that is not
  // drawing new frames, paused, draws its last one again.
  void SetRedrawHandler(std::function<void(const std::string& id)> handler);

  // Runs `task` on the UI thread and waits for it.
  void RunOnUiThread(const std::function<void()>& task);

  // Reports every remaining surface destroyed, closes the windows and stops
  // the UI thread. Safe to call more than once.
  void Shutdown();

 private:
  class Impl;
  explicit HostShell(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace ohos_desktop

#endif  // OHOS_DESKTOP_HOST_SHELL_H
