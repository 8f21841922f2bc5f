// What the window tells about a tape: the check logged when it is attached,
// the Time column, and File, Index from tape.
#include "support/harness.h"

#include "index/idx_list.h"
#include "tap_maker.h"
#include "ui/feedback.h"

#include <cstdio>
#include <sstream>

namespace
{
// Each row of the list as "offset info time".
std::string rows()
{
    std::string out;
    GtkTreeModel *model = GTK_TREE_MODEL(gtk_tree_view_get_model(test_index_view()));
    GtkTreeIter iter;
    for (gboolean ok = gtk_tree_model_get_iter_first(model, &iter); ok;
         ok = gtk_tree_model_iter_next(model, &iter)) {
        gint offset = 0;
        gchar *info = nullptr, *time = nullptr;
        gtk_tree_model_get(model, &iter, idx_column_offset, &offset, idx_column_info, &info,
                           idx_column_time, &time, -1);
        out += std::to_string(offset) + " " + info + " " + time + "\n";
        g_free(info);
        g_free(time);
    }
    return out;
}

// The tape time up to `end` as the TAP maker counts it, as "m:ss"; "" past
// the file.
std::string time_at(const std::string &tap, std::size_t end)
{
    if (end > tap.size())
        return "";
    const std::uint64_t seconds = tap_data_cycles(tap.substr(20, end - 20)) / 985248;
    char text[32];
    std::snprintf(text, sizeof text, "%lu:%02lu", gulong(seconds / 60), gulong(seconds % 60));
    return text;
}

std::string index_from_tape()
{
    status_show("");
    gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_index_from_tape")));
    test_spin_until([] { return !test_status_text().empty(); });
    return test_status_text();
}

std::string last_log_line()
{
    const std::string log = test_log_text();
    return log.substr(log.rfind('\n', log.size() - 2) + 1);
}
} // namespace

TEST(TapeInWindow, IndexFromTapeAddsEachNewProgramOnceWithItsTime)
{
    const TapRomTape made = tap_make_programs({{1, 0x0801, "FIRST", std::string(500, 'a')},
                                               {3, 0xC000, "SECOND", std::string(900, 'b')},
                                               {1, 0x0801, "THIRD", std::string(200, 'c')}});
    const std::string &tap = made.tap;
    const std::size_t second = made.leaders[1];
    test_attach(tap, "0x14\t\tTape start\r\n0x" +
                         (std::stringstream() << std::hex << second).str() +
                         "\t\tMY NAME\r\n0x7fffff00\tfar away\r\n");
    EXPECT_EQ(last_log_line(), "Tape check: version 1, " + std::to_string(tap.size() - 20) +
                                   " bytes of data, " + time_at(tap, tap.size()) +
                                   " of tape time\n");

    EXPECT_EQ(index_from_tape(), " Found 3 programs on the tape, 2 added to the list");
    const auto row = [&](std::size_t offset, const char *info) {
        return std::to_string(offset) + " " + info + " " + time_at(tap, offset) + "\n";
    };
    EXPECT_EQ(rows(), row(20, "Tape start") + row(made.leaders[0], "FIRST") +
                          row(second, "MY NAME") + row(made.leaders[2], "THIRD") +
                          "2147483392 far away \n");
    EXPECT_NE(time_at(tap, made.leaders[2]), time_at(tap, made.leaders[0]))
        << "the tape is long enough to tell the times apart";
    EXPECT_EQ(index_from_tape(), " Found 3 programs on the tape, 0 added to the list");

    // The time follows an edited offset.
    GList *cells =
        gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(gtk_tree_view_get_column(test_index_view(), idx_view_column_first)));
    g_signal_emit_by_name(cells->data, "edited", "4", std::to_string(made.leaders[2]).c_str());
    g_list_free(cells);
    EXPECT_TRUE(g_str_has_suffix(rows().c_str(), row(made.leaders[2], "far away").c_str()));
}

TEST(TapeInWindow, AttachLogsWhatIsWrongWithATape)
{
    const std::string good = tap_make(3);
    std::string longer = good, no_signature = good, version2 = good;
    longer += std::string(10, '\x30');
    no_signature[0] = 'X';
    version2[12] = 2;
    const std::string data = std::to_string(good.size() - 20);
    const std::pair<std::string, std::string> cases[] = {
        {longer, "Tape check: the header gives " + data + " bytes of data, the file holds " +
                     std::to_string(good.size() - 10) + "\n"},
        {no_signature, "Tape check: no \"C64-TAPE-RAW\" signature, this is not a TAP file\n"},
        {version2, "Tape check: version 2, not a C64 tape\n"},
        {"C64-TAPE-RAW", "Tape check: the file is shorter than a TAP header\n"},
    };
    for (const auto &[tap, line] : cases) {
        test_attach(tap);
        EXPECT_EQ(last_log_line(), line);
        // A doubtful tape is still attached, and no program is found on it.
        EXPECT_EQ(index_from_tape(), " No programs found on the tape");
    }
}
