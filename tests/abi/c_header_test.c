/* Strict C11 client of the public header, linked against the shared
 * library: the header must compile without warnings and the calls must
 * resolve to exported functions. */
#include <vantrel.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
  char key[16];
  int value;
} Entry;

static int CompareKey(const void *key, const void *item, void *arg) {
  (void)arg;
  return strcmp((const char *)key, ((const Entry *)item)->key);
}

static int CompareInt(const void *a, const void *b, void *arg) {
  (void)arg;
  return *(const int *)a - *(const int *)b;
}

static int FreeItem(void *item, void *arg) {
  (void)arg;
  VHashFree(item);
  return 0;
}

#define CHECK(cond)                                       \
  do {                                                    \
    if (!(cond)) {                                        \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
      return 1;                                           \
    }                                                     \
  } while (0)

int main(void) {
  int numbers[] = {5, 3, 9, 1, 7};
  VList *list = VListCreateWith(malloc);
  VHash *table = VHashCreateWith(malloc, 11, VHashString2, NULL, CompareKey,
                                 NULL);
  Entry *e = (Entry *)VHashAlloc(sizeof(Entry));
  int *item = (int *)VListAlloc(sizeof(int));
  CHECK(list != NULL && table != NULL && e != NULL && item != NULL);

  *item = 42;
  VListInsertAfter(list, item, VListTail(list));
  CHECK(VListNumItems(list) == 1 && VListFirst(list) == item);
  VListDelete(list, item);
  VListFree(item);
  VListDestroyWith(list, NULL, NULL, free);

  strcpy(e->key, "answer");
  e->value = 42;
  VHashInsert(table, e);
  CHECK(VHashFind(table, "answer") == e);
  CHECK(VHashString2("ab", NULL) == 1650u);
  VHashDestroyWith(table, FreeItem, NULL, free);

  CHECK(VQuickSort(numbers, 5, sizeof(int), CompareInt, NULL) == 0);
  CHECK(numbers[0] == 1 && numbers[4] == 9);
  puts("C client OK");
  return 0;
}
