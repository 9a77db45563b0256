// Prints what the module relies on in the platform's types, one line each:
// enumerator values, sizes, alignments, field offsets, the types behind each
// enum and the prototypes of the calls it makes. Built once against the
// stand-ins' headers and once against the platform's; scripts/check-device
// fails when the two outputs differ, since a module built on the desktop
// must agree with the device on every one of them.
#include <cxxabi.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <type_traits>
#include <typeinfo>

#include "ace/xcomponent/native_interface_xcomponent.h"
#include "hilog/log.h"
#include "napi/native_api.h"
#include "native_window/external_window.h"

namespace {

std::string Name(const std::type_info& type) {
  int status = 0;
  char* readable = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string name = status == 0 ? readable : type.name();
  free(readable);
  return name;
}

template <typename T>
void Type(const char* name) {
  printf("%s: size %zu align %zu type %s\n", name, sizeof(T), alignof(T), Name(typeid(T)).c_str());
}

template <typename E>
void Enum(const char* name) {
  Type<E>(name);
  printf("%s: underlying %s\n", name, Name(typeid(std::underlying_type_t<E>)).c_str());
}

template <typename E>
void Value(const char* name, E value) {
  printf("%s = %lld (%s)\n", name, static_cast<long long>(value), Name(typeid(E)).c_str());
}

// An enum without a name has none to compare, only its size and values.
template <typename E>
void UnnamedValue(const char* name, E value) {
  printf("%s = %lld\n", name, static_cast<long long>(value));
}

}  // namespace

#define VALUE(e) Value(#e, e)
#define UNNAMED_VALUE(e) UnnamedValue(#e, e)
#define FIELD(T, f)                                                                       \
  printf("%s.%s: offset %zu size %zu type %s\n", #T, #f, offsetof(T, f), sizeof(T::f), \
         Name(typeid(T::f)).c_str())
#define PROTOTYPE(fn) printf("%s: %s\n", #fn, Name(typeid(fn)).c_str())

int main() {
  Enum<napi_status>("napi_status");
  VALUE(napi_ok);
  VALUE(napi_invalid_arg);
  VALUE(napi_object_expected);
  VALUE(napi_string_expected);
  VALUE(napi_name_expected);
  VALUE(napi_function_expected);
  VALUE(napi_number_expected);
  VALUE(napi_boolean_expected);
  VALUE(napi_array_expected);
  VALUE(napi_generic_failure);
  VALUE(napi_pending_exception);
  VALUE(napi_cancelled);
  VALUE(napi_escape_called_twice);
  VALUE(napi_handle_scope_mismatch);
  VALUE(napi_callback_scope_mismatch);
  VALUE(napi_queue_full);
  VALUE(napi_closing);
  VALUE(napi_bigint_expected);

  Enum<napi_valuetype>("napi_valuetype");
  VALUE(napi_undefined);
  VALUE(napi_null);
  VALUE(napi_boolean);
  VALUE(napi_number);
  VALUE(napi_string);
  VALUE(napi_symbol);
  VALUE(napi_object);
  VALUE(napi_function);
  VALUE(napi_external);
  VALUE(napi_bigint);

  Type<napi_env>("napi_env");
  Type<napi_value>("napi_value");
  Type<napi_module>("napi_module");
  FIELD(napi_module, nm_version);
  FIELD(napi_module, nm_flags);
  FIELD(napi_module, nm_filename);
  FIELD(napi_module, nm_register_func);
  FIELD(napi_module, nm_modname);
  FIELD(napi_module, nm_priv);
  FIELD(napi_module, reserved);
  PROTOTYPE(napi_module_register);
  PROTOTYPE(napi_get_named_property);
  PROTOTYPE(napi_typeof);
  PROTOTYPE(napi_unwrap);

  Value("OH_XCOMPONENT_ID_LEN_MAX", OH_XCOMPONENT_ID_LEN_MAX);
  using XComponentResult = decltype(OH_NATIVEXCOMPONENT_RESULT_SUCCESS);
  printf("XComponent result: size %zu underlying %s\n", sizeof(XComponentResult),
         Name(typeid(std::underlying_type_t<XComponentResult>)).c_str());
  UNNAMED_VALUE(OH_NATIVEXCOMPONENT_RESULT_SUCCESS);
  UNNAMED_VALUE(OH_NATIVEXCOMPONENT_RESULT_FAILED);
  UNNAMED_VALUE(OH_NATIVEXCOMPONENT_RESULT_BAD_PARAMETER);
  Type<OH_NativeXComponent_Callback>("OH_NativeXComponent_Callback");
  FIELD(OH_NativeXComponent_Callback, OnSurfaceCreated);
  FIELD(OH_NativeXComponent_Callback, OnSurfaceChanged);
  FIELD(OH_NativeXComponent_Callback, OnSurfaceDestroyed);
  FIELD(OH_NativeXComponent_Callback, DispatchTouchEvent);
  PROTOTYPE(OH_NativeXComponent_GetXComponentId);
  PROTOTYPE(OH_NativeXComponent_GetXComponentSize);
  PROTOTYPE(OH_NativeXComponent_RegisterCallback);

  Enum<LogType>("LogType");
  VALUE(LOG_APP);
  Enum<LogLevel>("LogLevel");
  VALUE(LOG_DEBUG);
  VALUE(LOG_INFO);
  VALUE(LOG_WARN);
  VALUE(LOG_ERROR);
  VALUE(LOG_FATAL);
  PROTOTYPE(OH_LOG_Print);

  Enum<NativeWindowOperation>("NativeWindowOperation");
  VALUE(SET_BUFFER_GEOMETRY);
  VALUE(GET_BUFFER_GEOMETRY);
  PROTOTYPE(OH_NativeWindow_NativeWindowHandleOpt);
  return 0;
}
