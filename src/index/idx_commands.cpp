#include "index/idx_commands.h"

gchar *tap_file_path = nullptr;
gchar *idx_file_path = nullptr;
int tap_file_chosen = 0;
int index_list_ready = 0;

void idx_on_open_tap_file(GtkMenuItem *, gpointer) {}
void idx_on_reload_clicked(GtkButton *, gpointer) {}
void idx_on_save_clicked(GtkButton *, gpointer) {}
