/* Export and linkage macros shared by every public header of libvantrel. */
#ifndef VANTREL_EXPORT_H
#define VANTREL_EXPORT_H

/* VANTREL_API marks the functions that make up the interface.  Everything
 * else in the library is hidden, so only these names are visible to
 * clients of the shared library. */
#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(VANTREL_BUILDING)
#define VANTREL_API __declspec(dllexport)
#else
#define VANTREL_API __declspec(dllimport)
#endif
#elif defined(__GNUC__) && __GNUC__ >= 4
#define VANTREL_API __attribute__((visibility("default")))
#else
#define VANTREL_API
#endif

/* VANTREL_PRINTF(f, a) marks a printf-like function: parameter f is the
 * format and the values start at parameter a (0 when they come as a
 * va_list), so that the compiler checks each call's arguments against its
 * format.  It expands to nothing for compilers without the attribute. */
#if defined(__GNUC__) || defined(__clang__)
#define VANTREL_PRINTF(f, a) __attribute__((__format__(__printf__, f, a)))
#else
#define VANTREL_PRINTF(f, a)
#endif

#ifdef __cplusplus
#define VANTREL_BEGIN_DECLS extern "C" {
#define VANTREL_END_DECLS }
#else
#define VANTREL_BEGIN_DECLS
#define VANTREL_END_DECLS
#endif

#endif /* VANTREL_EXPORT_H */
