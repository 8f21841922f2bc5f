// The IDX file by rule: numbers, lines, records and saving. Then the index
// list in the real main window and its commands: File > Open through the
// real chooser, Reload and Save with the real buttons.
#include "idx/idx_format.h"
#include "index/document_commands.h"
#include "index/idx_list.h"
#include "ui/worker.h"

#include "support/harness.h"

#include "document/tape_document.h"
#include "tap_maker.h"

#include <optional>

using namespace std::string_literals;
using Records = std::vector<std::pair<long, std::string>>;

namespace
{

std::optional<gint32> number(const std::string &text)
{
    const char *pos = text.c_str();
    gint32 value = 12345;
    if (idx_parse_number(&pos, &value))
        return value;
    EXPECT_EQ(value, 0) << "a failed parse leaves 0";
    return std::nullopt;
}

// The records read from an IDX text, and whether one was at 20.
std::pair<Records, bool> parse(std::string text)
{
    Records records;
    const bool tape_start = idx_parse_text(text.data(), [&](gint32 offset, const char *info) {
        records.push_back({offset, info});
    });
    return {records, tape_start};
}

// The rows as the list shows them.
Records rows()
{
    Records rows;
    for (const IdxRecord &row : tape_document_records())
        rows.emplace_back(row.offset, row.info);
    return rows;
}

bool load(std::string text)
{
    return idx_list_load(text.data());
}

// Finishing a cell's edit (what its renderer reports), turning the wheel
// over the list: true when the list consumed the notch, so that the
// scrolled window around it does not scroll.
void edit(int row, int column, const char *text)
{
    GList *cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(
        gtk_tree_view_get_column(test_index_view(), idx_view_column_first + column)));
    g_signal_emit_by_name(cells->data, "edited", std::to_string(row).c_str(), text);
    g_list_free(cells);
}

bool wheel(GdkScrollDirection direction)
{
    GdkEvent *event = gdk_event_new(GDK_SCROLL);
    event->scroll.window =
        GDK_WINDOW(g_object_ref(gtk_tree_view_get_bin_window(test_index_view())));
    event->scroll.direction = direction;
    gboolean handled = FALSE;
    g_signal_emit_by_name(test_index_view(), "scroll_event", event, &handled);
    gdk_event_free(event);
    return handled;
}

const std::string first_filter = "Tapes and programs", all_filter = "  All files (*.*) ";

} // namespace

TEST(IdxFormat, NumbersLinesAndRecordsByRule)
{
    const std::optional<gint32> fails;
    using Cases = std::vector<std::pair<std::string, std::optional<gint32>>>;
    // clang-format off
    const std::pair<const char *, Cases> rules[] = {
        {"the prefix gives the base, hex digits in either case",
         {{"100 x", 100}, {"0144 x", 100}, {"0x64 x", 100}, {"0b1100100 x", 100}, {"0x6A", 106},
          {"0x6a", 106}}},
        {"lowercase prefixes only, no digit at or above the base",
         {{"0X64", fails}, {"0B101", fails}, {"08", fails}, {"0b102", fails}, {"0x1G", fails},
          {"0x:", fails}, {"0o17", fails}}},
        {"0 and a prefix without digits are 0",
         {{"0 word", 0}, {"0x word", 0}, {"0b\tword", 0}, {"0x", 0}, {"-0", 0}}},
        {"one minus directly before the digits, no plus",
         {{"-0x14", -20}, {"-5", -5}, {"--5", fails}, {"- 5", fails}, {"+5", fails}, {"-", fails}}},
        {"spaces before the number, no TAB",
         {{"   42", 42}, {"\t42", fails}, {"", fails}, {"   ", fails}}},
        {"the number ends at a byte 0x00-0x20 only",
         {{"20Game", fails}, {"12a", fails}, {"20\x01", 20}, {"20\r", 20}, {"20\x7f", fails},
          {"20\xe9", fails}}},
        {"modulo 2^32, read as signed",
         {{"0xFFFFFFFF", -1}, {"0xfffffffb", -5}, {"0x100000014", 20}, {"2147483648", G_MININT32},
          {"-0x80000001", G_MAXINT32}, {"0x" + std::string(10000, 'f'), -1}}}};
    // clang-format on
    for (const auto &[rule, cases] : rules)
        for (const auto &[text, value] : cases)
            EXPECT_EQ(number(text), value) << rule << ": '" << text << "'";

    // Lines, and whether a record was at 20.
    // clang-format off
    const std::tuple<std::string, Records, bool> lines[] = {
        {"0x14\t\tTape start\r\n", {{20, "Tape start"}}, true},
        {"  0x100   Intro  ", {{256, "Intro  "}}, false},
        {"0x200", {{512, ""}}, false},
        // A line whose number does not parse (the rules above) is skipped silently.
        {"\t0x20 tab\n# comment\n+100 plus\n20Game\nHeading\n0x30 kept\n", {{0x30, "kept"}}, false},
        {"", {}, false}, {"\n\n  \r\n\t\n", {}, false}, {"\r\r\r\r", {}, false},
        // After the number spaces and TABs are skipped; the rest of the line is
        // the description, trailing blanks and other control bytes included.
        {"0x14 \t Tape\t start \t\n", {{20, "Tape\t start \t"}}, true},
        {"0x15\x0bvertical", {{21, "\x0bvertical"}}, false},
        {"100 0x200 300", {{100, "0x200 300"}}, false},
        // Equal offsets are all kept; the flag needs exactly 20 (after the wrap).
        {"0x14 one\n20 two\n", {{20, "one"}, {20, "two"}}, true},
        {"21 a\n19 b\n0x100000014 c", {{21, "a"}, {19, "b"}, {20, "c"}}, true},
        {"21 a\n19 b\n0x114 c", {{21, "a"}, {19, "b"}, {0x114, "c"}}, false},
        // Nothing after a NUL is read, even in the middle of a line.
        {"0x14 a\n0x15 b\0" "0x16 c\n"s, {{20, "a"}, {21, "b"}}, true},
        {"0x20 befo\0re\n0x21 after\n"s, {{32, "befo"}}, false},
        // Bytes that are not UTF-8 are read as Windows-1252 (the bytes it
        // leaves undefined as C1 controls), one by one: overlong and surrogate
        // sequences too; UTF-8 stays as it is, also beside them. A lone CR and
        // LF CR end lines.
        {"0x20 Caf\xe9\n0x21 Caf\xc3\xa9\n0x22 \x80\x96\x93\x94\n0x23 \x81\x8d\n0x24 ab\xc3",
         {{32, "Caf\xc3\xa9"}, {33, "Caf\xc3\xa9"}, {34, "\xe2\x82\xac\xe2\x80\x93\xe2\x80\x9c\xe2\x80\x9d"},
          {35, "\xc2\x81\xc2\x8d"}, {36, "ab\xc3\x83"}}, false},
        {"0x14 \xc3\xa9 \xff\xc0\xaf\xed\xa0\x80\r0x99 b\n\r0x15 c",
         {{20, "\xc3\xa9 \xc3\xbf\xc3\x80\xc2\xaf\xc3\xad\xc2\xa0\xe2\x82\xac"}, {0x99, "b"}, {21, "c"}}, true}};
    // clang-format on
    for (const auto &[text, records, has_tape_start] : lines)
        EXPECT_EQ(parse(text), std::make_pair(records, has_tape_start)) << "'" << text << "'";

    // Records: two TABs up to 0xFFFFF compared as signed, so for negative
    // offsets too, which are written as their 32-bit pattern. What does not
    // come back: empty descriptions, leading blanks, line breaks.
    // clang-format off
    const std::tuple<gint32, const char *, const char *, Records> records[] = {
        {20, "Tape start", "0x14\t\tTape start\r\n", {}}, {0, "zero", "0x0\t\tzero\r\n", {}},
        {0xFFFFF, "a", "0xfffff\t\ta\r\n", {}},           {0x100000, "b", "0x100000\tb\r\n", {}},
        {G_MAXINT32, "c", "0x7fffffff\tc\r\n", {}},        {-5, "d", "0xfffffffb\t\td\r\n", {}},
        {G_MININT32, "e", "0x80000000\t\te\r\n", {}},
        {0xABC, "in\ttab 0x1  ", "0xabc\t\tin\ttab 0x1  \r\n", {}},
        {0xDEF, "Caf\xc3\xa9 \xe2\x82\xac", "0xdef\t\tCaf\xc3\xa9 \xe2\x82\xac\r\n", {}},
        {0x200, "", "0x200\t\t<Missing info>\r\n", {{0x200, "<Missing info>"}}},
        {0x200, nullptr, "0x200\t\t<Missing info>\r\n", {{0x200, "<Missing info>"}}},
        {0x200, " \t lead", "0x200\t\t \t lead\r\n", {{0x200, "lead"}}},
        {0x200, "one\rtwo", "0x200\t\tone\rtwo\r\n", {{0x200, "one"}}},
        {0x200, "one\n0x300 two", "0x200\t\tone\n0x300 two\r\n", {{0x200, "one"}, {0x300, "two"}}}};
    // clang-format on
    for (const auto &[offset, info, line, back] : records) {
        EXPECT_EQ(idx_format_record(offset, info), line);
        EXPECT_EQ(parse(line).first, back.empty() ? (Records{{offset, info}}) : back);
    }
}

// The client looks for the IDX file there, and ravelo-totap writes it there.
TEST(IdxFormat, TheIdxFileIsTheTapeNameCutAtItsLastDotPlusIdx)
{
    const char rule[] = "same folder, the file name cut at its last '.', plus \".idx\"";
    test_write_file("x.prg", "\x01\x08 10");
    fs::create_directory("dir"), fs::create_directory("dir.d");
    const std::pair<std::string, std::string> paths[] = {
        {"game.tap", "game.idx"},         {"dir/.tap", "dir/.idx"},
        {"dir.d/game", "dir.d/game.idx"}, {"a.b.TAP", "a.b.idx"},
        {"caf\xe9.Tap", "caf\xe9.idx"},   {test_path("g.tap"), test_path("g.idx")}};
    for (const auto &[tap, idx] : paths) {
        EXPECT_EQ(idx_path_for_tap(tap), idx) << rule;
        EXPECT_TRUE(test_run(RAVELO_TOOLS_DIR "/totap/ravelo-totap x.prg -o '" + tap + "'") == 0 &&
                    fs::exists(idx))
            << rule << ": ravelo-totap -o " << tap;
    }
}

TEST(IdxCommands, OpenFillsTheListFromTheIdxFileAndCancelKeepsEverything)
{
    test_app_start();
    const std::string tap = test_path("tapes/game.tap"), idx = test_path("tapes/game.idx");
    fs::create_directory(test_path("tapes"));
    test_write_file(tap, tap_wrap(""));
    // Before the first Open the buttons and the wheel do nothing; Save and
    // Play say why.
    load("0x20 Next\n0x14 <New entry>\n");
    const std::string before = test_status_text();
    for (const char *button : {"button_index_add", "button_index_remove", "button_index_reload"})
        test_click(button);
    EXPECT_FALSE(wheel(GDK_SCROLL_DOWN));
    EXPECT_EQ(rows(), (Records{{20, "<New entry>"}, {32, "Next"}}));
    EXPECT_EQ(test_selected(), rows()[0]);
    EXPECT_EQ(test_status_text(), before);
    for (const auto &[button, what] :
         {std::pair{"button_index_save", "save"}, {"button_play", "play"}}) {
        test_click(button);
        EXPECT_EQ(test_status_text(),
                  std::string(" Nothing to ") + what + ": open a tape or a program image first");
    }
    EXPECT_FALSE(ui_worker_active()); // no run started

    const ChooserSeen seen = test_open_tap(tap);
    EXPECT_EQ(seen.title, "Open a tape or program image");
    const std::string programs = " c.Prg d.P00 e.t64 f.D64";
    EXPECT_EQ(seen.filters, (std::vector<std::string>{
                                first_filter + ": a.TAP b.tap" + programs, "TAP tapes: a.TAP b.tap",
                                "Programs and disk images:" + programs,
                                all_filter + ": a.TAP b.tap" + programs + " g.txt"}));
    EXPECT_EQ(seen.filter, first_filter);
    EXPECT_TRUE(test_controls_are(true));
    EXPECT_FALSE(fs::exists(idx));

    // Every Open reads the IDX file anew, dropping unsaved edits.
    const std::tuple<const char *, Records, int> cases[] = {
        {nullptr, {{20, "Tape start"}}, 0}, // no IDX file
        {"", {{20, "Tape start"}}, 0},
        {"0x400\t\tD\r\n0x200\t\tB\r\n0x14\t\tA\r\n", {{20, "A"}, {0x200, "B"}, {0x400, "D"}}, 0},
        {"0x200 B\n0x100 A\n", {{20, "Tape start"}, {0x100, "A"}, {0x200, "B"}}, 0},
        {"0x100 A\n5 Early\n", {{5, "Early"}, {20, "Tape start"}, {0x100, "A"}}, 1}};
    for (const auto &[content, expected, at] : cases) {
        edit(0, idx_column_info, "Unsaved");
        fs::remove(idx);
        if (content != nullptr)
            test_write_file(idx, content);
        test_answering(GTK_RESPONSE_NO, [&] { test_open_tap(tap); });
        EXPECT_EQ(rows(), expected) << (content ? content : "no IDX file");
        EXPECT_EQ(test_selected(), expected[at]);
        EXPECT_EQ(test_status_text(), " Attached: " + tap);
    }

    // Cancel keeps everything; only a file opened is remembered.
    fs::create_directory(test_path("other"));
    const std::string bin = test_path("other/game.bin"), bin_idx = test_path("other/game.idx");
    test_write_file(bin, tap_wrap(""));
    test_open_tap(bin, Answer::open_all_files);
    EXPECT_STREQ(tape_document_idx_path(), bin_idx.c_str());
    edit(0, idx_column_info, "Edited");
    const std::string status = test_status_text();

    for (Answer answer : {Answer::cancel, Answer::close}) {
        ChooserSeen seen;
        test_answering(GTK_RESPONSE_NO, [&] { seen = test_open_tap(tap, answer); });
        EXPECT_EQ(seen.filter, all_filter);
        EXPECT_EQ(seen.folder, test_path("other"));
        EXPECT_STREQ(tape_document_path(), bin.c_str());
        EXPECT_EQ(rows(), (Records{{20, "Edited"}}));
        EXPECT_EQ(test_status_text(), status);
    }
    test_click("button_index_save");
    EXPECT_EQ(test_read_file(bin_idx), "0x14\t\tEdited\r\n");
}

TEST(IdxCommands, RowsEditsSaveReloadAndHeaderSortingByTheirRules)
{
    const std::string tap = test_path("tapes/game.tap"), idx = test_path("tapes/game.idx");
    fs::create_directory(test_path("tapes"));
    test_write_file(tap, tap_wrap(""));
    test_open_tap(tap);
    // Remove keeps the rows at 20 and below (but a new one), Add puts one at
    // 20; an edited offset follows the number syntax, a description is taken
    // as typed.
    load("0x14 Tape start\n5 Early\n-1 Negative\n0x100 Above\n0x101 <New entry>\n0x200 Last\n");
    const Records loaded = rows();
    for (int row = 0; row < 3; ++row) {
        test_select_row(row);
        test_click("button_index_remove");
        EXPECT_EQ(rows(), loaded) << "row " << row;
    }
    test_click("button_index_add");
    EXPECT_EQ(rows()[3], (Records::value_type{20, "<New entry>"}));
    test_click("button_index_remove"); // the cursor was on it
    EXPECT_EQ(rows(), loaded);
    EXPECT_EQ(test_selected().second, "Above");
    test_select_row(4);
    test_click("button_index_remove");
    EXPECT_EQ(test_selected().second, "Last");
    test_click("button_index_remove");
    EXPECT_EQ(test_selected().second, "Above");
    // Without a row, Play finds no offset.
    idx_list_clear();
    guint32 no_offset = 0;
    EXPECT_FALSE(idx_get_selected_offset(&no_offset));

    load("0x14 Tape start\n0x200 Other\n0x300 Moving\n");
    edit(2, idx_column_offset, "0x100");
    EXPECT_EQ(rows(), (Records{{20, "Tape start"}, {256, "Moving"}, {0x200, "Other"}}));

    // No number, or one below 20 (also after the wrap-around), gives 20.
    const std::pair<const char *, gint32> cases[] = {
        {"5", 20},      {"-1", 20},  {"abc", 20},        {"", 20},
        {"100abc", 20}, {"021", 20}, {"2147483648", 20}, {"  300 ", 300}};
    for (const auto &[text, offset] : cases) {
        load("0x200 Moving\n");
        edit(0, idx_column_offset, text);
        EXPECT_EQ(rows(), (Records{{offset, "Moving"}})) << "'" << text << "'";
    }
    for (const char *text : {"  as typed  ", ""}) {
        edit(0, idx_column_info, text);
        EXPECT_EQ(rows()[0].second, text);
    }
    edit(9, idx_column_info, "a path that names no row");
    EXPECT_EQ(rows().size(), 1u);

    // Save and Reload with their messages, from the list Reload resets.
    test_answering(GTK_RESPONSE_NO, [] { test_click("button_index_reload"); });
    test_click("button_index_add");
    edit(1, idx_column_info, "");
    idx_list_append(0x100000, "Far away");
    idx_list_append(0x200, "  Intro  ");
    Records saved = rows();
    test_click("button_index_save");
    EXPECT_EQ(test_status_text(), " IDX list saved to file");
    // Reload gives the rows back, but for what the format cannot keep.
    idx_list_append(0x300, "Unsaved");
    test_answering(GTK_RESPONSE_NO, [] { test_click("button_index_reload"); });
    EXPECT_EQ(test_status_text(), " IDX list reloaded");
    saved[1].second = "<Missing info>";
    saved[2].second = "Intro  ";
    EXPECT_EQ(rows(), saved);
    EXPECT_EQ(test_selected(), rows()[0]);

    // A folder in the IDX file's place cannot be replaced by a file; no
    // temporary file is left beside it.
    fs::remove(idx);
    fs::create_directory(idx);
    test_click("button_index_save");
    EXPECT_EQ(test_status_text(),
              " Could not save the list of index records. Check write and sharing permissions!");
    EXPECT_EQ(rows(), saved);
    EXPECT_EQ(std::distance(fs::directory_iterator(test_path("tapes")), {}), 2);
    // Read, it counts as no IDX file.
    test_answering(GTK_RESPONSE_NO, [] { test_click("button_index_reload"); });
    EXPECT_EQ(test_status_text(), " IDX list reset");
    EXPECT_EQ(rows(), (Records{{20, "Tape start"}}));
    EXPECT_EQ(test_selected(), rows()[0]);

    // Sorted by a header, Previous, Next, the wheel and Save follow it.
    fs::remove(idx);
    test_write_file(idx, "0x100 banana\n0x200 apple\n0x300 cherry\n0x14 tape start\n");
    test_click("button_index_reload");
    gtk_tree_view_column_clicked(
        gtk_tree_view_get_column(test_index_view(), idx_view_column_first + idx_column_info));
    EXPECT_EQ(
        rows(),
        (Records{{0x200, "apple"}, {0x100, "banana"}, {0x300, "cherry"}, {20, "tape start"}}));

    // Previous and Next stop at the ends; the wheel is consumed even there,
    // sideways it is the view's.
    const auto up = [] { return gboolean(wheel(GDK_SCROLL_UP)); };
    const auto down = [] { return gboolean(wheel(GDK_SCROLL_DOWN)); };
    // clang-format off
    const std::tuple<std::function<gboolean()>, gboolean, const char *> moves[] = {
        {idx_select_previous, FALSE, "apple"}, {up, TRUE, "apple"}, {idx_select_next, TRUE, "banana"},
        {down, TRUE, "cherry"}, {down, TRUE, "tape start"}, {idx_select_next, FALSE, "tape start"},
        {down, TRUE, "tape start"}, {idx_select_previous, TRUE, "cherry"},
        {[] { return gboolean(wheel(GDK_SCROLL_LEFT)); }, FALSE, "cherry"}};
    // clang-format on
    test_select_row(0);
    for (const auto &[move, result, now] : moves)
        EXPECT_TRUE(move() == result && test_selected().second == now) << now;
    test_click("button_index_save");
    EXPECT_EQ(test_read_file(idx), "0x200\t\tapple\r\n0x100\t\tbanana\r\n0x300\t\tcherry\r\n"
                                   "0x14\t\ttape start\r\n");
    // The same header again reverses; the order chosen outlives Reload.
    gtk_tree_view_column_clicked(
        gtk_tree_view_get_column(test_index_view(), idx_view_column_first + idx_column_info));
    test_write_file(idx, "0x10 a\n0x20 b\n0x14 tape start\n");
    test_answering(GTK_RESPONSE_NO, [] { test_click("button_index_reload"); });
    EXPECT_EQ(rows(), (Records{{20, "tape start"}, {0x20, "b"}, {0x10, "a"}}));
    EXPECT_EQ(test_selected(), rows()[0]);
}
