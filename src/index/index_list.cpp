#include "index/index_list.h"

GtkListStore *index_store = nullptr;

void idx_list_setup() {}
void idx_on_cell_edited(GtkCellRendererText *, gchar *, gchar *, gpointer) {}
gboolean idx_on_scroll(GtkWidget *, GdkEventScroll *, gpointer)
{
    return FALSE;
}
void idx_on_add_clicked(GtkButton *, gpointer) {}
void idx_on_remove_clicked(GtkButton *, gpointer) {}
void idx_list_clear() {}
gboolean idx_select_previous()
{
    return FALSE;
}
gboolean idx_select_next()
{
    return FALSE;
}
gboolean idx_get_selected_offset(guint32 *)
{
    return FALSE;
}
