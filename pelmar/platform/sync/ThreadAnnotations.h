#pragma once

// Lock annotations that clang checks with -Wthread-safety; other compilers see nothing.
//
//   PELMAR_CAPABILITY(name)           a type that is a lock (see pelmar::Mutex)
//   PELMAR_SCOPED_CAPABILITY          a type whose objects hold a lock for their lifetime
//   PELMAR_GUARDED_BY(m)              a member read or written only with `m` held
//   PELMAR_PT_GUARDED_BY(m)           the object a pointer member points to is guarded by `m`
//   PELMAR_REQUIRES(m...)             a function called only with `m` held
//   PELMAR_REQUIRES_SHARED(m...)      a function called only with `m` held, at least for reading
//   PELMAR_EXCLUDES(m...)             a function called only without `m` held (it takes `m`)
//   PELMAR_ACQUIRE(m...)              a function that returns with `m` held
//   PELMAR_ACQUIRE_SHARED(m...)       a function that returns with `m` held for reading
//   PELMAR_RELEASE(m...)              a function that returns with `m` released
//   PELMAR_RELEASE_SHARED(m...)       a function that returns with `m`'s read hold released
//   PELMAR_RELEASE_GENERIC(m...)      as PELMAR_RELEASE, for a scoped lock of either kind
//   PELMAR_TRY_ACQUIRE(ok, m...)      a function that holds `m` when it returns `ok`
//   PELMAR_NO_THREAD_SAFETY_ANALYSIS  a function the analysis skips (say why next to it)

#if defined(__clang__)
#define PELMAR_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define PELMAR_THREAD_ANNOTATION(x)
#endif

#define PELMAR_CAPABILITY(name) PELMAR_THREAD_ANNOTATION(capability(name))
#define PELMAR_SCOPED_CAPABILITY PELMAR_THREAD_ANNOTATION(scoped_lockable)
#define PELMAR_GUARDED_BY(m) PELMAR_THREAD_ANNOTATION(guarded_by(m))
#define PELMAR_PT_GUARDED_BY(m) PELMAR_THREAD_ANNOTATION(pt_guarded_by(m))
#define PELMAR_REQUIRES(...) PELMAR_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define PELMAR_REQUIRES_SHARED(...) \
    PELMAR_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define PELMAR_EXCLUDES(...) PELMAR_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define PELMAR_ACQUIRE(...) PELMAR_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define PELMAR_ACQUIRE_SHARED(...) PELMAR_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define PELMAR_RELEASE_SHARED(...) PELMAR_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define PELMAR_RELEASE_GENERIC(...) \
    PELMAR_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))
#define PELMAR_RELEASE(...) PELMAR_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define PELMAR_TRY_ACQUIRE(...) PELMAR_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define PELMAR_NO_THREAD_SAFETY_ANALYSIS PELMAR_THREAD_ANNOTATION(no_thread_safety_analysis)
