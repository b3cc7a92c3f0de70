// Clang's thread-safety annotations. Under clang with -Wthread-safety the compiler checks
// that every member marked GUARDED_BY is touched only with its lock held and that functions
// marked REQUIRES are called with it; under other compilers the macros are empty.
#ifndef VENDRITHANE_PLATFORM_THREADANNOTATIONS_H
#define VENDRITHANE_PLATFORM_THREADANNOTATIONS_H

#if defined(__clang__)
#define VD_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VD_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) VD_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY VD_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) VD_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) VD_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) VD_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) VD_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) VD_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) VD_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE(...) VD_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) VD_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define RELEASE(...) VD_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) VD_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define RELEASE_GENERIC(...) VD_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) VD_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) VD_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) VD_THREAD_ANNOTATION(assert_capability(x))
#define ASSERT_SHARED_CAPABILITY(x) VD_THREAD_ANNOTATION(assert_shared_capability(x))
#define RETURN_CAPABILITY(x) VD_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS VD_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif  // VENDRITHANE_PLATFORM_THREADANNOTATIONS_H
