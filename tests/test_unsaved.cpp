// A changed index list is never dropped unasked: Quit (the menu, Ctrl+Q, the
// title bar's close button), File, Open and Reload ask first in the real
// main window, and do what the answer says.
#include "index/idx_list.h"
#include "ui/registry.h"

#include "support/harness.h"

#include "document/tape_document.h"
#include "tap_maker.h"

#include <unistd.h>

namespace
{
enum Trigger { by_menu, by_ctrl_q, by_close_button, by_open, by_reload };
// Before the trigger: a row added; added and saved with the Save button;
// added, with a folder in the IDX file's place; nothing.
enum Before { edit, edit_saved, edit_unwritable, nothing };
Trigger trigger;
int answer;

void (*const pulls[])() = {
    [] { gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_quit"))); },
    [] { test_send_key(ui_window_main(), GDK_q, GDK_CONTROL_MASK); },
    [] { test_send_delete(ui_window_main()); },
    // The same tape again; no chooser may come after Cancel.
    [] {
        answer == GTK_RESPONSE_CANCEL ? test_send_key(ui_window_main(), GDK_o, GDK_CONTROL_MASK)
                                      : void(test_open_tap(test_path("tape.tap")));
    },
    [] { test_click("button_index_reload"); }};

// What the user meets: the questions (test_answering()), whether the IDX
// file holds the list as saved or is byte for byte as it was, whether the
// program quit (which empties the list), and whether the added row stays
// ("edit"). Quitting ends the main loop for good: each row runs in a child.
std::string run(Before before)
{
    // Out of order and without a tape start: the list as loaded differs.
    const std::string idx = test_path("tape.idx"), loaded = "0x200\t\tB\r\n0x100\t\tA\r\n";
    fs::remove_all(idx);
    test_attach(tap_wrap(""), loaded);
    g_object_ref(gtk_tree_view_get_model(
        test_index_view())); // the window's end frees it; its rows are read after
    if (before != nothing)
        test_click("button_index_add");
    if (before == edit_saved)
        test_click("button_index_save");
    if (before == edit_unwritable)
        fs::remove(idx), fs::create_directory(idx);
    std::string seen = test_answering(answer, [] {
        g_idle_add([](gpointer) { return pulls[trigger](), gtk_main_quit(), FALSE; }, nullptr);
        gtk_main();
    });
    const std::string now = test_read_file(idx);
    const auto rows = tape_document_records();
    seen += now == "0x14\t\tTape start\r\n0x14\t\t<New entry>\r\n0x100\t\tA\r\n0x200\t\tB\r\n"
                ? "saved"
            : now == loaded ? "untouched"
                            : "";
    seen += rows.empty() ? " quit" : "";
    return seen + (rows.size() > 1 && rows[1].info == "<New entry>" ? " edit" : "");
}
} // namespace

TEST(Unsaved, AskedBeforeTheListIsDropped)
{
    const std::string ask = "Save changes to the index of tape.tap? "
                            "[gtk-save*|gtk-cancel|Close _without saving|] transient\n";
    const int cancel = GTK_RESPONSE_CANCEL, save = GTK_RESPONSE_YES, drop = GTK_RESPONSE_NO;
    // clang-format off
    const std::tuple<Trigger, Before, int, std::string> rows[] = {
        {by_menu, edit, cancel, ask + "untouched edit"}, {by_menu, edit, save, ask + "saved quit"},
        {by_menu, edit, drop, ask + "untouched quit"}, {by_ctrl_q, edit, drop, ask + "untouched quit"},
        {by_ctrl_q, nothing, save, "untouched quit"}, {by_menu, edit_saved, save, "saved quit"},
        {by_close_button, edit, cancel, ask + "untouched edit"},
        {by_close_button, edit, save, ask + "saved quit"},
        {by_close_button, edit, drop, ask + "untouched quit"},
        {by_close_button, edit_unwritable, save, ask + " edit"},
        {by_open, edit, cancel, ask + "untouched edit"}, {by_open, edit, save, ask + "saved edit"},
        {by_open, edit, drop, ask + "untouched"},
        {by_reload, edit, cancel, ask + "untouched edit"}, {by_reload, edit, save, ask + "saved edit"},
        {by_reload, edit, drop, ask + "untouched"}};
    // clang-format on
    for (const auto &[pulled, before, answered, expected] : rows) {
        trigger = pulled, answer = answered;
        // A chooser that nobody answers would hang the child.
        EXPECT_EXIT(alarm(30); test_write_file(test_path("seen"), run(before));
                    std::_Exit(0), testing::ExitedWithCode(0), "");
        EXPECT_EQ(test_read_file(test_path("seen")), expected) << pulled << before << answer;
    }
}
