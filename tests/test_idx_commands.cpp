// File > Open through the real chooser answered by the test, Reload and Save
// with the real buttons, in the real main window.
#include "index/idx_commands.h"
#include "index/index_list.h"

#include "support/harness.h"
#include "ui/feedback.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

namespace fs = std::filesystem;

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

// What the test saw in the chooser when it came up.
struct ChooserSeen {
    std::string title;
    std::string filter;
    std::vector<std::string> filters;
    std::string folder;
    bool shown = false;
};

enum class Answer { open, open_all_files, open_tap_files, cancel, close };

std::string chooser_folder(GtkFileChooser *chooser)
{
    gchar *folder = gtk_file_chooser_get_current_folder(chooser);
    std::string result = folder != nullptr ? folder : "";
    g_free(folder);
    return result;
}

// Answers the next file chooser: records what it shows, then picks `path`
// (switching to the all-files filter first if asked) and presses Open once
// the chooser reports the file, or cancels or closes it.
void answer_chooser(ChooserSeen *seen, Answer answer, const std::string &path = "")
{
    test_answer_window(GTK_TYPE_FILE_CHOOSER_DIALOG, [=](GtkWidget *dialog) {
        GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog);
        seen->shown = true;
        seen->title = gtk_window_get_title(GTK_WINDOW(dialog));
        GtkFileFilter *active = gtk_file_chooser_get_filter(chooser);
        seen->filter = active != nullptr ? gtk_file_filter_get_name(active) : "";
        GSList *filters = gtk_file_chooser_list_filters(chooser);
        seen->filters.clear();
        for (GSList *l = filters; l != nullptr; l = l->next)
            seen->filters.push_back(gtk_file_filter_get_name(GTK_FILE_FILTER(l->data)));
        seen->folder = chooser_folder(chooser);

        if (answer == Answer::cancel) {
            g_slist_free(filters);
            gtk_button_clicked(GTK_BUTTON(g_object_get_data(G_OBJECT(dialog), "button1")));
            return;
        }
        if (answer == Answer::close) {
            g_slist_free(filters);
            test_send_delete(dialog);
            return;
        }
        if (answer == Answer::open_all_files)
            gtk_file_chooser_set_filter(chooser, GTK_FILE_FILTER(g_slist_last(filters)->data));
        if (answer == Answer::open_tap_files)
            gtk_file_chooser_set_filter(chooser, GTK_FILE_FILTER(filters->data));
        g_slist_free(filters);
        gtk_file_chooser_set_filename(chooser, path.c_str());
        struct Wait {
            GtkWidget *dialog;
            std::string path;
        };
        g_timeout_add(
            20,
            [](gpointer data) -> gboolean {
                auto *wait = static_cast<Wait *>(data);
                gchar *chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(wait->dialog));
                const bool ready = chosen != nullptr && wait->path == chosen;
                g_free(chosen);
                if (!ready)
                    return TRUE;
                gtk_dialog_response(GTK_DIALOG(wait->dialog), GTK_RESPONSE_OK);
                delete wait;
                return FALSE;
            },
            new Wait{dialog, path});
    });
}

// A chooser left unanswered is cancelled after 20 s, so a fault shows as a
// failure instead of a hung test.
void activate_open()
{
    const guint guard = g_timeout_add(
        20000,
        [](gpointer) -> gboolean {
            GList *all = gtk_window_list_toplevels();
            for (GList *l = all; l != nullptr; l = l->next)
                if (GTK_IS_FILE_CHOOSER_DIALOG(l->data))
                    gtk_dialog_response(GTK_DIALOG(l->data), GTK_RESPONSE_NONE);
            g_list_free(all);
            return FALSE;
        },
        nullptr);
    gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_open")));
    g_source_remove(guard);
}

// Runs File > Open and picks `path` in the chooser.
ChooserSeen open_tap(const std::string &path, Answer answer = Answer::open)
{
    ChooserSeen seen;
    answer_chooser(&seen, answer, path);
    activate_open();
    EXPECT_TRUE(seen.shown);
    return seen;
}

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

void click(const char *button)
{
    gtk_button_clicked(GTK_BUTTON(test_widget(button)));
}

void edit_info(int row, const char *text)
{
    GList *cells =
        gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(gtk_tree_view_get_column(index_view, 1)));
    const std::string path = std::to_string(row);
    g_signal_emit_by_name(cells->data, "edited", path.c_str(), text);
    g_list_free(cells);
}

class IdxCommands : public testing::Test
{
  protected:
    void SetUp() override
    {
        test_app_start();
        fs::create_directory(test_path("tapes"));
        tap = test_path("tapes/game.tap");
        idx = test_path("tapes/game.idx");
        test_write_file(tap, "C64-TAPE-RAW");
    }
    std::string tap, idx;
};

const char *const failed_message =
    " Could not save the list of index records. Check write and sharing permissions!";

} // namespace

TEST(IdxPath, SameFolderLastDotOfTheNameLowercaseIdx)
{
    const auto path = [](const char *tap) {
        gchar *idx = idx_path_for_tap(tap);
        std::string result = idx;
        g_free(idx);
        return result;
    };
    EXPECT_EQ(path("/tapes/game.tap"), "/tapes/game.idx");
    EXPECT_EQ(path("/tapes/game.side2.TAP"), "/tapes/game.side2.idx");
    EXPECT_EQ(path("/tapes/GAME.Tap"), "/tapes/GAME.idx");
    EXPECT_EQ(path("/tapes/game"), "/tapes/game.idx");
    EXPECT_EQ(path("/my.tapes/game"), "/my.tapes/game.idx");
    EXPECT_EQ(path("/tapes/.tap"), "/tapes/.idx");
    EXPECT_EQ(path("/game.tap"), "/game.idx");
    EXPECT_EQ(path("/tapes/caf\xe9.tap"), "/tapes/caf\xe9.idx");
}

TEST_F(IdxCommands, NothingBeforeTheFirstOpen)
{
    EXPECT_EQ(tap_file_chosen, 0);
    EXPECT_EQ(index_list_ready, 0);
    EXPECT_EQ(tap_file_path, nullptr);
    const std::string before = test_status_text();
    click("button_index_reload");
    click("button_index_save");
    EXPECT_EQ(test_status_text(), before);
    EXPECT_TRUE(idx_list_rows().empty());
}

TEST_F(IdxCommands, OpenWithoutIdxFileGivesTapeStartAlone)
{
    set_controls_state(0);
    const ChooserSeen seen = open_tap(tap);
    EXPECT_EQ(seen.title, "Select a TAP file");
    EXPECT_EQ(seen.filters,
              (std::vector<std::string>{"  TAP files (*.TAP) ", "  All files (*.*) "}));
    EXPECT_EQ(seen.filter, "  TAP files (*.TAP) ");

    EXPECT_STREQ(tap_file_path, tap.c_str());
    EXPECT_STREQ(idx_file_path, idx.c_str());
    EXPECT_EQ(tap_file_chosen, 1);
    EXPECT_EQ(index_list_ready, 1);
    EXPECT_EQ(idx_list_rows(), (Records{{20, "Tape start"}}));
    EXPECT_EQ(selected_index(), 0);
    EXPECT_EQ(test_status_text(), " Attached: " + tap);
    // Opening never writes the IDX file; the controls are idle again.
    EXPECT_FALSE(fs::exists(idx));
    EXPECT_TRUE(test_sensitive("button_play"));
    EXPECT_TRUE(test_sensitive("treeview_indexes"));
    EXPECT_FALSE(test_sensitive("button_stop"));
}

TEST_F(IdxCommands, OpenWithTapeStartInTheFileAddsNoRow)
{
    test_write_file(idx, "0x200\t\tLevel 2\r\n0x14\t\tStart\r\n0x100\t\tLevel 1\r\n");
    open_tap(tap);
    EXPECT_EQ(idx_list_rows(), (Records{{20, "Start"}, {0x100, "Level 1"}, {0x200, "Level 2"}}));
    EXPECT_EQ(selected_index(), 0);
}

TEST_F(IdxCommands, OpenWithoutTapeStartPutsItFirstAndSelected)
{
    test_write_file(idx, "0x200 Second\n0x100 First\n");
    open_tap(tap);
    EXPECT_EQ(idx_list_rows(), (Records{{20, "Tape start"}, {0x100, "First"}, {0x200, "Second"}}));
    EXPECT_EQ(selected_index(), 0);

    // With rows below 20 "Tape start" still gets the cursor.
    test_write_file(idx, "0x100 First\n5 Early\n");
    open_tap(tap);
    EXPECT_EQ(idx_list_rows(), (Records{{5, "Early"}, {20, "Tape start"}, {0x100, "First"}}));
    EXPECT_EQ(selected_index(), 1);
}

TEST_F(IdxCommands, OpenWithDescendingOffsetsShowsThemAscending)
{
    test_write_file(idx, "0x400 D\n0x300 C\n0x200 B\n0x14 A\n");
    open_tap(tap);
    EXPECT_EQ(idx_list_rows(), (Records{{20, "A"}, {0x200, "B"}, {0x300, "C"}, {0x400, "D"}}));
    EXPECT_EQ(selected_index(), 0);
}

TEST_F(IdxCommands, UnreadableIdxCountsAsMissing)
{
    fs::create_directory(idx); // a folder where the IDX file should be
    open_tap(tap);
    EXPECT_EQ(idx_list_rows(), (Records{{20, "Tape start"}}));
    EXPECT_EQ(test_status_text(), " Attached: " + tap);
}

TEST_F(IdxCommands, CancelOrCloseKeepsEverything)
{
    test_write_file(idx, "0x100 First\n");
    open_tap(tap);
    edit_info(1, "Edited");
    const Records rows = idx_list_rows();
    const std::string status = test_status_text();

    const std::string other = test_path("tapes/other.tap");
    test_write_file(other, "");
    for (Answer answer : {Answer::cancel, Answer::close}) {
        open_tap(other, answer);
        EXPECT_STREQ(tap_file_path, tap.c_str());
        EXPECT_STREQ(idx_file_path, idx.c_str());
        EXPECT_EQ(idx_list_rows(), rows);
        EXPECT_EQ(test_status_text(), status);
    }
    // Save still writes the attached file's IDX.
    click("button_index_save");
    EXPECT_EQ(test_read_file(idx), "0x14\t\tTape start\r\n0x100\t\tEdited\r\n");
}

TEST_F(IdxCommands, ChooserRemembersFolderAndFilterOnlyAfterOpen)
{
    fs::create_directory(test_path("other"));
    const std::string bin = test_path("other/game.bin");
    test_write_file(bin, "");

    ChooserSeen seen = open_tap(bin, Answer::open_all_files);
    EXPECT_STREQ(tap_file_path, bin.c_str());
    EXPECT_STREQ(idx_file_path, test_path("other/game.idx").c_str());

    seen = open_tap(tap, Answer::cancel);
    EXPECT_EQ(seen.filter, "  All files (*.*) ");
    EXPECT_EQ(seen.folder, test_path("other"));
    seen = open_tap(tap, Answer::close);
    EXPECT_EQ(seen.filter, "  All files (*.*) ");
    EXPECT_EQ(seen.folder, test_path("other"));

    // Open leaves the filter as it found it; the folder follows the file.
    seen = open_tap(tap);
    EXPECT_EQ(seen.filter, "  All files (*.*) ");
    seen = open_tap(tap, Answer::cancel);
    EXPECT_EQ(seen.filter, "  All files (*.*) ");
    EXPECT_EQ(seen.folder, test_path("tapes"));

    // Open with the TAP filter active brings that one back.
    open_tap(tap, Answer::open_tap_files);
    seen = open_tap(tap, Answer::cancel);
    EXPECT_EQ(seen.filter, "  TAP files (*.TAP) ");
}

TEST_F(IdxCommands, TapFilterIsRememberedToo)
{
    open_tap(tap);
    ChooserSeen seen = open_tap(tap, Answer::cancel);
    EXPECT_EQ(seen.filter, "  TAP files (*.TAP) ");
    EXPECT_EQ(seen.folder, test_path("tapes"));
}

TEST_F(IdxCommands, ReopeningDiscardsEditsLikeReload)
{
    test_write_file(idx, "0x14 Start\n0x100 First\n");
    open_tap(tap);
    edit_info(1, "Unsaved");
    click("button_index_add");
    open_tap(tap);
    EXPECT_EQ(idx_list_rows(), (Records{{20, "Start"}, {0x100, "First"}}));
    EXPECT_EQ(test_status_text(), " Attached: " + tap);
}

TEST_F(IdxCommands, ReloadReadsTheFileAgainOrResets)
{
    test_write_file(idx, "0x14 Start\n0x100 First\n");
    open_tap(tap);
    edit_info(1, "Unsaved");
    click("button_index_reload");
    EXPECT_EQ(idx_list_rows(), (Records{{20, "Start"}, {0x100, "First"}}));
    EXPECT_EQ(test_status_text(), " IDX list reloaded");
    EXPECT_EQ(selected_index(), 0);

    test_write_file(idx, "");
    click("button_index_reload");
    EXPECT_EQ(idx_list_rows(), (Records{{20, "Tape start"}}));
    EXPECT_EQ(test_status_text(), " IDX list reloaded");

    fs::remove(idx);
    click("button_index_reload");
    EXPECT_EQ(idx_list_rows(), (Records{{20, "Tape start"}}));
    EXPECT_EQ(test_status_text(), " IDX list reset");
    EXPECT_EQ(selected_index(), 0);
}

TEST_F(IdxCommands, SaveThenReloadGivesTheSameRows)
{
    open_tap(tap);
    click("button_index_add");
    GtkTreePath *first = gtk_tree_path_new_first();
    gtk_tree_view_set_cursor(index_view, first, nullptr, FALSE);
    gtk_tree_path_free(first);
    click("button_index_add");
    edit_info(1, "");
    idx_list_append(0x100000, "Far away");
    idx_list_append(0x200, "  Intro  ");
    const Records rows = idx_list_rows();

    click("button_index_save");
    EXPECT_EQ(test_status_text(), " IDX list saved to file");
    EXPECT_EQ(test_read_file(idx), "0x14\t\tTape start\r\n0x14\t\t<Missing info>\r\n"
                                   "0x14\t\t<New entry>\r\n0x200\t\t  Intro  \r\n"
                                   "0x100000\tFar away\r\n");
    click("button_index_reload");
    EXPECT_EQ(test_status_text(), " IDX list reloaded");
    Records expected = rows;
    expected[1].info = "<Missing info>";
    expected[3].info = "Intro  ";
    EXPECT_EQ(idx_list_rows(), expected);
}

TEST_F(IdxCommands, FailedSaveKeepsItsMessageAndTheList)
{
    test_write_file(idx, "0x14 Start\n");
    open_tap(tap);
    click("button_index_add");
    // A folder in the IDX file's place cannot be replaced by a file.
    fs::remove(idx);
    fs::create_directory(idx);
    click("button_index_save");
    EXPECT_EQ(test_status_text(), failed_message);
    EXPECT_EQ(idx_list_rows(), (Records{{20, "Start"}, {20, "<New entry>"}}));
    EXPECT_TRUE(fs::is_directory(idx));

    fs::remove(idx);
    click("button_index_save");
    EXPECT_EQ(test_status_text(), " IDX list saved to file");
    EXPECT_EQ(test_read_file(idx), "0x14\t\tStart\r\n0x14\t\t<New entry>\r\n");
}

TEST_F(IdxCommands, NonUtf8FileNameIsShownReadably)
{
    const std::string latin1 = test_path("tapes/caf\xe9.tap");
    test_write_file(latin1, "");
    test_write_file(test_path("tapes/caf\xe9.idx"), "0x100 Caf\xe9 start\n");
    LogCapture warnings;
    open_tap(latin1);
    EXPECT_STREQ(tap_file_path, latin1.c_str());
    EXPECT_EQ(idx_list_rows(), (Records{{20, "Tape start"}, {0x100, "Caf\xc3\xa9 start"}}));
    const std::string status = test_status_text();
    EXPECT_TRUE(g_utf8_validate(status.c_str(), -1, nullptr));
    EXPECT_EQ(status.rfind(" Attached: " + test_path("tapes/caf"), 0), 0u) << status;
    EXPECT_TRUE(warnings.warnings().empty());
}
