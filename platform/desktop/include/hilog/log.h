/*
 * Platform log. Conversions may carry a privacy flag, "%{public}d" or
 * "%{private}s"; the flag is dropped and the rest is an ordinary printf
 * conversion.
 */
#ifndef HILOG_LOG_H
#define HILOG_LOG_H

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    LOG_APP = 0,
} LogType;

typedef enum {
    LOG_DEBUG = 3,
    LOG_INFO = 4,
    LOG_WARN = 5,
    LOG_ERROR = 6,
    LOG_FATAL = 7,
} LogLevel;

/*
 * Formats and emits one log line. Returns the length of the formatted text
 * in bytes, or -1 when nothing was logged (null fmt, a formatting error).
 * A null tag logs under an empty tag.
 */
int OH_LOG_Print(LogType type, LogLevel level, unsigned int domain,
                 const char* tag, const char* fmt, ...)
#if defined(__clang__)
    /* clang checks the conversions, privacy flags included; GCC has no
     * such format kind. */
    __attribute__((__format__(os_log, 5, 6)))
#endif
    ;

#ifdef __cplusplus
}
#endif

#endif /* HILOG_LOG_H */
