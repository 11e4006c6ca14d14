/* Line reading over a VSocket; see lineio.h. */
#include "lineio.h"

#include <string.h>

void LineReaderInit(LineReader *reader, VSocket socket) {
  reader->socket = socket;
  reader->used = 0;
}

/* Moves the first line out of the buffer when a complete one is there:
 * 1 when a line was taken, 0 when none is complete yet, -1 when the line
 * is too long for the caller's buffer. */
static int TakeLine(LineReader *reader, char *line, size_t *length) {
  char *end = memchr(reader->buffer, '\n', reader->used);
  size_t n;
  if (end == NULL) return 0;
  n = (size_t)(end - reader->buffer);
  *length = (n > 0 && reader->buffer[n - 1] == '\r') ? n - 1 : n;
  if (*length > VTECHO_MAX_LINE) return -1;
  memcpy(line, reader->buffer, *length);
  line[*length] = '\0';
  reader->used -= n + 1;
  memmove(reader->buffer, end + 1, reader->used);
  return 1;
}

/* Waits for more bytes and appends them.  A socket that is readable with
 * nothing to read has reached the end of its stream. */
static int Fill(LineReader *reader, VRC *code) {
  uint32_t ready = 0;
  size_t room = sizeof reader->buffer - reader->used;
  VRC rc = VSocketWait(reader->socket, -1);
  if (rc == 0) rc = VSocketGetNRecv(reader->socket, &ready);
  if (rc != 0) {
    *code = rc;
    return LINE_ERROR;
  }
  if (ready == 0) return LINE_END;
  if (ready > room) ready = (uint32_t)room;
  rc = VSocketRecv(reader->socket, reader->buffer + reader->used,
                   (int32_t)ready);
  if (rc == VRC_CONNECTION_CLOSED) return LINE_END;
  if (rc != 0) {
    *code = rc;
    return LINE_ERROR;
  }
  reader->used += ready;
  return LINE_OK;
}

int LineReaderNext(LineReader *reader, char *line, size_t *length, VRC *code) {
  for (;;) {
    int status = TakeLine(reader, line, length);
    if (status > 0) return LINE_OK;
    if (status < 0) return LINE_TOO_LONG;
    if (reader->used > VTECHO_MAX_LINE) return LINE_TOO_LONG;
    status = Fill(reader, code);
    if (status != LINE_OK) return status;
  }
}

VRC SendLine(VSocket socket, const char *text, size_t length) {
  return VSocketSendVa(socket, text, (int)length, "\n", 1, (void *)0);
}
