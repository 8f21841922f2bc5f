#include "index/tape_image.h"

#include "tape/tape_info.h"
#include "ui/glib_ptr.h"
#include "ui/i18n.h"

#include <memory>

namespace
{
GBytes *held = nullptr;

void free_bytes(gpointer bytes)
{
    delete static_cast<std::vector<unsigned char> *>(bytes);
}

const unsigned char *held_data(gsize *size)
{
    return static_cast<const unsigned char *>(g_bytes_get_data(held, size));
}
} // namespace

TapeFileResult tape_image_load(const gchar *path)
{
    auto bytes = std::make_unique<std::vector<unsigned char>>();
    const TapeFileResult result = tape_file_read(path, bytes.get());
    if (tape_file_refused(result))
        return result;
    if (held != nullptr)
        g_bytes_unref(held);
    held = nullptr;
    if (result.problem == TapeFileProblem::none) {
        std::vector<unsigned char> *owned = bytes.release();
        held = g_bytes_new_with_free_func(owned->data(), owned->size(), free_bytes, owned);
    }
    return result;
}

GBytes *tape_image_ref()
{
    return held != nullptr ? g_bytes_ref(held) : nullptr;
}

std::vector<std::optional<std::uint64_t>>
tape_image_cycles_at_each(const std::vector<gint32> &offsets)
{
    if (held == nullptr)
        return std::vector<std::optional<std::uint64_t>>(offsets.size());
    std::vector<std::size_t> positions;
    positions.reserve(offsets.size());
    // A negative offset is a position far past any file: it has no time.
    for (gint32 offset : offsets)
        positions.push_back(offset < 0 ? G_MAXSIZE : std::size_t(offset));
    gsize size = 0;
    const unsigned char *data = held_data(&size);
    return tape_cycles_at_each(data, size, positions);
}

gchar *tape_image_describe()
{
    if (held == nullptr)
        return nullptr;
    gsize size = 0;
    const unsigned char *data = held_data(&size);
    const TapeCheck check = tape_check(data, size);
    switch (check.problem) {
    case TapeProblem::too_short:
        return g_strdup(_("Tape check: the file is shorter than a TAP header\n"));
    case TapeProblem::no_signature:
        return g_strdup(_("Tape check: no \"C64-TAPE-RAW\" signature, this is not a TAP file\n"));
    case TapeProblem::unsupported_version:
        return g_strdup_printf(_("Tape check: version %u, not a C64 tape\n"), check.version);
    case TapeProblem::wrong_length:
        return g_strdup_printf(
            _("Tape check: the header gives %lu bytes of data, the file holds %lu\n"),
            gulong(check.length_field), gulong(check.data_length));
    case TapeProblem::none:
        break;
    }
    const std::string time = tape_time_text(check.cycles);
    return g_strdup_printf(_("Tape check: version %u, %lu bytes of data, %s of tape time\n"),
                           check.version, gulong(check.data_length), time.c_str());
}
