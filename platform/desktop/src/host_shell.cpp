// The UI thread of the desktop host: module loading, XComponent binding and
// an event loop over the host's one X connection plus a wake-up descriptor
// for tasks posted from other threads.

#include "desktop/host_shell.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <dlfcn.h>
#include <link.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "desktop/hilog_records.h"
#include "desktop/napi_host.h"
#include "desktop/x11_surface.h"
#include "desktop/xcomponent_host.h"

namespace ohos_desktop {

void SetPlatformLogEcho(bool enabled) {
  SetHilogStderrEnabled(enabled);
}

void ForgetPlatformLogRecords() {
  ClearHilogRecords();
}

void PinLoadedGraphicsDrivers() {
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void*) {
        if (info->dlpi_name != nullptr && strstr(info->dlpi_name, "_dri.so") != nullptr)
          dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
        return 0;
      },
      nullptr);
}

namespace {

// One XComponent: its window, its platform handle and the exports object
// it was bound through.
struct Component {
  std::unique_ptr<X11Surface> surface;
  ScopedXComponent handle;
  bool surface_alive = false;
};

XErrorHandler g_default_x_error_handler = nullptr;

// A window another program destroyed is still drawn into by the GL stack
// until its surface is torn down, and its teardown names it again.
int OnXError(Display* display, XErrorEvent* event) {
  if (event->error_code == BadWindow || event->error_code == BadDrawable)
    return 0;
  return g_default_x_error_handler != nullptr ? g_default_x_error_handler(display, event) : 0;
}

// Before any other X call of the process: the UI thread and the GL stack's
// threads all use X.
void InstallXErrorHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    XInitThreads();
    g_default_x_error_handler = XSetErrorHandler(OnXError);
  });
}

// What the key handler is given for a key: the character it typed, or the
// code of an arrow key (on the keypad too).
int KeyCode(KeySym keysym, char typed) {
  switch (keysym) {
    case XK_Left:
    case XK_KP_Left:
      return HostShell::kKeyLeft;
    case XK_Right:
    case XK_KP_Right:
      return HostShell::kKeyRight;
    case XK_Up:
    case XK_KP_Up:
      return HostShell::kKeyUp;
    case XK_Down:
    case XK_KP_Down:
      return HostShell::kKeyDown;
    default:
      return static_cast<unsigned char>(typed);
  }
}

Display* OpenDisplay(std::string* error) {
  const char* name = getenv("DISPLAY");
  if (name == nullptr || name[0] == '\0') {
    *error = "no X display: DISPLAY is not set";
    return nullptr;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr)
    *error = std::string("cannot open the X display '") + name + "'";
  return display;
}

}  // namespace

class HostShell::Impl {
 public:
  Impl(void* library, const napi_module* module, Display* display)
      : library_(library),
        module_(module),
        display_(display),
        screen_width_(DisplayWidth(display, DefaultScreen(display))),
        screen_height_(DisplayHeight(display, DefaultScreen(display))) {
    wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    env_.reset(CreateNapiEnv());
    ui_thread_ = std::thread([this] { Loop(); });
  }

  ~Impl() {
    Shutdown();  // the windows go before their connection
    XCloseDisplay(display_);
    close(wake_fd_);
    // The library stays loaded: renderers and threads of the module may
    // outlive the shell, as they outlive the UI on a device.
    (void)library_;
  }

  void RunOnUiThread(const std::function<void()>& task) {
    // On the UI thread itself, or after shutdown (no UI thread left to run it).
    if (std::this_thread::get_id() == ui_thread_.get_id() || !ui_thread_.joinable()) {
      task();
      return;
    }
    std::mutex done_mutex;
    std::condition_variable done_cv;
    bool done = false;
    Post([&] {
      task();
      std::lock_guard<std::mutex> lock(done_mutex);
      done = true;
      done_cv.notify_one();
    });
    std::unique_lock<std::mutex> lock(done_mutex);
    done_cv.wait(lock, [&] { return done; });
  }

  bool AddXComponent(const std::string& id, int width, int height, std::string* error) {
    bool ok = false;
    RunOnUiThread([&] { ok = AddOnUiThread(id, width, height, error); });
    return ok;
  }

  bool RecreateSurface(const std::string& id) {
    bool ok = false;
    RunOnUiThread([&] {
      auto it = components_.find(id);
      if (it == components_.end())
        return;
      DestroySurface(it->second);
      CreateSurface(it->second);
      ok = true;
    });
    return ok;
  }

  bool SetTitle(const std::string& id, const std::string& title) {
    bool ok = false;
    RunOnUiThread([&] {
      auto it = components_.find(id);
      if (it == components_.end())
        return;
      it->second.surface->SetTitle(title);
      ok = true;
    });
    return ok;
  }

  std::vector<uint32_t> ReadPixels(const std::string& id, int* width, int* height) {
    std::vector<uint32_t> pixels;
    RunOnUiThread([&] {
      auto it = components_.find(id);
      if (it == components_.end())
        return;
      pixels = it->second.surface->ReadPixels();
      *width = it->second.surface->width();
      *height = it->second.surface->height();
    });
    return pixels;
  }

  void Shutdown() {
    if (!ui_thread_.joinable())
      return;
    RunOnUiThread([this] {
      for (auto& entry : components_)
        DestroySurface(entry.second);
      components_.clear();
      stopping_ = true;
    });
    ui_thread_.join();
  }

  int screen_width() const { return screen_width_; }
  int screen_height() const { return screen_height_; }

  std::function<void(const std::string&, int)> key_handler;
  std::function<void(const std::string&)> close_handler;
  std::function<void(const std::string&)> redraw_handler;

 private:
  void Post(std::function<void()> task) {
    {
      std::lock_guard<std::mutex> lock(tasks_mutex_);
      tasks_.push_back(std::move(task));
    }
    const uint64_t one = 1;
    (void)!write(wake_fd_, &one, sizeof(one));
  }

  bool AddOnUiThread(const std::string& id, int width, int height, std::string* error) {
    if (components_.count(id) != 0) {
      *error = "an XComponent with id '" + id + "' exists already";
      return false;
    }
    Component component;
    // Side by side, left to right, and on to a new row where the screen
    // ends, so that no window covers another: the pixels of a covered
    // window, or of one not wholly on the screen, cannot be read back.
    if (next_x_ > 0 && next_x_ + width > screen_width_) {
      next_x_ = 0;
      next_y_ += row_height_;
      row_height_ = 0;
    }
    component.surface = X11Surface::CreateOn(display_, width, height, id.c_str(), next_x_, next_y_);
    next_x_ += width;
    row_height_ = std::max(row_height_, height);
    if (!component.surface) {
      *error = "cannot open a " + std::to_string(width) + "x" + std::to_string(height) +
               " window (is DISPLAY set?)";
      return false;
    }
    component.handle.reset(CreateXComponent(id, static_cast<uint64_t>(width),
                                            static_cast<uint64_t>(height),
                                            component.surface->NativeWindow()));
    if (!Bind(component.handle.get())) {
      *error = "the module did not bind XComponent '" + id + "'";
      return false;
    }
    // The window is already mapped: its surface exists.
    CreateSurface(component);
    PinLoadedGraphicsDrivers();
    components_.emplace(id, std::move(component));
    return true;
  }

  // What the runtime does on import: an exports object carrying the
  // component, handed to the module's init function.
  bool Bind(OH_NativeXComponent* handle) {
    napi_value exports = NapiCreateObject(env_.get());
    napi_value holder = NapiCreateObject(env_.get());
    NapiWrap(env_.get(), holder, handle);
    NapiSetNamedProperty(env_.get(), exports, "__NATIVE_XCOMPONENT_OBJ__", holder);
    module_->nm_register_func(env_.get(), exports);
    return RegisteredCallback(handle) != nullptr;
  }

  void CreateSurface(Component& component) {
    if (component.surface_alive)
      return;
    component.surface_alive = true;
    DispatchSurfaceCreated(component.handle.get());
  }

  void DestroySurface(Component& component) {
    if (!component.surface_alive)
      return;
    component.surface_alive = false;
    DispatchSurfaceDestroyed(component.handle.get());
  }

  void Loop() {
    while (!stopping_) {
      pollfd fds[] = {{wake_fd_, POLLIN, 0}, {ConnectionNumber(display_), POLLIN, 0}};
      poll(fds, 2, 100);
      uint64_t count;
      (void)!read(wake_fd_, &count, sizeof(count));
      RunTasks();
      HandleWindowEvents();
    }
  }

  void RunTasks() {
    std::deque<std::function<void()>> tasks;
    {
      std::lock_guard<std::mutex> lock(tasks_mutex_);
      tasks.swap(tasks_);
    }
    for (auto& task : tasks)
      task();
  }

  void HandleWindowEvents() {
    while (XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      // Events of a window already closed find no component.
      auto it = components_.begin();
      while (it != components_.end() && it->second.surface->WindowId() != event.xany.window)
        ++it;
      if (it == components_.end() || !HandleEvent(it->first, it->second, event))
        continue;
      const std::string id = it->first;
      DestroySurface(it->second);
      components_.erase(it);
      if (close_handler)
        close_handler(id);
    }
  }

  // True when the window was closed or destroyed.
  bool HandleEvent(const std::string& id, Component& component, XEvent& event) {
    OH_NativeXComponent* handle = component.handle.get();
    switch (event.type) {
      case ConfigureNotify:
        SetXComponentSize(handle, static_cast<uint64_t>(event.xconfigure.width),
                          static_cast<uint64_t>(event.xconfigure.height));
        DispatchSurfaceChanged(handle);
        if (redraw_handler)
          redraw_handler(id);
        return false;
      case Expose:
        // The last of a series: one redraw covers them all.
        if (event.xexpose.count == 0 && redraw_handler)
          redraw_handler(id);
        return false;
      case ButtonPress:
        DispatchTouchEvent(handle);
        return false;
      case KeyPress: {
        char text[8] = {};
        KeySym keysym;
        XLookupString(&event.xkey, text, sizeof(text), &keysym, nullptr);
        if (key_handler)
          key_handler(id, KeyCode(keysym, text[0]));
        return false;
      }
      default:
        return component.surface->IsCloseRequest(event) ||
               component.surface->TakeDestroyNotice(event);
    }
  }

  void* library_;
  const napi_module* module_;
  Display* const display_;  // the windows' one connection; UI thread only once started
  const int screen_width_;
  const int screen_height_;
  ScopedNapiEnv env_;
  int wake_fd_ = -1;
  std::mutex tasks_mutex_;
  std::deque<std::function<void()>> tasks_;
  std::map<std::string, Component> components_;  // UI thread only
  bool stopping_ = false;                         // UI thread only
  int next_x_ = 0, next_y_ = 0, row_height_ = 0;  // UI thread only
  std::thread ui_thread_;
};

std::unique_ptr<HostShell> HostShell::Load(const std::string& module_path,
                                           const std::string& module_name, std::string* error) {
  InstallXErrorHandler();
  Display* display = OpenDisplay(error);
  if (display == nullptr)
    return nullptr;
  void* library = dlopen(module_path.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (library == nullptr) {
    const char* reason = dlerror();
    *error = "cannot load " + module_path + ": " + (reason != nullptr ? reason : "unknown error");
    XCloseDisplay(display);
    return nullptr;
  }
  const napi_module* module = FindRegisteredModule(module_name);
  if (module == nullptr || module->nm_register_func == nullptr) {
    *error = module_path + " did not register a module named '" + module_name + "'";
    XCloseDisplay(display);
    return nullptr;
  }
  return std::unique_ptr<HostShell>(
      new HostShell(std::make_unique<Impl>(library, module, display)));
}

HostShell::HostShell(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
HostShell::~HostShell() = default;

int HostShell::screen_width() const {
  return impl_->screen_width();
}

int HostShell::screen_height() const {
  return impl_->screen_height();
}

bool HostShell::AddXComponent(const std::string& id, int width, int height, std::string* error) {
  return impl_->AddXComponent(id, width, height, error);
}

bool HostShell::RecreateSurface(const std::string& id) {
  return impl_->RecreateSurface(id);
}

std::vector<uint32_t> HostShell::ReadPixels(const std::string& id, int* width, int* height) {
  return impl_->ReadPixels(id, width, height);
}

bool HostShell::SetTitle(const std::string& id, const std::string& title) {
  return impl_->SetTitle(id, title);
}

void HostShell::SetKeyHandler(std::function<void(const std::string&, int)> handler) {
  impl_->RunOnUiThread([&] { impl_->key_handler = std::move(handler); });
}

void HostShell::SetCloseHandler(std::function<void(const std::string&)> handler) {
  impl_->RunOnUiThread([&] { impl_->close_handler = std::move(handler); });
}

void HostShell::SetRedrawHandler(std::function<void(const std::string&)> handler) {
  impl_->RunOnUiThread([&] { impl_->redraw_handler = std::move(handler); });
}

void HostShell::RunOnUiThread(const std::function<void()>& task) {
  impl_->RunOnUiThread(task);
}

void HostShell::Shutdown() {
  impl_->Shutdown();
}

}  // namespace ohos_desktop
