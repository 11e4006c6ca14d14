/* Values: a value cell means nothing without the data type beside it.
 * Typed values carry both, convert between types, render as text and
 * compare with the operators; named values add a name. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vantrel.h>

int main(void) {
  char text[] = "1500";
  VTypedValue limit, pattern, host;
  VNamedValue *setting;
  char *shown = NULL;
  int ok;

  /* A text cell: pointer and length.  Converting parses it (and frees the
   * text it held, so give it a heap copy). */
  limit.type = VDT_STRING;
  limit.value.stringValue.text = strdup(text);
  limit.value.stringValue.length = (uint32_t)strlen(text);
  if (limit.value.stringValue.text == NULL ||
      VTypedValueConvert(&limit, VDT_INTEGER) != 0) {
    return 1;
  }
  printf("%s %d\n", VDataTypeName(limit.type), limit.value.integerValue);

  /* Operators: LIKE is a regular-expression search in the text. */
  host.type = pattern.type = VDT_STRING;
  host.value.stringValue.text = "db-07.example.org";
  host.value.stringValue.length = (uint32_t)strlen(host.value.stringValue.text);
  pattern.value.stringValue.text = "^db-[0-9]+\\.";
  pattern.value.stringValue.length =
      (uint32_t)strlen(pattern.value.stringValue.text);
  printf("LIKE: %d\n", VTypedValueOperatorComp(&host, &pattern, VOP_LIKE));

  /* A named value owns a copy of its name and value. */
  setting = VNamedValueCreateFromTypedValue("MaxClients", &limit, malloc, free);
  if (setting == NULL || VNamedValueToString(setting, &shown) != 0) return 1;
  printf("%s = %s\n", setting->name, shown);

  ok = limit.value.integerValue == 1500 && strcmp(shown, "1500") == 0 &&
       VTypedValueOperatorComp(&host, &pattern, VOP_LIKE) == 1;
  free(shown);
  VNamedValueDestroy(setting, free);
  return ok ? 0 : 1;
}
