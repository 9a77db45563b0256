#ifndef RTC_BASE_THREAD_ANNOTATIONS_H_
#define RTC_BASE_THREAD_ANNOTATIONS_H_

// Lock annotations that clang's -Wthread-safety checks at compile time: which
// lock guards a member, which lock a function needs held or must not hold,
// and which functions take and give back a lock. Other compilers see nothing.
//
// Where the analysis cannot follow (a lock taken in one function and given
// back in another, a lock reached through a pointer it cannot name), the code
// says why at that place and uses RTC_NO_THREAD_SAFETY_ANALYSIS there alone.

#if defined(__clang__)
#define RTC_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define RTC_THREAD_ANNOTATION(x)
#endif

// On a class: a lock type. On a scope guard: takes a lock for its lifetime.
#define RTC_CAPABILITY(name) RTC_THREAD_ANNOTATION(capability(name))
#define RTC_SCOPED_CAPABILITY RTC_THREAD_ANNOTATION(scoped_lockable)

// On a member: read or written only with `lock` held (the member itself, or
// what it points to).
#define RTC_GUARDED_BY(lock) RTC_THREAD_ANNOTATION(guarded_by(lock))
#define RTC_PT_GUARDED_BY(lock) RTC_THREAD_ANNOTATION(pt_guarded_by(lock))

// On a lock: taken only after (or before) the other ones named.
#define RTC_ACQUIRED_AFTER(...) RTC_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define RTC_ACQUIRED_BEFORE(...) RTC_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))

// On a function: called with the locks held / not held.
#define RTC_REQUIRES(...) RTC_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define RTC_EXCLUDES(...) RTC_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

// On a function: takes / gives back the locks (the object's own when none is
// named); RTC_TRY_ACQUIRE when it returns `result` having taken them.
#define RTC_ACQUIRE(...) RTC_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RTC_RELEASE(...) RTC_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RTC_TRY_ACQUIRE(...) RTC_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))

// On a function: returns the lock named, so callers' annotations can name it.
#define RTC_RETURN_CAPABILITY(lock) RTC_THREAD_ANNOTATION(lock_returned(lock))

// On a function: tells the analysis the lock is held here (checked at run
// time by the caller's own means, or known from the calling thread).
#define RTC_ASSERT_CAPABILITY(lock) RTC_THREAD_ANNOTATION(assert_capability(lock))

// On a function the analysis cannot follow; say why beside it.
#define RTC_NO_THREAD_SAFETY_ANALYSIS RTC_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif  // RTC_BASE_THREAD_ANNOTATIONS_H_
