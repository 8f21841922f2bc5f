// What the window tells about a tape: the check logged when it is attached,
// the Time column, and File, Index from tape.
#include "support/emulator.h"

#include "document/tape_document.h"
#include "index/document_commands.h"
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
    GList *cells = gtk_cell_layout_get_cells(
        GTK_CELL_LAYOUT(gtk_tree_view_get_column(test_index_view(), idx_view_column_first)));
    g_signal_emit_by_name(cells->data, "edited", "4", std::to_string(made.leaders[2]).c_str());
    g_list_free(cells);
    EXPECT_TRUE(g_str_has_suffix(rows().c_str(), row(made.leaders[2], "far away").c_str()));
}

// Only a tape the device plays is attached. A refused file, by File, Open,
// the command line or Reload, says why on the status bar and in the log, and
// the tape attached before stays with its list: Play sends that tape, or
// nothing once it has become no tape on disk. Doubtful tapes the device
// plays are attached, with their check logged.
TEST(TapeInWindow, OnlyTapesAreAttachedAndARefusedFileLeavesTheTapeAsItWas)
{
    const std::string good = tap_make(3);
    std::string longer = good + std::string(10, '\x30'), version2 = good, version3 = good,
                c16 = good, noise(5000, '\0');
    version2[12] = 2;
    version3[12] = 3;
    c16.replace(0, 3, "C16");
    c16[12] = 2;
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = char(i * i * 2654435761u >> 13);
    const std::string no_tap = ": not a TAP file";
    // Content (nullptr: 300 MB, sparse), what the status bar says after the
    // path ("" when attached), the last log line.
    const std::tuple<const char *, const std::string *, std::string, std::string> cases[] = {
        {"noise.tap", &noise, no_tap,
         "Tape check: no \"C64-TAPE-RAW\" or \"C16-TAPE-RAW\" signature, this is not a TAP file\n"},
        {"empty.tap", nullptr, ": the file is empty", "Tape check: the file is empty\n"},
        {"huge.tap", nullptr, ": larger than any tape (256 MiB)", ""},
        {"v3.tap", &version3, no_tap, "Tape check: version 3, which no TAP file has\n"},
        {"c16.tap", &c16, "", "Tape check: version 2, not a C64 tape\n"},
        {"v2.tap", &version2, "", "Tape check: version 2, not a C64 tape\n"},
        {"longer.tap", &longer, "",
         "Tape check: the header gives " + std::to_string(good.size() - 20) +
             " bytes of data, the file holds " + std::to_string(good.size() - 10) + "\n"},
    };
    const auto make = [](const std::string &path, const std::string *content, bool huge) {
        test_write_file(path, content != nullptr ? *content : "");
        if (huge)
            fs::resize_file(path, 300u << 20); // sparse: no disk space used
    };
    const std::string base = test_path("base.tap");
    test_attach(good, "0x14\t\tTape start\r\n0x40\t\tMine\r\n", "base.tap");
    PtyDevice device;
    test_set_ports(device.slave.c_str());
    for (const auto &[name, content, why, line] : cases) {
        SCOPED_TRACE(name);
        const std::string path = test_path(name), list = rows();
        const bool huge = std::string(name) == "huge.tap";
        make(path, content, huge);
        const auto logged = [&](const std::string &file) {
            return huge ? "Cannot play " + file + why + "\n" : line;
        };
        for (const bool by_name : {false, true}) {
            // By name: relative, as the command line gives it.
            by_name ? (void)document_open_path(name) : (void)test_open_tap(path);
            EXPECT_EQ(last_log_line(), logged(path));
            if (!why.empty()) {
                EXPECT_EQ(test_status_text(), " Error: Cannot play " + path + why);
                EXPECT_STREQ(tape_document_path(), base.c_str());
                EXPECT_EQ(rows(), list);
            } else {
                EXPECT_EQ(test_status_text(), " Attached: " + path);
                EXPECT_STREQ(tape_document_path(), path.c_str());
            }
        }
        if (!why.empty()) {
            // Play sends the tape still attached.
            test_select_row(0);
            test_click("button_play");
            ASSERT_TRUE(device.start_playback());
            device.exchange("h", good.substr(0, 20));
            device.exchange("d", good.substr(20, 64));
            test_click("button_stop");
            EXPECT_TRUE(test_status_is(" Playback stopped"));
            // The attached file replaced by this one: Reload refuses it, and
            // Play sends nothing of it.
            make(base, content, huge);
            test_click("button_index_reload");
            EXPECT_EQ(test_status_text(), " Error: Cannot play " + base + why);
            EXPECT_EQ(last_log_line(), logged(base));
            EXPECT_EQ(rows(), list);
            test_click("button_play");
            EXPECT_TRUE(test_status_is(std::string(" Playback over: Unable to ") +
                                       (huge ? "retrieve file size" : "open file")));
            EXPECT_EQ(device.read_for(200), "");
            test_write_file(base, good);
        }
    }
}
