/* vb_buffer: a growable, terminated string buffer held by the caller.
 *
 * The record lives in the caller's storage (usually on the stack); only the
 * data area is allocated, through the buffer's allocate function, and
 * replaced areas go back through its release function.  Capacity starts at
 * 128 bytes and doubles.  Content may hold zero bytes (vb_append,
 * vb_strncat): length, not the first zero, is its size.  Except after
 * vb_append, data[length] is a terminating zero whenever data is not null.
 * A failed append leaves the content unchanged; the line readers keep what
 * they read before a failure.  Nothing here locks. */
#ifndef VANTREL_VSTRBUF_H
#define VANTREL_VSTRBUF_H

#include <stdarg.h>
#include <stdio.h>

#include "vantrel/vbase.h"

VANTREL_BEGIN_DECLS

/* The buffer record, in the caller's storage; set it up with vb_init. */
typedef struct vb_buffer {
  char *data;           /* null until the first growth */
  uint32_t capacity;    /* bytes allocated for data; 0 while null */
  uint32_t length;      /* bytes in use, terminator not counted */
  VAllocFunc allocate;  /* used for every growth */
  VReleaseFunc release; /* releases replaced and finished data areas */
} vb_buffer;

/* vb_init_with with malloc and free. */
VANTREL_API void vb_init(vb_buffer *buffer);
/* Empty buffer without a data area that grows with allocate and release;
 * a null allocate or release stands for malloc or free. */
VANTREL_API void vb_init_with(vb_buffer *buffer, VAllocFunc allocate,
                              VReleaseFunc release);
/* Releases the data area and leaves the buffer empty with the same two
 * functions, ready for reuse without a new vb_init. */
VANTREL_API void vb_free(vb_buffer *buffer);

/* Appends text.  0, or ENOMEM (12) when the data area cannot grow. */
VANTREL_API VRC vb_strcat(vb_buffer *buffer, const char *text);
/* Appends exactly count bytes: the text's first count characters, padded
 * with zeros when it is shorter; then terminates.  0 or ENOMEM (12). */
VANTREL_API VRC vb_strncat(vb_buffer *buffer, const char *text, size_t count);
/* Appends count raw bytes without terminating them (bytes may be null when
 * count is 0).  0 or ENOMEM (12). */
VANTREL_API VRC vb_append(vb_buffer *buffer, const void *bytes, size_t count);
/* Appends printf-formatted text, "%m" showing the caller's errno.  0, ENOMEM
 * (12), or the error number the C formatter leaves when it rejects the format
 * (EINVAL when that is 0); the content is then unchanged. */
VANTREL_API VRC vb_sprintf(vb_buffer *buffer, const char *format, ...)
    VANTREL_PRINTF(2, 3);
VANTREL_API VRC vb_vsprintf(vb_buffer *buffer, const char *format, va_list args)
    VANTREL_PRINTF(2, 0);
/* Sets the length to n: cuts the content, or pads it with spaces when n is
 * greater.  0, ENOMEM (12), or EINVAL (22) for a negative n. */
VANTREL_API VRC vb_strtrunc(vb_buffer *buffer, int32_t n);
/* Appends one line from the stream, its line feed included.  Returns 0
 * after a line feed or at end of file; ENOMEM (12) when the buffer cannot grow (the
 * byte that did not fit is pushed back onto the stream); or the C
 * library's error number after a read error.  In every case the bytes read
 * before stay, terminated. */
VANTREL_API VRC vb_fgets(vb_buffer *buffer, FILE *stream);
/* vb_fgets reading single bytes from a file descriptor.  Room is made
 * before each read, so a 12 loses no byte. */
VANTREL_API VRC vb_reads(vb_buffer *buffer, int descriptor);
/* The terminated content; allocates the first 128-byte area of an empty
 * buffer.  Null when that allocation fails. */
VANTREL_API char *vb_strval(vb_buffer *buffer);
/* Bytes of content, the terminator not counted. */
VANTREL_API uint32_t vb_strlen(const vb_buffer *buffer);
/* Bytes allocated for the data area; 0 while there is none. */
VANTREL_API uint32_t vb_strsize(const vb_buffer *buffer);

VANTREL_END_DECLS

#endif /* VANTREL_VSTRBUF_H */
