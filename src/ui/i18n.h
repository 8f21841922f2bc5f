// Translation lookup. Every user-visible text is looked up in the
// "ravelo-client" domain at the moment it is used; the domain is never bound
// to a directory, so catalogues are found where the C library looks.
#pragma once

#include <libintl.h>

#define RAVELO_TEXT_DOMAIN "ravelo-client"
#define _(text) dgettext(RAVELO_TEXT_DOMAIN, text)
// Marks a text for the translators' template without looking it up here.
#define N_(text) text
