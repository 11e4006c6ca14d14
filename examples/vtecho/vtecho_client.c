/* vtecho_client: drives a vtecho_server and measures it.
 *
 *   vtecho_client -port N [-host ADDRESS] [-connections N] [-messages N]
 *                 [-tokenfile FILE] [-secretevery N] [-results FILE]
 *                 [-idleprobe] [-help]
 *
 * Opens -connections connections at once, one thread each, greets the
 * server with the token read from -tokenfile, and sends -messages lines in
 * all, each time waiting for the echo and timing the round trip.  Every
 * -secretevery'th line carries "password=..." and "secret=..." and must
 * come back with both redacted; every other line must come back unchanged.
 * Prints the counts and the latency percentiles, and writes them as
 * NAME=VALUE lines to -results.
 *
 * -idleprobe instead opens one connection, greets the server, stays
 * silent and reports how long the server took to close it.
 *
 * Exit status: 0 when every message came back as expected (or the idle
 * connection was closed), 1 otherwise, 2 for a bad command line. */
#define _POSIX_C_SOURCE 200809L /* clock_gettime */

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <vantrel.h>

#include "lineio.h"

#define INTEGER_CELL(n) (&(const VValue){.integerValue = (n)})
#define BOOLEAN_CELL(b) (&(const VValue){.booleanValue = (b)})
#define TEXT_CELL(s) \
  (&(const VValue){.stringValue = {(char *)(s), sizeof(s) - 1}})
#define COUNT(array) ((int32_t)(sizeof(array) / sizeof((array)[0])))

static const VPropTableRow kProperties[] = {
    {"Host", "Server address", NULL, VDT_STRING, TEXT_CELL("127.0.0.1"), 0},
    {"Port", "Server port", NULL, VDT_INTEGER, INTEGER_CELL(0), 0},
    {"Connections", "Connections at once", NULL, VDT_INTEGER, INTEGER_CELL(4),
     0},
    {"Messages", "Lines to send in all", NULL, VDT_INTEGER, INTEGER_CELL(400),
     0},
    {"TokenFile", "File holding the access token", NULL, VDT_STRING,
     TEXT_CELL(""), 0},
    {"SecretEvery", "Every how many lines one carries a password", NULL,
     VDT_INTEGER, INTEGER_CELL(10), 0},
    {"Results", "File for the NAME=VALUE results", NULL, VDT_STRING,
     TEXT_CELL(""), 0},
    {"IdleProbe", "Measure the idle timeout instead", NULL, VDT_BOOLEAN,
     BOOLEAN_CELL(0), 0},
    {"Help", "Show the options", NULL, VDT_BOOLEAN, BOOLEAN_CELL(0), 0},
};

static const VArgTableRow kOptions[] = {
    {"-host", "Host", "ADDRESS  server address (%s)", VARG_KIND_VALUE,
     VDT_STRING, NULL, 0},
    {"-port", "Port", "N        server port", VARG_KIND_VALUE, VDT_INTEGER,
     NULL, 0},
    {"-connections", "Connections", "N        connections at once (%d)",
     VARG_KIND_VALUE, VDT_INTEGER, NULL, 0},
    {"-messages", "Messages", "N        lines to send in all (%d)",
     VARG_KIND_VALUE, VDT_INTEGER, NULL, 0},
    {"-tokenfile", "TokenFile", "FILE     read the access token from FILE",
     VARG_KIND_VALUE, VDT_STRING, NULL, 0},
    {"-secretevery", "SecretEvery",
     "N        every N'th line carries a password (%d)", VARG_KIND_VALUE,
     VDT_INTEGER, NULL, 0},
    {"-results", "Results", "FILE     write NAME=VALUE results to FILE",
     VARG_KIND_VALUE, VDT_STRING, NULL, 0},
    {"-idleprobe", "IdleProbe", "         measure the idle timeout instead",
     VARG_KIND_SWITCH, VDT_BOOLEAN, BOOLEAN_CELL(1), 0},
    {"-help", "Help", "         show this text", VARG_KIND_SWITCH, VDT_BOOLEAN,
     BOOLEAN_CELL(1), 0},
};

typedef struct Settings {
  char *host;
  int32_t port;
  int32_t connections;
  int32_t messages;
  int32_t secretEvery;
  char *resultsFile;
  int32_t idleProbe;
  char token[256];
} Settings;

/* One connection's work and what it measured. */
typedef struct Session {
  const Settings *settings;
  int index;
  int messages;    /* to send */
  double *latency; /* microseconds, one per echoed line */
  int echoed;
  int redacted;
  int errors;
  int denied;
  unsigned long long bytesSent;
  unsigned long long bytesReceived;
  VThread thread;
} Session;

/* Totals over all sessions. */
typedef struct Totals {
  int echoed;
  int redacted;
  int errors;
  int denied;
  unsigned long long bytesSent;
  unsigned long long bytesReceived;
  double p50, p90, p99, max;
} Totals;

static VPropMgr g_properties;
static VArgMgr g_arguments;

/* Round trips are tens of microseconds on loopback, so they are timed with
 * the monotonic clock directly: the library's time of day has millisecond
 * resolution and follows changes of the wall clock. */
static double NowMicroseconds(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec * 1e6 + (double)now.tv_nsec / 1e3;
}

/* ---- Settings. */

static int32_t GetInteger(const char *name) {
  VTypedValue value;
  if (VPropMgrGetValue(g_properties, name, &value) != 0) return 0;
  return value.value.integerValue;
}

static int GetBoolean(const char *name) {
  VTypedValue value;
  if (VPropMgrGetValue(g_properties, name, &value) != 0) return 0;
  return value.value.booleanValue != 0;
}

static char *GetText(const char *name) {
  VTypedValue value;
  if (VPropMgrGetValue(g_properties, name, &value) != 0) return NULL;
  if (value.value.stringValue.text == NULL) return calloc(1, 1);
  return value.value.stringValue.text;
}

/* The token is the file's first line. */
static int ReadToken(const char *path, char *token, size_t size) {
  FILE *file;
  token[0] = '\0';
  if (path[0] == '\0') return 1;
  file = fopen(path, "r");
  if (file == NULL) {
    fprintf(stderr, "vtecho_client: cannot read %s: %s\n", path,
            strerror(errno));
    return 0;
  }
  if (fgets(token, (int)size, file) == NULL) token[0] = '\0';
  token[strcspn(token, "\r\n")] = '\0';
  fclose(file);
  return 1;
}

/* Returns -1 to go on, or the exit status. */
static int Configure(Settings *s, int argc, char **argv) {
  char *tokenFile;
  int ok;
  VRC rc = VPropMgrCreateWithFlags(&g_properties, 0);
  if (rc == 0) {
    rc = VPropMgrTableDefine(g_properties, kProperties, COUNT(kProperties));
  }
  if (rc == 0) rc = VArgMgrCreate(g_properties, &g_arguments);
  if (rc == 0) rc = VArgMgrTableDefine(g_arguments, kOptions, COUNT(kOptions));
  if (rc == 0) rc = VArgMgrProcess(g_arguments, argc, argv);
  if (rc != 0 || VThreadExceptionRaised(VThreadGetID()) || GetBoolean("Help")) {
    VThreadExceptionPrint(VThreadGetID(), stderr);
    (void)VArgHelp(g_arguments, argv[0]);
    return rc == 0 && GetBoolean("Help") ? 0 : 2;
  }
  s->port = GetInteger("Port");
  s->connections = GetInteger("Connections");
  s->messages = GetInteger("Messages");
  s->secretEvery = GetInteger("SecretEvery");
  s->idleProbe = GetBoolean("IdleProbe");
  s->host = GetText("Host");
  s->resultsFile = GetText("Results");
  tokenFile = GetText("TokenFile");
  if (s->host == NULL || s->resultsFile == NULL || tokenFile == NULL) {
    free(tokenFile);
    fprintf(stderr, "vtecho_client: out of memory\n");
    return 1;
  }
  ok = ReadToken(tokenFile, s->token, sizeof s->token);
  free(tokenFile);
  if (!ok) return 2;
  if (s->port <= 0 || s->port > 65535 || s->connections < 1 ||
      s->messages < 0) {
    fprintf(stderr,
            "vtecho_client: -port, -connections or -messages is "
            "out of range\n");
    return 2;
  }
  return -1;
}

/* ---- One connection. */

/* Connects and greets the server.  Returns 1 when it welcomed us. */
static int Greet(Session *session, VSocket *socket, LineReader *reader,
                 char *line) {
  size_t length;
  VRC code = 0;
  VRC rc = VSocketConnectWithTimeout(
      session->settings->host, (uint16_t)session->settings->port, 10, socket);
  if (rc != 0) {
    fprintf(stderr, "vtecho_client: cannot connect: %s\n", VRCToString(rc));
    return 0;
  }
  LineReaderInit(reader, *socket);
  snprintf(line, VTECHO_MAX_LINE + 1, "HELLO %s", session->settings->token);
  if (SendLine(*socket, line, strlen(line)) != 0 ||
      LineReaderNext(reader, line, &length, &code) != LINE_OK) {
    return 0;
  }
  if (strcmp(line, "WELCOME") != 0) {
    session->denied = 1;
    return 0;
  }
  return 1;
}

/* Sends one line and checks its echo. */
static int RoundTrip(Session *session, VSocket socket, LineReader *reader,
                     int number, char *line) {
  char sent[VTECHO_MAX_LINE + 1];
  size_t length;
  VRC code = 0;
  double start;
  int secret = session->settings->secretEvery > 0 &&
               number % session->settings->secretEvery == 0;
  snprintf(sent, sizeof sent, "connection %d line %d %s", session->index,
           number,
           secret ? "password=hunter2 keep this secret=xyzzy" : "hello");
  start = NowMicroseconds();
  if (SendLine(socket, sent, strlen(sent)) != 0 ||
      LineReaderNext(reader, line, &length, &code) != LINE_OK) {
    session->errors++;
    return 0;
  }
  session->latency[session->echoed++] = NowMicroseconds() - start;
  session->bytesSent += strlen(sent) + 1;
  session->bytesReceived += length + 1;
  /* Both secrets hidden, the text between them kept. */
  if (secret && strstr(line, "hunter2") == NULL &&
      strstr(line, "xyzzy") == NULL && strstr(line, "keep this") != NULL) {
    session->redacted++;
  } else if (secret || strcmp(line, sent) != 0) {
    session->errors++;
  }
  return 1;
}

static VRC RunSession(VThread self, void *argument) {
  Session *session = argument;
  VSocket socket = VSOCKET_INVALID;
  LineReader *reader = malloc(sizeof *reader);
  char line[VTECHO_MAX_LINE + 1];
  int i;
  (void)self;
  if (reader == NULL || !Greet(session, &socket, reader, line)) {
    session->errors += session->messages;
  } else {
    for (i = 1; i <= session->messages; i++) {
      if (!RoundTrip(session, socket, reader, i, line)) {
        session->errors += session->messages - i;
        break;
      }
    }
  }
  (void)VSocketClose(socket);
  free(reader);
  return 0;
}

/* ---- All connections. */

static int CompareDoubles(const void *a, const void *b, void *context) {
  double x = *(const double *)a, y = *(const double *)b;
  (void)context;
  return (x > y) - (x < y);
}

/* Nearest-rank percentile of sorted values. */
static double Percentile(const double *sorted, int count, double p) {
  int rank = (int)(p * count + 0.999999);
  if (count == 0) return 0;
  if (rank < 1) rank = 1;
  return sorted[rank - 1];
}

static int Summarise(Session *sessions, int count, Totals *totals) {
  double *all;
  int i, n = 0;
  memset(totals, 0, sizeof *totals);
  for (i = 0; i < count; i++) n += sessions[i].echoed;
  all = malloc(sizeof *all * (size_t)(n > 0 ? n : 1));
  if (all == NULL) return 0;
  n = 0;
  for (i = 0; i < count; i++) {
    Session *s = &sessions[i];
    memcpy(all + n, s->latency, sizeof *all * (size_t)s->echoed);
    n += s->echoed;
    totals->redacted += s->redacted;
    totals->errors += s->errors;
    totals->denied += s->denied;
    totals->bytesSent += s->bytesSent;
    totals->bytesReceived += s->bytesReceived;
  }
  totals->echoed = n;
  (void)VQuickSort(all, (size_t)n, sizeof *all, CompareDoubles, NULL);
  totals->p50 = Percentile(all, n, 0.50);
  totals->p90 = Percentile(all, n, 0.90);
  totals->p99 = Percentile(all, n, 0.99);
  totals->max = n > 0 ? all[n - 1] : 0;
  free(all);
  return 1;
}

static void Report(const Settings *s, const Totals *t) {
  FILE *file;
  if (t->denied) {
    printf("the server refused the token of %d connections\n", t->denied);
  } else {
    printf(
        "%d connections, %d messages echoed, %d redacted by the server, "
        "%d errors\n",
        (int)s->connections, t->echoed, t->redacted, t->errors);
    printf("%llu bytes sent, %llu bytes received\n", t->bytesSent,
           t->bytesReceived);
    printf("round trip: p50 %.0f us, p90 %.0f us, p99 %.0f us, max %.0f us\n",
           t->p50, t->p90, t->p99, t->max);
  }
  if (s->resultsFile[0] == '\0') return;
  file = fopen(s->resultsFile, "w");
  if (file == NULL) return;
  fprintf(file,
          "connections=%d\nmessages=%d\nredacted=%d\nerrors=%d\ndenied=%d\n"
          "bytes_sent=%llu\nbytes_received=%llu\np50_us=%.0f\np90_us=%.0f\n"
          "p99_us=%.0f\nmax_us=%.0f\n",
          (int)s->connections, t->echoed, t->redacted, t->errors, t->denied,
          t->bytesSent, t->bytesReceived, t->p50, t->p90, t->p99, t->max);
  fclose(file);
}

/* Starts every session, then joins them all. */
static int RunLoad(const Settings *s) {
  VThreadAttr attributes = {VTHREAD_ATTR_JOINABLE | VTHREAD_ATTR_STACK_SIZE,
                            256u * 1024u};
  Session *sessions = calloc((size_t)s->connections, sizeof *sessions);
  Totals totals;
  int i, started = 0, ok = sessions != NULL;
  for (i = 0; ok && i < s->connections; i++) {
    Session *session = &sessions[i];
    session->settings = s;
    session->index = i + 1;
    session->messages = s->messages / s->connections +
                        (i < s->messages % s->connections ? 1 : 0);
    session->latency = malloc(sizeof(double) * (size_t)(session->messages + 1));
    ok = session->latency != NULL &&
         VThreadSpawn("SESSION", RunSession, session, &attributes,
                      &session->thread) == 0;
    if (ok) started++;
  }
  for (i = 0; i < started; i++) (void)VThreadDestroy(sessions[i].thread);
  ok = ok && Summarise(sessions, s->connections, &totals);
  if (ok) Report(s, &totals);
  for (i = 0; sessions != NULL && i < s->connections; i++) {
    free(sessions[i].latency);
  }
  free(sessions);
  if (!ok) fprintf(stderr, "vtecho_client: cannot start the connections\n");
  return ok && totals.errors == 0 && totals.denied == 0 &&
                 totals.echoed == s->messages
             ? 0
             : 1;
}

/* Greets the server, then waits silently for it to close the connection. */
static const int32_t kIdleProbeLimitMs = 60000;

static int RunIdleProbe(const Settings *s) {
  Session session;
  VSocket socket = VSOCKET_INVALID;
  LineReader *reader = malloc(sizeof *reader);
  char line[VTECHO_MAX_LINE + 1];
  size_t length;
  VRC code = 0;
  double start, seconds;
  int status = 1;
  memset(&session, 0, sizeof session);
  session.settings = s;
  if (reader != NULL && Greet(&session, &socket, reader, line)) {
    start = NowMicroseconds();
    /* A bound, not a pause: a server that never closes fails the probe. */
    if (VSocketWait(socket, kIdleProbeLimitMs) == 0 &&
        LineReaderNext(reader, line, &length, &code) == LINE_END) {
      seconds = (NowMicroseconds() - start) / 1e6;
      printf("the server closed the silent connection after %.1f s\n", seconds);
      if (s->resultsFile[0] != '\0') {
        FILE *file = fopen(s->resultsFile, "w");
        if (file != NULL) {
          fprintf(file, "idle_seconds=%.2f\n", seconds);
          fclose(file);
        }
      }
      status = 0;
    } else {
      printf("the server kept the silent connection open\n");
    }
  }
  (void)VSocketClose(socket);
  free(reader);
  return status;
}

int main(int argc, char **argv) {
  Settings settings;
  int status;
  VRC rc = VInitialise("vtecho_client", "stderr");
  if (rc != 0) {
    fprintf(stderr, "vtecho_client: cannot start the library: %s\n",
            VRCToString(rc));
    return 1;
  }
  memset(&settings, 0, sizeof settings);
  status = Configure(&settings, argc, argv);
  if (status < 0) {
    status = settings.idleProbe ? RunIdleProbe(&settings) : RunLoad(&settings);
  }
  free(settings.host);
  free(settings.resultsFile);
  (void)VArgMgrDestroy(g_arguments);
  (void)VPropMgrDestroy(g_properties);
  return status;
}
