#include "maintenance/update.h"

#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "config/config.h"
#include "device/messages.h"
#include "maintenance/firmware.h"
#include "maintenance/operation.h"
#include "maintenance/tool_run.h"
#include "maintenance/update_folder.h"
#include "ui/feedback.h"
#include "ui/open_dialog.h"
#include "ui/registry.h"

#include <gdk/gdk.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace
{

std::atomic<int> tool_limit_ms{maintenance_update_tool_limit_default_ms};

constexpr char tool_name[] = "avrdude";
// The program word, then the fixed options with the bootloader port. Its
// words are the tool's arguments; only the two %s are filled in.
constexpr char tool_command[] =
    "%s -Cavrdude.conf -v -pravelo -cavr109 -P%s -b57600 -D -Uflash:w:ravelo32u4.hex:i";
// What the installed avrdude says about itself with -v, before the path.
constexpr char system_config_says[] = "System wide configuration file is ";
// Asking avrdude takes a fraction of a second; a tool that does not answer
// must not hold the window long.
constexpr int tool_query_limit_ms = 5000;

constexpr char msg_in_bootloader[] =
    N_("The device is in its bootloader: flashing without a reset\n");

// The image the next update flashes: the embedded one or a checked file's
// text. Set on the UI thread before the request; prepare() writes it out.
std::string image;
// Where the firmware chooser was last left, in this session; null before.
gchar *chooser_folder = nullptr;

// The program by its full path, from an absolute PATH entry only: an empty,
// "." or other relative entry means the working folder, where anyone may
// have put a program of that name. nullptr when there is none.
gchar *tool_find()
{
    const char *search = g_getenv("PATH");
    if (search == nullptr)
        return nullptr;
    gchar *found = nullptr;
    GStrv dirs = g_strsplit(search, G_SEARCHPATH_SEPARATOR_S, -1);
    for (gchar **dir = dirs; *dir != nullptr && found == nullptr; ++dir) {
        if (!g_path_is_absolute(*dir))
            continue;
        GCharPtr path(g_build_filename(*dir, tool_name, nullptr));
        if (g_file_test(path.get(), G_FILE_TEST_IS_REGULAR) &&
            g_file_test(path.get(), G_FILE_TEST_IS_EXECUTABLE))
            found = path.release();
    }
    g_strfreev(dirs);
    return found;
}

void remember_config_path(const char *line, void *data)
{
    const char *said = g_strstr_len(line, -1, system_config_says);
    if (said == nullptr)
        return;
    std::string path = said + sizeof system_config_says - 1;
    path.erase(path.find_last_not_of(" \t") + 1);
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
        path = path.substr(1, path.size() - 2);
    *static_cast<std::string *>(data) = path;
}

// The system's configuration of `program`: where it says it is, else
// (also without a program) Debian's place. Empty when there is no such
// file.
std::string system_config(const char *program)
{
    std::string said;
    const char *const query[] = {program, "-v", nullptr};
    if (program != nullptr)
        maintenance_tool_run(query, nullptr, tool_query_limit_ms, remember_config_path, &said);
    const std::string path = said.empty() ? maintenance_update_system_config : said;
    return g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR) ? path : std::string();
}

bool prepare(MaintenanceJob &job)
{
    if (!config_bootloader_port_ready())
        return false;
    const GCharPtr program(tool_find());
    std::string system;
    const bool local_config = g_file_test(maintenance_tool_config, G_FILE_TEST_EXISTS);
    if (!local_config)
        system = system_config(program.get());
    if (!program || (!local_config && system.empty())) {
        status_show(_(" Error: Some update components are missing"));
        if (!program)
            log_append(_("The avrdude program was not found on the program search path: "
                         "install the avrdude package\n"));
        if (!local_config && system.empty())
            log_append(_("No avrdude configuration was found, neither avrdude.conf in the "
                         "working folder nor the system's: install the avrdude package\n"));
        return false;
    }
    job.tool_dir = maintenance_folder_make(image, system);
    if (job.tool_dir.empty()) {
        status_show(_(" Error: Could not copy firmware"));
        return false;
    }
    job.tool_program = program.get();
    job.tool_limit_ms = tool_limit_ms.load();
    return true;
}

void release(MaintenanceJob &job)
{
    maintenance_folder_release(job.tool_dir);
}

// The program is ending: nothing of the update may outlive it.
void quit(const MaintenanceJob &job)
{
    maintenance_tool_abort();
    maintenance_folder_remove(job.tool_dir);
}

gboolean log_line(gpointer text)
{
    log_append(static_cast<const gchar *>(text));
    g_free(text);
    return FALSE;
}

gboolean log_tool_line(gpointer text)
{
    log_append_tool(static_cast<const gchar *>(text));
    g_free(text);
    return FALSE;
}

gboolean log_message(gpointer id)
{
    log_append(_(static_cast<const char *>(id)));
    return FALSE;
}

// The tool's progress bars by the word that begins them, and the status
// text for each (the percentage fills in the %d).
struct ProgressPhase {
    const char *tool_word;
    const char *status_template;
};
constexpr ProgressPhase progress_phases[] = {
    {"Writing", N_(" Firmware update: writing %d %%")},
    {"Reading", N_(" Firmware update: reading %d %%")},
};

struct Progress {
    const char *status_template;
    int percent;
};

gboolean show_progress(gpointer data)
{
    const auto *progress = static_cast<const Progress *>(data);
    GCharPtr text(g_strdup_printf(_(progress->status_template), progress->percent));
    status_show_unlogged(text.get());
    g_free(data);
    return FALSE;
}

// Worker thread: a progress bar goes to the status bar. The tool draws
// "Writing | #### | 45% 0.10s" on a terminal; into a pipe, as here, it
// writes "Writing | " and then one '#' for every 2 %. The same state seen
// again (the bar drawn, then ended by its line end) is shown only once;
// `last_shown` is the Progress shown last.
void hand_over_progress(const char *line, void *last_shown)
{
    const char *bar = g_strstr_len(line, -1, " | ");
    if (bar == nullptr)
        return;
    for (const ProgressPhase &phase : progress_phases) {
        if (std::string(line, bar) != phase.tool_word)
            continue;
        bar += 3;
        const char *said = g_strstr_len(bar, -1, " | ");
        const gint64 percent =
            said != nullptr ? g_ascii_strtoll(said + 3, nullptr, 10) : 2 * gint64(strspn(bar, "#"));
        auto *last = static_cast<Progress *>(last_shown);
        const Progress now{phase.status_template, int(CLAMP(percent, 0, 100))};
        if (now.status_template == last->status_template && now.percent == last->percent)
            return;
        *last = now;
        gdk_threads_add_idle(show_progress, g_memdup2(&now, sizeof now));
    }
}

// Worker thread: the log is the UI thread's, so each line is handed over.
void hand_over_line(const char *line, void *last_shown)
{
    gdk_threads_add_idle(log_tool_line, g_strconcat(line, "\n", nullptr));
    hand_over_progress(line, last_shown);
}

// The tool's arguments, the template's words with the program and the port
// filled in: the port is part of one word, whatever it holds.
std::vector<std::string> tool_arguments(const char *program, const char *port)
{
    const char *const values[] = {program, port};
    std::size_t next = 0;
    std::vector<std::string> words;
    GStrv parts = g_strsplit(tool_command, " ", -1);
    for (gchar **part = parts; *part != nullptr; ++part) {
        std::string word = *part;
        const auto at = word.find("%s");
        if (at != std::string::npos && next < G_N_ELEMENTS(values))
            word.replace(at, 2, values[next++]);
        words.push_back(word);
    }
    g_strfreev(parts);
    return words;
}

// The bootloader port as the tool, which runs in the private folder, finds
// it.
std::string bootloader_path(const MaintenanceJob &job)
{
    if (g_path_is_absolute(job.bootloader_port.c_str()))
        return job.bootloader_port;
    return GCharPtr(g_build_filename(job.tool_dir.c_str(), job.bootloader_port.c_str(), nullptr))
        .get();
}

const char *flash(MaintenanceJob &job)
{
    // The tool opens the port itself and says why it cannot; as far as the
    // client can tell, it says what usually helps.
    const int port_error = access(bootloader_path(job).c_str(), R_OK | W_OK) == 0 ? 0 : errno;

    const std::vector<std::string> words =
        tool_arguments(job.tool_program.c_str(), job.bootloader_port.c_str());
    std::vector<const char *> argv;
    for (const std::string &word : words)
        argv.push_back(word.c_str());
    argv.push_back(nullptr);
    Progress last_shown{nullptr, -1};
    if (maintenance_tool_run(argv.data(), job.tool_dir.c_str(), job.tool_limit_ms, hand_over_line,
                             &last_shown, hand_over_progress))
        return nullptr;
    if (port_error != 0)
        gdk_threads_add_idle(log_line, port_failure_text(job.bootloader_port.c_str(), port_error));
    return device_msg_tool_failed;
}

// A device whose console is gone (reset earlier, or its application lost
// in a flash that failed) is flashed where it sits.
const char *flash_in_bootloader(MaintenanceJob &job, const char *reset_failure)
{
    if (access(bootloader_path(job).c_str(), F_OK) != 0) {
        job.not_there = GCharPtr(port_failure_text(job.bootloader_port.c_str(), errno)).get();
        return reset_failure;
    }
    gdk_threads_add_idle(log_message, const_cast<char *>(msg_in_bootloader));
    return flash(job);
}

constexpr MaintenanceOperation update_operation{
    "update",
    N_(" Firmware update requested"),
    N_("Updating device firmware\n"),
    N_(" Firmware update failed: %s"),
    N_(" Firmware update succeeded"),
    prepare,
    release,
    flash,
    flash_in_bootloader,
    quit,
};

} // namespace

void maintenance_update_set_tool_limit_ms(int limit_ms)
{
    tool_limit_ms.store(limit_ms);
}

void maintenance_update_activate(GtkMenuItem *, gpointer)
{
    image = maintenance_firmware_embedded();
    if (!image.empty())
        maintenance_start(update_operation);
}

namespace
{

// The user's choice of a firmware file, or null after Cancel.
gchar *choose_file()
{
    GtkWidget *dialog = ui_open_dialog_create();
    GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog);
    gtk_window_set_title(GTK_WINDOW(dialog), _("Select a firmware image"));
    gtk_window_set_transient_for(GTK_WINDOW(dialog), GTK_WINDOW(ui_window_main()));
    GtkFileFilter *images = gtk_file_filter_new();
    gtk_file_filter_set_name(images, _("Firmware images (*.hex)"));
    gtk_file_filter_add_pattern(images, "*.[hH][eE][xX]");
    GtkFileFilter *all = gtk_file_filter_new();
    gtk_file_filter_set_name(all, _("All files"));
    gtk_file_filter_add_pattern(all, "*");
    gtk_file_chooser_add_filter(chooser, images);
    gtk_file_chooser_add_filter(chooser, all);
    gtk_file_chooser_set_filter(chooser, images);
    gtk_file_chooser_set_current_folder(chooser, chooser_folder != nullptr ? chooser_folder
                                                                           : g_get_home_dir());
    gchar *path = nullptr;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK) {
        path = gtk_file_chooser_get_filename(chooser);
        g_free(chooser_folder);
        chooser_folder = gtk_file_chooser_get_current_folder(chooser);
    }
    gtk_widget_destroy(dialog);
    return path;
}

} // namespace

void maintenance_update_from_file_activate(GtkMenuItem *, gpointer)
{
    const GCharPtr path(choose_file());
    if (path)
        maintenance_update_flash_file(path.get());
}

void maintenance_update_flash_file(const char *path)
{
    gchar *why = nullptr;
    if (!maintenance_firmware_read(path, &image, &why)) {
        status_show_unlogged(_(" Error: Not a firmware image"));
        log_append(why);
        g_free(why);
        return;
    }
    const GCharPtr described(maintenance_firmware_describe(path, image));
    if (maintenance_start(update_operation))
        log_append(described.get());
}

void maintenance_update_setup()
{
    if (!maintenance_firmware_embedded().empty())
        return;
    GtkWidget *item = lookup_widget(ui_window_main(), "menuitem_update");
    set_control_allowed("menuitem_update", false);
    gtk_widget_set_sensitive(item, FALSE);
    gtk_widget_set_tooltip_text(
        item, _("This client carries no firmware image: use Update firmware from file…"));
}
