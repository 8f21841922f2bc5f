#include "maintenance/update.h"

#include "config/config.h"
#include "maintenance/device_operation.h"
#include "maintenance/firmware.h"
#include "maintenance/tool_run.h"
#include "ui/feedback.h"
#include "ui/open_dialog.h"
#include "ui/registry.h"
#include "base/glib_ptr.h"
#include "base/i18n.h"

#include <gdk/gdk.h>

#include <atomic>
#include <cstring>
#include <cerrno>
#include <string>
#include <vector>

#include <fcntl.h>
#include <ftw.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

std::atomic<int> tool_limit_ms{device_update_tool_limit_default_ms};

// The time the bootloader's port needs to come up after the jump.
constexpr gulong bootloader_wait_us = 2000000;

constexpr char tool_config[] = "avrdude.conf";
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
// Appended to the system's configuration: the device's ATmega32U4 under
// the id that the command line names.
constexpr char ravelo_part[] = "\n# The device's microcontroller.\n"
                               "part parent \"m32u4\"\n"
                               "    id = \"ravelo\";\n"
                               "    desc = \"Ravelo (ATmega32U4)\";\n"
                               ";\n";

constexpr char tool_dir_prefix[] = "ravelo-update-";

constexpr char msg_in_bootloader[] =
    N_("The device is in its bootloader: flashing without a reset\n");

// A descriptor closed when it goes out of scope or is replaced.
class Fd
{
  public:
    Fd() = default;
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

// Made by prepare() on the UI thread before the worker starts, read by the
// worker, removed and freed by release() once it has ended. While the
// update runs, `tool_dir_lock` holds an exclusive lock on the folder: it
// tells the start-up sweep of other clients that the folder is in use.
gchar *tool_dir = nullptr;
gchar *tool_program = nullptr;
Fd tool_dir_lock;
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

// Takes an exclusive lock on the folder `dir`, without waiting, into `fd`.
// false when the lock is held elsewhere or `dir` is not a real folder of
// this user.
bool dir_lock(const char *dir, Fd &fd)
{
    fd.reset(open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    struct stat info = {};
    if (fd.get() < 0 || fstat(fd.get(), &info) != 0 || info.st_uid != getuid())
        return false;
    int r;
    do
        r = flock(fd.get(), LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    return r == 0;
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
// (also without a program) Debian's place. nullptr when there is no such
// file.
gchar *system_config(const char *program)
{
    std::string said;
    const char *const query[] = {program, "-v", nullptr};
    if (program != nullptr)
        device_tool_run(query, nullptr, tool_query_limit_ms, remember_config_path, &said);
    const char *path = said.empty() ? device_update_system_config : said.c_str();
    return g_file_test(path, G_FILE_TEST_IS_REGULAR) ? g_strdup(path) : nullptr;
}

// Writes the tool's configuration into `dir`: a copy of the working
// folder's own, or, when `system` is given, that file with the part added.
bool config_write(const char *dir, const char *system)
{
    gchar *text = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(system != nullptr ? system : tool_config, &text, &length, nullptr))
        return false;
    std::string config(text, length);
    g_free(text);
    if (system != nullptr)
        config += ravelo_part;
    GCharPtr path(g_build_filename(dir, tool_config, nullptr));
    return g_file_set_contents(path.get(), config.data(), gssize(config.size()), nullptr);
}

int remove_entry(const char *path, const struct stat *, int, FTW *)
{
    remove(path);
    return 0;
}

// Removes the private folder with whatever the tool left in it.
void dir_remove(const char *dir)
{
    if (dir != nullptr)
        nftw(dir, remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

void release()
{
    dir_remove(tool_dir);
    tool_dir_lock.reset();
    g_free(tool_dir);
    tool_dir = nullptr;
    g_free(tool_program);
    tool_program = nullptr;
}

bool prepare()
{
    if (!config_bootloader_port_ready())
        return false;
    GCharPtr program(tool_find());
    GCharPtr system;
    const bool local_config = g_file_test(tool_config, G_FILE_TEST_EXISTS);
    if (!local_config)
        system.reset(system_config(program.get()));
    if (!program)
        log_append(_("The avrdude program was not found on the program search path: install "
                     "the avrdude package\n"));
    if (!local_config && !system)
        log_append(_("No avrdude configuration was found, neither avrdude.conf in the working "
                     "folder nor the system's: install the avrdude package\n"));
    if (!program || (!local_config && !system)) {
        status_show(_(" Error: Some update components are missing"));
        return false;
    }
    tool_dir = g_dir_make_tmp((std::string(tool_dir_prefix) + "XXXXXX").c_str(), nullptr);
    tool_program = program.release();
    // Another client starting between making and locking may sweep the
    // folder away: then the files cannot be written and the update fails
    // here rather than run without them.
    if (tool_dir == nullptr || !dir_lock(tool_dir, tool_dir_lock) ||
        !device_firmware_write(tool_dir, image) || !config_write(tool_dir, system.get())) {
        release();
        status_show(_(" Error: Could not copy firmware"));
        return false;
    }
    return true;
}

// The program is ending: nothing of the update may outlive it. The worker
// may still read the names, so they are not freed.
void quit()
{
    device_tool_abort();
    dir_remove(tool_dir);
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
    status_show(text.get());
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
gchar *bootloader_path()
{
    return g_path_is_absolute(bootloader_port)
               ? g_strdup(bootloader_port)
               : g_build_filename(tool_dir, bootloader_port, nullptr);
}

const char *flash()
{
    // The tool opens the port itself and says why it cannot; as far as the
    // client can tell, it says what usually helps.
    GCharPtr port(bootloader_path());
    const int port_error = access(port.get(), R_OK | W_OK) == 0 ? 0 : errno;

    const std::vector<std::string> words = tool_arguments(tool_program, bootloader_port);
    std::vector<const char *> argv;
    for (const std::string &word : words)
        argv.push_back(word.c_str());
    argv.push_back(nullptr);
    Progress last_shown{nullptr, -1};
    if (device_tool_run(argv.data(), tool_dir, tool_limit_ms.load(), hand_over_line, &last_shown,
                        hand_over_progress))
        return nullptr;
    if (port_error != 0)
        gdk_threads_add_idle(log_line, port_failure_text(bootloader_port, port_error));
    return device_msg_tool_failed;
}

const char *run_tool()
{
    g_usleep(bootloader_wait_us);
    return flash();
}

// A device whose console is gone (reset earlier, or its application lost
// in a flash that failed) is flashed where it sits.
const char *flash_in_bootloader(const char *reset_failure, gchar **why)
{
    GCharPtr port(bootloader_path());
    if (access(port.get(), F_OK) != 0) {
        *why = port_failure_text(bootloader_port, errno);
        return reset_failure;
    }
    gdk_threads_add_idle(log_message, const_cast<char *>(msg_in_bootloader));
    return flash();
}

constexpr DeviceOperation update_operation{
    "update",
    N_(" Firmware update requested"),
    N_("Updating device firmware\n"),
    N_(" Firmware update failed: %s"),
    N_(" Firmware update succeeded"),
    prepare,
    release,
    run_tool,
    flash_in_bootloader,
    quit,
};

} // namespace

void device_update_set_tool_limit_ms(int limit_ms)
{
    tool_limit_ms.store(limit_ms);
}

void device_update_activate(GtkMenuItem *, gpointer)
{
    image = device_firmware_embedded();
    if (!image.empty())
        device_operation_start(update_operation);
}

namespace
{

// The user's choice of a firmware file, or null after Cancel.
gchar *choose_file()
{
    GtkWidget *dialog = ui_open_dialog_create();
    GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog);
    gtk_window_set_title(GTK_WINDOW(dialog), _("Select a firmware image"));
    gtk_window_set_transient_for(GTK_WINDOW(dialog), GTK_WINDOW(window_main));
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

void device_update_from_file_activate(GtkMenuItem *, gpointer)
{
    const GCharPtr path(choose_file());
    if (path)
        device_update_flash_file(path.get());
}

void device_update_flash_file(const char *path)
{
    gchar *why = nullptr;
    if (!device_firmware_read(path, &image, &why)) {
        status_show(_(" Error: Not a firmware image"));
        log_append(why);
        g_free(why);
        return;
    }
    const GCharPtr described(device_firmware_describe(path, image));
    if (device_operation_start(update_operation))
        log_append(described.get());
}

void device_update_setup()
{
    if (!device_firmware_embedded().empty())
        return;
    GtkWidget *item = lookup_widget(window_main, "menuitem_update");
    set_control_allowed("menuitem_update", false);
    gtk_widget_set_sensitive(item, FALSE);
    gtk_widget_set_tooltip_text(
        item, _("This client carries no firmware image: use Update firmware from file…"));
}

void device_update_sweep()
{
    const gchar *tmp = g_get_tmp_dir();
    GDir *dir = g_dir_open(tmp, 0, nullptr);
    if (dir == nullptr)
        return;
    while (const gchar *name = g_dir_read_name(dir)) {
        if (!g_str_has_prefix(name, tool_dir_prefix))
            continue;
        GCharPtr path(g_build_filename(tmp, name, nullptr));
        // Removed while locked: the client that has just made the folder
        // and not yet locked it finds it gone, never half removed.
        Fd lock;
        if (dir_lock(path.get(), lock))
            dir_remove(path.get());
    }
    g_dir_close(dir);
}
