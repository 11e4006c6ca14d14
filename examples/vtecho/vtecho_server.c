/* vtecho_server: a TCP echo server built the way programs on libvantrel are
 * built.
 *
 *   vtecho_server [-propsfile FILE] [-port N] [-threads N] [-dumpprops]
 *                 [-help]
 *
 * The walk through the library, in the order main takes it:
 *   1. VInitialise starts the library, logging to standard error.
 *   2. A VPropMgr holds the typed settings defined in kProperties; change
 *      callbacks check their values wherever they come from.
 *   3. A VArgMgr binds the options to those settings and processes the
 *      command line: the properties file named by -propsfile first, then
 *      the options, then the decryption of the encrypted AccessToken with
 *      the key file named by ConfigKeyFile.  -dumpprops prints the result
 *      and exits.
 *   4. The log moves to a file that rotates by size (VDE_LOGFILE_MAXSIZE).
 *   5. The server listens on ListenAddress:Port (port 0: a free one) and
 *      prints "vtecho listening on ADDRESS:PORT" on standard output.
 *   6. Each accepted connection becomes a job of a VThreadPool.  A client
 *      first sends "HELLO <token>" and gets "WELCOME" or "DENIED"; then
 *      every line it sends comes back, with the text matching FilterPattern
 *      replaced by FilterReplacement (a VRegexp substitution).  A VTimer
 *      per connection closes it after IdleSeconds of silence.
 *   7. The clock service puts a tick on a VMsgQueue every StatsInterval
 *      seconds; a thread of our own waits on the queue and logs a
 *      statistics line per tick.
 *   8. SIGINT or SIGTERM stops the server: the listener is closed, open
 *      connections are shut down, the pool and the statistics thread are
 *      joined, and everything is released before main returns 0.
 *
 * Exit status: 0 after a clean stop, -help or -dumpprops; 1 when the
 * server cannot start or run; 2 for a bad command line or settings. */
#define _POSIX_C_SOURCE 200809L /* sigaction */

#include <errno.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vantrel.h>

#include "lineio.h"

/* ---- Settings: the properties and the options bound to them. */

/* Cells of the defaults in kProperties.  Texts are copied by the property
 * manager, so pointing at literals is fine; the length word must be the
 * text's length. */
#define INTEGER_CELL(n) (&(const VValue){.integerValue = (n)})
#define BOOLEAN_CELL(b) (&(const VValue){.booleanValue = (b)})
#define TEXT_CELL(s) \
  (&(const VValue){.stringValue = {(char *)(s), sizeof(s) - 1}})

static const VPropTableRow kProperties[] = {
    {"PropsFile", "Properties file read at start-up", "Service", VDT_STRING,
     TEXT_CELL("vtecho.properties"), VPROP_FLAG_NOWRITE},
    {"Help", "Show the options and exit", "Service", VDT_BOOLEAN,
     BOOLEAN_CELL(0), VPROP_FLAG_NOWRITE},
    {"DumpProps", "Print the settings and exit", "Service", VDT_BOOLEAN,
     BOOLEAN_CELL(0), VPROP_FLAG_NOWRITE},
    {"ListenAddress", "Numeric address or host name to listen on", "Network",
     VDT_STRING, TEXT_CELL("127.0.0.1"), 0},
    {"Port", "TCP port to listen on; 0 picks a free one", "Network",
     VDT_INTEGER, INTEGER_CELL(0), 0},
    {"Threads", "Worker threads serving connections", "Service", VDT_INTEGER,
     INTEGER_CELL(4), 0},
    {"IdleSeconds", "Seconds of silence after which a connection is closed",
     "Service", VDT_INTEGER, INTEGER_CELL(30), 0},
    {"StatsInterval", "Seconds between two statistics lines in the log",
     "Service", VDT_INTEGER, INTEGER_CELL(10), 0},
    {"FilterPattern",
     "Extended regular expression; matching text is redacted before echoing",
     "Filter", VDT_STRING, TEXT_CELL("(password|secret)=[^ ]+"), 0},
    {"FilterReplacement",
     "Replaces each match of FilterPattern; & is the match, \\1 a group",
     "Filter", VDT_STRING, TEXT_CELL("\\1=*****"), 0},
    /* Never written out, so -dumpprops does not show the decrypted value. */
    {"AccessToken", "Token a client sends first (encrypted with vtcrypt)",
     "Security", VDT_STRING, TEXT_CELL(""), VPROP_FLAG_NOWRITE},
    {"LogFile", "Log file, rotated by size; empty: standard error", "Log",
     VDT_STRING, TEXT_CELL(""), 0},
    {"LogLevel", "Lowest level logged: debug, info, warn, error or fatal",
     "Log", VDT_STRING, TEXT_CELL("info"), 0},
    {"LogMaxSize", "Bytes after which LogFile is renamed LogFile_old; 0 never",
     "Log", VDT_INTEGER, INTEGER_CELL(1048576), 0},
};

/* The help texts are printf formats applied to the property's value. */
static const VArgTableRow kOptions[] = {
    {"-propsfile", "PropsFile", "FILE  read the settings from FILE (%s)",
     VARG_KIND_VALUE, VDT_STRING, NULL, 0},
    {"-port", "Port", "N     listen on port N, 0 for a free one (%d)",
     VARG_KIND_VALUE, VDT_INTEGER, NULL, 0},
    {"-threads", "Threads", "N     serve connections with N threads (%d)",
     VARG_KIND_VALUE, VDT_INTEGER, NULL, 0},
    {"-help", "Help", "      show this text and exit", VARG_KIND_SWITCH,
     VDT_BOOLEAN, BOOLEAN_CELL(1), 0},
    /* The library does the dumping; defining the option only keeps it from
     * being reported as an undefined argument and lists it in the help. */
    {"-dumpprops", "DumpProps", "      print the settings and exit",
     VARG_KIND_SWITCH, VDT_BOOLEAN, BOOLEAN_CELL(1), 0},
};

#define COUNT(array) ((int32_t)(sizeof(array) / sizeof((array)[0])))

/* The settings as main uses them, read once after processing. */
typedef struct Settings {
  char *listenAddress;
  int32_t port;
  int32_t threads;
  int32_t idleSeconds;
  int32_t statsInterval;
  char *filterPattern;
  char *filterReplacement;
  char *accessToken;
  char *logFile;
  char *logLevel;
  int32_t logMaxSize;
} Settings;

/* ---- The server's state. */

typedef struct Connection Connection;

/* Updated by every worker; read by the statistics thread. */
typedef struct Counters {
  atomic_ullong accepted;
  atomic_int active;
  atomic_ullong lines;
  atomic_ullong bytes;
  atomic_ullong filtered;
  atomic_ullong idleClosed;
  atomic_ullong denied;
  atomic_int statisticsLines;
} Counters;

typedef struct Server {
  Settings settings;
  VPropMgr properties;
  VArgMgr arguments;
  VSocket listener;
  VThreadPool pool;
  VMsgQueue ticks;
  VThread statisticsThread;
  VMutex lock;             /* guards connections and stopping */
  Connection *connections; /* being served now */
  int stopping;
  Counters counters;
} Server;

struct Connection {
  Server *server;
  unsigned long long id;
  VSocket socket;
  VTimer idleTimer;
  atomic_int idle; /* set by the idle timer before it shuts the socket */
  VRegexp filter;  /* one per connection: a handle keeps its last match */
  Connection *prev;
  Connection *next;
  char peer[VSOCKET_IPADDR_ADDRESS_SIZE + 8];
  LineReader reader;
  char line[VTECHO_MAX_LINE + 1];
  char *scratch; /* the redacted line */
  size_t scratchSize;
};

/* File scope rather than main's frame: -dumpprops ends the process inside
 * VArgMgrProcess, and leak checkers then still find every block reachable
 * from here. */
static Server g_server;

/* Set by the signal handler, polled by the accept loop. */
static volatile sig_atomic_t g_stopRequested;

/* ---- Small helpers. */

/* Messages of our own carry no catalog number: number 0 of the set of
 * their level. */
#define LOG_INFO(...) VLog(VLOG_INFO, 0, NULL, VLOG_SET_INFO, 0, __VA_ARGS__)
#define LOG_WARN(...) VLog(VLOG_WARN, 0, NULL, VLOG_SET_WARN, 0, __VA_ARGS__)
#define LOG_ERROR(...) VLog(VLOG_ERROR, 0, NULL, VLOG_SET_ERROR, 0, __VA_ARGS__)

/* The integer value of a property (0 when it cannot be read). */
static int32_t GetInteger(VPropMgr properties, const char *name) {
  VTypedValue value;
  if (VPropMgrGetValue(properties, name, &value) != 0) return 0;
  return value.value.integerValue;
}

static int GetBoolean(VPropMgr properties, const char *name) {
  VTypedValue value;
  if (VPropMgrGetValue(properties, name, &value) != 0) return 0;
  return value.value.booleanValue != 0;
}

/* A copy of a text property, the caller's to free; null without memory. */
static char *GetText(VPropMgr properties, const char *name) {
  VTypedValue value;
  if (VPropMgrGetValue(properties, name, &value) != 0) return NULL;
  if (value.value.stringValue.text == NULL) return calloc(1, 1);
  return value.value.stringValue.text;
}

/* Compares in time independent of where the texts differ, so that a client
 * cannot find the token a character at a time. */
static int TokensEqual(const char *a, const char *b) {
  size_t length = strlen(a);
  unsigned char difference = (unsigned char)(length != strlen(b));
  size_t i;
  if (difference) return 0;
  for (i = 0; i < length; i++) {
    difference |= (unsigned char)(a[i] ^ b[i]);
  }
  return difference == 0;
}

/* ---- Checking settings.  Change callbacks run whenever a value is set,
 * from the file or from the command line, before it is stored; a non-zero
 * result refuses the value and makes the reader report the file and line. */

typedef struct Range {
  int32_t low;
  int32_t high;
} Range;

static Range kPortRange = {0, 65535};
static Range kThreadRange = {1, 64};
static Range kSecondsRange = {1, 86400};
static Range kLogSizeRange = {0, 1 << 30};

static VRC CheckRange(VProperty property, const VTypedValue *value,
                      void *argument) {
  const Range *range = argument;
  int32_t v = value->value.integerValue;
  if (v >= range->low && v <= range->high) return 0;
  LOG_ERROR("%s must be between %d and %d, not %d", VPropertyGetName(property),
            range->low, range->high, v);
  return EINVAL;
}

/* A pattern that does not compile is refused here rather than at the
 * first connection. */
static VRC CheckPattern(VProperty property, const VTypedValue *value,
                        void *argument) {
  VRegexp re;
  VRC rc = VRegexpCompile(value->value.stringValue.text, &re);
  (void)argument;
  if (rc != 0) {
    LOG_ERROR("%s is not a valid regular expression: %s",
              VPropertyGetName(property), value->value.stringValue.text);
    return rc;
  }
  VRegexpFree(re);
  return 0;
}

static VRC CheckLogLevel(VProperty property, const VTypedValue *value,
                         void *argument) {
  (void)argument;
  if (VLogLevelFromString(value->value.stringValue.text) > 0) return 0;
  LOG_ERROR("%s must be debug, info, warn, error or fatal",
            VPropertyGetName(property));
  return EINVAL;
}

static VRC AddValidators(VPropMgr properties) {
  VRC rc = VPropMgrAddCallback(properties, "Port", CheckRange, &kPortRange);
  if (rc == 0)
    rc = VPropMgrAddCallback(properties, "Threads", CheckRange, &kThreadRange);
  if (rc == 0)
    rc = VPropMgrAddCallback(properties, "IdleSeconds", CheckRange,
                             &kSecondsRange);
  if (rc == 0)
    rc = VPropMgrAddCallback(properties, "StatsInterval", CheckRange,
                             &kSecondsRange);
  if (rc == 0)
    rc = VPropMgrAddCallback(properties, "LogMaxSize", CheckRange,
                             &kLogSizeRange);
  if (rc == 0)
    rc = VPropMgrAddCallback(properties, "FilterPattern", CheckPattern, NULL);
  if (rc == 0)
    rc = VPropMgrAddCallback(properties, "LogLevel", CheckLogLevel, NULL);
  return rc;
}

/* ---- Configuration. */

static VRC ReadSettings(VPropMgr properties, Settings *s) {
  s->port = GetInteger(properties, "Port");
  s->threads = GetInteger(properties, "Threads");
  s->idleSeconds = GetInteger(properties, "IdleSeconds");
  s->statsInterval = GetInteger(properties, "StatsInterval");
  s->logMaxSize = GetInteger(properties, "LogMaxSize");
  s->listenAddress = GetText(properties, "ListenAddress");
  s->filterPattern = GetText(properties, "FilterPattern");
  s->filterReplacement = GetText(properties, "FilterReplacement");
  s->accessToken = GetText(properties, "AccessToken");
  s->logFile = GetText(properties, "LogFile");
  s->logLevel = GetText(properties, "LogLevel");
  if (s->listenAddress == NULL || s->filterPattern == NULL ||
      s->filterReplacement == NULL || s->accessToken == NULL ||
      s->logFile == NULL || s->logLevel == NULL) {
    return ENOMEM;
  }
  return 0;
}

static void FreeSettings(Settings *s) {
  free(s->listenAddress);
  free(s->filterPattern);
  free(s->filterReplacement);
  /* The token is a secret: leave no copy of it in freed memory. */
  if (s->accessToken != NULL) {
    memset(s->accessToken, 0, strlen(s->accessToken));
  }
  free(s->accessToken);
  free(s->logFile);
  free(s->logLevel);
  memset(s, 0, sizeof *s);
}

/* The token must have been decrypted: a value still in the encrypted form
 * means no key file was configured, and a plain one belongs in no file. */
static int CheckToken(Server *server) {
  const char *token = server->settings.accessToken;
  VProperty property = VPropMgrFind(server->properties, "AccessToken");
  if (token[0] == '\0') {
    LOG_WARN("AccessToken is empty: clients are not asked for a token");
  } else if (VDataCryptTestData(token, strlen(token))) {
    LOG_ERROR("AccessToken is encrypted but no ConfigKeyFile decrypts it");
    return 0;
  } else if (!VPropertyWasEncrypted(property)) {
    LOG_WARN("AccessToken is not encrypted; make it with vtcrypt encrypt");
  }
  return 1;
}

/* Processes the command line.  Returns -1 to go on and run, or the exit
 * status. */
static int Configure(Server *server, int argc, char **argv) {
  VThread self = VThreadGetID();
  VRC rc = VPropMgrCreateWithFlags(&server->properties, 0);
  if (rc == 0) {
    rc = VPropMgrTableDefine(server->properties, kProperties,
                             COUNT(kProperties));
  }
  if (rc == 0) rc = AddValidators(server->properties);
  if (rc == 0) rc = VArgMgrCreate(server->properties, &server->arguments);
  if (rc == 0) {
    rc = VArgMgrTableDefine(server->arguments, kOptions, COUNT(kOptions));
  }
  if (rc != 0) {
    LOG_ERROR("cannot define the settings: %s", VRCToString(rc));
    return 1;
  }
  /* The properties file, the options, then decryption; the library has
   * logged the file and line of a value it refused. */
  rc = VArgMgrProcess(server->arguments, argc, argv);
  if (rc != 0) {
    LOG_ERROR("invalid settings: %s", VRCToString(rc));
    return 2;
  }
  /* Words that name no option leave an exception chain on this thread. */
  if (VThreadExceptionRaised(self)) {
    VThreadExceptionPrint(self, stderr);
    VThreadExceptionClear(self);
    (void)VArgHelp(server->arguments, argv[0]);
    return 2;
  }
  if (GetBoolean(server->properties, "Help")) {
    (void)VArgHelp(server->arguments, argv[0]);
    return 0;
  }
  rc = ReadSettings(server->properties, &server->settings);
  if (rc != 0) {
    LOG_ERROR("cannot read the settings: %s", VRCToString(rc));
    return 1;
  }
  return CheckToken(server) ? -1 : 2;
}

/* Moves the log to its file.  The file driver reads VDE_LOGFILE_MAXSIZE at
 * every write, so setting it here is enough to rotate by size. */
static VRC StartLogging(const Settings *s) {
  VRC rc = 0;
  if (s->logFile[0] != '\0') {
    char size[16];
    snprintf(size, sizeof size, "%d", (int)s->logMaxSize);
    rc = VEnvSet("VDE_LOGFILE_MAXSIZE", size);
    if (rc == 0) rc = VLogMgrSwitch(s->logFile);
  }
  if (rc == 0) rc = VLogMgrSetLevelFromString(s->logLevel);
  return rc;
}

/* ---- Statistics: clock ticks on a message queue. */

static void LogStatistics(Server *server, const char *heading) {
  Counters *c = &server->counters;
  LOG_INFO(
      "%s: connections %llu, active %d, lines %llu, bytes %llu, "
      "filtered %llu, idle closed %llu, denied %llu",
      heading, atomic_load(&c->accepted), atomic_load(&c->active),
      atomic_load(&c->lines), atomic_load(&c->bytes), atomic_load(&c->filtered),
      atomic_load(&c->idleClosed), atomic_load(&c->denied));
}

/* A tick carries the time it was sent; the clock never sends 0, which
 * therefore asks the thread to stop. */
static VRC StatisticsThread(VThread self, void *argument) {
  Server *server = argument;
  void *message = NULL;
  (void)self;
  while (VMsgQueueGet(server->ticks, &message, VMSGQUEUE_WAIT) == 0 &&
         message != NULL) {
    LogStatistics(server, "statistics");
    atomic_fetch_add(&server->counters.statisticsLines, 1);
  }
  return 0;
}

static VRC StartStatistics(Server *server) {
  VThreadAttr attributes = {VTHREAD_ATTR_JOINABLE | VTHREAD_ATTR_STACK_SIZE,
                            256u * 1024u};
  VRC rc = VMsgQueueCreate(&server->ticks);
  if (rc != 0) return rc;
  rc = VClockStart();
  if (rc == 0) {
    rc = VClockAddMsgQueue(server->ticks, server->settings.statsInterval);
    if (rc == 0) {
      rc = VThreadSpawn("STATS", StatisticsThread, server, &attributes,
                        &server->statisticsThread);
      if (rc == 0) return 0;
      (void)VClockRemoveMsgQueue(server->ticks);
    }
    (void)VClockStop();
  }
  (void)VMsgQueueDestroy(server->ticks, VClockMsgQueueFree, NULL);
  server->ticks = NULL;
  return rc;
}

static void StopStatistics(Server *server) {
  /* No tick arrives once the queue is removed, so the stop message is the
   * last one the thread reads. */
  (void)VClockRemoveMsgQueue(server->ticks);
  if (VMsgQueuePut(server->ticks, NULL) != 0) {
    LOG_ERROR("cannot stop the statistics thread");
    return;
  }
  (void)VThreadDestroy(server->statisticsThread);
  (void)VMsgQueueDestroy(server->ticks, VClockMsgQueueFree, NULL);
  (void)VClockStop();
  server->ticks = NULL;
}

/* ---- Connections. */

/* Runs on the "TIMER" thread: shutting the socket down makes the worker's
 * wait return with the end of the stream, and the worker closes it. */
static VRC IdleTimerFired(void *data) {
  Connection *connection = data;
  atomic_store(&connection->idle, 1);
  (void)VSocketShutdown(connection->socket);
  return 0;
}

static void DescribePeer(Connection *connection) {
  VSocketIPAddrHdl address;
  char text[VSOCKET_IPADDR_ADDRESS_SIZE];
  strcpy(connection->peer, "?");
  if (VSocketIPAddrGetPeerName(connection->socket, &address) != 0) return;
  if (VSocketIPAddrGetAddress(address, text) == 0) {
    snprintf(connection->peer, sizeof connection->peer, "%s:%u", text,
             (unsigned)VSocketIPAddrGetPort(address));
  }
  VSocketIPAddrHdlDestroy(address);
}

/* Adds the connection to those served, unless the server is stopping. */
static int Register(Connection *connection) {
  Server *server = connection->server;
  int registered = 0;
  (void)VMutexLock(server->lock);
  if (!server->stopping) {
    connection->next = server->connections;
    if (server->connections != NULL) server->connections->prev = connection;
    server->connections = connection;
    registered = 1;
  }
  (void)VMutexUnlock(server->lock);
  return registered;
}

static void Unregister(Connection *connection) {
  Server *server = connection->server;
  (void)VMutexLock(server->lock);
  if (connection->prev != NULL) {
    connection->prev->next = connection->next;
  } else {
    server->connections = connection->next;
  }
  if (connection->next != NULL) connection->next->prev = connection->prev;
  (void)VMutexUnlock(server->lock);
}

/* Reads "HELLO <token>" and answers.  Returns 1 when the client may go on. */
static int Authenticate(Connection *connection) {
  const char *token = connection->server->settings.accessToken;
  size_t length;
  VRC code = 0;
  int welcome;
  if (LineReaderNext(&connection->reader, connection->line, &length, &code) !=
      LINE_OK) {
    return 0;
  }
  welcome = strncmp(connection->line, "HELLO ", 6) == 0 &&
            (token[0] == '\0' || TokensEqual(connection->line + 6, token));
  /* The line held the token: do not leave it in the buffer. */
  memset(connection->line, 0, length);
  if (!welcome) {
    atomic_fetch_add(&connection->server->counters.denied, 1);
    LOG_WARN("connection %llu from %s: wrong token, denied", connection->id,
             connection->peer);
    (void)SendLine(connection->socket, "DENIED", 6);
    return 0;
  }
  return SendLine(connection->socket, "WELCOME", 7) == 0;
}

/* Makes room for size bytes of redacted text. */
static int Reserve(Connection *connection, size_t size) {
  char *bigger;
  if (size <= connection->scratchSize) return 1;
  bigger = realloc(connection->scratch, size);
  if (bigger == NULL) return 0;
  connection->scratch = bigger;
  connection->scratchSize = size;
  return 1;
}

/* Replaces every match of the filter in line by the expanded replacement,
 * searching again after each match (so ^ also anchors at those points).
 * Returns the text to echo: line itself when nothing matched, the redacted
 * copy otherwise, or null without memory.  *length receives its length. */
static const char *Redact(Connection *connection, const char *line,
                          size_t *length, int *redacted) {
  const char *replacement = connection->server->settings.filterReplacement;
  size_t replacementLength = strlen(replacement);
  const char *rest = line;
  size_t used = 0;
  *redacted = 0;
  while (*rest != '\0' && VRegexpMatch(connection->filter, rest) == 0) {
    const char *from = connection->filter->start[0];
    const char *to = connection->filter->end[0];
    /* Each character of the replacement expands to at most the match. */
    size_t expansion = replacementLength * ((size_t)(to - from) + 1);
    if (!Reserve(connection,
                 used + (size_t)(from - rest) + expansion + strlen(to) + 2)) {
      return NULL;
    }
    memcpy(connection->scratch + used, rest, (size_t)(from - rest));
    used += (size_t)(from - rest);
    (void)VRegexpSubst(connection->filter, replacement,
                       connection->scratch + used);
    used += strlen(connection->scratch + used);
    /* An empty match would be found again at the same place. */
    if (to == from) connection->scratch[used++] = *to++;
    rest = to;
    *redacted = 1;
  }
  if (!*redacted) {
    *length = strlen(line);
    return line;
  }
  *length = used + strlen(rest);
  memcpy(connection->scratch + used, rest, strlen(rest) + 1);
  return connection->scratch;
}

/* Echoes lines until the client goes, the idle timer or a stop shuts the
 * socket, or something fails.  Returns why it stopped, for the log. */
static const char *EchoLines(Connection *connection) {
  Server *server = connection->server;
  for (;;) {
    size_t length;
    VRC code = 0;
    int redacted;
    const char *reply;
    int status =
        LineReaderNext(&connection->reader, connection->line, &length, &code);
    if (status == LINE_TOO_LONG) return "after a line too long";
    if (status == LINE_ERROR) return "after a socket error";
    if (status == LINE_END) {
      if (atomic_load(&connection->idle)) return "idle";
      return "by the client";
    }
    (void)VTimerSet(connection->idleTimer, server->settings.idleSeconds);
    reply = Redact(connection, connection->line, &length, &redacted);
    if (reply == NULL) return "for want of memory";
    atomic_fetch_add(&server->counters.lines, 1);
    atomic_fetch_add(&server->counters.bytes, length + 1);
    if (redacted) atomic_fetch_add(&server->counters.filtered, 1);
    if (SendLine(connection->socket, reply, length) != 0) {
      return "after a failed send";
    }
  }
}

static void ReleaseConnection(Connection *connection) {
  /* The timer goes first: once VTimerDestroy returns its handler is not
   * running, so it cannot shut down a descriptor that was reused. */
  if (connection->idleTimer != NULL) (void)VTimerDestroy(connection->idleTimer);
  (void)VSocketClose(connection->socket);
  VRegexpFree(connection->filter);
  free(connection->scratch);
  free(connection);
}

/* A job of the pool: serves one connection from greeting to close. */
static VRC ServeConnection(void *argument) {
  Connection *connection = argument;
  Server *server = connection->server;
  if (Register(connection)) {
    const char *reason = "after a wrong greeting";
    atomic_fetch_add(&server->counters.active, 1);
    LOG_INFO("connection %llu from %s opened", connection->id,
             connection->peer);
    (void)VTimerSet(connection->idleTimer, server->settings.idleSeconds);
    if (Authenticate(connection)) reason = EchoLines(connection);
    if (strcmp(reason, "idle") == 0) {
      atomic_fetch_add(&server->counters.idleClosed, 1);
      LOG_INFO("connection %llu closed after %d idle seconds", connection->id,
               (int)server->settings.idleSeconds);
    } else {
      LOG_INFO("connection %llu closed %s", connection->id, reason);
    }
    Unregister(connection);
    atomic_fetch_sub(&server->counters.active, 1);
  }
  ReleaseConnection(connection);
  return 0;
}

static Connection *NewConnection(Server *server, VSocket socket) {
  Connection *connection = calloc(1, sizeof *connection);
  if (connection == NULL) return NULL;
  connection->server = server;
  connection->socket = socket;
  connection->id = atomic_fetch_add(&server->counters.accepted, 1) + 1;
  LineReaderInit(&connection->reader, socket);
  DescribePeer(connection);
  connection->idleTimer = VTimerCreate(IdleTimerFired, connection, "idle");
  if (connection->idleTimer == NULL ||
      VRegexpCompile(server->settings.filterPattern, &connection->filter) !=
          0) {
    ReleaseConnection(connection);
    return NULL;
  }
  return connection;
}

/* Hands an accepted socket to the pool; the pool frees the job. */
static void StartConnection(Server *server, VSocket socket) {
  Connection *connection = NewConnection(server, socket);
  VRC rc;
  if (connection == NULL) {
    LOG_ERROR("out of memory: connection refused");
    (void)VSocketClose(socket);
    return;
  }
  rc = VThreadPoolJobSubmit(server->pool, "connection", ServeConnection,
                            connection, NULL, NULL, VTHREADPOOL_JOB_RELEASE,
                            NULL);
  if (rc != 0) {
    LOG_ERROR("cannot queue the connection: %s", VRCToString(rc));
    ReleaseConnection(connection);
  }
}

/* Shuts down every connection being served; those still queued see
 * `stopping` when their job starts. */
static void StopConnections(Server *server) {
  Connection *connection;
  (void)VMutexLock(server->lock);
  server->stopping = 1;
  for (connection = server->connections; connection != NULL;
       connection = connection->next) {
    (void)VSocketShutdown(connection->socket);
  }
  (void)VMutexUnlock(server->lock);
}

/* ---- Listening and the main loop. */

static VRC Listen(Server *server) {
  const Settings *s = &server->settings;
  uint16_t port = (uint16_t)s->port;
  VRC rc = port == 0 ? VSocketListenAnyPort(s->listenAddress, &port,
                                            &server->listener)
                     : VSocketListen(s->listenAddress, port, &server->listener);
  if (rc != 0) {
    LOG_ERROR("cannot listen on %s:%d: %s", s->listenAddress, (int)s->port,
              VRCToString(rc));
    return rc;
  }
  LOG_INFO("listening on %s:%u with %d threads", s->listenAddress,
           (unsigned)port, (int)s->threads);
  printf("vtecho listening on %s:%u\n", s->listenAddress, (unsigned)port);
  fflush(stdout);
  return 0;
}

/* Waits in short slices: a signal may be delivered to any thread, so the
 * wait itself is not reliably interrupted. */
static void AcceptLoop(Server *server) {
  while (!g_stopRequested) {
    VSocket socket;
    VRC rc = VSocketWait(server->listener, 250);
    if (rc == VRC_TIMEOUT) continue;
    if (rc == 0) rc = VSocketAccept(server->listener, &socket);
    if (rc != 0) {
      if (!g_stopRequested) LOG_WARN("accept failed: %s", VRCToString(rc));
      continue;
    }
    StartConnection(server, socket);
  }
}

static void RequestStop(int number) {
  (void)number;
  g_stopRequested = 1;
}

static void CatchStopSignals(void) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  (void)sigaction(SIGINT, &action, NULL);
  (void)sigaction(SIGTERM, &action, NULL);
}

/* Starts the services, serves until a stop signal, and stops them in the
 * reverse order. */
static int Run(Server *server) {
  VRC rc = VMutexCreate("vtecho connections", &server->lock);
  /* Idle timers count in ticks; a quarter second keeps them close to
   * IdleSeconds without waking the timer thread too often. */
  if (rc == 0) rc = VTimerInit(0.25);
  if (rc == 0) rc = VThreadPoolCreate(server->settings.threads, &server->pool);
  if (rc != 0) {
    LOG_ERROR("cannot start the services: %s", VRCToString(rc));
    if (server->lock != NULL) (void)VMutexDestroy(server->lock);
    return 1;
  }
  rc = StartStatistics(server);
  if (rc == 0) {
    /* Before the port is announced: whoever reads it may signal at once. */
    CatchStopSignals();
    rc = Listen(server);
    if (rc == 0) {
      AcceptLoop(server);
      LOG_INFO("stopping");
      (void)VSocketClose(server->listener);
    }
    StopConnections(server);
  }
  /* Without the flag every queued job runs first; they see `stopping`. */
  (void)VThreadPoolDestroyWithFlags(server->pool, 0);
  if (server->ticks != NULL) StopStatistics(server);
  (void)VMutexDestroy(server->lock);
  if (rc != 0) return 1;
  LogStatistics(server, "final statistics");
  LOG_INFO("stopped after %d statistics lines",
           atomic_load(&server->counters.statisticsLines));
  return 0;
}

static void Release(Server *server) {
  FreeSettings(&server->settings);
  (void)VArgMgrDestroy(server->arguments);
  (void)VPropMgrDestroy(server->properties);
}

int main(int argc, char **argv) {
  Server *server = &g_server;
  int status;
  VRC rc = VInitialise("vtecho", "stderr");
  if (rc != 0) {
    fprintf(stderr, "vtecho: cannot start the library: %s\n", VRCToString(rc));
    return 1;
  }
  server->listener = VSOCKET_INVALID;
  status = Configure(server, argc, argv);
  if (status < 0) {
    rc = StartLogging(&server->settings);
    if (rc != 0) {
      LOG_ERROR("cannot open the log %s: %s", server->settings.logFile,
                VRCToString(rc));
      status = 1;
    } else {
      status = Run(server);
    }
  }
  Release(server);
  return status;
}
