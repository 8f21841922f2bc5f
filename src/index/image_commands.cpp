#include "index/image_commands.h"

#include "image/image_tape.h"
#include "idx/idx_format.h"
#include "index/index_list.h"
#include "index/tape_document.h"
#include "tape/tape_scan.h"
#include "ui/feedback.h"
#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "ui/registry.h"

#include <cstring>
#include <utility>
#include <vector>

namespace
{

void show_refusal(const gchar *path, ImageKind kind, const std::string &why)
{
    const GCharPtr shown(g_filename_display_name(path));
    const GCharPtr status(
        g_strdup_printf(_(" Error: Cannot play %s: %s"), shown.get(), why.c_str()));
    status_show(status.get());
    const GCharPtr line(g_strdup_printf(_("Cannot play %s as a %s: %s\n"), shown.get(),
                                        image_kind_name(kind), why.c_str()));
    log_append(line.get());
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

} // namespace

bool image_attach(const gchar *path, ImageKind kind, const std::string &bytes)
{
    const GCharPtr name(g_path_get_basename(path));
    const ImageRead read = image_read(kind, name.get(), bytes);
    if (!read.refusal.empty()) {
        show_refusal(path, kind, read.refusal);
        return false;
    }
    TapRomTape tape = image_make_tape(read.programs);
    const auto *data = reinterpret_cast<const unsigned char *>(tape.tap.data());
    std::vector<IdxRecord> records;
    for (const TapeProgram &program : tape_scan(data, tape.tap.size()))
        records.push_back({gint32(program.offset), program.name});
    tape_document_attach_image(path, std::move(tape.tap));
    idx_list_fill(records);
    idx_list_mark_saved();

    const int count = int(read.programs.size());
    const GCharPtr line(g_strdup_printf(
        dngettext(RAVELO_TEXT_DOMAIN, "%s with %d program\n", "%s with %d programs\n", count),
        image_kind_name(kind), count));
    log_append(line.get());
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
    if (!written || idx_write_file(idx.c_str(), idx_list_rows()) != IdxWriteResult::written) {
        if (written)
            status_show(_(" Could not save the list of index records. Check write and sharing "
                          "permissions!"));
        g_free(path);
        return nullptr;
    }
    return path;
}
