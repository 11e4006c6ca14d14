// Drivers for the host's own log services: "syslog://IDENT[?facility=F]"
// writes datagrams to the syslog socket, "journal://IDENT[?facility=F]"
// writes the journal's native datagrams.  Both send each line as one
// datagram from the writing thread, with the level as a syslog priority,
// the catalog message identity and the thread's name.
#ifndef VANTREL_LOG_SYSTEM_LOG_H
#define VANTREL_LOG_SYSTEM_LOG_H

#include "log/log_record.h"

namespace vantrel::internal {

extern const LogDriver kLogSyslogDriver;
extern const LogDriver kLogJournalDriver;

// Registers "syslog" and "journal" once; later calls do nothing.
void LogRegisterSystemSchemes();

// Where the drivers send, for tests: a socket path for each (null puts
// back "/dev/log" and "/run/systemd/journal/socket").  The strings must
// outlive every destination opened with them; destinations already open
// keep their socket.
void LogSetSystemSocketPaths(const char *syslog, const char *journal);

}  // namespace vantrel::internal

#endif  // VANTREL_LOG_SYSTEM_LOG_H
