/* Containers: a hash table counts words; a list takes a copy of each
 * entry and is sorted by count.  Items are the caller's records,
 * allocated through their container so that its link header sits in
 * front of them; containers never free items but hand each one to the
 * visitor given to flush or destroy. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vantrel.h>

typedef struct {
  char word[16]; /* first: VHashString2 hashes the text an item starts with */
  int count;
} Word;

static int SameWord(const void *key, const void *item, void *arg) {
  (void)arg;
  return strcmp((const char *)key, ((const Word *)item)->word);
}

/* A positive result puts a after b: higher counts first. */
static int ByCount(const void *a, const void *b, void *arg) {
  (void)arg;
  return ((const Word *)b)->count - ((const Word *)a)->count;
}

/* Walk visitor: appends a copy of the table's item to the list. */
static int CopyToList(void *item, void *list) {
  Word *copy = VListAlloc(sizeof(Word));
  if (copy == NULL) return 1; /* stops the walk */
  *copy = *(const Word *)item;
  VListInsertAfter(list, copy, VListTail(list));
  return 0;
}

static int FreeHashItem(void *item, void *arg) {
  (void)arg;
  VHashFree(item);
  return 0;
}

static int FreeListItem(void *item, void *arg) {
  (void)arg;
  VListFree(item);
  return 0;
}

int main(void) {
  const char *text[] = {"pear", "fig", "pear", "plum", "fig", "pear"};
  VHash *counts =
      VHashCreateWith(malloc, 31, VHashString2, NULL, SameWord, NULL);
  VList *ranked = VListCreateWith(malloc);
  Word *w;
  size_t i;
  if (counts == NULL || ranked == NULL) return 1;

  for (i = 0; i < sizeof text / sizeof text[0]; ++i) {
    w = VHashFind(counts, text[i]);
    if (w == NULL) {
      if ((w = VHashAlloc(sizeof *w)) == NULL) return 1;
      snprintf(w->word, sizeof w->word, "%s", text[i]);
      w->count = 0;
      VHashInsert(counts, w);
    }
    ++w->count;
  }

  if (VHashWalk(counts, CopyToList, ranked, 0, NULL) != 0) return 1;
  VListMergeSort(ranked, ByCount, NULL);
  for (w = VListFirst(ranked); w != NULL; w = VListNext(w)) {
    printf("%-5s %d\n", w->word, w->count);
  }
  w = VListFirst(ranked);
  i = strcmp(w->word, "pear") == 0 && w->count == 3 &&
      VListNumItems(ranked) == 3;

  VListDestroyWith(ranked, FreeListItem, NULL, free);
  VHashDestroyWith(counts, FreeHashItem, NULL, free);
  return i ? 0 : 1;
}
