#include "maintenance/reset.h"

void device_reset_activate(GtkMenuItem *, gpointer) {}
