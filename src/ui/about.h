// Help, About.
#pragma once

#include <gtk/gtk.h>

// The dialog's picture: 48x48 XPM with 73 colours, transparent surround.
extern const char *const ui_about_icon[];

// "activate" handler of "menuitem_about": builds and shows a modal About
// dialog that destroys itself on any response; returns at once.
void ui_on_about(GtkMenuItem *item, gpointer user_data);
