// The real shared library, loaded the way the platform loads it: its
// static initialiser registers the module, and its dynamic symbol table
// offers the exported interface and nothing of its internals.

#include <cxxabi.h>
#include <dlfcn.h>
#include <elf.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "desktop/hilog_records.h"
#include "desktop/napi_host.h"
#include "desktop/xcomponent_host.h"

// A host's own PluginManager, unrelated to the module's, whose members
// happen to share their names. The program exports them (ENABLE_EXPORTS), so
// they sit in the process's symbol table ahead of the module's.
class PluginManager {
 public:
  static PluginManager* GetInstance();
  bool Export(napi_env env, napi_value exports);
};
int g_hostCalls = 0;
PluginManager* PluginManager::GetInstance() {
  ++g_hostCalls;
  return nullptr;
}
bool PluginManager::Export(napi_env, napi_value) {
  ++g_hostCalls;
  return true;
}

namespace {

// Demangled, without ABI tags: GCC's C++ library tags a name whose type
// holds its string as "[abi:cxx11]", LLVM's tags nothing, and the name is
// the same interface either way.
std::string Demangle(const char* name) {
  int status = 0;
  char* text = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  std::string result = status == 0 && text != nullptr ? text : name;
  free(text);
  return std::regex_replace(result, std::regex("\\[abi:[^\\]]*\\]"), "");
}

// Names of the defined global and weak symbols in a 64-bit ELF file's
// dynamic symbol table, demangled.
std::vector<std::string> ExportedSymbols(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<char> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<std::string> names;
  if (image.size() < sizeof(Elf64_Ehdr))
    return names;
  const auto* header = reinterpret_cast<const Elf64_Ehdr*>(image.data());
  const auto* sections = reinterpret_cast<const Elf64_Shdr*>(image.data() + header->e_shoff);
  for (int i = 0; i < header->e_shnum; ++i) {
    if (sections[i].sh_type != SHT_DYNSYM)
      continue;
    const char* strings = image.data() + sections[sections[i].sh_link].sh_offset;
    const auto* symbols = reinterpret_cast<const Elf64_Sym*>(image.data() + sections[i].sh_offset);
    const size_t count = sections[i].sh_size / sizeof(Elf64_Sym);
    for (size_t s = 1; s < count; ++s) {
      const int binding = ELF64_ST_BIND(symbols[s].st_info);
      if (symbols[s].st_shndx == SHN_UNDEF || (binding != STB_GLOBAL && binding != STB_WEAK))
        continue;
      names.push_back(Demangle(strings + symbols[s].st_name));
    }
  }
  return names;
}

// The classes of the public headers whose members are defined in the
// library (scripts/check-exports holds them to the headers name by name).
bool Allowed(const std::string& name) {
  static const std::set<std::string> kTypeInfo = {
      "typeinfo for rtc::IVideoRender",  "typeinfo name for rtc::IVideoRender",
      "typeinfo for rtc::DestroyNotify", "typeinfo name for rtc::DestroyNotify",
      "vtable for rtc::DestroyNotify",   "typeinfo for PluginRender",
      "typeinfo name for PluginRender",  "vtable for PluginRender"};
  // Linker-defined markers of the image's own layout.
  static const std::set<std::string> kLinker = {"_init", "_fini", "_edata", "_end", "__bss_start"};
  for (const char* owner : {"PluginManager::", "PluginRender::", "rtc::DestroyNotify::"}) {
    if (name.rfind(owner, 0) == 0)
      return true;
  }
  return kTypeInfo.count(name) || kLinker.count(name);
}

TEST(ModuleTest, LoadingRegistersTheModule) {
  void* library = dlopen(NATIVERENDER_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  const napi_module* module = ohos_desktop::FindRegisteredModule("nativerender");
  ASSERT_NE(module, nullptr);
  ASSERT_NE(module->nm_register_func, nullptr);

  // Bind a component through it: the callbacks come back registered.
  ohos_desktop::SetHilogStderrEnabled(false);
  ohos_desktop::ScopedNapiEnv env(ohos_desktop::CreateNapiEnv());
  ohos_desktop::ScopedXComponent component(ohos_desktop::CreateXComponent("loaded", 4, 4, nullptr));
  napi_value exports = ohos_desktop::NapiCreateObject(env.get());
  napi_value holder = ohos_desktop::NapiCreateObject(env.get());
  ohos_desktop::NapiWrap(env.get(), holder, component.get());
  ohos_desktop::NapiSetNamedProperty(env.get(), exports, "__NATIVE_XCOMPONENT_OBJ__", holder);
  EXPECT_EQ(module->nm_register_func(env.get(), exports), exports);
  OH_NativeXComponent_Callback* callbacks = ohos_desktop::RegisteredCallback(component.get());
  ASSERT_NE(callbacks, nullptr);
  EXPECT_NE(callbacks->OnSurfaceCreated, nullptr);
  EXPECT_NE(callbacks->DispatchTouchEvent, nullptr);
  EXPECT_EQ(ohos_desktop::HilogRecords().back().text, "---------end--------1");
}

// The module's calls to its own functions bind inside it: a host function
// of the same name never receives them, and the bind is the module's own.
TEST(ModuleTest, ItsOwnCallsNeverReachTheHostsFunctionsOfTheSameName) {
  void* library = dlopen(NATIVERENDER_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  const napi_module* module = ohos_desktop::FindRegisteredModule("nativerender");
  ASSERT_NE(module, nullptr);
  ohos_desktop::SetHilogStderrEnabled(false);
  ohos_desktop::ScopedNapiEnv env(ohos_desktop::CreateNapiEnv());
  ohos_desktop::ScopedXComponent component(ohos_desktop::CreateXComponent("bound", 4, 4, nullptr));
  napi_value exports = ohos_desktop::NapiCreateObject(env.get());
  napi_value holder = ohos_desktop::NapiCreateObject(env.get());
  ohos_desktop::NapiWrap(env.get(), holder, component.get());
  ohos_desktop::NapiSetNamedProperty(env.get(), exports, "__NATIVE_XCOMPONENT_OBJ__", holder);
  module->nm_register_func(env.get(), exports);
  EXPECT_EQ(g_hostCalls, 0);
  EXPECT_NE(ohos_desktop::RegisteredCallback(component.get()), nullptr);
}

TEST(ModuleTest, ExportsItsInterfaceAndNothingElse) {
  const std::vector<std::string> names = ExportedSymbols(NATIVERENDER_MODULE_PATH);
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names)
    EXPECT_TRUE(Allowed(name)) << "exported: " << name;
  for (const char* required :
       {"PluginManager::GetInstance()", "PluginManager::m_instance",
        "PluginManager::m_nativeXComponentMap", "typeinfo for rtc::IVideoRender",
        "typeinfo for rtc::DestroyNotify"}) {
    EXPECT_THAT(names, ::testing::Contains(required));
  }
}

}  // namespace
