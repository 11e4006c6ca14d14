/* A program of another project that uses libvantrel: starts the library,
 * keeps a word in a hash table and renders a return code.
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

int main(int argc, char **argv) {
  VHash *table;
  char *word;
  int ok;
  if (argc != 1 || VInitialise("consumer", "stderr") != 0) return 1;
  table = VHashCreateWith(malloc, 7, VHashString2, NULL, CompareWord, NULL);
  word = table != NULL ? VHashAlloc(8) : NULL;
  if (word == NULL) return 1;
  strcpy(word, "vantrel");
  VHashInsert(table, word);
  ok = VHashFind(table, "vantrel") == word &&
       strcmp(VRCToString(VRC_TIMEOUT), "Timeout") == 0;
  VHashDestroyWith(table, FreeItem, NULL, free);
  printf("consumer of libvantrel %s: %s\n", VANTREL_VERSION_STRING,
         ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
