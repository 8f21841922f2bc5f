#include "index/document_commands.h"

#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "document/tape_document.h"
#include "idx/idx_format.h"
#include "image/image_read.h"
#include "image/image_tape.h"
#include "index/idx_list.h"
#include "tape/tape_file.h"
#include "tape/tape_info.h"
#include "tape/tape_scan.h"
#include "ui/feedback.h"
#include "ui/open_dialog.h"
#include "ui/registry.h"
#include "ui/worker.h"

#include <gdk/gdk.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace
{

// " Error: Cannot play <path>: <why>" on the status bar, `line` in the log,
// which says as much and more.
void show_refusal(const gchar *path, const char *why, const gchar *line)
{
    const GCharPtr shown(g_filename_display_name(path));
    const GCharPtr status(g_strdup_printf(_(" Error: Cannot play %s: %s"), shown.get(), why));
    status_show_unlogged(status.get());
    log_append(line);
}

void show_refusal(const gchar *path, ImageKind kind, const std::string &why)
{
    const GCharPtr shown(g_filename_display_name(path));
    const GCharPtr line(g_strdup_printf(_("Cannot play %s as a %s: %s\n"), shown.get(),
                                        image_kind_name(kind), why.c_str()));
    show_refusal(path, why.c_str(), line.get());
}

// Writes `content` whole or not at all; false with the status bar saying
// why.
bool write_whole(const gchar *path, const std::string &content)
{
    GError *error = nullptr;
    if (g_file_set_contents(path, content.data(), gssize(content.size()), &error))
        return true;
    const GErrorPtr failure(error);
    const GCharPtr text(g_strdup_printf(_(" Could not save the tape: %s"), failure->message));
    status_show(text.get());
    return false;
}

// The whole tape time of a made tape, as "m:ss".
std::string tape_time(const std::string &tap)
{
    const auto *data = reinterpret_cast<const unsigned char *>(tap.data());
    return tape_time_text(tape_check(data, tap.size()).cycles);
}

bool image_attach(const gchar *path, ImageKind kind, const std::string &bytes)
{
    const GCharPtr name(g_path_get_basename(path));
    const ImageRead read = image_read(kind, name.get(), bytes);
    if (!read.refusal.empty()) {
        show_refusal(path, kind, read.refusal);
        return false;
    }
    const bool fast = tape_document_fast_load();
    TapFastTape tape =
        image_make_tape(read.programs, fast ? ImageTapeFormat::fast : ImageTapeFormat::rom);
    const std::vector<IdxRecord> records = image_tape_records(read.programs, tape);
    const std::string rom_time =
        fast ? tape_time(image_make_tape(read.programs, ImageTapeFormat::rom).tap)
             : tape_time(tape.tap);
    const std::string fast_time = tape_time(tape.tap);
    tape_document_attach_image(path, std::move(tape.tap));
    idx_list_fill(records);
    tape_document_mark_saved();

    const int count = int(read.programs.size());
    const GCharPtr what(g_strdup_printf(
        dngettext(RAVELO_TEXT_DOMAIN, "%s with %d program", "%s with %d programs", count),
        image_kind_name(kind), count));
    const GCharPtr line(
        fast ? g_strdup_printf(_("%s: fast load %s (ROM loader %s)\n"), what.get(),
                               fast_time.c_str(), rom_time.c_str())
             : g_strdup_printf(_("%s: ROM loader %s\n"), what.get(), rom_time.c_str()));
    log_append(line.get());
    for (const std::size_t slow : tape.rom_only) {
        const ImageProgram &program = read.programs[slow];
        const GCharPtr why(g_strdup_printf(
            _("%s loads at $%04X-$%04X, where fast load cannot put it: it is on the tape for "
              "the ROM loader\n"),
            records[slow].info.c_str(), unsigned(program.load),
            unsigned(program.load + program.bytes.size() - 1)));
        log_append(why.get());
    }
    for (const std::string &skipped : read.skipped)
        log_append((skipped + "\n").c_str());
    return true;
}

gchar *image_save_tape_as()
{
    GtkWidget *dialog = gtk_file_chooser_dialog_new(
        _("Save tape as"), GTK_WINDOW(ui_window_main()), GTK_FILE_CHOOSER_ACTION_SAVE, "gtk-cancel",
        GTK_RESPONSE_CANCEL, "gtk-save", GTK_RESPONSE_OK, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    const gchar *image = tape_document_path();
    const GCharPtr folder(g_path_get_dirname(image));
    const GCharPtr base(g_path_get_basename(image));
    if (char *dot = std::strrchr(base.get(), '.'))
        *dot = '\0';
    const GCharPtr proposed(g_strconcat(base.get(), ".tap", nullptr));
    const GCharPtr shown(g_filename_display_name(proposed.get()));
    gtk_file_chooser_set_current_folder(chooser, folder.get());
    gtk_file_chooser_set_current_name(chooser, shown.get());

    gchar *path = gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK
                      ? gtk_file_chooser_get_filename(chooser)
                      : nullptr;
    gtk_widget_destroy(dialog);
    if (path == nullptr)
        return nullptr;

    GBytes *tape = tape_document_bytes_ref();
    gsize size = 0;
    const auto *data = static_cast<const char *>(g_bytes_get_data(tape, &size));
    const bool written = write_whole(path, std::string(data, size));
    g_bytes_unref(tape);
    const std::string idx = idx_path_for_tap(path);
    if (!written ||
        idx_write_file(idx.c_str(), tape_document_records()) != IdxWriteResult::written) {
        if (written)
            status_show(_(" Could not save the list of index records. Check write and sharing "
                          "permissions!"));
        g_free(path);
        return nullptr;
    }
    return path;
}

} // namespace

namespace
{
struct Scan {
    // A reference to the bytes scanned: while the scan holds it, no other
    // tape can be held at the same address.
    GBytes *tape;
    std::vector<TapeProgram> programs;
};

bool scanning = false;

gboolean scan_done(gpointer data)
{
    const std::unique_ptr<Scan> scan(static_cast<Scan *>(data));
    scanning = false;
    GBytes *held = tape_document_bytes_ref();
    // A result for a tape that has been replaced since is dropped.
    const bool current = held == scan->tape;
    if (held != nullptr)
        g_bytes_unref(held);
    g_bytes_unref(scan->tape);
    if (!current)
        return FALSE;
    if (scan->programs.empty()) {
        status_show(_(" No programs found on the tape"));
        return FALSE;
    }
    std::set<gint32> present;
    for (const IdxRecord &row : tape_document_records())
        present.insert(row.offset);
    std::vector<IdxRecord> added;
    for (const TapeProgram &program : scan->programs) {
        const auto offset = gint32(program.offset);
        if (present.insert(offset).second)
            added.push_back({offset, program.name});
    }
    idx_list_insert(added);
    const GCharPtr text(g_strdup_printf(_(" Found %d programs on the tape, %d added to the list"),
                                        int(scan->programs.size()), int(added.size())));
    status_show(text.get());
    return FALSE;
}

gpointer scan_worker(gpointer data)
{
    auto *scan = static_cast<Scan *>(data);
    gsize size = 0;
    const auto *bytes = static_cast<const unsigned char *>(g_bytes_get_data(scan->tape, &size));
    scan->programs = tape_scan(bytes, size);
    gdk_threads_add_idle(scan_done, scan);
    return nullptr;
}
} // namespace

void document_on_index_from_tape(GtkMenuItem *, gpointer)
{
    if (!tape_document_attached() || scanning)
        return;
    GBytes *tape = tape_document_bytes_ref();
    if (tape == nullptr) {
        status_show(_(" No programs found on the tape"));
        return;
    }
    auto *scan = new Scan{tape, {}};
    if (!ui_start_thread("scan", scan_worker, scan)) {
        g_bytes_unref(tape);
        delete scan;
        return;
    }
    scanning = true;
}

namespace
{

// What the chooser showed when it last closed with Open; for this run of the
// program only.
gchar *ui_tap_chooser_folder = nullptr;
int ui_tap_chooser_filter = 0;

void replace_string(gchar **variable, gchar *value)
{
    g_free(*variable);
    *variable = value;
}

// Files whose names end in one of `extensions`, in any letter case:
// patterns match case-sensitively, so "tap" becomes "*.[Tt][Aa][Pp]".
GtkFileFilter *new_filter(const char *name, std::initializer_list<const char *> extensions)
{
    GtkFileFilter *filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, name);
    for (const char *extension : extensions) {
        std::string pattern = "*.";
        for (const char *c = extension; *c != '\0'; ++c)
            pattern += g_ascii_isalpha(*c)
                           ? std::string{'[', g_ascii_toupper(*c), g_ascii_tolower(*c), ']'}
                           : std::string(1, *c);
        gtk_file_filter_add_pattern(filter, pattern.c_str());
    }
    return filter;
}

// Why a file that tape_file_read() refused, or could not read whole, is not
// taken, for the status bar.
const char *refusal_reason(const TapeFileResult &refused)
{
    if (refused.error != 0)
        return g_strerror(refused.error);
    if (refused.problem == TapeFileProblem::too_large)
        return _("larger than any tape (256 MiB)");
    return _("not a regular file");
}

void show_cannot_open(const gchar *path, const TapeFileResult &read)
{
    const GCharPtr shown(g_filename_display_name(path));
    const GCharPtr message(g_strdup_printf(_(" Error: Cannot open the tape %s: %s"), shown.get(),
                                           refusal_reason(read)));
    status_show(message.get());
}

// Whether the file at `path`, read as `read` into `bytes`, is a tape the
// device plays; if not, the status bar and the log say why.
bool tape_accepted(const gchar *path, const TapeFileResult &read,
                   const std::vector<unsigned char> &bytes)
{
    if (tape_file_refused(read)) {
        show_cannot_open(path, read);
        return false;
    }
    if (read.problem != TapeFileProblem::none) {
        const char *why = refusal_reason(read);
        const GCharPtr shown(g_filename_display_name(path));
        const GCharPtr line(g_strdup_printf(_("Cannot play %s: %s\n"), shown.get(), why));
        show_refusal(path, why, line.get());
        return false;
    }
    if (tape_playable(tape_check(bytes.data(), bytes.size())))
        return true;
    const char *why = bytes.empty() ? _("the file is empty") : _("not a TAP file");
    const GCharPtr shown(g_filename_display_name(path));
    const GCharPtr check(tape_document_describe_file(bytes.data(), bytes.size()));
    const GCharPtr line(g_strdup_printf(_("Cannot play %s: %s\n"), shown.get(), why));
    show_refusal(path, why, (std::string(line.get()) + check.get()).c_str());
    return false;
}

// Save tape as, then the tape written attached as Open would attach it. While
// a worker plays the image only Quit can follow, and the tape stays.
bool save_tape_as()
{
    const GCharPtr tape{image_save_tape_as()};
    if (tape != nullptr && !ui_worker_active())
        document_attach(tape.get());
    return tape != nullptr;
}

// Save: the IDX file, or Save tape as for an image. Returns whether the list
// was written.
bool save_list()
{
    if (tape_document_is_image())
        return save_tape_as();
    if (!document_save_idx(tape_document_idx_path(), tape_document_records()))
        return false;
    tape_document_mark_saved();
    status_show(_(" IDX list saved to file"));
    return true;
}

} // namespace

gboolean document_choose_tape(gchar **path)
{
    GtkWidget *dialog = ui_open_dialog_create();
    GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog);

    GtkFileFilter *all_files = gtk_file_filter_new();
    gtk_file_filter_set_name(all_files, "  All files (*.*) ");
    gtk_file_filter_add_pattern(all_files, "*");
    GtkFileFilter *const filters[] = {
        new_filter(_("Tapes and programs"), {"tap", "prg", "p00", "t64", "d64"}),
        new_filter(_("TAP tapes"), {"tap"}),
        new_filter(_("Programs and disk images"), {"prg", "p00", "t64", "d64"}),
        all_files,
    };
    for (GtkFileFilter *filter : filters)
        gtk_file_chooser_add_filter(chooser, filter);
    gtk_file_chooser_set_filter(chooser, filters[ui_tap_chooser_filter]);
    if (ui_tap_chooser_folder != nullptr)
        gtk_file_chooser_set_current_folder(chooser, ui_tap_chooser_folder);

    gboolean chosen = FALSE;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK) {
        gchar *file = gtk_file_chooser_get_filename(chooser);
        if (file != nullptr) {
            *path = file;
            chosen = TRUE;
            replace_string(&ui_tap_chooser_folder, gtk_file_chooser_get_current_folder(chooser));
            const GtkFileFilter *active = gtk_file_chooser_get_filter(chooser);
            for (int i = 0; i < int(G_N_ELEMENTS(filters)); ++i)
                if (filters[i] == active)
                    ui_tap_chooser_filter = i;
        }
    }
    gtk_widget_destroy(dialog);
    return chosen;
}

gboolean document_fill_list()
{
    idx_list_clear();
    gchar *text = nullptr;
    // Any failure (missing file, no permission, a folder of that name, a
    // read error) counts as "no IDX file".
    const gboolean read = g_file_get_contents(tape_document_idx_path(), &text, nullptr, nullptr);
    bool has_tape_start = false;
    if (read) {
        const GCharPtr owned(text);
        has_tape_start = idx_list_load(text);
    }
    if (!has_tape_start)
        idx_list_prepend(idx_tape_start, _("Tape start"));
    tape_document_mark_saved();
    return read;
}

gboolean document_attach(const gchar *path)
{
    std::vector<unsigned char> bytes;
    const TapeFileResult read = tape_file_read(path, &bytes);
    // A file with the TAP signature is a tape whatever its name; otherwise
    // the name tells a program image.
    const auto signed_as = [&](const char *signature) {
        return bytes.size() >= tape_signature_size &&
               std::memcmp(bytes.data(), signature, tape_signature_size) == 0;
    };
    const bool signed_tape = signed_as(tape_signature) || signed_as(tape_signature_c16);
    const GCharPtr name(g_path_get_basename(path));
    const auto image = signed_tape ? std::nullopt : image_kind_of(name.get());
    if (image && read.problem != TapeFileProblem::none) {
        show_cannot_open(path, read);
        return FALSE;
    }
    if (image) {
        if (!image_attach(path, *image, std::string(bytes.begin(), bytes.end())))
            return FALSE;
    } else {
        if (!tape_accepted(path, read, bytes))
            return FALSE;
        tape_document_attach_tap(path, std::move(bytes));
        document_fill_list();
    }
    set_control_allowed("menuitem_save_tape_as", image.has_value());
    set_controls_state(1);

    // The path as the file system spells it need not be UTF-8; the status bar
    // needs it to be.
    const GCharPtr shown(g_filename_display_name(path));
    const GCharPtr message(g_strdup_printf(_(" Attached: %s"), shown.get()));
    status_show(message.get());
    if (!image)
        log_append(GCharPtr(tape_document_describe()).get());
    return TRUE;
}

void document_on_open(GtkMenuItem *, gpointer)
{
    gchar *chosen = nullptr;
    if (!document_may_discard() || !document_choose_tape(&chosen))
        return;
    const GCharPtr owned(chosen);
    document_attach(chosen);
}

gboolean document_open_path(const gchar *path)
{
    const GCharPtr full(g_canonicalize_filename(path, nullptr));
    if (!document_attach(full.get()))
        return FALSE;
    replace_string(&ui_tap_chooser_folder, g_path_get_dirname(full.get()));
    return TRUE;
}

void document_on_reload(GtkButton *, gpointer)
{
    if (!tape_document_attached() || !document_may_discard())
        return;
    // An image has no IDX file: its list is made from the image anew.
    if (tape_document_is_image()) {
        const GCharPtr image(g_strdup(tape_document_path()));
        if (document_attach(image.get()))
            status_show(_(" IDX list reloaded"));
        return;
    }
    // The tape anew too: one that is no longer a tape leaves everything as
    // it was.
    const GCharPtr tap(g_strdup(tape_document_path()));
    std::vector<unsigned char> bytes;
    if (!tape_accepted(tap.get(), tape_file_read(tap.get(), &bytes), bytes))
        return;
    tape_document_attach_tap(tap.get(), std::move(bytes));
    const gboolean read = document_fill_list();
    set_controls_state(1);
    status_show(read ? _(" IDX list reloaded") : _(" IDX list reset"));
}

bool document_save_idx(const char *path, const std::vector<IdxRecord> &rows)
{
    const IdxWriteResult result = idx_write_file(path, rows);
    if (result == IdxWriteResult::written)
        status_show(_(" The list of index records was saved"));
    else if (result == IdxWriteResult::disk_full)
        status_show(_(" Could not save the list of index records: the disk is full"));
    else
        status_show(_(" Could not save the list of index records. Check write and sharing "
                      "permissions!"));
    return result == IdxWriteResult::written;
}

void document_on_save(GtkButton *, gpointer)
{
    if (!tape_document_attached())
        status_show(_(" Nothing to save: open a tape or a program image first"));
    else if (!tape_document_is_image() || !ui_worker_active())
        save_list();
}

void document_on_save_tape_as(GtkMenuItem *, gpointer)
{
    if (tape_document_is_image() && !ui_worker_active())
        save_tape_as();
}

bool document_may_discard()
{
    if (!tape_document_attached() || !tape_document_changed())
        return true;
    const GCharPtr name(g_filename_display_basename(tape_document_path()));
    GtkWidget *dialog = gtk_message_dialog_new(
        GTK_WINDOW(ui_window_main()),
        GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), GTK_MESSAGE_WARNING,
        GTK_BUTTONS_NONE, _("Save changes to the index of %s?"), name.get());
    gtk_dialog_add_buttons(GTK_DIALOG(dialog), _("Close _without saving"), GTK_RESPONSE_NO,
                           "gtk-cancel", GTK_RESPONSE_CANCEL, "gtk-save", GTK_RESPONSE_YES,
                           nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_YES);
    const gint answer = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    return answer == GTK_RESPONSE_NO || (answer == GTK_RESPONSE_YES && save_list());
}

void document_set_fast_load(bool on)
{
    tape_document_set_fast_load(on);
    if (!tape_document_is_image() || ui_worker_active())
        return;
    // The made tape anew; the descriptions, in tape order, stay.
    std::vector<IdxRecord> before = tape_document_records();
    std::stable_sort(before.begin(), before.end(),
                     [](const IdxRecord &a, const IdxRecord &b) { return a.offset < b.offset; });
    const GCharPtr image(g_strdup(tape_document_path()));
    if (!document_attach(image.get()))
        return;
    std::vector<IdxRecord> after = tape_document_records();
    if (after.size() != before.size())
        return;
    std::stable_sort(after.begin(), after.end(),
                     [](const IdxRecord &a, const IdxRecord &b) { return a.offset < b.offset; });
    for (std::size_t i = 0; i < after.size(); ++i)
        after[i].info = before[i].info;
    idx_list_fill(after);
}
