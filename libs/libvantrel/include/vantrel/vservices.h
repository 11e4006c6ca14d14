/* Library start-up, the program's identity and the installation paths.
 *
 * VInitialise is the first call of every program that uses the library.
 * The other calls answer questions about the process and its installation;
 * every string they return is a constant owned by the library, never freed
 * by the caller.
 *
 * Environment (read on the first call, then kept; unset: the default in
 * brackets):
 *   VTHOME      the product family's installation home [the home fixed
 *               when the library was configured, <libdir>/vantrel].
 *   KESSHOME    the product's own home [Kessaly below that default].
 *   VTPLATFORM  the platform name used in directory names ["linux"].
 * VInitialise sets LC_ALL when it is unset (see vi18n.h), reads the log
 * settings of vlog.h and VDE_SOCKET_IPDRV_NAME (see vsocket.h). */
#ifndef VANTREL_VSERVICES_H
#define VANTREL_VSERVICES_H

#include "vantrel/vbase.h"

/* Lets the compiler warn about a path list without its closing null. */
#ifndef VANTREL_SENTINEL
#if defined(__GNUC__) && __GNUC__ >= 4
#define VANTREL_SENTINEL __attribute__((sentinel))
#else
#define VANTREL_SENTINEL
#endif
#endif

VANTREL_BEGIN_DECLS

/* Starts the library, in this order: the C library's locale from the
 * user's environment, localisation (VI18nInitialize, VI18nSetLangCode, the
 * default locale and the "libvantrel" catalog, whose absence is tolerated),
 * the built-in return-code texts, the thread subsystem with the record
 * "MAIN" for the calling thread, the log manager writing to
 * log_destination, and the socket layer with its IP driver module (see
 * vsocket.h: a driver that cannot be loaded is logged as a warning and
 * leaves the address functions without a driver; it does not fail
 * start-up).  app_name is kept, not copied: it must outlive the process's
 * use of the library.
 * Returns 0, or the code of the first step that failed (ENOMEM (12) when
 * memory runs out, VRC_FAILURE (-19) when LC_ALL cannot be set or the log
 * manager cannot start, a socket error number when the system is out of
 * sockets or buffers while probing IPv6).  Even then the built-in return-code texts are registered, so
 * VRCToString can render the code.  Steps already done are kept and a later
 * call runs the sequence again.  Once a call has succeeded, further calls
 * return 0 at once and change nothing (their application name is ignored). */
VANTREL_API VRC VInitialise(const char *app_name, const char *log_destination);

/* Does nothing: the library keeps its state until the process ends. */
VANTREL_API void VShutdown(void);

/* The application name given to VInitialise, or null before it. */
VANTREL_API const char *VGetAppName(void);

/* The process name set by VSetProcName, else the application name. */
VANTREL_API const char *VGetProcName(void);

/* Replaces the process name with a copy of name; a null name removes it.
 * Returns 0, or ENOMEM (12) when the copy cannot be allocated, in which
 * case no process name is set.  Not synchronised with VGetProcName. */
VANTREL_API VRC VSetProcName(const char *name);

/* The installation homes, worked out on the first call and then kept: the
 * environment variable VTHOME (KESSHOME), else the home fixed when the
 * library was built (KESSHOME's default is "Kessaly" below it); one
 * trailing '/' is removed.  Never null. */
VANTREL_API const char *VGetVTHOME(void);
VANTREL_API const char *VGetKESSHOME(void);

/* Names of the standard subdirectories of a home, relative, to be joined
 * to a home by the caller: "BIN", "DLL", "ETC", "VAR", "LOG", "GATES", and
 * "PROBES", "MONITORS" and "TSM" followed by '/' and the platform name
 * ("PROBES/linux"). */
VANTREL_API const char *VGetBinDir(void);
VANTREL_API const char *VGetLibDir(void);
VANTREL_API const char *VGetEtcDir(void);
VANTREL_API const char *VGetVarDir(void);
VANTREL_API const char *VGetLogDir(void);
VANTREL_API const char *VGetGateDir(void);
VANTREL_API const char *VGetProbeDir(void);
VANTREL_API const char *VGetMonitorDir(void);
VANTREL_API const char *VGetTsmDir(void);

/* The platform name: the environment variable VTPLATFORM when it is set,
 * else "linux".  The first call's answer is kept for the process's life. */
VANTREL_API const char *VGetPlatform(void);

/* The host name, read on the first call and then kept; "localhost" when it
 * cannot be read. */
VANTREL_API const char *VGetHostName(void);

/* Copies first into dest, then appends each further string up to the null
 * that ends the list.  Nothing is inserted between the pieces: callers
 * pass separators as pieces of their own.  dest must be large enough. */
VANTREL_API void VConstructPath(char *dest, const char *first,
                                ...) VANTREL_SENTINEL;

/* As VConstructPath, writing at most size bytes including the terminating
 * NUL.  Returns 0 when the whole path fits, or VRC_FAILURE (-19) when it
 * had to be cut to size - 1 characters; dest is terminated either way
 * (a size of 0 writes nothing and returns VRC_FAILURE (-19)). */
VANTREL_API VRC VConstructPathWithLength(char *dest, uint32_t size,
                                         const char *first,
                                         ...) VANTREL_SENTINEL;

VANTREL_END_DECLS

#endif /* VANTREL_VSERVICES_H */
