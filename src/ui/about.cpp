#include "ui/about.h"

void ui_on_about(GtkMenuItem *, gpointer) {}
