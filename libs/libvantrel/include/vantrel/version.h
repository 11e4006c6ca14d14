/* Version of the libvantrel headers. */
#ifndef VANTREL_VERSION_H
#define VANTREL_VERSION_H

/* The version as numbers and as text; the major number is the shared
 * library's (libvantrel.so.1). */
#define VANTREL_VERSION_MAJOR 1
#define VANTREL_VERSION_MINOR 0
#define VANTREL_VERSION_PATCH 0
#define VANTREL_VERSION_STRING "1.0.0"

#endif /* VANTREL_VERSION_H */
