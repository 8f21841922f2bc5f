// Program and disk images as users have them: a D64 that cbmconvert made,
// attached, played from its second program against the emulated device and
// saved as a tape; images refused with their reason; and ravelo-totap.
#include "support/emulator.h"

#include "document/tape_document.h"
#include "support/tape_decode.h"

#include "config/config.h"
#include "index/document_commands.h"
#include "index/idx_list.h"
#include "tap_maker.h"

namespace
{
const std::string totap = RAVELO_TOOLS_DIR "/totap/ravelo-totap ";

// One, two and three: a BASIC program, one at $C000 and a short one.
void write_programs()
{
    test_write_file("one.prg", "\x01\x08" + std::string(300, 'A'));
    std::string two = std::string("\x00\xC0", 2);
    for (int i = 0; i < 1000; ++i)
        two += char(i * 7);
    test_write_file("two.prg", two);
    test_write_file("three.prg", "\x01\x08" + std::string(10, 'c'));
    ASSERT_EQ(std::system("cbmconvert -D4 disk.d64 one.prg two.prg three.prg >/dev/null 2>&1"), 0);
}

std::string rows_text()
{
    std::string text;
    for (const IdxRecord &row : tape_document_records())
        text += std::to_string(row.offset) + " " + row.info + "\n";
    return text;
}

// Each program the tape holds as a decoder of our own reads it: its name
// (padding cut), type (a fast program's Turbotape ID), addresses and bytes;
// "errors" when anything is off.
std::string decoded(const std::string &tap)
{
    const DecodedTape tape = test_tape_decode(tap);
    std::string text = tape.errors != 0 ? "errors\n" : "";
    for (const DecodedProgram &p : tape.programs) {
        // A fast program: what its Turbotape header says and its data.
        const auto *h = reinterpret_cast<const unsigned char *>(p.fast_header.data());
        const bool fast = p.fast_header.size() >= 5;
        text += p.name.substr(0, p.name.find_last_not_of(' ') + 1) + " " +
                std::to_string(fast ? h[0] : p.type) + " " +
                std::to_string(fast ? h[1] | h[2] << 8 : p.start) + "-" +
                std::to_string(fast ? h[3] | h[4] << 8 : p.end) + " " +
                (fast ? p.fast_bytes : p.bytes) + "\n";
    }
    return text;
}
} // namespace

TEST(ImageInWindow, ADiskPlaysFromAChosenProgramAndIsSavedAsATape)
{
    write_programs();
    const std::string disk = test_path("disk.d64");
    ASSERT_EQ(test_run(totap + "disk.d64 -o made.tap"), 0);
    const std::string made = test_read_file("made.tap"), all = decoded(made);
    const DecodedTape tape = test_tape_decode(made);
    ASSERT_EQ(tape.programs.size(), 3u);
    const auto at = [&](int i) { return std::to_string(tape.programs[i].offset); };
    EXPECT_TRUE(all == "ONE 1 2049-2349 " + std::string(300, 'A') + "\nTWO 2 49152-50152 " +
                           test_read_file("two.prg").substr(2) +
                           "\nTHREE 1 2049-2059 cccccccccc\n");
    EXPECT_EQ(tape.programs[0].offset, 20u);

    Emulator device({"--fast", "--record", test_path("received")});
    test_set_ports(device.link().c_str());
    const std::string log = test_log_text();
    ASSERT_TRUE(document_open_path("disk.d64"));
    EXPECT_EQ(test_status_text(), " Attached: " + disk);
    EXPECT_EQ(test_log_after(log),
              "D64 disk image with 3 programs: fast load 1:06 (ROM loader 1:19)\nAttached: " +
                  disk + "\n");
    EXPECT_EQ(rows_text(), "20 ONE\n" + at(1) + " TWO\n" + at(2) + " THREE\n");
    EXPECT_EQ(idx_format_records(tape_document_records()), test_read_file("made.idx"));
    EXPECT_TRUE(test_sensitive("menuitem_save_tape_as"));

    // From the second program the device gets exactly the made tape: the
    // header counting what is left, then every byte to the end.
    test_select_row(1);
    test_click("button_play");
    ASSERT_TRUE(test_status_is(" Playback over: Success condition received", 60000));
    const std::string rest = tap_wrap(made.substr(tape.programs[1].offset));
    EXPECT_TRUE(test_read_file("received") == rest);
    EXPECT_TRUE(decoded(rest) == all.substr(all.find('\n') + 1));

    // Reload makes the list from the image anew; Save writes the tape and the
    // list as edited, then attaches the tape.
    test_click("button_index_reload");
    EXPECT_EQ(test_status_text(), " IDX list reloaded");
    EXPECT_EQ(rows_text(), "20 ONE\n" + at(1) + " TWO\n" + at(2) + " THREE\n");
    idx_list_append(30, "Extra");
    const ChooserSeen seen =
        test_choose([] { test_click("button_index_save"); }, test_path("saved.tap"));
    EXPECT_EQ(seen.title, "Save tape as");
    EXPECT_EQ(seen.proposed, test_path("disk.tap"));
    EXPECT_EQ(test_status_text(), " Attached: " + test_path("saved.tap"));
    EXPECT_TRUE(test_read_file("saved.tap") == made);
    const std::string first = "0x14\t\tONE\r\n";
    EXPECT_EQ(test_read_file("saved.idx"),
              first + "0x1e\t\tExtra\r\n" + test_read_file("made.idx").substr(first.size()));
    EXPECT_FALSE(test_sensitive("menuitem_save_tape_as"));
}

// What cannot be played says why and changes nothing; a TAP file is a tape
// whatever its name.
TEST(ImageInWindow, WhatCannotBePlayedIsRefusedWithItsReason)
{
    write_programs();
    test_write_file("junk.d64", std::string(1000, 'x'));
    test_write_file("tape.d64", tap_wrap(std::string(10, '\x30')));
    test_app_start();
    std::string log = test_log_text();
    ASSERT_TRUE(document_open_path("one.prg"));
    EXPECT_FALSE(document_open_path("junk.d64"));
    const std::string why = "not a 1541 disk image (1000 bytes)";
    EXPECT_EQ(test_status_text(), " Error: Cannot play " + test_path("junk.d64") + ": " + why);
    EXPECT_EQ(test_log_after(log), "PRG file with 1 program: fast load 0:21 (ROM loader 0:23)\n"
                                   "Attached: " +
                                       test_path("one.prg") + "\nCannot play " +
                                       test_path("junk.d64") + " as a D64 disk image: " + why +
                                       "\n");
    EXPECT_EQ(rows_text(), "20 ONE\n");
    log = test_log_text();
    EXPECT_TRUE(document_open_path("tape.d64"));
    EXPECT_NE(test_log_after(log).find("\nTape check: version 1, 10 bytes of data"),
              std::string::npos);

    // The converter: nothing written for what it refuses, nothing overwritten
    // unless told, and the GNU way with options.
    const struct {
        std::string args;
        int status;
        std::string err;
    } runs[] = {
        {"junk.d64", 1, "ravelo-totap: junk.d64: " + why + "\n"},
        {"one.prg", 0, ""},
        {"one.prg", 1, "ravelo-totap: one.tap: exists already (--force overwrites it)\n"},
        {"--force one.prg", 0, ""},
        {"--bogus one.prg", 2,
         "ravelo-totap: unknown option '--bogus'\nTry 'ravelo-totap --help' for more "
         "information.\n"},
    };
    for (const auto &r : runs) {
        EXPECT_EQ(test_run(totap + r.args), r.status) << r.args;
        EXPECT_EQ(test_read_file("err"), r.err) << r.args;
    }
    EXPECT_FALSE(fs::exists("junk.tap") || fs::exists("junk.idx"));
    EXPECT_EQ(test_read_file("one.idx"), "0x14\t\tONE\r\n");
}

// Fast load off: the attached image becomes the ROM loader's tape anew, an
// edited description stays, and user.ini remembers it; on again, the file
// is byte for byte what it was.
TEST(ImageInWindow, FastLoadOffMakesTheRomLoadersTapeAndIsRemembered)
{
    write_programs();
    ASSERT_EQ(test_run(totap + "--rom disk.d64 -o rom.tap"), 0);
    test_app_start();
    const std::string ini = test_read_file(config_file_path());
    ASSERT_TRUE(document_open_path("disk.d64"));
    GList *cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(
        gtk_tree_view_get_column(test_index_view(), idx_view_column_first + idx_column_info)));
    idx_on_cell_edited(GTK_CELL_RENDERER_TEXT(cells->data), const_cast<gchar *>("1"),
                       const_cast<gchar *>("Second"), nullptr);
    g_list_free(cells);
    GtkCheckMenuItem *fast = GTK_CHECK_MENU_ITEM(test_widget("menuitem_fast_load"));
    ASSERT_TRUE(gtk_check_menu_item_get_active(fast));
    const std::string log = test_log_text();
    gtk_check_menu_item_set_active(fast, FALSE);
    EXPECT_EQ(test_log_after(log), "D64 disk image with 3 programs: ROM loader 1:19\nAttached: " +
                                       test_path("disk.d64") + "\n");
    std::string rom_idx = test_read_file("rom.idx");
    rom_idx.replace(rom_idx.find("TWO"), 3, "Second");
    EXPECT_EQ(idx_format_records(tape_document_records()), rom_idx);
    EXPECT_EQ(test_read_file(config_file_path()), ini + "\n[playback]\nfast_load=false\n");
    gtk_check_menu_item_set_active(fast, TRUE);
    EXPECT_EQ(test_read_file(config_file_path()), ini);
}

// Under German the core's texts are German too: the image's line in the log
// with its kind, a refusal's reason, and all the converter says.
TEST(ImageInWindow, GermanWindowAndConverterSpeakGermanThroughout)
{
    setenv("LANGUAGE", "de", 1);
    write_programs();
    test_write_file("junk.d64", std::string(1000, 'x'));
    test_app_start();
    const std::string log = test_log_text(), why = "kein 1541-Diskettenabbild (1000 Bytes)";
    ASSERT_TRUE(document_open_path("disk.d64"));
    EXPECT_FALSE(document_open_path("junk.d64"));
    EXPECT_EQ(test_log_after(log),
              "D64-Diskettenabbild mit 3 Programmen: Schnellladen 1:06 "
              "(ROM-Lader 1:19)\nEingelegt: " +
                  test_path("disk.d64") + "\n" + test_path("junk.d64") +
                  " kann nicht als D64-Diskettenabbild abgespielt werden: " + why + "\n");
    const std::tuple<std::string, int, std::string, std::string> runs[] = {
        {"disk.d64", 0, "Position   Start   Dauer  Typ ",
         "disk.tap (1:06 Band, 3 Programme) und disk.idx geschrieben\n"},
        {"junk.d64", 1, "", "ravelo-totap: junk.d64: " + why + "\n"},
        {"/dev/zero", 1, "",
         "ravelo-totap: /dev/zero: kein Programm- oder Diskettenabbild (.prg, .p00, .t64 oder "
         ".d64)\n"},
    };
    for (const auto &[args, status, first, last] : runs) {
        EXPECT_EQ(test_run(totap + args), status) << args;
        const std::string out = test_read_file(status == 0 ? "out" : "err");
        EXPECT_EQ(out.rfind(first, 0), 0u) << out;
        EXPECT_EQ(out.substr(out.size() - std::min(out.size(), last.size())), last) << out;
    }
}
