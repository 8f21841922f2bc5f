// The file chooser through which the user picks a tape or a program image.
#pragma once

#include <gtk/gtk.h>

// Builds a fresh, unshown open-mode chooser with Cancel (GTK_RESPONSE_CANCEL)
// and Open (GTK_RESPONSE_OK, the default). The caller runs and destroys it.
GtkWidget *ui_open_dialog_create();
