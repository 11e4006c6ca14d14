// Localisation: the process language and message catalogs.  No catalog
// files are read, so handles stay null and every lookup yields its default
// text.
#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vantrel/venv.h"
#include "vantrel/vi18n.h"
#include "vantrel/vrc.h"

namespace vantrel::internal {
namespace {

constexpr char kDefaultLanguage[] = "enu";

inline bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The locale name the C runtime would use for messages when LC_ALL is
// unset: LC_MESSAGES, then LANG; empty values do not count.
const char *MessagesLocaleName() {
  static constexpr const char *kVariables[] = {"LC_MESSAGES", "LANG"};
  for (const char *variable : kVariables) {
    const char *value = getenv(variable);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return nullptr;
}

// True for the names of the portable locale ("C", "C.UTF-8", "POSIX").
bool IsPortableLocale(const char *name) {
  return strcmp(name, "POSIX") == 0 ||
         (name[0] == 'C' && (name[1] == '\0' || name[1] == '.'));
}

// Three-letter language name of a locale name "ll_TT.codeset@modifier":
// the language letters and the first letter of the territory.  A language
// of three letters or more keeps its first three; without a territory the
// language stands for it ("de" reads as "de_DE").  A name without a
// language is one the C runtime cannot load either, so it reads as the
// portable locale.
void LanguageOfLocale(const char *name, char out[4]) {
  size_t letters = 0;
  while (IsAsciiLetter(name[letters])) ++letters;
  if (IsPortableLocale(name) || letters < 2) {
    memcpy(out, kDefaultLanguage, sizeof kDefaultLanguage);
    return;
  }
  out[0] = name[0];
  out[1] = name[1];
  out[2] = name[letters >= 3 ? 2 : 0];
  if (letters == 2 && name[2] == '_' && IsAsciiLetter(name[3])) {
    out[2] = name[3];
  }
  out[3] = '\0';
  for (int i = 0; i < 3; ++i) {
    out[i] = static_cast<char>(tolower(static_cast<unsigned char>(out[i])));
  }
}

// Reads the user's three-letter language name.  The environment always
// yields one here, so this cannot fail; the code is the platform's error
// number where reading can.
VRC ReadUserLanguage(char out[4]) {
  const char *name = MessagesLocaleName();
  if (name == nullptr) name = "C";
  LanguageOfLocale(name, out);
  return 0;
}

void CopyBounded(const char *text, char *dest, size_t dest_size) {
  if (dest_size == 0) return;
  if (text == nullptr) text = "";
  size_t length = strnlen(text, dest_size - 1);
  memcpy(dest, text, length);
  dest[length] = '\0';
}

}  // namespace

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

VRC VI18nInitialize(void) { return 0; }

VRC VI18nSetLangCode(void) {
  if (VEnvIsSet("LC_ALL")) return 0;
  char language[4];
  VRC rc = vi::ReadUserLanguage(language);
  if (rc != 0) {
    fprintf(stderr, "Error: GetLocaleInfo() failed. [%ld]\n",
            static_cast<long>(rc));
    return rc;
  }
  rc = VEnvSet("LC_ALL", language);
  if (rc != 0) {
    fprintf(stderr, "ERROR: Failed to set LC_ALL. System error no: %ld\n",
            static_cast<long>(rc));
    return VRC_FAILURE;
  }
  return 0;
}

VRC VI18nLocaleCreate(const char *, const char *, const char *, const char *,
                      VI18nLocale *locale) {
  if (locale == nullptr) return EINVAL;
  *locale = nullptr;
  return 0;
}

VRC VI18nLocaleDestroy(VI18nLocale) { return 0; }

VRC VI18nCatalogOpen(VI18nLocale, const char *, VI18nCatalog *catalog) {
  if (catalog == nullptr) return EINVAL;
  *catalog = nullptr;
  return 0;
}

VRC VI18nMessageGet(VI18nCatalog, int32_t, int32_t, const char *default_text,
                    char *dest, size_t dest_size) {
  if (dest == nullptr && dest_size != 0) return EINVAL;
  vi::CopyBounded(default_text, dest, dest_size);
  return 0;
}
