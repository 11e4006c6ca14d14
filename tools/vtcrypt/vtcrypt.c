/* vtcrypt: key files and encrypted values for the configuration files of
 * programs built on libvantrel.  See vtcrypt.1 or `vtcrypt --help`.
 *
 * Secrets never come from the command line, where other users can read
 * them: values are read from standard input, keys come from the system's
 * random source. */
#define _DEFAULT_SOURCE /* getrandom, explicit_bzero */
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vantrel.h>

/* Exit statuses; the manual page lists them too. */
enum {
  EXIT_OK = 0,
  EXIT_NOT_FRAMED = 1, /* `test`: the input is not an encrypted value */
  EXIT_USAGE = 2,      /* bad command line, unknown algorithm */
  EXIT_KEY_FILE = 3,   /* the key file cannot be read or is not one */
  EXIT_INPUT = 4,      /* empty value, not an encrypted value, wrong key */
  EXIT_EXISTS = 5,     /* genkey: the file exists and --force was not given */
  EXIT_SYSTEM = 6      /* I/O, random source, memory */
};

/* The longest value read from standard input. */
#define MAX_INPUT (64u * 1024u * 1024u)

static const char kUsage[] =
    "usage: vtcrypt genkey [--bits 128|192|256] [--force] FILE\n"
    "       vtcrypt encrypt --key FILE [--alg NAME] < value\n"
    "       vtcrypt decrypt --key FILE [--alg NAME] < encrypted-value\n"
    "       vtcrypt test < text\n"
    "       vtcrypt --help | --version\n";

static const char kHelp[] =
    "NAME\n"
    "    vtcrypt - make key files and encrypted configuration values\n"
    "\n"
    "SYNOPSIS\n"
    "    vtcrypt genkey [--bits 128|192|256] [--force] FILE\n"
    "    vtcrypt encrypt --key FILE [--alg NAME] [--verbose]\n"
    "    vtcrypt decrypt --key FILE [--alg NAME] [--verbose]\n"
    "    vtcrypt test\n"
    "    vtcrypt --help | --version\n"
    "\n"
    "DESCRIPTION\n"
    "    Properties files of programs built on libvantrel may hold values\n"
    "    in the encrypted form @N:BASE64@; a program decrypts them at "
    "start-up\n"
    "    with the key file named by its ConfigKeyFile property and the\n"
    "    algorithm named by ConfigCryptoAlg (AES unless set).\n"
    "\n"
    "COMMANDS\n"
    "    genkey FILE\n"
    "        Makes a new key from the system's random source and writes it\n"
    "        to FILE, created with mode 0600.  An existing FILE is left alone\n"
    "        unless --force is given; it is then replaced as a whole.\n"
    "    encrypt\n"
    "        Reads a value from standard input, drops one line end after it,\n"
    "        and prints it in the encrypted form.  From a terminal the value\n"
    "        is asked for without echo.  Values never come from the command\n"
    "        line, where other users could see them.\n"
    "    decrypt\n"
    "        Reads an encrypted value from standard input and prints the\n"
    "        value followed by a line end.\n"
    "    test\n"
    "        Reads a text from standard input and tells by the exit status\n"
    "        whether it is in the encrypted form (0) or not (1).\n"
    "\n"
    "OPTIONS\n"
    "    --bits N     key length for genkey: 128, 192 or 256 (default 256)\n"
    "    --force      genkey replaces an existing FILE\n"
    "    --key FILE   the key file to encrypt or decrypt with\n"
    "    --alg NAME   AES (default) or AES_CFB1: AES in CFB1 mode;\n"
    "                 AES_CBC or AES_FIPS: AES in CBC mode.  Decrypt with\n"
    "                 the algorithm the program will use.\n"
    "    --verbose    also show the library's own log lines\n"
    "    -h, --help   this text\n"
    "    --version    the version of vtcrypt and libvantrel\n"
    "\n"
    "KEY FILES\n"
    "    The key length in bits as decimal digits, a colon, then the key as\n"
    "    raw bytes (\"256:\" and 32 bytes).  Keep them readable by the\n"
    "    program's user only: anyone who reads the key reads every value.\n"
    "\n"
    "EXIT STATUS\n"
    "    0  success; for test, the text is an encrypted value\n"
    "    1  test: the text is not an encrypted value\n"
    "    2  usage error, or an unknown algorithm\n"
    "    3  the key file cannot be read or is not a valid key file\n"
    "    4  the input is refused: an empty value, a text that is not an\n"
    "       encrypted value, or one that does not decrypt with this key\n"
    "    5  genkey: FILE exists and --force was not given\n"
    "    6  system error: reading, writing, random source or memory\n"
    "\n"
    "EXAMPLES\n"
    "    vtcrypt genkey /etc/myapp/config.key\n"
    "    vtcrypt encrypt --key /etc/myapp/config.key\n"
    "    printf '%s' \"$DB_PASSWORD\" | vtcrypt encrypt --key config.key\n"
    "    vtcrypt decrypt --key config.key < value.txt\n";

static const char *g_command = "";

/* Prints "vtcrypt: MESSAGE" on standard error and returns status. */
static int Fail(int status, const char *format, ...) {
  va_list args;
  fputs("vtcrypt: ", stderr);
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
  fputc('\n', stderr);
  return status;
}

static int UsageError(const char *format, const char *argument) {
  fputs("vtcrypt: ", stderr);
  fprintf(stderr, format, argument);
  fprintf(stderr, "\n%s", kUsage);
  return EXIT_USAGE;
}

/* ---- The command line. */

struct Options {
  const char *key;
  const char *algorithm;
  const char *file;
  unsigned bits;
  int force;
  int verbose;
};

/* Takes the value of the option at argv[*i] ("--key FILE" or "--key=FILE");
 * null when there is none. */
static const char *OptionValue(int argc, char **argv, int *i,
                               const char *name) {
  size_t n = strlen(name);
  if (argv[*i][n] == '=') return argv[*i] + n + 1;
  if (*i + 1 >= argc) return NULL;
  return argv[++*i];
}

static int OptionIs(const char *arg, const char *name) {
  size_t n = strlen(name);
  return strncmp(arg, name, n) == 0 && (arg[n] == '\0' || arg[n] == '=');
}

/* Parses argv[2..] into *o.  `allowed` lists the options the command takes.
 * Returns EXIT_OK or EXIT_USAGE (after saying why). */
static int ParseOptions(int argc, char **argv, const char *allowed,
                        struct Options *o) {
  static const char *const kNames[] = {"--key", "--alg", "--bits", "--force",
                                       "--verbose"};
  int optionsEnded = 0;
  for (int i = 2; i < argc; ++i) {
    const char *arg = argv[i];
    if (!optionsEnded && strcmp(arg, "--") == 0) {
      optionsEnded = 1;
      continue;
    }
    if (optionsEnded || arg[0] != '-' || strcmp(arg, "-") == 0) {
      if (strstr(allowed, "FILE") == NULL || o->file != NULL) {
        return UsageError("unexpected argument '%s'", arg);
      }
      o->file = arg;
      continue;
    }
    const char *name = NULL;
    for (size_t k = 0; k < sizeof kNames / sizeof kNames[0]; ++k) {
      if (OptionIs(arg, kNames[k])) name = kNames[k];
    }
    if (name == NULL || strstr(allowed, name) == NULL) {
      return UsageError("unknown option '%s'", arg);
    }
    if (strcmp(name, "--force") == 0 || strcmp(name, "--verbose") == 0) {
      if (arg[strlen(name)] == '=') {
        return UsageError("option '%s' takes no value", name);
      }
      *(name[2] == 'f' ? &o->force : &o->verbose) = 1;
      continue;
    }
    const char *value = OptionValue(argc, argv, &i, name);
    if (value == NULL || value[0] == '\0') {
      return UsageError("option '%s' needs a value", name);
    }
    if (strcmp(name, "--key") == 0) {
      o->key = value;
    } else if (strcmp(name, "--alg") == 0) {
      o->algorithm = value;
    } else if (strcmp(value, "128") == 0 || strcmp(value, "192") == 0 ||
               strcmp(value, "256") == 0) {
      o->bits = (unsigned)atoi(value);
    } else {
      return UsageError("--bits must be 128, 192 or 256, not '%s'", value);
    }
  }
  return EXIT_OK;
}

/* ---- Standard input and output. */

/* Wipes and frees an input buffer. */
static void FreeSecret(char *buffer, size_t length) {
  if (buffer != NULL) explicit_bzero(buffer, length);
  free(buffer);
}

/* Reads a line from the terminal without echo into a new buffer. */
static int ReadFromTerminal(const char *prompt, char **out, size_t *length) {
  struct termios saved, quiet;
  int restore = tcgetattr(STDIN_FILENO, &saved) == 0;
  fputs(prompt, stderr);
  if (restore) {
    quiet = saved;
    quiet.c_lflag &= ~(tcflag_t)ECHO;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  size_t size = 0;
  ssize_t got = getline(out, &size, stdin);
  int error = errno;
  if (restore) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    fputc('\n', stderr);
  }
  if (got < 0) {
    if (ferror(stdin))
      return Fail(EXIT_SYSTEM, "cannot read the terminal: %s", strerror(error));
    got = 0; /* end of input: an empty value */
  }
  *length = (size_t)got;
  return EXIT_OK;
}

/* Reads all of standard input into a new buffer, NUL-terminated.  From a
 * terminal, reads one line after the prompt (without echo when `secret`). */
static int ReadInput(const char *prompt, int secret, char **out,
                     size_t *length) {
  *out = NULL;
  *length = 0;
  if (isatty(STDIN_FILENO)) {
    if (secret) return ReadFromTerminal(prompt, out, length);
    fputs(prompt, stderr);
    size_t size = 0;
    ssize_t got = getline(out, &size, stdin);
    *length = got < 0 ? 0 : (size_t)got;
    return EXIT_OK;
  }
  size_t size = 4096;
  char *buffer = malloc(size);
  for (;;) {
    if (buffer == NULL) return Fail(EXIT_SYSTEM, "out of memory");
    if (*length + 1 == size) {
      if (size >= MAX_INPUT) {
        FreeSecret(buffer, *length);
        return Fail(EXIT_INPUT, "standard input is longer than %u bytes",
                    MAX_INPUT - 1);
      }
      /* Grown by hand, so the old block is wiped before it goes. */
      char *bigger = malloc(size * 2);
      if (bigger != NULL) memcpy(bigger, buffer, *length);
      FreeSecret(buffer, *length);
      buffer = bigger;
      size *= 2;
      continue;
    }
    ssize_t got = read(STDIN_FILENO, buffer + *length, size - 1 - *length);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      int error = errno;
      FreeSecret(buffer, *length);
      return Fail(EXIT_SYSTEM, "cannot read standard input: %s",
                  strerror(error));
    }
    if (got == 0) break;
    *length += (size_t)got;
  }
  buffer[*length] = '\0';
  *out = buffer;
  return EXIT_OK;
}

/* Drops one line end ("\n" or "\r\n") from the end of the text. */
static void DropLineEnd(char *text, size_t *length) {
  if (*length > 0 && text[*length - 1] == '\n') --*length;
  if (*length > 0 && text[*length - 1] == '\r') --*length;
  text[*length] = '\0';
}

static int WriteOutput(const char *bytes, size_t length) {
  if (fwrite(bytes, 1, length, stdout) != length ||
      fputc('\n', stdout) == EOF || fflush(stdout) != 0) {
    return Fail(EXIT_SYSTEM, "cannot write standard output: %s",
                strerror(errno));
  }
  return EXIT_OK;
}

/* ---- Key files. */

/* The reason a key file was refused, from the library's code. */
static int KeyFileFailure(VRC rc, const char *path, const char *algorithm) {
  switch (rc) {
    case VRC_CRYPT_NO_ALGORITHM:
      return UsageError(
          "unknown algorithm '%s' (AES, AES_CFB1, AES_CBC or AES_FIPS)",
          algorithm);
    case VRC_CRYPT_FILE_OPEN: {
      /* The library logged the reason; find it again for the message. */
      struct stat st;
      int fd = open(path, O_RDONLY | O_CLOEXEC);
      const char *why = fd < 0 ? strerror(errno) : "cannot be read";
      if (fd >= 0 && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        why = strerror(EISDIR);
      }
      if (fd >= 0) close(fd);
      return Fail(EXIT_KEY_FILE, "cannot read key file %s: %s", path, why);
    }
    case VRC_CRYPT_FILE_EMPTY:
      return Fail(EXIT_KEY_FILE, "key file %s is empty", path);
    case VRC_CRYPT_FILE_SHORT:
      return Fail(EXIT_KEY_FILE, "key file %s changed while it was read", path);
    case VRC_CRYPT_KEY_LENGTH:
      return Fail(EXIT_KEY_FILE,
                  "key file %s is not a key file: its length in bits does not "
                  "match the key bytes after the colon",
                  path);
    case VRC_CRYPT_KEY_NO_SEPARATOR:
      return Fail(EXIT_KEY_FILE,
                  "key file %s is not a key file: no colon after the length "
                  "in bits",
                  path);
    case VRC_CRYPT_KEY_NOT_NUMERIC:
      return Fail(EXIT_KEY_FILE,
                  "key file %s is not a key file: the length in bits before "
                  "the colon is not all digits",
                  path);
    case -5003:
      return Fail(EXIT_KEY_FILE,
                  "key file %s holds a key of a length AES does not take "
                  "(128, 192 or 256 bits)",
                  path);
    case ENOMEM:
    case -5002:
      return Fail(EXIT_SYSTEM, "out of memory");
    default:
      return Fail(EXIT_KEY_FILE, "cannot use key file %s (code %d)", path,
                  (int)rc);
  }
}

/* Sets up a context from the key file, warning when others may read it. */
static int OpenKey(const struct Options *o, VDataCryptContext *context) {
  if (o->key == NULL) return UsageError("%s needs --key FILE", g_command);
  const char *algorithm = o->algorithm != NULL ? o->algorithm : "AES";
  VRC rc = VDataCryptSetupContextWithFile(algorithm, o->key, context);
  if (rc != 0) return KeyFileFailure(rc, o->key, algorithm);
  struct stat st;
  if (stat(o->key, &st) == 0 && (st.st_mode & 077) != 0) {
    fprintf(stderr,
            "vtcrypt: warning: key file %s can be read by other users "
            "(mode %04o)\n",
            o->key, (unsigned)(st.st_mode & 07777));
  }
  return EXIT_OK;
}

/* Fills the buffer from the system's random source. */
static int RandomBytes(unsigned char *buffer, size_t size) {
  while (size > 0) {
    ssize_t got = getrandom(buffer, size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    buffer += got;
    size -= (size_t)got;
  }
  return 0;
}

/* Writes all of the bytes; 0 or -1 with errno. */
static int WriteAll(int fd, const void *bytes, size_t count) {
  const char *p = bytes;
  while (count > 0) {
    ssize_t n = write(fd, p, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    p += n;
    count -= (size_t)n;
  }
  return 0;
}

/* Writes the key file's contents to fd, made durable, mode exactly 0600
 * whatever the umask.  0 or -1 with errno. */
static int WriteKey(int fd, const unsigned char *key, unsigned bits) {
  char head[16];
  int n = snprintf(head, sizeof head, "%u:", bits);
  if (fchmod(fd, 0600) != 0 || WriteAll(fd, head, (size_t)n) != 0 ||
      WriteAll(fd, key, bits / 8) != 0 || fsync(fd) != 0) {
    return -1;
  }
  return 0;
}

/* Makes a new file at path with the key, never touching an existing one. */
static int CreateKeyFile(const char *path, const unsigned char *key,
                         unsigned bits) {
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0 && errno == EEXIST) {
    return Fail(EXIT_EXISTS, "%s exists; use --force to replace it", path);
  }
  if (fd < 0) {
    return Fail(EXIT_SYSTEM, "cannot create %s: %s", path, strerror(errno));
  }
  int failed = WriteKey(fd, key, bits);
  int error = errno;
  if (close(fd) != 0 && !failed) {
    failed = 1;
    error = errno;
  }
  if (failed) {
    unlink(path);
    return Fail(EXIT_SYSTEM, "cannot write %s: %s", path, strerror(error));
  }
  return EXIT_OK;
}

/* Replaces path as a whole: a new file beside it, renamed over it, so a
 * reader never sees half a key and the old file's mode is not inherited. */
static int ReplaceKeyFile(const char *path, const unsigned char *key,
                          unsigned bits) {
  size_t n = strlen(path);
  char *temporary = malloc(n + 8);
  if (temporary == NULL) return Fail(EXIT_SYSTEM, "out of memory");
  memcpy(temporary, path, n);
  memcpy(temporary + n, ".XXXXXX", 8);
  int fd = mkstemp(temporary);
  int status = EXIT_OK;
  if (fd < 0) {
    status = Fail(EXIT_SYSTEM, "cannot create a file beside %s: %s", path,
                  strerror(errno));
  } else {
    int failed = WriteKey(fd, key, bits);
    int error = errno;
    if (close(fd) != 0 && !failed) {
      failed = 1;
      error = errno;
    }
    if (!failed && rename(temporary, path) != 0) {
      failed = 1;
      error = errno;
    }
    if (failed) {
      unlink(temporary);
      status = Fail(EXIT_SYSTEM, "cannot write %s: %s", path, strerror(error));
    }
  }
  free(temporary);
  return status;
}

/* ---- Commands. */

static int GenKey(const struct Options *o) {
  if (o->file == NULL) return UsageError("%s needs a FILE", g_command);
  unsigned bits = o->bits != 0 ? o->bits : 256;
  unsigned char key[32];
  if (RandomBytes(key, bits / 8) != 0) {
    return Fail(EXIT_SYSTEM, "the system's random source failed: %s",
                strerror(errno));
  }
  int status = o->force ? ReplaceKeyFile(o->file, key, bits)
                        : CreateKeyFile(o->file, key, bits);
  explicit_bzero(key, sizeof key);
  return status;
}

static int Encrypt(const struct Options *o) {
  VDataCryptContext context = NULL;
  int status = OpenKey(o, &context);
  if (status != EXIT_OK) return status;
  char *value = NULL;
  size_t length = 0;
  status = ReadInput("Value to encrypt: ", 1, &value, &length);
  if (status == EXIT_OK) {
    DropLineEnd(value, &length);
    if (length == 0) {
      status = Fail(EXIT_INPUT, "nothing to encrypt: the value is empty");
    } else {
      char *text = NULL;
      VRC rc = VDataCryptEncrypt(context, value, (uint32_t)length, &text);
      status = rc == 0 ? WriteOutput(text, strlen(text))
                       : Fail(rc == ENOMEM ? EXIT_SYSTEM : EXIT_INPUT,
                              "cannot encrypt the value (code %d)", (int)rc);
      VDataCryptFreeEncryptedData(context, text);
    }
  }
  FreeSecret(value, length);
  VDataCryptCipherContextDestroy(context);
  return status;
}

static int DecryptFailure(VRC rc, const char *text, const char *algorithm) {
  switch (rc) {
    case VRC_CRYPT_NOT_ENCRYPTED:
      /* A framed text too short for the mode is the wrong algorithm's. */
      if (VDataCryptTestData(text, strlen(text))) {
        return Fail(EXIT_INPUT,
                    "the value does not decrypt with %s: wrong algorithm, or "
                    "a damaged value",
                    algorithm);
      }
      return Fail(EXIT_INPUT,
                  "standard input is not an encrypted value (@N:BASE64@)");
    case -5008:
      return Fail(EXIT_INPUT,
                  "the value does not decrypt: wrong key or algorithm, or a "
                  "damaged value");
    case ENOMEM:
    case -5002:
      return Fail(EXIT_SYSTEM, "out of memory");
    default:
      return Fail(EXIT_INPUT, "cannot decrypt the value (code %d)", (int)rc);
  }
}

static int Decrypt(const struct Options *o) {
  VDataCryptContext context = NULL;
  int status = OpenKey(o, &context);
  if (status != EXIT_OK) return status;
  char *text = NULL;
  size_t length = 0;
  status = ReadInput("Encrypted value: ", 0, &text, &length);
  if (status == EXIT_OK) {
    /* The encrypted form holds no blanks: any trailing ones are line ends. */
    while (length > 0 && strchr(" \t\r\n", text[length - 1]) != NULL) {
      text[--length] = '\0';
    }
    char *value = NULL;
    uint32_t valueLength = 0;
    VRC rc = VDataCryptDecrypt(context, text, &value, &valueLength);
    status =
        rc == 0 ? WriteOutput(value, valueLength)
                : DecryptFailure(rc, text, o->algorithm ? o->algorithm : "AES");
    VDataCryptFreeDecryptedData(context, value);
  }
  free(text);
  VDataCryptCipherContextDestroy(context);
  return status;
}

static int Test(void) {
  char *text = NULL;
  size_t length = 0;
  int status = ReadInput("Text: ", 0, &text, &length);
  if (status != EXIT_OK) return status;
  DropLineEnd(text, &length);
  status = VDataCryptTestData(text, length) ? EXIT_OK : EXIT_NOT_FRAMED;
  free(text);
  return status;
}

struct Command {
  const char *name;
  const char *options; /* what it takes */
};

static const struct Command kCommands[] = {
    {"genkey", "--bits --force --verbose FILE"},
    {"encrypt", "--key --alg --verbose"},
    {"decrypt", "--key --alg --verbose"},
    {"test", "--verbose"},
};

int main(int argc, char **argv) {
  if (argc < 2) {
    fputs(kUsage, stderr);
    return EXIT_USAGE;
  }
  for (int i = 1; i < argc && strcmp(argv[i], "--") != 0; ++i) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      fputs(kHelp, stdout);
      return fflush(stdout) == 0 ? EXIT_OK : EXIT_SYSTEM;
    }
  }
  if (strcmp(argv[1], "--version") == 0) {
    printf("vtcrypt (libvantrel) %s\n", VANTREL_VERSION_STRING);
    return EXIT_OK;
  }
  const struct Command *command = NULL;
  for (size_t i = 0; i < sizeof kCommands / sizeof kCommands[0]; ++i) {
    if (strcmp(argv[1], kCommands[i].name) == 0) command = &kCommands[i];
  }
  if (command == NULL) return UsageError("unknown command '%s'", argv[1]);
  g_command = command->name;
  struct Options o = {0};
  int status = ParseOptions(argc, argv, command->options, &o);
  if (status != EXIT_OK) return status;

  /* The library's own lines repeat what vtcrypt says; --verbose shows them.
   * The threshold is raised before start-up too, whose lines (a network
   * module not found, say) mean nothing to this tool.  Everything here
   * works without a started library. */
  if (!o.verbose) setenv("VDE_DEFAULT_LOG_LEVEL", "fatal", 1);
  (void)VInitialise("vtcrypt", NULL);
  if (!o.verbose) VLogMgrSetLevel(VLOG_FATAL);

  switch (command->name[0]) {
    case 'g':
      return GenKey(&o);
    case 'e':
      return Encrypt(&o);
    case 'd':
      return Decrypt(&o);
    default:
      return Test();
  }
}
