#include "maintenance/update.h"

void device_update_activate(GtkMenuItem *, gpointer) {}
