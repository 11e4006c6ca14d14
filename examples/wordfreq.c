/* wordfreq: counts the words of a text file and prints the most frequent
 * ones, then the alphabetically first and last words.
 *
 *   wordfreq FILE [TOP]
 *
 * The library is started first; failures are reported through its log
 * (standard error).  Words are counted in a VHash keyed by the word itself,
 * ordered alphabetically in a VTree, and ranked by count with VQuickSort. */
#include <vantrel.h>

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAX_WORD 64

typedef struct {
  char word[MAX_WORD]; /* the key comes first: VHashString2 hashes it */
  int count;
} WordCount;

static int CompareWord(const void *key, const void *item, void *arg) {
  (void)arg;
  return strcmp((const char *)key, ((const WordCount *)item)->word);
}

static int CompareItems(const void *a, const void *b, void *arg) {
  (void)arg;
  return strcmp(((const WordCount *)a)->word, ((const WordCount *)b)->word);
}

/* Higher counts first, then alphabetical. */
static int CompareRank(const void *a, const void *b, void *arg) {
  const WordCount *x = *(const WordCount *const *)a;
  const WordCount *y = *(const WordCount *const *)b;
  (void)arg;
  if (x->count != y->count) return x->count > y->count ? -1 : 1;
  return strcmp(x->word, y->word);
}

static int FreeWord(void *item, void *arg) {
  (void)arg;
  VHashFree(item);
  return 0;
}

/* Each word's entry moves from the table into the tree and the rank array;
 * the tree holds only headers of its own, so its items are separate. */
typedef struct {
  VTree *tree;
  WordCount **ranked;
  size_t n;
  int failed;
} Collect;

static int CollectWord(void *item, void *arg) {
  Collect *c = (Collect *)arg;
  WordCount *node = (WordCount *)VTreeAlloc(sizeof(WordCount));
  if (node == NULL) {
    c->failed = 1;
    return 1;
  }
  *node = *(WordCount *)item;
  VTreeInsert(c->tree, node);
  c->ranked[c->n++] = (WordCount *)item;
  return 0;
}

static int FreeNode(void *item, void *arg) {
  (void)arg;
  VTreeFree(item);
  return 0;
}

static int CountWords(FILE *in, VHash *table) {
  char word[MAX_WORD];
  size_t len = 0;
  int ch;
  do {
    ch = getc(in);
    if (ch != EOF && (isalnum(ch) || ch == '\'') && len < MAX_WORD - 1) {
      word[len++] = (char)tolower(ch);
      continue;
    }
    if (ch != EOF && (isalnum(ch) || ch == '\'')) continue; /* overlong */
    if (len > 0) {
      WordCount *wc;
      word[len] = '\0';
      len = 0;
      wc = (WordCount *)VHashFind(table, word);
      if (wc == NULL) {
        wc = (WordCount *)VHashAlloc(sizeof(WordCount));
        if (wc == NULL) return 12;
        strcpy(wc->word, word);
        wc->count = 0;
        VHashInsert(table, wc);
      }
      wc->count++;
    }
  } while (ch != EOF);
  return 0;
}

int main(int argc, char **argv) {
  FILE *in;
  VHash *table;
  Collect c = {NULL, NULL, 0, 0};
  int top = argc > 2 ? atoi(argv[2]) : 10;
  int rc = 1;
  size_t i;

  if (argc < 2) {
    fprintf(stderr, "usage: %s FILE [TOP]\n", argv[0]);
    return 2;
  }
  rc = VInitialise("wordfreq", "stderr");
  if (rc != 0) {
    fprintf(stderr, "wordfreq: start-up failed: %s\n", VRCToString(rc));
    return 1;
  }
  rc = 1;
  in = fopen(argv[1], "r");
  if (in == NULL) {
    VLog(VLOG_ERROR, 1, NULL, VLOG_SET_ERROR, 0, "cannot open %s: %s", argv[1],
         VRCToString(errno));
    return 1;
  }
  table = VHashCreateWith(malloc, 1021, VHashString2, NULL, CompareWord, NULL);
  c.tree = VTreeCreateWith(malloc, CompareItems, NULL);
  if (table == NULL || c.tree == NULL || CountWords(in, table) != 0) {
    VLog(VLOG_ERROR, 1, NULL, VLOG_SET_ERROR, 0, "%s", VRCToString(12));
    goto done;
  }
  c.ranked = (WordCount **)malloc((VHashNumItems(table) + 1) * sizeof(*c.ranked));
  if (c.ranked == NULL || VHashWalk(table, CollectWord, &c, 0, NULL) != 0) {
    VLog(VLOG_ERROR, 1, NULL, VLOG_SET_ERROR, 0, "%s", VRCToString(12));
    goto done;
  }
  if (VQuickSort(c.ranked, c.n, sizeof(*c.ranked), CompareRank, NULL) != 0) {
    VLog(VLOG_ERROR, 1, NULL, VLOG_SET_ERROR, 0, "%s", VRCToString(12));
    goto done;
  }

  printf("%u distinct words in %s\n", (unsigned)VHashNumItems(table), argv[1]);
  for (i = 0; i < c.n && (int)i < top; i++)
    printf("%7d  %s\n", c.ranked[i]->count, c.ranked[i]->word);
  if (c.n > 0) {
    printf("first word: %s\n", ((WordCount *)VTreeFindMin(c.tree))->word);
    printf("last word:  %s\n", ((WordCount *)VTreeFindMax(c.tree))->word);
  }
  rc = 0;

done:
  free(c.ranked);
  if (c.tree != NULL) VTreeDestroyWith(c.tree, FreeNode, NULL, free);
  if (table != NULL) VHashDestroyWith(table, FreeWord, NULL, free);
  fclose(in);
  return rc;
}
