#include "index/idx_commands.h"

#include "index/image_commands.h"
#include "index/index_list.h"
#include "index/tape_document.h"
#include "tape/tape_file.h"
#include "tape/tape_info.h"
#include "ui/feedback.h"
#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "ui/open_dialog.h"
#include "ui/registry.h"
#include "ui/worker.h"

#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

namespace
{

// What the chooser showed when it last closed with Open; for this run of the
// program only.
gchar *ui_tap_chooser_folder = nullptr;
int ui_tap_chooser_filter = 0;

// The placeholder description of rows made by Add.
const char *new_entry_text()
{
    return _("<New entry>");
}

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

// Save tape as, then the tape written attached as Open would attach it. While
// a worker plays the image only Quit can follow, and the tape stays.
bool save_tape_as()
{
    const GCharPtr tape{image_save_tape_as()};
    if (tape != nullptr && !ui_worker_active())
        idx_attach_tap_file(tape.get());
    return tape != nullptr;
}

// Save: the IDX file, or Save tape as for an image. Returns whether the list
// was written.
bool save_list()
{
    if (tape_document_is_image())
        return save_tape_as();
    if (!idx_save_file(tape_document_idx_path(), idx_list_rows()))
        return false;
    idx_list_mark_saved();
    status_show(_(" IDX list saved to file"));
    return true;
}

} // namespace

gboolean ui_choose_tap_file(gchar **path)
{
    GtkWidget *dialog = ui_open_dialog_create();
    GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog);
    gtk_window_set_title(GTK_WINDOW(dialog), "Select a TAP file");

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

gboolean idx_fill_list()
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
    idx_list_mark_saved();
    return read;
}

gboolean idx_attach_tap_file(const gchar *path)
{
    std::vector<unsigned char> bytes;
    const TapeFileResult read = tape_file_read(path, &bytes);
    // A file with the TAP signature is a tape whatever its name; otherwise
    // the name tells a program image.
    const bool signed_tape = bytes.size() >= tape_signature_size &&
                             std::memcmp(bytes.data(), tape_signature, tape_signature_size) == 0;
    const GCharPtr name(g_path_get_basename(path));
    const auto image = signed_tape ? std::nullopt : image_kind_of(name.get());
    const bool whole = read.problem == TapeFileProblem::none;
    if (tape_file_refused(read) || (image && !whole)) {
        const GCharPtr shown(g_filename_display_name(path));
        const GCharPtr message(g_strdup_printf(_(" Error: Cannot open the tape %s: %s"),
                                               shown.get(), refusal_reason(read)));
        status_show(message.get());
        return FALSE;
    }
    if (image) {
        if (!image_attach(path, *image, std::string(bytes.begin(), bytes.end())))
            return FALSE;
    } else {
        tape_document_attach_tap(path, std::move(bytes), whole);
        idx_fill_list();
    }
    set_control_allowed("menuitem_save_tape_as", image.has_value());
    set_controls_state(1);

    // The path as the file system spells it need not be UTF-8; the status bar
    // needs it to be.
    const GCharPtr shown(g_filename_display_name(path));
    const GCharPtr message(g_strdup_printf(_(" Attached: %s"), shown.get()));
    status_show(message.get());
    if (image)
        return TRUE;
    if (const GCharPtr check{tape_document_describe()})
        log_append(check.get());
    else
        log_append(_("Tape check: the file could not be read\n"));
    return TRUE;
}

void idx_on_open_tap_file(GtkMenuItem *, gpointer)
{
    gchar *chosen = nullptr;
    if (!idx_may_discard_list() || !ui_choose_tap_file(&chosen))
        return;
    const GCharPtr owned(chosen);
    idx_attach_tap_file(chosen);
}

gboolean idx_open_tap_path(const gchar *path)
{
    const GCharPtr full(g_canonicalize_filename(path, nullptr));
    if (!idx_attach_tap_file(full.get()))
        return FALSE;
    replace_string(&ui_tap_chooser_folder, g_path_get_dirname(full.get()));
    return TRUE;
}

void idx_on_reload_clicked(GtkButton *, gpointer)
{
    if (!tape_document_attached() || !idx_may_discard_list())
        return;
    // An image has no IDX file: its list is made from the image anew.
    if (tape_document_is_image()) {
        const GCharPtr image(g_strdup(tape_document_path()));
        if (idx_attach_tap_file(image.get()))
            status_show(_(" IDX list reloaded"));
        return;
    }
    const gboolean read = idx_fill_list();
    set_controls_state(1);
    status_show(read ? _(" IDX list reloaded") : _(" IDX list reset"));
}

bool idx_save_file(const char *path, const std::vector<IdxRecord> &rows)
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

void idx_on_save_clicked(GtkButton *, gpointer)
{
    if (tape_document_attached() && (!tape_document_is_image() || !ui_worker_active()))
        save_list();
}

void idx_on_save_tape_as(GtkMenuItem *, gpointer)
{
    if (tape_document_is_image() && !ui_worker_active())
        save_tape_as();
}

bool idx_may_discard_list()
{
    if (!tape_document_attached() || !idx_list_changed())
        return true;
    const GCharPtr name(g_filename_display_basename(tape_document_path()));
    GtkWidget *dialog = gtk_message_dialog_new(
        GTK_WINDOW(ui_window_main()), GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        GTK_MESSAGE_WARNING, GTK_BUTTONS_NONE, _("Save changes to the index of %s?"), name.get());
    gtk_dialog_add_buttons(GTK_DIALOG(dialog), _("Close _without saving"), GTK_RESPONSE_NO,
                           "gtk-cancel", GTK_RESPONSE_CANCEL, "gtk-save", GTK_RESPONSE_YES,
                           nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_YES);
    const gint answer = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    return answer == GTK_RESPONSE_NO || (answer == GTK_RESPONSE_YES && save_list());
}

gboolean idx_on_scroll(GtkWidget *, GdkEventScroll *event, gpointer)
{
    if (!tape_document_attached())
        return FALSE;
    switch (event->direction) {
    case GDK_SCROLL_UP:
        idx_select_previous();
        return TRUE;
    case GDK_SCROLL_DOWN:
        idx_select_next();
        return TRUE;
    default:
        return FALSE;
    }
}

void idx_on_add_clicked(GtkButton *, gpointer)
{
    if (tape_document_attached())
        idx_list_append(idx_tape_start, new_entry_text());
}

void idx_on_remove_clicked(GtkButton *, gpointer)
{
    if (tape_document_attached())
        idx_remove_selected(new_entry_text());
}
