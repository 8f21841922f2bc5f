// Help, About.
#pragma once

#include <gtk/gtk.h>

// The licence, LICENSE as the build found it.
extern const char ui_licence_text[];

// "activate" handler of "menuitem_about": builds and shows a modal About
// dialog, transient for the main window, with the build date in the
// locale's format, the home page, a License button that shows the licence
// over it, and the focus on its OK button (Enter closes it); it destroys
// itself on any response. Returns at once.
void ui_on_about(GtkMenuItem *item, gpointer user_data);
