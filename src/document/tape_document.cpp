#include "document/tape_document.h"

#include "base/i18n.h"
#include "tape/tape_file.h"
#include "tape/tape_info.h"

#include <memory>
#include <utility>

namespace
{
enum class Kind { none, tap_file, image };

Kind kind = Kind::none;
gchar *source_path = nullptr;
gchar *idx_path = nullptr;
GBytes *held = nullptr;
std::vector<IdxRecord> records;
bool fast_load = true;
// The IDX text of the records last loaded or saved: any text that differs
// from it, whatever the edit, would be lost unsaved.
std::string saved_text;

template <typename Bytes> void free_bytes(gpointer bytes)
{
    delete static_cast<Bytes *>(bytes);
}

// Holds `bytes` without copying them.
template <typename Bytes> GBytes *bytes_new(Bytes bytes)
{
    auto *owned = new Bytes(std::move(bytes));
    return g_bytes_new_with_free_func(owned->data(), owned->size(), free_bytes<Bytes>, owned);
}

void replace(Kind new_kind, const gchar *path, gchar *new_idx_path, GBytes *bytes)
{
    kind = new_kind;
    g_free(source_path);
    source_path = g_strdup(path);
    g_free(idx_path);
    idx_path = new_idx_path;
    if (held != nullptr)
        g_bytes_unref(held);
    held = bytes;
}

const unsigned char *held_data(gsize *size)
{
    return static_cast<const unsigned char *>(g_bytes_get_data(held, size));
}
} // namespace

void tape_document_attach_tap(const gchar *path, std::vector<unsigned char> bytes)
{
    replace(Kind::tap_file, path, g_strdup(idx_path_for_tap(path).c_str()),
            bytes_new(std::move(bytes)));
}

void tape_document_attach_image(const gchar *path, std::string tape)
{
    replace(Kind::image, path, nullptr, bytes_new(std::move(tape)));
}

bool tape_document_attached()
{
    return kind != Kind::none;
}

bool tape_document_is_image()
{
    return kind == Kind::image;
}

const gchar *tape_document_path()
{
    return source_path;
}

const gchar *tape_document_idx_path()
{
    return idx_path;
}

GBytes *tape_document_bytes_ref()
{
    return held != nullptr ? g_bytes_ref(held) : nullptr;
}

std::vector<std::optional<std::uint64_t>>
tape_document_cycles_at_each(const std::vector<gint32> &offsets)
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

gchar *tape_document_describe()
{
    if (held == nullptr)
        return nullptr;
    gsize size = 0;
    const unsigned char *data = held_data(&size);
    return tape_document_describe_file(data, size);
}

gchar *tape_document_describe_file(const unsigned char *file, std::size_t size)
{
    const TapeCheck check = tape_check(file, size);
    switch (check.problem) {
    case TapeProblem::too_short:
        return g_strdup(size == 0 ? _("Tape check: the file is empty\n")
                                  : _("Tape check: the file is shorter than a TAP header\n"));
    case TapeProblem::no_signature:
        return g_strdup(_("Tape check: no \"C64-TAPE-RAW\" or \"C16-TAPE-RAW\" signature, this "
                          "is not a TAP file\n"));
    case TapeProblem::unsupported_version:
        return g_strdup_printf(check.version == 2
                                   ? _("Tape check: version %u, not a C64 tape\n")
                                   : _("Tape check: version %u, which no TAP file has\n"),
                               check.version);
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

GBytes *tape_document_play_bytes(FileReadResult *read)
{
    *read = {};
    if (kind != Kind::tap_file)
        return tape_document_bytes_ref();
    std::vector<unsigned char> bytes;
    *read = file_read_bounded(source_path, tape_file_largest, &bytes, FileReadLock::unshared);
    if (read->problem != FileReadProblem::none)
        return nullptr;
    // Replaced on disk since it was attached by something that is no tape.
    if (!tape_playable(tape_check(bytes.data(), bytes.size()))) {
        *read = {FileReadProblem::cannot_open, 0};
        return nullptr;
    }
    return bytes_new(std::move(bytes));
}

const std::vector<IdxRecord> &tape_document_records()
{
    return records;
}

void tape_document_set_records(std::vector<IdxRecord> new_records)
{
    records = std::move(new_records);
}

void tape_document_mark_saved()
{
    saved_text = idx_format_records(records);
}

bool tape_document_changed()
{
    return idx_format_records(records) != saved_text;
}

bool tape_document_fast_load()
{
    return fast_load;
}

void tape_document_set_fast_load(bool on)
{
    fast_load = on;
}
