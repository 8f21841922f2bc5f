// Help, Loading on the computer: what the user does on the computer to load
// a program from the device, step by step. UI thread.
#pragma once

#include <gtk/gtk.h>

// "activate" handler of "menuitem_loading_help": shows the window "Loading
// on the computer" with the steps and a Close button (Esc closes it too).
// It is not modal, so the steps stay in view while the user plays, and
// transient for the main window. There is one such window: while it is
// open, this brings it to the front. Returns at once.
void ui_on_loading_help(GtkMenuItem *item, gpointer user_data);
