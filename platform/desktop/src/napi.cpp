// Native module interface: a process-wide module registry, environments that
// own their values, and injected failures for tests.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "desktop/napi_host.h"
#include "napi/native_api.h"

struct napi_value__ {
  napi_env__* env;
  napi_valuetype type;
  double number = 0;
  bool boolean = false;
  std::string text;
  std::vector<std::pair<std::string, napi_value__*>> properties;
  bool wrapped = false;
  void* native = nullptr;
};

struct napi_env__ {
  std::mutex mutex;
  std::vector<std::unique_ptr<napi_value__>> values;
  napi_value__* undefined = nullptr;
  napi_value__* null = nullptr;
};

namespace ohos_desktop {
namespace {

struct Injection {
  int remaining = 0;
  napi_status status = napi_ok;
};

constexpr int kFunctionCount = 3;

struct Registry {
  std::mutex mutex;
  std::map<std::string, const napi_module*> modules;
  Injection injections[kFunctionCount];
};

// Never destroyed: the module registers from a static initialiser and may be
// looked up from threads that outlive static destruction.
Registry& GetRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

// Consumes one injected failure for function, if any is pending.
bool TakeInjected(NapiFunction function, napi_status* status) {
  Registry& registry = GetRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  Injection& injection = registry.injections[static_cast<int>(function)];
  if (injection.remaining <= 0) return false;
  --injection.remaining;
  *status = injection.status;
  return true;
}

// Caller holds env->mutex.
napi_value__* NewValue(napi_env__* env, napi_valuetype type) {
  env->values.push_back(std::make_unique<napi_value__>());
  napi_value__* value = env->values.back().get();
  value->env = env;
  value->type = type;
  return value;
}

template <typename Init>
napi_value CreateValue(napi_env env, napi_valuetype type, Init init) {
  if (env == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(env->mutex);
  napi_value__* value = NewValue(env, type);
  init(value);
  return value;
}

bool IsObjectOf(napi_env env, napi_value value) {
  return value != nullptr && value->env == env && value->type == napi_object;
}

}  // namespace

napi_env CreateNapiEnv() {
  auto* env = new napi_env__;
  env->undefined = NewValue(env, napi_undefined);
  env->null = NewValue(env, napi_null);
  return env;
}

void DestroyNapiEnv(napi_env env) { delete env; }

napi_value NapiCreateObject(napi_env env) {
  return CreateValue(env, napi_object, [](napi_value__*) {});
}

napi_value NapiCreateString(napi_env env, const std::string& text) {
  return CreateValue(env, napi_string, [&text](napi_value__* v) { v->text = text; });
}

napi_value NapiCreateNumber(napi_env env, double number) {
  return CreateValue(env, napi_number, [number](napi_value__* v) { v->number = number; });
}

napi_value NapiCreateBoolean(napi_env env, bool value) {
  return CreateValue(env, napi_boolean, [value](napi_value__* v) { v->boolean = value; });
}

napi_value NapiGetUndefined(napi_env env) { return env ? env->undefined : nullptr; }

napi_value NapiGetNull(napi_env env) { return env ? env->null : nullptr; }

bool NapiSetNamedProperty(napi_env env, napi_value object, const std::string& name,
                          napi_value value) {
  if (env == nullptr || value == nullptr || value->env != env) return false;
  std::lock_guard<std::mutex> lock(env->mutex);
  if (!IsObjectOf(env, object)) return false;
  for (auto& property : object->properties) {
    if (property.first == name) {
      property.second = value;
      return true;
    }
  }
  object->properties.emplace_back(name, value);
  return true;
}

bool NapiWrap(napi_env env, napi_value object, void* native) {
  if (env == nullptr) return false;
  std::lock_guard<std::mutex> lock(env->mutex);
  if (!IsObjectOf(env, object) || object->wrapped) return false;
  object->wrapped = true;
  object->native = native;
  return true;
}

const napi_module* FindRegisteredModule(const std::string& name) {
  Registry& registry = GetRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.modules.find(name);
  return it == registry.modules.end() ? nullptr : it->second;
}

std::vector<const napi_module*> RegisteredModules() {
  Registry& registry = GetRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  std::vector<const napi_module*> modules;
  for (const auto& entry : registry.modules) modules.push_back(entry.second);
  return modules;
}

void ClearRegisteredModules() {
  Registry& registry = GetRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.modules.clear();
}

void InjectNapiFailure(NapiFunction function, int count, napi_status status) {
  Registry& registry = GetRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.injections[static_cast<int>(function)] = Injection{count, status};
}

void ClearNapiFailures() {
  Registry& registry = GetRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  for (Injection& injection : registry.injections) injection = Injection{};
}

}  // namespace ohos_desktop

using ohos_desktop::NapiFunction;
using ohos_desktop::TakeInjected;

extern "C" void napi_module_register(napi_module* mod) {
  if (mod == nullptr || mod->nm_modname == nullptr) return;
  ohos_desktop::Registry& registry = ohos_desktop::GetRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.modules[mod->nm_modname] = mod;
}

extern "C" napi_status napi_get_named_property(napi_env env, napi_value object,
                                               const char* utf8name, napi_value* result) {
  napi_status injected;
  if (TakeInjected(NapiFunction::kGetNamedProperty, &injected)) return injected;
  if (env == nullptr || object == nullptr || utf8name == nullptr || result == nullptr ||
      object->env != env) {
    return napi_invalid_arg;
  }
  std::lock_guard<std::mutex> lock(env->mutex);
  if (object->type != napi_object) return napi_object_expected;
  *result = env->undefined;
  for (const auto& property : object->properties) {
    if (property.first == utf8name) *result = property.second;
  }
  return napi_ok;
}

extern "C" napi_status napi_typeof(napi_env env, napi_value value, napi_valuetype* result) {
  napi_status injected;
  if (TakeInjected(NapiFunction::kTypeof, &injected)) return injected;
  if (env == nullptr || value == nullptr || result == nullptr || value->env != env) {
    return napi_invalid_arg;
  }
  *result = value->type;  // fixed at creation: no lock needed
  return napi_ok;
}

extern "C" napi_status napi_unwrap(napi_env env, napi_value js_object, void** result) {
  napi_status injected;
  if (TakeInjected(NapiFunction::kUnwrap, &injected)) return injected;
  if (env == nullptr || js_object == nullptr || result == nullptr || js_object->env != env) {
    return napi_invalid_arg;
  }
  std::lock_guard<std::mutex> lock(env->mutex);
  if (!js_object->wrapped) return napi_invalid_arg;
  *result = js_object->native;
  return napi_ok;
}
