// Every text the user meets under LANGUAGE=de.
#include "support/harness.h"

#include "base/i18n.h"
#include "ui/registry.h"

#include "tap_maker.h"

#include <algorithm>
#include <ctime>
#include <regex>
#include <set>

namespace
{
void collect_texts(GtkWidget *widget, gpointer texts)
{
    auto *found = static_cast<std::set<std::string> *>(texts);
    const auto add = [&](const char *text) { found->insert(text != nullptr ? text : ""); };
    if (GTK_IS_LABEL(widget)) {
        add(gtk_label_get_label(GTK_LABEL(widget)));
        add(gtk_label_get_text(GTK_LABEL(widget)));
    }
    if (GTK_IS_WINDOW(widget))
        add(gtk_window_get_title(GTK_WINDOW(widget)));
    if (GtkTooltipsData *tip = gtk_tooltips_data_get(widget))
        add(tip->tip_text);
    if (GTK_IS_MENU_ITEM(widget) && gtk_menu_item_get_submenu(GTK_MENU_ITEM(widget)) != nullptr)
        collect_texts(gtk_menu_item_get_submenu(GTK_MENU_ITEM(widget)), texts);
    if (GTK_IS_CONTAINER(widget)) // the internal children too: column headers, dialog buttons
        gtk_container_forall(GTK_CONTAINER(widget), collect_texts, texts);
}

} // namespace

TEST(German, NoTextTheCatalogueTranslatesIsShownInEnglish)
{
    setenv("LANGUAGE", "de", 1);
    test_app_start();
    std::set<std::string> texts;
    collect_texts(ui_window_main(), &texts);
    // Play and Save before any tape, the refusal of a file that is no tape.
    for (const char *button : {"button_play", "button_index_save"}) {
        test_click(button);
        texts.insert(test_status_text());
    }
    test_write_file(test_path("text.tap"), "text");
    test_open_tap(test_path("text.tap"));
    texts.insert(test_status_text());
    // A failed Play and a failed reset: the worker's reason after the template's.
    test_attach(tap_wrap(std::string(100, '\x30')));
    test_set_ports(test_path("no-such-port").c_str());
    const auto failed = [&](const char *how) {
        EXPECT_TRUE(test_spin_until([&] { return test_status_text().rfind(how, 0) == 0; }));
        texts.insert(test_status_text());
    };
    test_click("button_play");
    failed(" Wiedergabe zu Ende: ");
    gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_reset_into_bootloader")));
    failed(" Geräte-Reset fehlgeschlagen: ");
    // About, with Enter meant for its OK button, and the connection window.
    gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_about")));
    GtkWidget *about = gtk_grab_get_current();
    ASSERT_TRUE(GTK_IS_DIALOG(about));
    collect_texts(about, &texts);
    EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(about)),
              gtk_dialog_get_widget_for_response(GTK_DIALOG(about), GTK_RESPONSE_NONE));
    gtk_widget_destroy(about);
    collect_texts(ui_window_connection_settings(), &texts);
    // Help, Loading on the computer: the one window over the main window.
    gtk_menu_item_activate(GTK_MENU_ITEM(test_widget("menuitem_loading_help")));
    GList *windows = gtk_window_list_toplevels();
    for (GList *l = windows; l != nullptr; l = l->next)
        if (gtk_window_get_transient_for(GTK_WINDOW(l->data)) == GTK_WINDOW(ui_window_main()))
            collect_texts(GTK_WIDGET(l->data), &texts);
    g_list_free(windows);
    // The build date in the locale's format, not the compiler's "Dec  7 2026".
    std::tm built{};
    char date[64];
    ASSERT_TRUE(strptime(__DATE__, "%b %d %Y", &built) && std::strftime(date, 64, "%x", &built));
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [&](const std::string &text) {
        return text.find(std::string("\n") + date) != std::string::npos ||
               text.find(std::string(": ") + date) != std::string::npos;
    }));

    // Each English text that the German catalogue translates, as a pattern
    // that the text with its blanks filled in matches too.
    const std::string mo = test_read_file(std::string(bindtextdomain(RAVELO_TEXT_DOMAIN, nullptr)) +
                                          "/de/LC_MESSAGES/" RAVELO_TEXT_DOMAIN ".mo");
    const auto word = [&](size_t at) { return *reinterpret_cast<const guint32 *>(&mo[at]); };
    const auto text = [&](size_t table, guint32 i) {
        return mo.substr(word(word(table) + 8 * i + 4), word(word(table) + 8 * i));
    };
    std::vector<std::regex> english;
    for (guint32 i = 0; i < word(8); ++i)
        if (!text(12, i).empty() && text(12, i) != text(16, i))
            english.emplace_back(std::regex_replace(
                std::regex_replace(text(12, i), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)"),
                std::regex("%[lz]?[sdu]"), ".*"));
    ASSERT_GT(english.size(), 100u);
    for (const std::string &text : texts)
        for (size_t at = 0; at != std::string::npos; at = text.find(": ", at + 1))
            for (const std::regex &msgid : english)
                EXPECT_FALSE(std::regex_match(text.substr(at == 0 ? 0 : at + 2), msgid)) << text;
}
