#include "maintenance/firmware.h"

#include "base/file_read.h"
#include "base/glib_ptr.h"
#include "base/i18n.h"
#include "firmware/hex_image.h"

#include <vector>

namespace
{

// The file level's reasons, in the words of the image rules.
const char *read_reason(const FileReadResult &read)
{
    switch (read.problem) {
    case FileReadProblem::not_regular:
        return read.error != 0 ? g_strerror(read.error) : _("not a regular file");
    case FileReadProblem::too_large:
        return _("larger than 1 MiB, which no firmware image is");
    default:
        return g_strerror(read.error);
    }
}

} // namespace

bool maintenance_firmware_read(const char *path, std::string *image, gchar **why)
{
    image->clear();
    const GCharPtr shown(g_filename_display_name(path));
    std::vector<unsigned char> bytes;
    const FileReadResult read = file_read_bounded(path, maintenance_firmware_file_largest, &bytes);
    if (read.problem != FileReadProblem::none) {
        *why = g_strdup_printf(_("Not a firmware image: %s: %s\n"), shown.get(), read_reason(read));
        return false;
    }
    const std::string text(bytes.begin(), bytes.end());
    const HexImage checked = hex_image_check(text);
    if (checked.broken == HexRule::none) {
        *image = text;
        return true;
    }
    const char *rule = _(hex_rule_text(checked.broken));
    *why = checked.line == 0
               ? g_strdup_printf(_("Not a firmware image: %s: %s\n"), shown.get(), rule)
               : g_strdup_printf(_("Not a firmware image: %s, line %zu: %s\n"), shown.get(),
                                 checked.line, rule);
    return false;
}

gchar *maintenance_firmware_describe(const char *path, std::string_view image)
{
    const HexImage checked = hex_image_check(image);
    const GCharPtr shown(g_filename_display_name(path));
    const GCharPtr sha(g_compute_checksum_for_data(
        G_CHECKSUM_SHA256, reinterpret_cast<const guchar *>(image.data()), image.size()));
    return g_strdup_printf(_("Firmware image %s: data at 0x%04X-0x%04X, %zu bytes, SHA-256 %s\n"),
                           shown.get(), unsigned(checked.lowest), unsigned(checked.highest),
                           checked.data_bytes, sha.get());
}

int maintenance_firmware_write(const char *dir, std::string_view image)
{
    GCharPtr path(g_build_filename(dir, maintenance_firmware_file, nullptr));
    // g_file_set_contents() writes a temporary file and renames it, so an
    // old file is replaced whole or not at all.
    return g_file_set_contents(path.get(), image.data(), gssize(image.size()), nullptr) ? 1 : 0;
}
