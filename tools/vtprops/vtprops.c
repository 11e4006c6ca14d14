/* vtprops: checks a properties file of a program built on libvantrel and
 * prints it back.  See vtprops.1 or `vtprops --help`.
 *
 * The file is read as a program reads it, into a property manager that
 * creates every property it meets, so any name is accepted and each value
 * keeps the type its text has.  Reading stops at the first error, which is
 * reported as FILE:LINE: MESSAGE. */
#define _POSIX_C_SOURCE 200809L /* setenv */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vantrel.h>

/* Exit statuses; the manual page lists them too. */
enum {
  EXIT_CLEAN = 0,
  EXIT_ERRORS = 1, /* the file has an error, or cannot be read or printed */
  EXIT_USAGE = 2
};

static const char kUsage[] =
    "usage: vtprops [--reproduce | --write] [--verbose] FILE\n"
    "       vtprops --help | --version\n";

static const char kHelp[] =
    "NAME\n"
    "    vtprops - check a properties file and print it back\n"
    "\n"
    "SYNOPSIS\n"
    "    vtprops [--reproduce | --write] [--verbose] FILE\n"
    "    vtprops --help | --version\n"
    "\n"
    "DESCRIPTION\n"
    "    Reads FILE, with the files its include statements name, as a\n"
    "    program built on libvantrel reads its properties file, and reports\n"
    "    the first error as FILE:LINE: MESSAGE on standard error.  Every name\n"
    "    is accepted: the check is of the format, not of a program's\n"
    "    properties.  Reading stops at an error; what was read before it can\n"
    "    still be printed.\n"
    "\n"
    "OPTIONS\n"
    "    --reproduce  print the properties FILE itself set, in its order,\n"
    "                 with its include statements where they stand\n"
    "    --write      print every property read, by name, then the include\n"
    "                 statements\n"
    "    --verbose    also show the library's own log lines\n"
    "    -h, --help   this text\n"
    "    --version    the version of vtprops and libvantrel\n"
    "\n"
    "EXIT STATUS\n"
    "    0  the file was read without an error\n"
    "    1  the file has an error, or it cannot be read or printed\n"
    "    2  usage error\n";

struct Options {
  const char *file;
  int mode; /* 0 check only, 'r' reproduce, 'w' write */
  int verbose;
};

static int UsageError(const char *format, const char *argument) {
  fputs("vtprops: ", stderr);
  fprintf(stderr, format, argument);
  fprintf(stderr, "\n%s", kUsage);
  return EXIT_USAGE;
}

static int ParseOptions(int argc, char **argv, struct Options *o) {
  int options = 1;
  for (int i = 1; i < argc; ++i) {
    const char *arg = argv[i];
    if (options && strcmp(arg, "--") == 0) {
      options = 0;
    } else if (options && (strcmp(arg, "--reproduce") == 0 ||
                           strcmp(arg, "--write") == 0)) {
      int mode = arg[2];
      if (o->mode != 0 && o->mode != mode) {
        return UsageError("%s", "--reproduce and --write exclude each other");
      }
      o->mode = mode;
    } else if (options && strcmp(arg, "--verbose") == 0) {
      o->verbose = 1;
    } else if (options && arg[0] == '-' && arg[1] != '\0') {
      return UsageError("unknown option '%s'", arg);
    } else if (o->file != NULL) {
      return UsageError("one file at a time: '%s'", arg);
    } else {
      o->file = arg;
    }
  }
  if (o->file == NULL) return UsageError("%s", "no file given");
  return EXIT_CLEAN;
}

/* What went wrong, in words, for the code of a reading that stopped. */
static void Describe(const VPropParseError *e, char *out, size_t size) {
  switch (e->code) {
    case 0:
      snprintf(out, size, "%s", e->text);
      return;
    case VRC_PARSE_FAILURE:
      snprintf(out, size, "include needs a quoted file name, not '%s'",
               strcmp(e->text, "\n") == 0 ? "end of line" : e->text);
      return;
    case VRC_PROP_INCLUDE_DEPTH:
      snprintf(out, size, "include files nested more than 10 deep");
      return;
    case VRC_TYPE_MISMATCH:
      snprintf(out, size,
               "%s: value of the wrong type (binary values cannot "
               "be set; a name keeps the type it was first given)",
               e->text);
      return;
    case ERANGE:
      snprintf(out, size, "%s: value out of range", e->text);
      return;
    case ENOENT:
      snprintf(out, size, "%s", e->text);
      return;
    case EILSEQ:
      snprintf(out, size,
               "quoted text that is not valid in the character set of the "
               "locale");
      return;
    default:
      if (e->text[0] != '\0') {
        snprintf(out, size, "%s: %s", e->text, VRCToString(e->code));
      } else {
        snprintf(out, size, "%s", VRCToString(e->code));
      }
  }
}

/* Reads the file; reports the error, if any.  Returns the exit status. */
static int Check(VPropMgr manager, const char *file) {
  VPropParseError error;
  memset(&error, 0, sizeof error);
  VRC rc = VPropMgrParseFile(manager, file, &error);
  if (rc != 0 && error.line == 0) {
    /* Not opened: the record was not touched. */
    fprintf(stderr, "vtprops: %s: %s\n", file, VRCToString(rc));
    return EXIT_ERRORS;
  }
  if (rc == 0 && error.text[0] == '\0') return EXIT_CLEAN;
  char message[256];
  Describe(&error, message, sizeof message);
  fprintf(stderr, "%s:%d: %s\n", error.file != NULL ? error.file : file,
          (int)error.line, message);
  free(error.file);
  return EXIT_ERRORS;
}

static int Print(VPropMgr manager, int mode) {
  /* The manager's own property is printed only when the file set it. */
  VProperty own = VPropMgrFind(manager, "Props.CheckNames");
  if (own != NULL && !VPropertyWasSpecified(own)) {
    VPropertySetFlags(own, VPropertyGetFlags(own) | VPROP_FLAG_NOWRITE);
  }
  VRC rc = mode == 'r' ? VPropMgrReproduceToStream(manager, stdout)
                       : VPropMgrWriteToStream(manager, stdout);
  if (rc == 0) return EXIT_CLEAN;
  fprintf(stderr, "vtprops: writing: %s\n", VRCToString(rc));
  return EXIT_ERRORS;
}

int main(int argc, char **argv) {
  for (int i = 1; i < argc && strcmp(argv[i], "--") != 0; ++i) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      fputs(kHelp, stdout);
      return fflush(stdout) == 0 ? EXIT_CLEAN : EXIT_ERRORS;
    }
    if (strcmp(argv[i], "--version") == 0) {
      printf("vtprops (libvantrel) %s\n", VANTREL_VERSION_STRING);
      return EXIT_CLEAN;
    }
  }
  struct Options o;
  memset(&o, 0, sizeof o);
  int status = ParseOptions(argc, argv, &o);
  if (status != EXIT_CLEAN) return status;

  /* The library's own lines (start-up, properties created on the fly) are
   * not this tool's business unless asked for; the threshold is raised
   * before start-up, whose lines come first. */
  if (!o.verbose) setenv("VDE_DEFAULT_LOG_LEVEL", "fatal", 1);
  (void)VInitialise("vtprops", NULL);
  if (!o.verbose) VLogMgrSetLevel(VLOG_FATAL);

  VPropMgr manager = NULL;
  VRC rc = VPropMgrCreateWithFlags(&manager, VPROPMGR_FLAG_DYNAMIC);
  if (rc != 0) {
    fprintf(stderr, "vtprops: %s\n", VRCToString(rc));
    return EXIT_ERRORS;
  }
  status = Check(manager, o.file);
  if (o.mode != 0 && Print(manager, o.mode) != EXIT_CLEAN) {
    status = EXIT_ERRORS;
  }
  VPropMgrDestroy(manager);
  return status;
}
