/* Localisation: the process language and message catalogs.
 *
 * Messages are addressed by catalog, set number, message number and a
 * default text.  No catalog files are read: every lookup yields the default
 * text, and locale and catalog handles are always null.  Callers are still
 * written against catalogs so that texts can be translated later.
 *
 * Environment (VI18nSetLangCode, run by VInitialise):
 *   LC_ALL       set when unset, for the process and its children, to a
 *                three-letter language name ("enu"), which is not a C
 *                locale name; an existing value is never changed.
 *   LC_MESSAGES, LANG
 *                read while LC_ALL is unset to choose that name; "enu"
 *                when neither names a language. */
#ifndef VANTREL_VI18N_H
#define VANTREL_VI18N_H

#include "vantrel/vbase.h"

VANTREL_BEGIN_DECLS

/* Opaque handles; null is a valid handle for every call below. */
typedef struct VI18nLocaleData *VI18nLocale;
typedef struct VI18nCatalogData *VI18nCatalog;

/* Prepares localisation.  Returns 0. */
VANTREL_API VRC VI18nInitialize(void);

/* Makes sure LC_ALL is set in the environment.  When it is set already
 * (even to the empty string) nothing changes.  Otherwise it is set to the
 * user's three-letter language name in lower case: the language letters of
 * the locale the environment names (LC_MESSAGES, then LANG) followed by the
 * first letter of its territory ("en_US.UTF-8" gives "enu"), "enu" for the
 * C and POSIX locales or when none is named.
 * Returns 0; the platform's error number when the user's language cannot be
 * read; VRC_FAILURE (-19) when LC_ALL cannot be set.  Both failures are
 * reported on standard error. */
VANTREL_API VRC VI18nSetLangCode(void);

/* Would create a locale from its four description arguments (each may be
 * null).  Stores null in *locale and returns 0. */
VANTREL_API VRC VI18nLocaleCreate(const char *language, const char *territory,
                                  const char *codeset, const char *modifier,
                                  VI18nLocale *locale);

/* Releases a locale handle.  Returns 0. */
VANTREL_API VRC VI18nLocaleDestroy(VI18nLocale locale);

/* Would open the named catalog for the locale.  Stores null in *catalog and
 * returns 0. */
VANTREL_API VRC VI18nCatalogOpen(VI18nLocale locale, const char *name,
                                 VI18nCatalog *catalog);

/* Copies the text of message (set, number) of the catalog into dest, which
 * holds dest_size bytes: always the default text, cut to dest_size - 1
 * bytes and terminated.  A dest_size of 0 writes nothing; a null
 * default_text gives the empty text.  Returns 0 (dest may be null when
 * dest_size is 0). */
VANTREL_API VRC VI18nMessageGet(VI18nCatalog catalog, int32_t set,
                                int32_t number, const char *default_text,
                                char *dest, size_t dest_size);

VANTREL_END_DECLS

#endif /* VANTREL_VI18N_H */
