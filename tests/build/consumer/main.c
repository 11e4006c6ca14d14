/* A program of another project that uses libvantrel: starts the library,
 * keeps a word in a hash table, renders a return code, and sends a line
 * over a loopback connection through the IP driver the library loaded.
 * Prints the home the library settled on, so that the test can tell where
 * the driver came from.
 *
 * argv is deliberately unused: the library's warning flags (-Wextra
 * -Werror) must not reach a client's own files. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vantrel.h>

static int CompareWord(const void *key, const void *item, void *arg) {
  (void)arg;
  return strcmp((const char *)key, (const char *)item);
}

static int FreeItem(void *item, void *arg) {
  (void)arg;
  VHashFree(item);
  return 0;
}

static int HashWorks(void) {
  VHash *table;
  char *word;
  int found;
  table = VHashCreateWith(malloc, 7, VHashString2, NULL, CompareWord, NULL);
  word = table != NULL ? VHashAlloc(8) : NULL;
  if (word == NULL) return 0;
  strcpy(word, "vantrel");
  VHashInsert(table, word);
  found = VHashFind(table, "vantrel") == word;
  VHashDestroyWith(table, FreeItem, NULL, free);
  return found;
}

/* Listens on the loopback address of the loaded driver, connects, accepts
 * and passes one line from the client to the server's side. */
static int LoopbackWorks(void) {
  static const char line[] = "hello over loopback\n";
  char received[sizeof line] = "";
  const char *host =
      strstr(VSocketIPDriverGetName(), "IPv6") ? "::1" : "127.0.0.1";
  uint16_t port = 0;
  VSocket listener = VSOCKET_INVALID, client = VSOCKET_INVALID,
          server = VSOCKET_INVALID;
  VRC rc = VSocketListenAnyPort(host, &port, &listener);
  if (rc == 0) rc = VSocketConnect(host, port, &client);
  if (rc == 0) rc = VSocketAccept(listener, &server);
  if (rc == 0) rc = VSocketSend(client, line, (int32_t)strlen(line));
  if (rc == 0) rc = VSocketRecv(server, received, (int32_t)strlen(line));
  if (rc != 0) fprintf(stderr, "loopback on %s: %s\n", host, VRCToString(rc));
  VSocketClose(server);
  VSocketClose(client);
  VSocketClose(listener);
  return rc == 0 && strcmp(received, line) == 0;
}

int main(int argc, char **argv) {
  int ok;
  if (argc != 1 || VInitialise("consumer", "stderr") != 0) return 1;
  ok = HashWorks() && strcmp(VRCToString(VRC_TIMEOUT), "Timeout") == 0;
  printf("home %s\ndriver %s\n", VGetVTHOME(), VSocketIPDriverGetName());
  ok = ok && LoopbackWorks();
  printf("consumer of libvantrel %s: %s\n", VANTREL_VERSION_STRING,
         ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
