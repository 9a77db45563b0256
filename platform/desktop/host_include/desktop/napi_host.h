// Host side of the native module interface: what the runtime does around a
// module. Builds environments and values, attaches native pointers, looks up
// registered modules, and makes chosen calls fail for tests.
//
// All functions are thread-safe. Values belong to their environment and are
// freed with it; a value is only valid in the environment that created it.
#ifndef OHOS_DESKTOP_NAPI_HOST_H
#define OHOS_DESKTOP_NAPI_HOST_H

#include <memory>
#include <string>
#include <vector>

#include "napi/native_api.h"

namespace ohos_desktop {

napi_env CreateNapiEnv();
// Frees the environment and every value created in it.
void DestroyNapiEnv(napi_env env);

struct NapiEnvDeleter {
  void operator()(napi_env env) const { DestroyNapiEnv(env); }
};
using ScopedNapiEnv = std::unique_ptr<napi_env__, NapiEnvDeleter>;

// Each returns null when env is null.
napi_value NapiCreateObject(napi_env env);
napi_value NapiCreateString(napi_env env, const std::string& text);
napi_value NapiCreateNumber(napi_env env, double number);
napi_value NapiCreateBoolean(napi_env env, bool value);
napi_value NapiGetUndefined(napi_env env);
napi_value NapiGetNull(napi_env env);

// Sets or replaces a property. False unless object is an object and both
// values belong to env.
bool NapiSetNamedProperty(napi_env env, napi_value object, const std::string& name,
                          napi_value value);

// Attaches a native pointer to an object for napi_unwrap. An object holds at
// most one: false when it already has one or is not an object of env.
bool NapiWrap(napi_env env, napi_value object, void* native);

// The descriptor last registered under name, or null.
const napi_module* FindRegisteredModule(const std::string& name);
// Every registered descriptor, ordered by name.
std::vector<const napi_module*> RegisteredModules();
void ClearRegisteredModules();

enum class NapiFunction { kGetNamedProperty, kTypeof, kUnwrap };

// The next count calls of function return status without doing anything
// else; a count of zero or less cancels. Replaces any earlier injection for
// the same function. Process-wide: calls in every environment count.
void InjectNapiFailure(NapiFunction function, int count, napi_status status);
void ClearNapiFailures();

}  // namespace ohos_desktop

#endif  // OHOS_DESKTOP_NAPI_HOST_H
