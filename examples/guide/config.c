/* Configuration: properties defined in code, a properties file, and the
 * command line bound to the same properties.  The command line wins over
 * the file, the file over the defaults. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vantrel.h>

/* A change callback may refuse a value: a port must be above 1023. */
static VRC CheckPort(VProperty property, const VTypedValue *value,
                     void *argument) {
  (void)property;
  (void)argument;
  return value->value.integerValue > 1023 ? 0 : EINVAL;
}

static int WriteFile(const char *path, const char *text) {
  FILE *file = fopen(path, "w");
  if (file == NULL) return 0;
  fputs(text, file);
  return fclose(file) == 0;
}

int main(void) {
  VValue port = {0}, threads = {0}, greeting = {0}, path = {0};
  VPropTableRow rows[4];
  char *argv[] = {"config",   "-propsfile", "guide.properties",
                  "-threads", "8",          NULL};
  VPropMgr props = NULL;
  VArgMgr args = NULL;
  VTypedValue value;
  VPropParseError error = {0};
  char *text = NULL;
  VRC rc;
  int ok;
  if (VInitialise("config", "stderr") != 0 ||
      !WriteFile("guide.properties",
                 "Port: 7000\nThreads: 2\nGreeting: 'hello'\n"))
    return 1;

  port.integerValue = 4000;
  threads.integerValue = 4;
  greeting.stringValue.text = "hi";
  greeting.stringValue.length = 2;
  rows[0] = (VPropTableRow){
      "Port", "listening port", "Server", VDT_INTEGER, &port, 0};
  rows[1] = (VPropTableRow){"Threads",   "worker threads", "Server",
                            VDT_INTEGER, &threads,         0};
  rows[2] = (VPropTableRow){"Greeting", "first line sent", NULL,
                            VDT_STRING, &greeting,         0};
  rows[3] = (VPropTableRow){
      "PropsFile", "properties file", NULL, VDT_STRING, &path, 0};
  rc = VPropMgrCreateWithFlags(&props, 0);
  if (rc == 0) rc = VPropMgrTableDefine(props, rows, 4);
  if (rc == 0) rc = VPropMgrAddCallback(props, "Port", CheckPort, NULL);
  if (rc == 0) rc = VArgMgrCreate(props, &args);
  /* The program names the property that holds the file's path. */
  if (rc == 0)
    rc = VArgMgrDefineWithFlags(args, "-propsfile", "PropsFile",
                                "properties file (%s)", VARG_KIND_VALUE, NULL,
                                0);
  if (rc == 0)
    rc =
        VArgMgrDefineWithFlags(args, "-threads", "Threads",
                               "worker threads (%d)", VARG_KIND_VALUE, NULL, 0);
  /* The file sets Port and Threads; the command line sets Threads again. */
  if (rc == 0) rc = VArgMgrProcess(args, 5, argv);
  if (rc != 0) {
    printf("configuration failed: %d\n", rc);
    return 1;
  }

  VPropMgrGetStringValue(props, "Port", &text);
  printf("Port: %s\n", text ? text : "-");
  ok = text != NULL && strcmp(text, "7000") == 0;
  free(text);
  ok = ok && VPropMgrGetValue(props, "Threads", &value) == 0 &&
       value.value.integerValue == 8;
  printf("Threads: %d\n", value.value.integerValue);

  /* The callback refuses port 80 and the old value stays. */
  value.type = VDT_INTEGER;
  value.value.integerValue = 80;
  ok = ok && VPropMgrSetValue(props, "Port", &value) == EINVAL;

  /* A syntax error names the file and the line; the entries before it
   * stay applied (Port is 7001 now). */
  ok = ok && WriteFile("bad.properties", "Port: 7001\nThreads: eight\n") &&
       VPropMgrParseFile(props, "bad.properties", &error) == 0 &&
       error.line == 2;
  printf("bad.properties:%d: %s\n", error.line, error.text);
  free(error.file);

  VPropMgrWriteToStream(props, stdout); /* the form the reader takes back */
  VArgMgrDestroy(args);
  VPropMgrDestroy(props);
  remove("guide.properties");
  remove("bad.properties");
  return ok ? 0 : 1;
}
