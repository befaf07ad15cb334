#include "i18n.h"

#include <libintl.h>

namespace {
std::string localeFolder;
}

void BindTranslations(const char* executable) {
    gchar* folder = g_path_get_dirname(executable);
    gchar* locale = g_build_filename(folder, "locale", nullptr);
    localeFolder = locale;
    bindtextdomain(GETTEXT_PACKAGE, locale);
    bind_textdomain_codeset(GETTEXT_PACKAGE, "UTF-8");
    g_free(locale);
    g_free(folder);
}

const char* LocaleFolder() { return localeFolder.c_str(); }
