// Desktop stand-ins for the platform interfaces: log, native module
// registry and values, XComponent handles, and the X11 surface.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "ace/xcomponent/native_interface_xcomponent.h"
#include "desktop/hilog_records.h"
#include "desktop/napi_host.h"
#include "desktop/x11_surface.h"
#include "desktop/xcomponent_host.h"
#include "hilog/log.h"
#include "napi/native_api.h"
#include "support/emulation.h"

// After gtest: Xlib defines macros (None, Bool) that gtest uses as names.
#include <X11/Xlib.h>

namespace ohos_desktop {
namespace {

// ---- platform log ---------------------------------------------------------

class HilogTest : public testing::Test {
 protected:
  void SetUp() override {
    SetHilogStderrEnabled(false);
    ClearHilogRecords();
  }
};

TEST_F(HilogTest, PrivacyFlagsBecomePlainConversions) {
  int n = OH_LOG_Print(LOG_APP, LOG_ERROR, 0x101, "Tag",
                       "a=%{public}d s=%{public}s p=%{private}s 100%% %d %%{public}d", 42, "xy",
                       "secret", 7);
  auto records = HilogRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text, "a=42 s=xy p=secret 100% 7 %{public}d");
  EXPECT_EQ(n, static_cast<int>(records[0].text.size()));
  EXPECT_EQ(records[0].type, LOG_APP);
  EXPECT_EQ(records[0].level, LOG_ERROR);
  EXPECT_EQ(records[0].domain, 0x101u);
  EXPECT_EQ(records[0].tag, "Tag");
}

TEST_F(HilogTest, LongTextIsKeptWhole) {
  std::string big(100000, 'q');
  EXPECT_EQ(OH_LOG_Print(LOG_APP, LOG_INFO, 1, "T", "<%{public}s>", big.c_str()), 100002);
  EXPECT_EQ(HilogRecords().at(0).text, "<" + big + ">");
}

TEST_F(HilogTest, NullTagLogsUnderEmptyTagAndNullFormatLogsNothing) {
  EXPECT_EQ(OH_LOG_Print(LOG_APP, LOG_WARN, 1, nullptr, "x%{public}d", 5), 2);
  EXPECT_EQ(OH_LOG_Print(LOG_APP, LOG_WARN, 1, "T", nullptr), -1);
  auto records = HilogRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].tag, "");
  EXPECT_EQ(records[0].text, "x5");
}

TEST_F(HilogTest, WritesOneLinePerCallToStderr) {
  SetHilogStderrEnabled(true);
  const std::pair<LogLevel, char> levels[] = {
      {LOG_DEBUG, 'D'}, {LOG_INFO, 'I'}, {LOG_WARN, 'W'}, {LOG_ERROR, 'E'}, {LOG_FATAL, 'F'}};
  for (const auto& level : levels) {
    testing::internal::CaptureStderr();
    OH_LOG_Print(LOG_APP, level.first, 0x101, "PluginManager", "Export %{public}s", "abc");
    std::string out = testing::internal::GetCapturedStderr();
    std::regex line(R"(\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )" + std::string(1, level.second) +
                    R"( 0101/PluginManager: Export abc\n)");
    EXPECT_TRUE(std::regex_match(out, line)) << out;
  }
}

TEST_F(HilogTest, QuietSwitchStillRecords) {
  testing::internal::CaptureStderr();
  OH_LOG_Print(LOG_APP, LOG_ERROR, 0x101, "T", "quiet");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_EQ(HilogRecords().size(), 1u);
  ClearHilogRecords();
  EXPECT_TRUE(HilogRecords().empty());
}

// The environment is read once, on first use, so this needs a fresh process.
TEST(HilogDeathTest, QuietEnvironmentVariableSilencesStderr) {
  test_support::UseFreshProcessDeathTests();
  EXPECT_EXIT(
      {
        setenv("OHOS_DESKTOP_HILOG_QUIET", "1", 1);
        OH_LOG_Print(LOG_APP, LOG_ERROR, 0x101, "T", "should not appear");
        std::fprintf(stderr, "%s", HilogRecords().size() == 1 ? "recorded" : "lost");
        std::exit(HilogStderrEnabled() ? 1 : 0);
      },
      testing::ExitedWithCode(0), "^recorded$");
}

TEST_F(HilogTest, ConcurrentLoggersLoseNothingAndKeepTheirOrder) {
  constexpr int kThreads = 8, kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i)
        OH_LOG_Print(LOG_APP, LOG_INFO, 7, std::to_string(t).c_str(), "%{public}d", i);
    });
  }
  for (auto& thread : threads) thread.join();
  std::vector<int> next(kThreads, 0);
  auto records = HilogRecords();
  ASSERT_EQ(records.size(), static_cast<size_t>(kThreads * kLines));
  for (const auto& record : records) {
    int t = std::stoi(record.tag);
    EXPECT_EQ(record.text, std::to_string(next[t]++));
  }
}

// ---- native module interface ----------------------------------------------

napi_value RegisterNothing(napi_env, napi_value exports) { return exports; }

napi_module MakeModule(const char* name) {
  return napi_module{1, 0, nullptr, RegisterNothing, name, nullptr, {}};
}

TEST(NapiRegistryTest, FindsByNameAndLaterRegistrationWins) {
  ClearRegisteredModules();
  napi_module first = MakeModule("nativerender"), second = MakeModule("nativerender");
  napi_module other = MakeModule("other"), nameless = MakeModule(nullptr);
  napi_module_register(&first);
  napi_module_register(&other);
  napi_module_register(&second);
  napi_module_register(&nameless);
  napi_module_register(nullptr);
  EXPECT_EQ(FindRegisteredModule("nativerender"), &second);
  EXPECT_EQ(FindRegisteredModule("other"), &other);
  EXPECT_EQ(FindRegisteredModule("missing"), nullptr);
  EXPECT_EQ(RegisteredModules().size(), 2u);
  ClearRegisteredModules();
  EXPECT_EQ(FindRegisteredModule("other"), nullptr);
}

class NapiValueTest : public testing::Test {
 protected:
  void SetUp() override { ClearNapiFailures(); }
  void TearDown() override { ClearNapiFailures(); }
  ScopedNapiEnv env_{CreateNapiEnv()};
  napi_env env() { return env_.get(); }
};

TEST_F(NapiValueTest, PropertiesReadBackAndMissingOnesAreUndefined) {
  napi_value object = NapiCreateObject(env());
  napi_value one = NapiCreateNumber(env(), 1), two = NapiCreateString(env(), "two");
  ASSERT_TRUE(NapiSetNamedProperty(env(), object, "p", one));
  ASSERT_TRUE(NapiSetNamedProperty(env(), object, "p", two));  // replaces
  napi_value result = nullptr;
  ASSERT_EQ(napi_get_named_property(env(), object, "p", &result), napi_ok);
  EXPECT_EQ(result, two);
  ASSERT_EQ(napi_get_named_property(env(), object, "missing", &result), napi_ok);
  EXPECT_EQ(result, NapiGetUndefined(env()));
  EXPECT_EQ(napi_get_named_property(env(), one, "p", &result), napi_object_expected);
  EXPECT_FALSE(NapiSetNamedProperty(env(), one, "p", two));
}

TEST_F(NapiValueTest, TypeofReportsEachKind) {
  const std::pair<napi_value, napi_valuetype> cases[] = {
      {NapiGetUndefined(env()), napi_undefined}, {NapiGetNull(env()), napi_null},
      {NapiCreateBoolean(env(), true), napi_boolean}, {NapiCreateNumber(env(), 2.5), napi_number},
      {NapiCreateString(env(), "s"), napi_string}, {NapiCreateObject(env()), napi_object}};
  for (const auto& c : cases) {
    napi_valuetype type = napi_bigint;
    EXPECT_EQ(napi_typeof(env(), c.first, &type), napi_ok);
    EXPECT_EQ(type, c.second);
  }
}

TEST_F(NapiValueTest, UnwrapReturnsWrappedPointerOnly) {
  int native = 0;
  napi_value object = NapiCreateObject(env()), plain = NapiCreateObject(env());
  ASSERT_TRUE(NapiWrap(env(), object, &native));
  EXPECT_FALSE(NapiWrap(env(), object, nullptr));  // one pointer per object
  EXPECT_FALSE(NapiWrap(env(), NapiCreateNumber(env(), 1), &native));
  void* result = nullptr;
  ASSERT_EQ(napi_unwrap(env(), object, &result), napi_ok);
  EXPECT_EQ(result, &native);
  result = &result;
  EXPECT_EQ(napi_unwrap(env(), plain, &result), napi_invalid_arg);
  EXPECT_EQ(napi_unwrap(env(), NapiCreateString(env(), "x"), &result), napi_invalid_arg);
  EXPECT_EQ(result, &result);  // untouched on failure
}

TEST_F(NapiValueTest, NullArgumentsAndForeignValuesAreInvalid) {
  napi_value object = NapiCreateObject(env());
  napi_value value = nullptr;
  napi_valuetype type;
  void* native;
  EXPECT_EQ(napi_get_named_property(nullptr, object, "p", &value), napi_invalid_arg);
  EXPECT_EQ(napi_get_named_property(env(), nullptr, "p", &value), napi_invalid_arg);
  EXPECT_EQ(napi_get_named_property(env(), object, nullptr, &value), napi_invalid_arg);
  EXPECT_EQ(napi_get_named_property(env(), object, "p", nullptr), napi_invalid_arg);
  EXPECT_EQ(napi_typeof(nullptr, object, &type), napi_invalid_arg);
  EXPECT_EQ(napi_typeof(env(), nullptr, &type), napi_invalid_arg);
  EXPECT_EQ(napi_typeof(env(), object, nullptr), napi_invalid_arg);
  EXPECT_EQ(napi_unwrap(nullptr, object, &native), napi_invalid_arg);
  EXPECT_EQ(napi_unwrap(env(), nullptr, &native), napi_invalid_arg);
  EXPECT_EQ(napi_unwrap(env(), object, nullptr), napi_invalid_arg);
  EXPECT_EQ(NapiCreateObject(nullptr), nullptr);

  ScopedNapiEnv other(CreateNapiEnv());
  EXPECT_EQ(napi_get_named_property(other.get(), object, "p", &value), napi_invalid_arg);
  EXPECT_FALSE(NapiSetNamedProperty(env(), object, "p", NapiCreateNumber(other.get(), 1)));
}

TEST_F(NapiValueTest, InjectedFailuresLastExactlyTheirCount) {
  napi_value object = NapiCreateObject(env());
  ASSERT_TRUE(NapiWrap(env(), object, env()));
  napi_value value = nullptr;
  InjectNapiFailure(NapiFunction::kGetNamedProperty, 1, napi_generic_failure);
  EXPECT_EQ(napi_get_named_property(env(), object, "p", &value), napi_generic_failure);
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(napi_get_named_property(env(), object, "p", &value), napi_ok);

  InjectNapiFailure(NapiFunction::kGetNamedProperty, 2, napi_pending_exception);
  EXPECT_EQ(napi_get_named_property(env(), object, "p", &value), napi_pending_exception);
  EXPECT_EQ(napi_get_named_property(env(), object, "p", &value), napi_pending_exception);
  EXPECT_EQ(napi_get_named_property(env(), object, "p", &value), napi_ok);

  napi_valuetype type;
  void* native = nullptr;
  InjectNapiFailure(NapiFunction::kTypeof, 1, napi_invalid_arg);
  InjectNapiFailure(NapiFunction::kUnwrap, 1, napi_object_expected);
  EXPECT_EQ(napi_typeof(env(), object, &type), napi_invalid_arg);
  EXPECT_EQ(napi_unwrap(env(), object, &native), napi_object_expected);
  EXPECT_EQ(native, nullptr);
  EXPECT_EQ(napi_typeof(env(), object, &type), napi_ok);
  EXPECT_EQ(napi_unwrap(env(), object, &native), napi_ok);

  InjectNapiFailure(NapiFunction::kUnwrap, 5, napi_generic_failure);
  ClearNapiFailures();
  EXPECT_EQ(napi_unwrap(env(), object, &native), napi_ok);
}

// ---- XComponent -----------------------------------------------------------

TEST(XComponentTest, IdQueryHonoursBufferSize) {
  int window;
  const std::string id128(OH_XCOMPONENT_ID_LEN_MAX, 'a');
  ScopedXComponent fits(CreateXComponent(id128, 1, 1, &window));
  char buffer[OH_XCOMPONENT_ID_LEN_MAX + 1] = {};
  uint64_t size = sizeof(buffer);
  ASSERT_EQ(OH_NativeXComponent_GetXComponentId(fits.get(), buffer, &size),
            OH_NATIVEXCOMPONENT_RESULT_SUCCESS);
  EXPECT_EQ(size, 128u);
  EXPECT_EQ(std::string(buffer), id128);

  ScopedXComponent too_long(CreateXComponent(id128 + "b", 1, 1, &window));
  char untouched[OH_XCOMPONENT_ID_LEN_MAX + 1] = {};
  size = sizeof(untouched);
  EXPECT_EQ(OH_NativeXComponent_GetXComponentId(too_long.get(), untouched, &size),
            OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER);
  EXPECT_EQ(size, sizeof(untouched));
  EXPECT_EQ(untouched[0], '\0');

  ScopedXComponent short_id(CreateXComponent("abc", 1, 1, &window));
  size = 3;  // no room for the terminator
  EXPECT_EQ(OH_NativeXComponent_GetXComponentId(short_id.get(), buffer, &size),
            OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER);
  EXPECT_EQ(OH_NativeXComponent_GetXComponentId(nullptr, buffer, &size),
            OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER);
  EXPECT_EQ(OH_NativeXComponent_GetXComponentId(short_id.get(), nullptr, &size),
            OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER);
  EXPECT_EQ(OH_NativeXComponent_GetXComponentId(short_id.get(), buffer, nullptr),
            OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER);
}

TEST(XComponentTest, SizeQueryFollowsTheComponent) {
  int window, stranger;
  ScopedXComponent component(CreateXComponent("xc", 640, 480, &window));
  uint64_t width = 0, height = 0;
  ASSERT_EQ(OH_NativeXComponent_GetXComponentSize(component.get(), &window, &width, &height),
            OH_NATIVEXCOMPONENT_RESULT_SUCCESS);
  EXPECT_EQ(width, 640u);
  EXPECT_EQ(height, 480u);
  SetXComponentSize(component.get(), 1920, 1080);
  OH_NativeXComponent_GetXComponentSize(component.get(), &window, &width, &height);
  EXPECT_EQ(width, 1920u);
  EXPECT_EQ(height, 1080u);
  EXPECT_EQ(OH_NativeXComponent_GetXComponentSize(component.get(), &stranger, &width, &height),
            OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER);
  EXPECT_EQ(OH_NativeXComponent_GetXComponentSize(component.get(), &window, nullptr, &height),
            OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER);
  SetXComponentWindow(component.get(), &stranger);
  EXPECT_EQ(OH_NativeXComponent_GetXComponentSize(component.get(), &stranger, &width, &height),
            OH_NATIVEXCOMPONENT_RESULT_SUCCESS);
}

TEST(XComponentTest, InjectedQueryFailuresLastExactlyTheirCount) {
  int window;
  ScopedXComponent component(CreateXComponent("xc", 2, 2, &window));
  char id[8];
  uint64_t size = sizeof(id), width, height;
  InjectXComponentIdFailure(component.get(), 2, OH_NATIVEXCOMPONENT_RESULT_FAILED);
  InjectXComponentSizeFailure(component.get(), 1, OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER);
  EXPECT_EQ(OH_NativeXComponent_GetXComponentId(component.get(), id, &size), -1);
  EXPECT_EQ(OH_NativeXComponent_GetXComponentId(component.get(), id, &size), -1);
  EXPECT_EQ(size, sizeof(id));
  EXPECT_EQ(OH_NativeXComponent_GetXComponentId(component.get(), id, &size), 0);
  EXPECT_EQ(OH_NativeXComponent_GetXComponentSize(component.get(), &window, &width, &height),
            -2);
  EXPECT_EQ(OH_NativeXComponent_GetXComponentSize(component.get(), &window, &width, &height), 0);
}

std::vector<std::string> g_calls;

void Record(const char* name, OH_NativeXComponent* component, void* window) {
  char id[OH_XCOMPONENT_ID_LEN_MAX + 1] = {};
  uint64_t size = sizeof(id);
  // Querying from inside a callback must not deadlock.
  OH_NativeXComponent_GetXComponentId(component, id, &size);
  g_calls.push_back(std::string(name) + ":" + id + ":" + (window ? "w" : "null"));
}
void Created(OH_NativeXComponent* c, void* w) { Record("created", c, w); }
void Changed(OH_NativeXComponent* c, void* w) { Record("changed", c, w); }
void Destroyed(OH_NativeXComponent* c, void* w) { Record("destroyed", c, w); }
void Touch(OH_NativeXComponent* c, void* w) { Record("touch", c, w); }

TEST(XComponentTest, DispatchCallsTheRegisteredTable) {
  g_calls.clear();
  int window;
  ScopedXComponent component(CreateXComponent("xc", 2, 2, &window));
  DispatchSurfaceCreated(component.get());  // nothing registered yet
  EXPECT_EQ(RegisteredCallback(component.get()), nullptr);

  OH_NativeXComponent_Callback table{Created, Changed, Destroyed, Touch};
  EXPECT_EQ(OH_NativeXComponent_RegisterCallback(component.get(), nullptr),
            OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER);
  ASSERT_EQ(OH_NativeXComponent_RegisterCallback(component.get(), &table),
            OH_NATIVEXCOMPONENT_RESULT_SUCCESS);
  EXPECT_EQ(RegisteredCallback(component.get()), &table);
  DispatchSurfaceCreated(component.get());
  DispatchSurfaceChanged(component.get());
  DispatchTouchEvent(component.get());
  SetXComponentWindow(component.get(), nullptr);
  DispatchSurfaceDestroyed(component.get());
  EXPECT_EQ(g_calls, (std::vector<std::string>{"created:xc:w", "changed:xc:w", "touch:xc:w",
                                               "destroyed:xc:null"}));

  OH_NativeXComponent_Callback partial{nullptr, nullptr, Destroyed, nullptr};
  OH_NativeXComponent_RegisterCallback(component.get(), &partial);
  g_calls.clear();
  DispatchSurfaceCreated(component.get());
  DispatchTouchEvent(component.get());
  DispatchSurfaceDestroyed(component.get());
  EXPECT_EQ(g_calls, std::vector<std::string>{"destroyed:xc:null"});
}

// What a module's init does with an exports object, end to end.
napi_value BindFromExports(napi_env env, napi_value exports) {
  napi_value property = nullptr;
  void* native = nullptr;
  napi_valuetype type;
  if (napi_get_named_property(env, exports, "__NATIVE_XCOMPONENT_OBJ__", &property) != napi_ok ||
      napi_typeof(env, property, &type) != napi_ok || napi_unwrap(env, property, &native) != napi_ok)
    return nullptr;
  char id[OH_XCOMPONENT_ID_LEN_MAX + 1] = {};
  uint64_t size = sizeof(id);
  auto* component = static_cast<OH_NativeXComponent*>(native);
  if (OH_NativeXComponent_GetXComponentId(component, id, &size) != 0) return nullptr;
  return NapiCreateString(env, id);
}

TEST(ModuleBindingTest, RegisteredModuleFindsItsXComponent) {
  static napi_module module{1, 0, nullptr, BindFromExports, "binder", nullptr, {}};
  napi_module_register(&module);
  ScopedNapiEnv env(CreateNapiEnv());
  ScopedXComponent component(CreateXComponent("surface-1", 8, 8, nullptr));
  napi_value exports = NapiCreateObject(env.get());
  napi_value holder = NapiCreateObject(env.get());
  ASSERT_TRUE(NapiWrap(env.get(), holder, component.get()));
  ASSERT_TRUE(NapiSetNamedProperty(env.get(), exports, "__NATIVE_XCOMPONENT_OBJ__", holder));

  const napi_module* found = FindRegisteredModule("binder");
  ASSERT_NE(found, nullptr);
  napi_value result = found->nm_register_func(env.get(), exports);
  napi_valuetype type;
  ASSERT_EQ(napi_typeof(env.get(), result, &type), napi_ok);
  EXPECT_EQ(type, napi_string);
}

// ---- X11 surface ----------------------------------------------------------

std::unique_ptr<X11Surface> OpenSurface(int width, int height) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') {
    ADD_FAILURE() << "no X display: these tests need DISPLAY (scripts/test starts Xvfb)";
    return nullptr;
  }
  auto surface = X11Surface::Create(width, height);
  EXPECT_NE(surface, nullptr) << "cannot create a window on DISPLAY=" << display;
  return surface;
}

void Fill(X11Surface& surface, unsigned long rgb, int x, int y, int width, int height) {
  // The surface's visual is 24-bit TrueColor with 8-bit channels: a pixel
  // value is the colour itself.
  GC gc = XCreateGC(surface.display(), surface.WindowId(), 0, nullptr);
  XSetForeground(surface.display(), gc, rgb);
  XFillRectangle(surface.display(), surface.WindowId(), gc, x, y, static_cast<unsigned>(width),
                 static_cast<unsigned>(height));
  XFreeGC(surface.display(), gc);
  XSync(surface.display(), False);
}

TEST(X11SurfaceTest, ReadsBackWhatWasDrawnTopRowFirst) {
  auto surface = OpenSurface(64, 48);
  ASSERT_NE(surface, nullptr);
  EXPECT_EQ(surface->NativeWindow(), reinterpret_cast<void*>(surface->WindowId()));
  auto pixels = surface->ReadPixels();
  ASSERT_EQ(pixels.size(), 64u * 48u);
  EXPECT_EQ(pixels[0], 0u) << "background should be black";

  Fill(*surface, 0x336699, 0, 0, 64, 48);
  Fill(*surface, 0xCC8800, 0, 24, 64, 24);  // bottom half
  Fill(*surface, 0x00FF00, 60, 0, 4, 4);    // top-right corner
  pixels = surface->ReadPixels();
  ASSERT_EQ(pixels.size(), 64u * 48u);
  EXPECT_EQ(pixels[0], 0x336699u);
  EXPECT_EQ(pixels[23 * 64 + 30], 0x336699u);
  EXPECT_EQ(pixels[24 * 64], 0xCC8800u);
  EXPECT_EQ(pixels[47 * 64 + 63], 0xCC8800u);
  EXPECT_EQ(pixels[63], 0x00FF00u);
  EXPECT_EQ(pixels[59], 0x336699u);
}

TEST(X11SurfaceTest, ResizeChangesTheReadableArea) {
  auto surface = OpenSurface(64, 48);
  ASSERT_NE(surface, nullptr);
  ASSERT_TRUE(surface->Resize(100, 80));
  EXPECT_EQ(surface->width(), 100);
  EXPECT_EQ(surface->height(), 80);
  Fill(*surface, 0x123456, 0, 0, 100, 80);
  auto pixels = surface->ReadPixels();
  ASSERT_EQ(pixels.size(), 100u * 80u);
  EXPECT_EQ(pixels.back(), 0x123456u);
  EXPECT_FALSE(surface->Resize(0, 10));
  EXPECT_FALSE(surface->Resize(10, 40000));
  EXPECT_EQ(surface->width(), 100);
}

TEST(X11SurfaceTest, ReadingAWindowPartlyOffScreenFailsSoftly) {
  auto surface = OpenSurface(64, 48);
  ASSERT_NE(surface, nullptr);
  Display* display = surface->display();
  int screen_width = DisplayWidth(display, DefaultScreen(display));
  ASSERT_TRUE(surface->Resize(screen_width + 16, 48));
  EXPECT_TRUE(surface->ReadPixels().empty());  // the server would refuse the read
}

TEST(X11SurfaceTest, RejectsBadSizesAndRecognisesCloseRequests) {
  EXPECT_EQ(X11Surface::Create(0, 48), nullptr);
  EXPECT_EQ(X11Surface::Create(64, -1), nullptr);
  auto surface = OpenSurface(16, 16);
  ASSERT_NE(surface, nullptr);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = surface->WindowId();
  event.xclient.format = 32;
  event.xclient.data.l[0] =
      static_cast<long>(XInternAtom(surface->display(), "WM_DELETE_WINDOW", False));
  EXPECT_TRUE(surface->IsCloseRequest(event));
  event.xclient.window = surface->WindowId() + 1;
  EXPECT_FALSE(surface->IsCloseRequest(event));
}

int g_x_errors = 0;
int CountXError(Display*, XErrorEvent*) {
  ++g_x_errors;
  return 0;
}

// The host's windows share its connection. One that another client
// destroys hears of it; its end then neither destroys it again (an X error,
// fatal by default) nor closes the connection, which the host goes on using.
TEST(X11SurfaceTest, AWindowOnALentConnectionHearsItsDestructionAndLeavesTheConnection) {
  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  auto surface = X11Surface::CreateOn(display, 16, 16, "lent", 0, 0);
  ASSERT_NE(surface, nullptr);
  auto beside = X11Surface::CreateOn(display, 16, 16, "lent too", 16, 0);
  ASSERT_NE(beside, nullptr);
  auto other = X11Surface::Create(8, 8);
  ASSERT_NE(other, nullptr);
  XDestroyWindow(other->display(), surface->WindowId());
  XSync(other->display(), False);
  XEvent event{};
  bool heard = false;
  for (int attempt = 0; attempt < 100 && !heard; ++attempt) {
    XSync(display, False);
    heard = XCheckTypedWindowEvent(display, surface->WindowId(), DestroyNotify, &event);
  }
  ASSERT_TRUE(heard);
  EXPECT_FALSE(beside->TakeDestroyNotice(event));
  EXPECT_TRUE(surface->TakeDestroyNotice(event));
  g_x_errors = 0;
  XErrorHandler previous = XSetErrorHandler(CountXError);
  surface.reset();
  beside.reset();
  XSync(display, False);
  EXPECT_EQ(g_x_errors, 0);
  XSetErrorHandler(previous);
  EXPECT_NE(X11Surface::CreateOn(display, 8, 8, "again", 0, 0), nullptr);
  XCloseDisplay(display);
}

}  // namespace
}  // namespace ohos_desktop
