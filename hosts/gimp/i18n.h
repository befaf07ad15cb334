// Texts for the user: through the plug-in's own catalog (GETTEXT_PACKAGE, set by the build).
#pragma once

#include <glib/gi18n-lib.h>

#include <string>

// Points the catalog at the locale folder installed beside the plug-in's executable.
void BindTranslations(const char* executable);
// That folder, for GIMP to translate the menu entry with.
const char* LocaleFolder();

// A string GLib made, as a std::string; frees GLib's.
inline std::string Owned(gchar* text) {
    std::string result(text);
    g_free(text);
    return result;
}
