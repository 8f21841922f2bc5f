// Translation lookup. Every user-visible text is looked up in the
// "ravelo-client" domain at the moment it is used. Each program binds the
// domain at start-up (i18n_start), to the catalogues beside the program when
// it has any.
#pragma once

#include <libintl.h>

#include <string>

#define RAVELO_TEXT_DOMAIN "ravelo-client"
#define _(text) dgettext(RAVELO_TEXT_DOMAIN, text)
// Marks a text for the translators' template without looking it up here.
#define N_(text) text

// Takes the user's locale (setlocale(LC_ALL, "")) and binds the domain, with
// texts in UTF-8 whatever the locale's character set. An installed copy
// keeps its catalogues in <prefix>/share/locale beside <prefix>/bin; the
// build tree lays them out in <build>/share/locale, beside <build>/src (the
// client) and two levels above <build>/tools/<tool>. Whichever of
// ../share/locale and ../../share/locale, from the program's folder, holds a
// catalogue of the domain is bound; with neither, the C library's default
// folder stays. Call it first thing in main(), before any thread starts.
void i18n_start();

// printf() into a string, for a looked-up text with its values filled in:
// i18n_format(_("skipped \"%s\": %s"), name, why). The compiler checks the
// values against the English text.
std::string i18n_format(const char *format, ...) __attribute__((format(printf, 1, 2)));
