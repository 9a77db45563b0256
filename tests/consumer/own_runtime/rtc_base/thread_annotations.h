#ifndef ENGINE_RTC_BASE_THREAD_ANNOTATIONS_H_
#define ENGINE_RTC_BASE_THREAD_ANNOTATIONS_H_

// The engine's own annotation macros, spelled as many runtimes spell them
// and expanding to nothing: none of them may reach the module's objects.
#define RTC_GUARDED_BY(x)
#define RTC_PT_GUARDED_BY(x)
#define RTC_REQUIRES(...)
#define RTC_EXCLUDES(...)
#define RTC_ACQUIRE(...)
#define RTC_RELEASE(...)
#define RTC_CAPABILITY(x)
#define RTC_SCOPED_CAPABILITY

#endif  // ENGINE_RTC_BASE_THREAD_ANNOTATIONS_H_
