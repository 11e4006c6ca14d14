/* Line-at-a-time reading from a connected VSocket, shared by the vtecho
 * server and its client.
 *
 * VSocketRecv receives an exact number of bytes, which suits framed
 * protocols.  A text protocol does not know its line lengths in advance,
 * so the reader waits until the socket is readable, asks how many bytes
 * have arrived (VSocketGetNRecv) and takes exactly those. */
#ifndef VTECHO_LINEIO_H
#define VTECHO_LINEIO_H

#include <stddef.h>
#include <vantrel.h>

/* Longest line either side accepts, without its line end. */
#define VTECHO_MAX_LINE 1024

typedef struct LineReader {
  VSocket socket;
  size_t used; /* bytes in buffer that are not yet handed out */
  char buffer[2 * VTECHO_MAX_LINE];
} LineReader;

/* Results of LineReaderNext. */
enum {
  LINE_OK = 0,       /* a line was stored */
  LINE_END = 1,      /* the peer closed (or we shut the socket down) */
  LINE_TOO_LONG = 2, /* no line end within VTECHO_MAX_LINE bytes */
  LINE_ERROR = 3     /* the socket failed; *code holds the library's code */
};

void LineReaderInit(LineReader *reader, VSocket socket);

/* Stores the next line, without its "\n" (and without a "\r" before it),
 * NUL-terminated, in line, which holds VTECHO_MAX_LINE + 1 bytes; *length
 * receives its length.  Waits as long as it takes.  Returns LINE_... and,
 * for LINE_ERROR, stores the socket layer's code in *code. */
int LineReaderNext(LineReader *reader, char *line, size_t *length, VRC *code);

/* Sends text followed by "\n" in one gathered send.  Returns the code of
 * VSocketSendVa. */
VRC SendLine(VSocket socket, const char *text, size_t length);

#endif /* VTECHO_LINEIO_H */
