#include "app/app.h"

#include "app/main_window.h"
#include "app/quit.h"
#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "cli/command_line.h"
#include "config/config.h"
#include "config/connection_window.h"
#include "config/ports.h"
#include "device/messages.h"
#include "document/tape_document.h"
#include "index/document_commands.h"
#include "index/idx_list.h"
#include "maintenance/update.h"
#include "maintenance/update_folder.h"
#include "ui/feedback.h"
#include "ui/registry.h"

#include <cstdlib>

namespace
{

[[noreturn]] void usage_error(const char *problem)
{
    std::exit(cli_usage_error(g_get_prgname(), problem));
}

// The toolkit's options (its group removes them), --help, --version and at
// most one tape. Returns the tape, or null when none was named.
gchar *parse_command_line(int *argc, char ***argv)
{
    gboolean version = FALSE;
    gboolean list_ports = FALSE;
    gchar **tapes = nullptr;
    const GOptionEntry entries[] = {
        {"version", 0, 0, G_OPTION_ARG_NONE, &version, N_("Show the version and exit"), nullptr},
        {"list-ports", 0, 0, G_OPTION_ARG_NONE, &list_ports,
         N_("List the USB serial ports, the configured ones marked, and exit"), nullptr},
        {G_OPTION_REMAINING, 0, 0, G_OPTION_ARG_FILENAME_ARRAY, &tapes, nullptr, nullptr},
        {}};
    GOptionContext *context = g_option_context_new(N_("[TAPE.tap]"));
    g_option_context_set_translation_domain(context, RAVELO_TEXT_DOMAIN);
    g_option_context_set_summary(
        context, N_("Plays tape images on a Ravelo device and edits their IDX files."));
    const GCharPtr report_bugs(g_strdup_printf(_("Report bugs at: %s"), RAVELO_HOMEPAGE));
    g_option_context_set_description(context, report_bugs.get());
    g_option_context_add_main_entries(context, entries, RAVELO_TEXT_DOMAIN);
    // The display is opened later, by gtk_init: --help and --version work
    // without one.
    g_option_context_add_group(context, gtk_get_option_group(FALSE));
    GError *error = nullptr;
    if (!g_option_context_parse(context, argc, argv, &error))
        usage_error(error->message);
    if (tapes != nullptr && g_strv_length(tapes) > 1)
        usage_error(_("Only one tape can be named"));
    if (version) {
        cli_print_version("ravelo-client");
        std::exit(0);
    }
    if (list_ports) {
        config_init();
        ports_print_list(stdout);
        std::exit(0);
    }
    g_option_context_free(context);
    gchar *tape = tapes != nullptr ? g_strdup(tapes[0]) : nullptr;
    g_strfreev(tapes);
    return tape;
}

} // namespace

void app_startup(int *argc, char ***argv)
{
    i18n_start();
    const GCharPtr tape(parse_command_line(argc, argv));
    gtk_init(argc, argv);
    app_handle_endings();
    maintenance_folder_sweep();
    ui_set_window_main(app_window_main_create());
    ui_set_window_connection_settings(config_window_create());
    config_init();
    ports_watch_start();
    tape_document_set_fast_load(config_fast_load());
    gtk_check_menu_item_set_active(
        GTK_CHECK_MENU_ITEM(lookup_widget(ui_window_main(), "menuitem_fast_load")),
        config_fast_load());
    gtk_widget_show(ui_window_main());
    g_signal_connect(ui_window_main(), "delete-event", G_CALLBACK(app_on_main_delete), nullptr);
    g_signal_connect(ui_window_main(), "destroy", G_CALLBACK(app_on_main_destroy), nullptr);
    idx_list_setup();
    maintenance_update_setup();
    // Until a program image is attached there is no tape to save.
    set_control_allowed("menuitem_save_tape_as", false);
    gtk_widget_set_sensitive(lookup_widget(ui_window_main(), "menuitem_save_tape_as"), FALSE);
    if (tape != nullptr)
        document_open_path(tape.get());
}
