// File-descriptor reads for portable units, which never include the
// system's descriptor headers themselves.
#ifndef VANTREL_PLATFORM_FILEIO_H
#define VANTREL_PLATFORM_FILEIO_H

namespace vantrel::internal {

// Reads one byte from the descriptor into *byte.  Returns 1 when a byte was
// read, 0 at end of file, or -1 after a read error with errno set.  An
// interrupted read is retried.
int FdReadByte(int descriptor, unsigned char *byte);

}  // namespace vantrel::internal

#endif  // VANTREL_PLATFORM_FILEIO_H
