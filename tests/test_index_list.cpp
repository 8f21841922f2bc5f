// The index list in the real main window: sorting, editing through the
// renderers' "edited" signal, Add/Remove, cursor placement, wheel, Prev/Next.
#include "index/idx_commands.h"
#include "index/index_list.h"

#include "support/harness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

bool operator==(const IdxRecord &a, const IdxRecord &b)
{
    return a.offset == b.offset && a.info == b.info;
}

std::ostream &operator<<(std::ostream &out, const IdxRecord &r)
{
    return out << "(" << r.offset << ", \"" << r.info << "\")";
}

namespace
{

using Records = std::vector<IdxRecord>;

void load(std::string text)
{
    idx_list_load(text.data());
}

// The list as the user sees it, and which row is selected (-1: none).
int selected_index()
{
    GtkTreeSelection *selection = gtk_tree_view_get_selection(index_view);
    GtkTreeIter iter;
    if (gtk_tree_selection_count_selected_rows(selection) != 1 ||
        !gtk_tree_selection_get_selected(selection, nullptr, &iter))
        return -1;
    GtkTreePath *path = gtk_tree_model_get_path(GTK_TREE_MODEL(index_store), &iter);
    const int index = gtk_tree_path_get_indices(path)[0];
    gtk_tree_path_free(path);
    return index;
}

std::string selected_info()
{
    const int index = selected_index();
    return index < 0 ? std::string("<none>") : idx_list_rows().at(size_t(index)).info;
}

// The user's click on a row.
void select_row(int row)
{
    GtkTreePath *path = gtk_tree_path_new_from_indices(row, -1);
    gtk_tree_view_set_cursor(index_view, path, nullptr, FALSE);
    gtk_tree_path_free(path);
}

GtkCellRenderer *renderer_of(int column)
{
    GList *cells =
        gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(gtk_tree_view_get_column(index_view, column)));
    auto *renderer = GTK_CELL_RENDERER(cells->data);
    g_list_free(cells);
    return renderer;
}

// What the renderer emits when the user finishes editing a cell.
void edit(int row, int column, const char *text)
{
    const std::string path = std::to_string(row);
    g_signal_emit_by_name(renderer_of(column), "edited", path.c_str(), text);
}

void click_header(int column)
{
    gtk_tree_view_column_clicked(gtk_tree_view_get_column(index_view, column));
}

void click(const char *button)
{
    gtk_button_clicked(GTK_BUTTON(test_widget(button)));
}

// Delivers a wheel notch to the list the way the X server does, so that
// the event travels on to the scrolled window when the list lets it pass.
void wheel(GdkScrollDirection direction)
{
    GdkEvent *event = gdk_event_new(GDK_SCROLL);
    event->scroll.window = GDK_WINDOW(g_object_ref(gtk_tree_view_get_bin_window(index_view)));
    event->scroll.send_event = TRUE;
    event->scroll.direction = direction;
    event->scroll.time = GDK_CURRENT_TIME;
    gtk_main_do_event(event);
    gdk_event_free(event);
    test_spin_for(20);
}

double scroll_position()
{
    GtkWidget *scrolled = test_widget("scrolledwindow_indexes");
    return gtk_adjustment_get_value(
        gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scrolled)));
}

std::string many_records(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += std::to_string(100 + i) + " Record " + std::to_string(i) + "\n";
    return text;
}

int cursor_changes = 0;

void count_cursor_change(GtkTreeView *, gpointer)
{
    ++cursor_changes;
}

class IndexList : public testing::Test
{
  protected:
    void SetUp() override
    {
        test_app_start();
        g_signal_connect(index_view, "cursor_changed", G_CALLBACK(count_cursor_change), nullptr);
    }
    // As if a TAP file had been attached.
    static void attach() { index_list_ready = 1; }
};

} // namespace

TEST_F(IndexList, AfterSetUpEmptySortedByOffsetAndInert)
{
    EXPECT_EQ(gtk_tree_view_get_model(index_view), GTK_TREE_MODEL(index_store));
    EXPECT_EQ(gtk_tree_model_get_n_columns(GTK_TREE_MODEL(index_store)), 2);
    EXPECT_EQ(gtk_tree_model_get_column_type(GTK_TREE_MODEL(index_store), 0), G_TYPE_INT);
    EXPECT_EQ(gtk_tree_model_get_column_type(GTK_TREE_MODEL(index_store), 1), G_TYPE_STRING);
    gint column = -1;
    GtkSortType order = GTK_SORT_DESCENDING;
    ASSERT_TRUE(
        gtk_tree_sortable_get_sort_column_id(GTK_TREE_SORTABLE(index_store), &column, &order));
    EXPECT_EQ(column, 0);
    EXPECT_EQ(order, GTK_SORT_ASCENDING);
    EXPECT_EQ(gtk_tree_selection_get_mode(gtk_tree_view_get_selection(index_view)),
              GTK_SELECTION_BROWSE);

    EXPECT_STREQ(gtk_tree_view_column_get_title(gtk_tree_view_get_column(index_view, 0)), "Offset");
    EXPECT_STREQ(gtk_tree_view_column_get_title(gtk_tree_view_get_column(index_view, 1)), "Info");
    EXPECT_EQ(gtk_tree_view_get_column(index_view, 2), nullptr);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(gtk_tree_view_column_get_sort_column_id(gtk_tree_view_get_column(index_view, i)),
                  i);
        gboolean editable = FALSE;
        gfloat xalign = -1;
        g_object_get(renderer_of(i), "editable", &editable, "xalign", &xalign, nullptr);
        EXPECT_TRUE(editable);
        EXPECT_FLOAT_EQ(xalign, i == 0 ? 1.0f : 0.0f);
    }

    EXPECT_TRUE(idx_list_rows().empty());
    // Nothing attached yet: Add, Remove and Previous/Next do nothing.
    click("button_index_add");
    EXPECT_TRUE(idx_list_rows().empty());
    idx_list_prepend(20, "Tape start");
    click("button_index_remove");
    click("button_index_add");
    EXPECT_EQ(idx_list_rows(), (Records{{20, "Tape start"}}));
}

TEST_F(IndexList, LoadSortsShowsAndSelectsTheFirstRow)
{
    attach();
    cursor_changes = 0;
    EXPECT_FALSE(idx_list_load(std::string("0x300 Third\n0x200 Second\n0x100 First\n").data()));
    EXPECT_EQ(idx_list_rows(), (Records{{0x100, "First"}, {0x200, "Second"}, {0x300, "Third"}}));
    EXPECT_EQ(selected_index(), 0);
    EXPECT_GE(cursor_changes, 1);
    // The store is back in the view after the bulk change.
    EXPECT_EQ(gtk_tree_view_get_model(index_view), GTK_TREE_MODEL(index_store));

    // Loading adds to what is there; callers clear first.
    EXPECT_TRUE(idx_list_load(std::string("0x14 Tape start\n").data()));
    EXPECT_EQ(idx_list_rows().size(), 4u);
    EXPECT_EQ(selected_info(), "Tape start");

    idx_list_clear();
    EXPECT_TRUE(idx_list_rows().empty());
    EXPECT_EQ(selected_index(), -1);
    EXPECT_EQ(gtk_tree_view_get_model(index_view), GTK_TREE_MODEL(index_store));
    guint32 offset = 7;
    EXPECT_FALSE(idx_get_selected_offset(&offset));
    EXPECT_EQ(offset, 7u);

    // A text without valid lines leaves the list empty and without cursor.
    EXPECT_FALSE(idx_list_load(std::string("# nothing\n\n").data()));
    EXPECT_EQ(selected_index(), -1);
}

TEST_F(IndexList, InsertSelectsTheNewRowWhereTheSortPutsIt)
{
    attach();
    load("0x100 A\n0x200 B\n");
    cursor_changes = 0;
    idx_list_prepend(20, "Tape start");
    EXPECT_EQ(selected_index(), 0);
    idx_list_append(0x150, "Between");
    EXPECT_EQ(idx_list_rows()[2], (IdxRecord{0x150, "Between"}));
    EXPECT_EQ(selected_index(), 2);
    EXPECT_EQ(cursor_changes, 2);
    guint32 offset = 0;
    ASSERT_TRUE(idx_get_selected_offset(&offset));
    EXPECT_EQ(offset, 0x150u);

    // Negative offsets are kept and handed out as their 32-bit pattern.
    idx_list_append(-5, "Before");
    EXPECT_EQ(selected_index(), 0);
    ASSERT_TRUE(idx_get_selected_offset(&offset));
    EXPECT_EQ(offset, 0xfffffffbu);
}

TEST_F(IndexList, AddGoesAfterRowsAtTwentyInEitherOrder)
{
    attach();
    idx_list_prepend(20, "Tape start");
    click("button_index_add");
    EXPECT_EQ(idx_list_rows(), (Records{{20, "Tape start"}, {20, "<New entry>"}}));
    EXPECT_EQ(selected_index(), 1);

    load("0x300 Far\n0x14 Also at twenty\n");
    click("button_index_add");
    Records rows = idx_list_rows();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[3], (IdxRecord{20, "<New entry>"}));
    EXPECT_EQ(rows[4], (IdxRecord{0x300, "Far"}));
    EXPECT_EQ(selected_index(), 3);

    click_header(0); // now descending
    click("button_index_add");
    rows = idx_list_rows();
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0], (IdxRecord{0x300, "Far"}));
    EXPECT_EQ(rows[5], (IdxRecord{20, "<New entry>"}));
    EXPECT_EQ(selected_index(), 5);
}

TEST_F(IndexList, RemoveProtectsRowsAtTwentyOrBelow)
{
    attach();
    load("0x14 Tape start\n5 Early\n-1 Negative\n0x100 Above\n0x101 <New entry>\n");
    const Records loaded{{-1, "Negative"},
                         {5, "Early"},
                         {20, "Tape start"},
                         {0x100, "Above"},
                         {0x101, "<New entry>"}};
    ASSERT_EQ(idx_list_rows(), loaded);

    // Rows at 20 or below with a real description stay, silently.
    for (int row = 0; row < 3; ++row) {
        select_row(row);
        click("button_index_remove");
        EXPECT_EQ(idx_list_rows(), loaded) << "row " << row;
        EXPECT_EQ(selected_index(), row);
    }

    // An unedited Add row at 20 can go.
    click("button_index_add");
    EXPECT_EQ(selected_index(), 3);
    EXPECT_EQ(selected_info(), "<New entry>");
    click("button_index_remove");
    EXPECT_EQ(idx_list_rows(), loaded);

    // Above 20 any description goes, the placeholder too.
    select_row(4);
    click("button_index_remove");
    select_row(3);
    click("button_index_remove");
    EXPECT_EQ(idx_list_rows(), (Records{{-1, "Negative"}, {5, "Early"}, {20, "Tape start"}}));

    // The row at 5 becomes removable once its offset is edited above 20.
    edit(1, 0, "0x40");
    EXPECT_EQ(idx_list_rows()[2], (IdxRecord{0x40, "Early"}));
    select_row(2);
    click("button_index_remove");
    EXPECT_EQ(idx_list_rows(), (Records{{-1, "Negative"}, {20, "Tape start"}}));

    // Without an attached TAP file the button does nothing; the function
    // itself still works for its callers.
    index_list_ready = 0;
    click("button_index_add");
    EXPECT_EQ(idx_list_rows().size(), 2u);
    idx_list_append(20, "placeholder");
    idx_remove_selected("placeholder");
    EXPECT_EQ(idx_list_rows().size(), 2u);
}

TEST_F(IndexList, RemoveMovesTheCursorToTheFollowingRow)
{
    attach();
    load("0x100 A\n0x200 B\n0x300 C\n");
    select_row(1);
    click("button_index_remove");
    EXPECT_EQ(idx_list_rows(), (Records{{0x100, "A"}, {0x300, "C"}}));
    EXPECT_EQ(selected_info(), "C");

    click("button_index_remove"); // the last row: the new last row is next
    EXPECT_EQ(selected_info(), "A");

    click("button_index_remove"); // the only row: nothing is selected
    EXPECT_TRUE(idx_list_rows().empty());
    EXPECT_EQ(selected_index(), -1);
    click("button_index_remove");
    EXPECT_TRUE(idx_list_rows().empty());
}

TEST_F(IndexList, OffsetEditsFollowTheNumberSyntaxAndTheFloor)
{
    attach();
    load("0x14 Tape start\n0x200 Moving\n0x300 Last\n");
    edit(1, 0, "0x100");
    EXPECT_EQ(idx_list_rows()[1], (IdxRecord{256, "Moving"}));
    edit(1, 0, "0x400");
    EXPECT_EQ(idx_list_rows(), (Records{{20, "Tape start"}, {0x300, "Last"}, {0x400, "Moving"}}));
    // The view shows the value in decimal.
    GtkTreeIter iter;
    ASSERT_TRUE(gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(index_store), &iter, nullptr, 2));
    gtk_tree_view_column_cell_set_cell_data(gtk_tree_view_get_column(index_view, 0),
                                            GTK_TREE_MODEL(index_store), &iter, FALSE, FALSE);
    gchar *shown = nullptr;
    g_object_get(renderer_of(0), "text", &shown, nullptr);
    EXPECT_STREQ(shown, "1024");
    g_free(shown);

    for (const char *text : {"5", "-1", "abc", "", "100abc", "0X100", "\t300", "0xffffffff"}) {
        idx_list_clear();
        load("0x14 Tape start\n0x500 Moving\n0x600 Last\n");
        edit(1, 0, text);
        EXPECT_EQ(idx_list_rows(), (Records{{20, "Tape start"}, {20, "Moving"}, {0x600, "Last"}}))
            << "'" << text << "'";
    }
    edit(1, 0, "  300 ");
    EXPECT_EQ(idx_list_rows()[1], (IdxRecord{300, "Moving"}));
    edit(1, 0, "021"); // octal: 17, so 20
    EXPECT_EQ(idx_list_rows()[1], (IdxRecord{20, "Moving"}));
    edit(1, 0, "0b10101");
    EXPECT_EQ(idx_list_rows()[1], (IdxRecord{21, "Moving"}));
    edit(1, 0, "2147483648"); // wraps to the most negative value: 20
    EXPECT_EQ(idx_list_rows()[1], (IdxRecord{20, "Moving"}));

    // A path that names no row is ignored.
    edit(99, 0, "0x100");
    edit(99, 1, "x");
    EXPECT_EQ(idx_list_rows().size(), 3u);
}

TEST_F(IndexList, DescriptionEditsAreStoredAsTyped)
{
    attach();
    load("0x14 Tape start\n0x100 Old\n");
    edit(1, 1, "  spaced  ");
    EXPECT_EQ(idx_list_rows()[1], (IdxRecord{0x100, "  spaced  "}));
    edit(1, 1, "");
    EXPECT_EQ(idx_list_rows()[1], (IdxRecord{0x100, ""}));
    EXPECT_EQ(idx_format_records(idx_list_rows()),
              "0x14\t\tTape start\r\n0x100\t\t<Missing info>\r\n");
    // Editing a description doesn't re-sort by offset or move the cursor.
    select_row(0);
    edit(1, 1, "Zzz");
    EXPECT_EQ(selected_index(), 0);
    EXPECT_EQ(idx_list_rows()[1].offset, 0x100);
}

TEST_F(IndexList, HeaderSortingDrivesPrevNextAndSaveOrder)
{
    attach();
    load("0x100 banana\n0x200 apple\n0x300 cherry\n0x14 tape start\n");
    click_header(1);
    gint column = -1;
    GtkSortType order;
    gtk_tree_sortable_get_sort_column_id(GTK_TREE_SORTABLE(index_store), &column, &order);
    EXPECT_EQ(column, 1);
    EXPECT_EQ(order, GTK_SORT_ASCENDING);
    // By description, whatever the offsets say.
    Records rows = idx_list_rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].info, "apple");
    EXPECT_EQ(rows[1].info, "banana");
    EXPECT_EQ(rows[2].info, "cherry");
    EXPECT_EQ(rows[3].info, "tape start");

    select_row(0);
    EXPECT_FALSE(idx_select_previous());
    EXPECT_EQ(selected_info(), "apple");
    EXPECT_TRUE(idx_select_next());
    EXPECT_EQ(selected_info(), "banana");
    EXPECT_TRUE(idx_select_next());
    EXPECT_EQ(selected_info(), "cherry");
    EXPECT_TRUE(idx_select_next());
    EXPECT_EQ(selected_info(), "tape start");
    EXPECT_FALSE(idx_select_next());
    EXPECT_EQ(selected_info(), "tape start");

    const std::string path = test_path("sorted.idx");
    ASSERT_TRUE(idx_save_file(path.c_str(), idx_list_rows()));
    EXPECT_EQ(test_read_file(path), "0x200\t\tapple\r\n0x100\t\tbanana\r\n0x300\t\tcherry\r\n"
                                    "0x14\t\ttape start\r\n");

    click_header(1); // the same header again reverses
    rows = idx_list_rows();
    EXPECT_EQ(rows[0].info, "tape start");
    EXPECT_EQ(rows[3].info, "apple");

    // The order chosen survives clearing and loading.
    idx_list_clear();
    load("0x10 b\n0x20 a\n");
    EXPECT_EQ(idx_list_rows(), (Records{{0x10, "b"}, {0x20, "a"}}));
    EXPECT_EQ(selected_info(), "b");
}

TEST_F(IndexList, PreviousAndNextStopAtTheEnds)
{
    EXPECT_FALSE(idx_select_previous());
    EXPECT_FALSE(idx_select_next());
    load("0x100 A\n0x200 B\n0x300 C\n");
    EXPECT_EQ(selected_info(), "A");
    EXPECT_FALSE(idx_select_previous());
    EXPECT_EQ(selected_info(), "A");
    EXPECT_TRUE(idx_select_next());
    EXPECT_TRUE(idx_select_next());
    EXPECT_EQ(selected_info(), "C");
    cursor_changes = 0;
    EXPECT_FALSE(idx_select_next());
    EXPECT_EQ(selected_info(), "C");
    EXPECT_EQ(cursor_changes, 0);
    EXPECT_TRUE(idx_select_previous());
    EXPECT_EQ(selected_info(), "B");
    EXPECT_EQ(cursor_changes, 1);
}

TEST_F(IndexList, WheelStepsOnlyWhileAListIsAttached)
{
    load(many_records(300));
    test_spin_for(100);
    ASSERT_EQ(selected_index(), 0);
    ASSERT_EQ(scroll_position(), 0.0);

    // Not attached: the wheel scrolls the view as usual, the selection stays.
    wheel(GDK_SCROLL_DOWN);
    EXPECT_GT(scroll_position(), 0.0);
    EXPECT_EQ(selected_index(), 0);
    wheel(GDK_SCROLL_UP);
    EXPECT_EQ(scroll_position(), 0.0);

    attach();
    wheel(GDK_SCROLL_UP); // first row: nothing moves, the view does not scroll
    EXPECT_EQ(selected_index(), 0);
    EXPECT_EQ(scroll_position(), 0.0);
    wheel(GDK_SCROLL_DOWN);
    wheel(GDK_SCROLL_DOWN);
    EXPECT_EQ(selected_index(), 2);
    EXPECT_EQ(scroll_position(), 0.0);
    wheel(GDK_SCROLL_UP);
    EXPECT_EQ(selected_index(), 1);

    // Left and right are passed on.
    GdkEvent *event = gdk_event_new(GDK_SCROLL);
    event->scroll.window = GDK_WINDOW(g_object_ref(gtk_tree_view_get_bin_window(index_view)));
    for (GdkScrollDirection direction : {GDK_SCROLL_LEFT, GDK_SCROLL_RIGHT, GDK_SCROLL_UP}) {
        event->scroll.direction = direction;
        gboolean handled = FALSE;
        g_signal_emit_by_name(index_view, "scroll_event", event, &handled);
        EXPECT_EQ(handled, direction == GDK_SCROLL_UP);
    }
    gdk_event_free(event);

    // At the last row the notch is still consumed.
    select_row(299);
    test_spin_for(50);
    const double bottom = scroll_position();
    EXPECT_GT(bottom, 0.0);
    wheel(GDK_SCROLL_DOWN);
    EXPECT_EQ(selected_index(), 299);
    EXPECT_EQ(scroll_position(), bottom);
}
