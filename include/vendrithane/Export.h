// Symbol visibility of the public classes. The library is built with hidden visibility;
// only what carries VENDRITHANE_API is exported from libvendrithane.so.
#ifndef VENDRITHANE_EXPORT_H
#define VENDRITHANE_EXPORT_H

#if defined(__GNUC__) || defined(__clang__)
#define VENDRITHANE_API __attribute__((visibility("default")))
#define VENDRITHANE_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VENDRITHANE_API
#define VENDRITHANE_PRINTF(fmt, args)
#endif

#endif  // VENDRITHANE_EXPORT_H
