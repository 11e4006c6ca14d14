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

#ifdef __cplusplus
#define VANTREL_BEGIN_DECLS extern "C" {
#define VANTREL_END_DECLS }
#else
#define VANTREL_BEGIN_DECLS
#define VANTREL_END_DECLS
#endif

#endif /* VANTREL_EXPORT_H */
