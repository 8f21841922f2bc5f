// Translation lookup. Every user-visible text is looked up in the
// "ravelo-client" domain at the moment it is used. Start-up binds the domain
// to the catalogues installed beside the program, when it has any (app/).
#pragma once

#include <libintl.h>

#define RAVELO_TEXT_DOMAIN "ravelo-client"
#define _(text) dgettext(RAVELO_TEXT_DOMAIN, text)
// Marks a text for the translators' template without looking it up here.
#define N_(text) text
