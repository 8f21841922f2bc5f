#include "index/tape_image.h"

#include "tape/tape_info.h"
#include "ui/glib_ptr.h"
#include "ui/i18n.h"

#include <glib/gstdio.h>

namespace
{
// Far beyond an hour of tape (about 4 MB); a file of that size chosen under
// "All files" is not read into memory.
constexpr goffset largest_tape = goffset{256} << 20;

GBytes *held = nullptr;

const unsigned char *held_data(gsize *size)
{
    return static_cast<const unsigned char *>(g_bytes_get_data(held, size));
}
} // namespace

bool tape_image_load(const gchar *path)
{
    if (held != nullptr)
        g_bytes_unref(held);
    held = nullptr;
    GStatBuf info;
    if (g_stat(path, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > largest_tape)
        return false;
    gchar *text = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(path, &text, &length, nullptr))
        return false;
    held = g_bytes_new_take(text, length);
    return true;
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
