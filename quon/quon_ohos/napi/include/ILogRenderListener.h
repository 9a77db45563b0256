#ifndef QUON_OHOS_NAPI_ILOGRENDERLISTENER_H_
#define QUON_OHOS_NAPI_ILOGRENDERLISTENER_H_

#include <string>

// Implemented by the host: receives the module's runtime log lines, each
// with its time-stamp prefix and trailing newline, one call at a time and in
// logging order, on the module's log thread. Installed with
// PluginManager::InitLogFile; borrowed, never deleted by the module.
class ILogRenderListener {
 public:
  virtual void OnRenderLog(std::string line) = 0;

 protected:
  virtual ~ILogRenderListener() = default;
};

#endif  // QUON_OHOS_NAPI_ILOGRENDERLISTENER_H_
