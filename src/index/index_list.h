// The editable index list ("treeview_indexes" over index_store). UI thread.
#pragma once

#include <gtk/gtk.h>

extern GtkListStore *index_store;

void idx_list_setup();
void idx_on_cell_edited(GtkCellRendererText *renderer, gchar *path, gchar *new_text,
                        gpointer user_data);
gboolean idx_on_scroll(GtkWidget *view, GdkEventScroll *event, gpointer user_data);
void idx_on_add_clicked(GtkButton *button, gpointer user_data);
void idx_on_remove_clicked(GtkButton *button, gpointer user_data);
void idx_list_clear();
gboolean idx_select_previous();
gboolean idx_select_next();
gboolean idx_get_selected_offset(guint32 *offset);
