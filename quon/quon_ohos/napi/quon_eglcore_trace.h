#ifndef QUON_OHOS_NAPI_QUON_EGLCORE_TRACE_H_
#define QUON_OHOS_NAPI_QUON_EGLCORE_TRACE_H_

// The drawing core's runtime lines, written alike by each of its files:
// the object's address, the operation, then the text.

#include "rtc_base/logging.h"

#define TRACE(severity, operation) \
  LOG(severity) << static_cast<const void*>(this) << ": " << operation << ": "

#endif  // QUON_OHOS_NAPI_QUON_EGLCORE_TRACE_H_
