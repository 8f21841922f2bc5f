#include "index/idx_list.h"

#include "document/tape_document.h"
#include "tape/tape_info.h"

#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "ui/registry.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace
{

// The store behind the view; the view holds the only lasting reference.
GtkListStore *index_store = nullptr;
GtkTreeView *index_view = nullptr;
// The row of the record being played, or nullptr.
GtkTreeRowReference *playing_row = nullptr;

GtkTreeModel *model()
{
    return GTK_TREE_MODEL(index_store);
}

struct TreePathDeleter {
    void operator()(GtkTreePath *path) const { gtk_tree_path_free(path); }
};
using TreePathPtr = std::unique_ptr<GtkTreePath, TreePathDeleter>;

// The selected row, when exactly one is selected.
bool selected_row(GtkTreeIter *iter)
{
    GtkTreeSelection *selection = gtk_tree_view_get_selection(index_view);
    if (gtk_tree_selection_count_selected_rows(selection) != 1)
        return false;
    return gtk_tree_selection_get_selected(selection, nullptr, iter);
}

// Selects the row, scrolls it into view and emits "cursor_changed".
void set_cursor(GtkTreePath *path)
{
    gtk_tree_view_set_cursor(index_view, path, nullptr, FALSE);
}

void set_cursor(GtkTreeIter *iter)
{
    const TreePathPtr path(gtk_tree_model_get_path(model(), iter));
    set_cursor(path.get());
}

// While it lives the view shows no model, so a bulk change neither redraws
// nor tracks the cursor per row. The extra reference keeps the store alive
// meanwhile: the view holds the only other one.
class DetachedStore
{
  public:
    DetachedStore()
    {
        g_object_ref(index_store);
        gtk_tree_view_set_model(index_view, nullptr);
    }
    ~DetachedStore()
    {
        gtk_tree_view_set_model(index_view, model());
        g_object_unref(index_store);
    }
    DetachedStore(const DetachedStore &) = delete;
    DetachedStore &operator=(const DetachedStore &) = delete;
};

// The Time column's text for one offset: empty past the end of the tape.
std::string time_text(const std::optional<std::uint64_t> &cycles)
{
    return cycles ? tape_time_text(*cycles) : std::string();
}

std::string time_text_at(gint32 offset)
{
    return time_text(tape_document_cycles_at_each({offset}).front());
}

// The rows in their display order.
std::vector<IdxRecord> rows()
{
    std::vector<IdxRecord> rows;
    rows.reserve(size_t(gtk_tree_model_iter_n_children(model(), nullptr)));
    GtkTreeIter iter;
    for (gboolean valid = gtk_tree_model_get_iter_first(model(), &iter); valid;
         valid = gtk_tree_model_iter_next(model(), &iter)) {
        gint offset = 0;
        gchar *info = nullptr;
        gtk_tree_model_get(model(), &iter, idx_column_offset, &offset, idx_column_info, &info, -1);
        rows.push_back({offset, info != nullptr ? info : ""});
        g_free(info);
    }
    return rows;
}

// The rows as the document's records, in display order.
void sync_records()
{
    tape_document_set_records(rows());
}

// A new sort order (or an edit the sort moved) reorders the rows.
void on_rows_reordered(GtkTreeModel *, GtkTreePath *, GtkTreeIter *, gpointer, gpointer)
{
    sync_records();
}

void insert_row(gint position, gint32 offset, const char *info)
{
    GtkTreeIter iter;
    gtk_list_store_insert_with_values(index_store, &iter, position, idx_column_offset, offset,
                                      idx_column_info, info, idx_column_time,
                                      time_text_at(offset).c_str(), -1);
    sync_records();
    set_cursor(&iter);
}

// Beside its text a column needs room for the cell's padding, the header's
// border and the sort arrow.
constexpr int column_margin_px = 24;

int text_width(const std::string &text)
{
    PangoLayout *layout = gtk_widget_create_pango_layout(GTK_WIDGET(index_view), text.c_str());
    int width = 0;
    pango_layout_get_pixel_size(layout, &width, nullptr);
    g_object_unref(layout);
    return width;
}

// The digit that the view's font draws widest (digits usually share one
// width, but not in every font).
char widest_digit()
{
    char widest = '0';
    for (char digit = '1'; digit <= '9'; ++digit)
        if (text_width(std::string(1, digit)) > text_width(std::string(1, widest)))
            widest = digit;
    return widest;
}

// A column showing model column `column`, sorted by model column `sort_by`;
// editable unless it is the Time column. Its width is fixed from `widest`,
// the widest text it can hold, or its title: a view that measured every
// row would take seconds over a large list, frozen meanwhile.
GtkTreeViewColumn *add_column(const char *title, int column, int sort_by, bool right_aligned,
                              const std::string &widest)
{
    GtkCellRenderer *renderer = gtk_cell_renderer_text_new();
    if (right_aligned)
        g_object_set(renderer, "xalign", 1.0f, nullptr);
    if (column != idx_column_time) {
        g_object_set(renderer, "editable", TRUE, nullptr);
        g_object_set_data(G_OBJECT(renderer), "column_index", GINT_TO_POINTER(column));
        g_signal_connect(renderer, "edited", G_CALLBACK(idx_on_cell_edited), nullptr);
    }
    GtkTreeViewColumn *view_column =
        gtk_tree_view_column_new_with_attributes(title, renderer, "text", column, nullptr);
    gtk_tree_view_column_set_sort_column_id(view_column, sort_by);
    gtk_tree_view_column_set_sizing(view_column, GTK_TREE_VIEW_COLUMN_FIXED);
    gtk_tree_view_column_set_fixed_width(
        view_column, std::max(text_width(widest), text_width(title)) + column_margin_px);
    return view_column;
}

// The mark column's cell: a play icon on the playing row only.
void show_mark(GtkTreeViewColumn *, GtkCellRenderer *renderer, GtkTreeModel *, GtkTreeIter *iter,
               gpointer)
{
    bool playing = false;
    if (playing_row != nullptr) {
        const TreePathPtr marked(gtk_tree_row_reference_get_path(playing_row));
        const TreePathPtr path(gtk_tree_model_get_path(model(), iter));
        playing = marked && gtk_tree_path_compare(marked.get(), path.get()) == 0;
    }
    g_object_set(renderer, "stock-id", playing ? GTK_STOCK_MEDIA_PLAY : nullptr, nullptr);
}

GtkTreeViewColumn *mark_column()
{
    GtkCellRenderer *renderer = gtk_cell_renderer_pixbuf_new();
    g_object_set(renderer, "stock-size", GTK_ICON_SIZE_MENU, nullptr);
    GtkTreeViewColumn *column = gtk_tree_view_column_new();
    gtk_tree_view_column_pack_start(column, renderer, TRUE);
    gtk_tree_view_column_set_cell_data_func(column, renderer, show_mark, nullptr, nullptr);
    gint width = 0;
    gtk_icon_size_lookup(GTK_ICON_SIZE_MENU, &width, nullptr);
    gtk_tree_view_column_set_sizing(column, GTK_TREE_VIEW_COLUMN_FIXED);
    gtk_tree_view_column_set_fixed_width(column, width + 8);
    return column;
}

constexpr int hint_margin_px = 8;

// With nothing attached, the empty list says how to start. The view draws
// itself first: the hint goes on top.
gboolean draw_hint(GtkWidget *widget, GdkEventExpose *event, gpointer)
{
    if (tape_document_attached() || event->window != gtk_tree_view_get_bin_window(index_view))
        return FALSE;
    GTK_WIDGET_GET_CLASS(widget)->expose_event(widget, event);
    PangoLayout *layout =
        gtk_widget_create_pango_layout(widget, _("Open a tape or a disk image with File, Open "
                                                 "(Ctrl+O)"));
    gint width = 0;
    gdk_drawable_get_size(event->window, &width, nullptr);
    pango_layout_set_width(layout, MAX(width - 2 * hint_margin_px, 1) * PANGO_SCALE);
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    gtk_paint_layout(gtk_widget_get_style(widget), event->window, GTK_STATE_INSENSITIVE, FALSE,
                     &event->area, widget, "hint", hint_margin_px, hint_margin_px, layout);
    g_object_unref(layout);
    return TRUE;
}

// A selection read while the focus is elsewhere (on Play, say) or while the
// list cannot be edited during a run keeps the text colour of an editable
// list: the toolkit's white would sit on light grey.
void keep_selection_readable(GtkWidget *view)
{
    gtk_widget_modify_text(view, GTK_STATE_ACTIVE,
                           &gtk_widget_get_style(view)->text[GTK_STATE_NORMAL]);
}

} // namespace

void idx_list_setup()
{
    index_view = GTK_TREE_VIEW(lookup_widget(ui_window_main(), "treeview_indexes"));
    index_store = gtk_list_store_new(3, G_TYPE_INT, G_TYPE_STRING, G_TYPE_STRING);
    const char digit = widest_digit();
    // The lowest offset, and a time of four-digit minutes (a tape of days).
    const std::string offset_widest = "-" + std::string(10, digit);
    const std::string time_widest = std::string(4, digit) + ":" + std::string(2, digit);
    gtk_tree_view_append_column(index_view, mark_column());
    gtk_tree_view_append_column(index_view, add_column(_("Offset"), idx_column_offset,
                                                       idx_column_offset, true, offset_widest));
    GtkTreeViewColumn *info = add_column(_("Info"), idx_column_info, idx_column_info, false, "");
    // The description takes the room, and the user may widen it further; the
    // time stays as narrow as its text.
    gtk_tree_view_column_set_expand(info, TRUE);
    gtk_tree_view_column_set_resizable(info, TRUE);
    gtk_tree_view_append_column(index_view, info);
    gtk_tree_view_append_column(
        index_view, add_column(_("Time"), idx_column_time, idx_column_offset, true, time_widest));
    // Every row as high as the first: nothing measures the others.
    gtk_tree_view_set_fixed_height_mode(index_view, TRUE);

    gtk_tree_sortable_set_sort_column_id(GTK_TREE_SORTABLE(index_store), idx_column_offset,
                                         GTK_SORT_ASCENDING);
    g_signal_connect(index_store, "rows-reordered", G_CALLBACK(on_rows_reordered), nullptr);
    gtk_tree_view_set_model(index_view, model());
    g_object_unref(index_store);
    gtk_tree_selection_set_mode(gtk_tree_view_get_selection(index_view), GTK_SELECTION_BROWSE);
    g_signal_connect(index_view, "expose-event", G_CALLBACK(draw_hint), nullptr);
    keep_selection_readable(GTK_WIDGET(index_view));
}

void idx_list_mark_playing(std::optional<gint32> offset)
{
    GtkTreeIter iter;
    bool found = false;
    if (offset) {
        gint value = 0;
        if (selected_row(&iter)) {
            gtk_tree_model_get(model(), &iter, idx_column_offset, &value, -1);
            found = value == *offset;
        }
        for (gboolean valid = found ? FALSE : gtk_tree_model_get_iter_first(model(), &iter); valid;
             valid = gtk_tree_model_iter_next(model(), &iter)) {
            gtk_tree_model_get(model(), &iter, idx_column_offset, &value, -1);
            if ((found = value == *offset))
                break;
        }
    }
    if (playing_row != nullptr)
        gtk_tree_row_reference_free(playing_row);
    playing_row = nullptr;
    if (found) {
        const TreePathPtr path(gtk_tree_model_get_path(model(), &iter));
        playing_row = gtk_tree_row_reference_new(model(), path.get());
    }
    gtk_widget_queue_draw(GTK_WIDGET(index_view));
}

void idx_on_cell_edited(GtkCellRendererText *renderer, gchar *path, gchar *new_text, gpointer)
{
    GtkTreeIter iter;
    if (!gtk_tree_model_get_iter_from_string(model(), &iter, path))
        return;
    switch (GPOINTER_TO_INT(g_object_get_data(G_OBJECT(renderer), "column_index"))) {
    case idx_column_offset: {
        const char *text = new_text;
        gint32 offset = 0;
        // A text that is no number leaves 0, which the floor then lifts.
        idx_parse_number(&text, &offset);
        if (offset < idx_tape_start)
            offset = idx_tape_start;
        gtk_list_store_set(index_store, &iter, idx_column_offset, offset, idx_column_time,
                           time_text_at(offset).c_str(), -1);
        break;
    }
    case idx_column_info:
        gtk_list_store_set(index_store, &iter, idx_column_info, new_text, -1);
        break;
    default:
        return;
    }
    sync_records();
}

void idx_list_clear()
{
    {
        DetachedStore detached;
        gtk_list_store_clear(index_store);
    }
    sync_records();
}

bool idx_list_load(char *text)
{
    std::vector<IdxRecord> records;
    const bool has_tape_start = idx_parse_text(text, [&](gint32 offset, const char *info) {
        records.push_back({offset, info});
    });
    idx_list_fill(records);
    return has_tape_start;
}

void idx_list_fill(const std::vector<IdxRecord> &records)
{
    {
        DetachedStore detached;
        gtk_list_store_clear(index_store);
        // Each row whole, its time included: one change per row, not two.
        idx_list_insert(records);
    }
    GtkTreeIter first;
    if (gtk_tree_model_get_iter_first(model(), &first))
        set_cursor(&first);
}

void idx_list_prepend(gint32 offset, const char *info)
{
    insert_row(0, offset, info);
}

void idx_list_append(gint32 offset, const char *info)
{
    insert_row(-1, offset, info);
}

void idx_list_insert(const std::vector<IdxRecord> &records)
{
    std::vector<gint32> offsets;
    for (const IdxRecord &record : records)
        offsets.push_back(record.offset);
    const auto times = tape_document_cycles_at_each(offsets);
    for (std::size_t i = 0; i < records.size(); ++i)
        gtk_list_store_insert_with_values(
            index_store, nullptr, -1, idx_column_offset, records[i].offset, idx_column_info,
            records[i].info.c_str(), idx_column_time, time_text(times[i]).c_str(), -1);
    sync_records();
}

void idx_remove_selected(const char *placeholder)
{
    GtkTreeIter iter;
    if (!selected_row(&iter))
        return;
    TreePathPtr above(gtk_tree_model_get_path(model(), &iter));
    const bool has_above = gtk_tree_path_prev(above.get());

    gint offset = 0;
    gchar *info = nullptr;
    gtk_tree_model_get(model(), &iter, idx_column_offset, &offset, idx_column_info, &info, -1);
    const GCharPtr owned_info(info);
    // Rows at the tape start or before it are kept unless Add just made them.
    if (offset <= idx_tape_start && g_strcmp0(info, placeholder) != 0)
        return;

    const bool has_below = gtk_list_store_remove(index_store, &iter);
    sync_records();
    if (has_below)
        set_cursor(&iter);
    else if (has_above)
        set_cursor(above.get());
}

gboolean idx_select_previous()
{
    GtkTreeIter iter;
    if (!selected_row(&iter))
        return FALSE;
    const TreePathPtr path(gtk_tree_model_get_path(model(), &iter));
    if (!gtk_tree_path_prev(path.get()))
        return FALSE;
    set_cursor(path.get());
    return TRUE;
}

gboolean idx_select_next()
{
    GtkTreeIter iter;
    if (!selected_row(&iter) || !gtk_tree_model_iter_next(model(), &iter))
        return FALSE;
    set_cursor(&iter);
    return TRUE;
}

gboolean idx_get_selected_offset(guint32 *offset)
{
    GtkTreeIter iter;
    if (!selected_row(&iter))
        return FALSE;
    gint value = 0;
    gtk_tree_model_get(model(), &iter, idx_column_offset, &value, -1);
    *offset = static_cast<guint32>(value);
    return TRUE;
}

namespace
{
// The placeholder description of rows made by Add.
const char *new_entry_text()
{
    return _("<New entry>");
}
} // namespace

gboolean idx_on_scroll(GtkWidget *, GdkEventScroll *event, gpointer)
{
    if (!tape_document_attached())
        return FALSE;
    switch (event->direction) {
    case GDK_SCROLL_UP:
        idx_select_previous();
        return TRUE;
    case GDK_SCROLL_DOWN:
        idx_select_next();
        return TRUE;
    default:
        return FALSE;
    }
}

void idx_on_add_clicked(GtkButton *, gpointer)
{
    if (tape_document_attached())
        idx_list_append(idx_tape_start, new_entry_text());
}

void idx_on_remove_clicked(GtkButton *, gpointer)
{
    if (tape_document_attached())
        idx_remove_selected(new_entry_text());
}