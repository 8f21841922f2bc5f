#include "idx/idx_format.h"

#include "base/glib_ptr.h"

#include <gio/gfiledescriptorbased.h>
#include <gio/gio.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace
{

// Everything from NUL to space ends a number.
constexpr bool is_blank_or_control(unsigned char c)
{
    return c <= 0x20;
}

// 0-9 and A-Z/a-z as 0..35; -1 for anything else.
constexpr int digit_value(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    return -1;
}

// Windows-1252 bytes 0x80-0x9F. The five bytes that the code page leaves
// undefined map to the C1 code points of the same value, so no byte is lost.
constexpr std::array<gunichar, 32> cp1252_high{{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
}};

// A description as UTF-8: valid UTF-8 sequences stay as they are, and each
// byte that is not part of one is read as Windows-1252, so one stray byte
// does not garble the characters around it.
std::string description_to_utf8(const char *text, size_t length)
{
    std::string out;
    out.reserve(length * 2);
    const char *end = text + length;
    while (text < end) {
        const char *valid_end = nullptr;
        g_utf8_validate(text, end - text, &valid_end);
        out.append(text, valid_end);
        if (valid_end == end)
            break;
        const auto byte = static_cast<unsigned char>(*valid_end);
        gunichar c = byte;
        if (byte >= 0x80 && byte < 0xA0)
            c = cp1252_high[byte - 0x80];
        char utf8[6];
        out.append(utf8, g_unichar_to_utf8(c, utf8));
        text = valid_end + 1;
    }
    return out;
}

// The names of the extended attributes that `list` (listxattr() or
// flistxattr() bound to one file) reports; none on a file system without
// them. Nothing when the list cannot be read.
template <typename List> std::optional<std::vector<std::string>> xattr_names(List list)
{
    const ssize_t size = list(nullptr, 0);
    if (size < 0)
        return errno == ENOTSUP ? std::optional(std::vector<std::string>{}) : std::nullopt;
    std::string buffer(size_t(size), '\0');
    if (size > 0 && list(buffer.data(), buffer.size()) != size)
        return std::nullopt;
    std::vector<std::string> names;
    for (size_t at = 0; at < buffer.size(); at += names.back().size() + 1)
        names.emplace_back(buffer.c_str() + at);
    return names;
}

// Gives the new copy `fd` exactly the extended attributes of the file at
// `path` that it replaces: GIO carries over only owner, group and mode, and
// a new file may inherit attributes (a default ACL) from its folder. False,
// with errno set, when one cannot be carried over.
bool copy_xattrs(const char *path, int fd)
{
    const auto wanted = xattr_names([&](char *b, size_t n) { return listxattr(path, b, n); });
    const auto present = xattr_names([&](char *b, size_t n) { return flistxattr(fd, b, n); });
    if (!wanted || !present)
        return false;
    for (const std::string &name : *present)
        if (std::find(wanted->begin(), wanted->end(), name) == wanted->end() &&
            fremovexattr(fd, name.c_str()) != 0)
            return false;
    for (const std::string &name : *wanted) {
        const ssize_t size = getxattr(path, name.c_str(), nullptr, 0);
        std::string value(size_t(std::max<ssize_t>(size, 0)), '\0');
        if (size < 0 || getxattr(path, name.c_str(), value.data(), value.size()) != size ||
            fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0)
            return false;
    }
    return true;
}

// Whether `fd` is a new file beside `path` (GIO's temporary copy) rather
// than the file itself, rewritten in place.
bool is_new_copy(int fd, const char *path)
{
    struct stat written, existing;
    return fstat(fd, &written) == 0 && stat(path, &existing) == 0 &&
           (written.st_dev != existing.st_dev || written.st_ino != existing.st_ino);
}

// Sets *error from errno; false.
bool fail_with_errno(GError **error)
{
    const int code = errno;
    g_set_error_literal(error, G_IO_ERROR, g_io_error_from_errno(code), g_strerror(code));
    return false;
}

// As many links in a row as the kernel follows.
constexpr int max_links_followed = 40;

// Whether the kernel's protected-symlinks rule lets the user follow a link
// with the status `link` in the folder with the status `folder`: one of the
// user's own links, a folder that is not sticky and world-writable, or a
// link of the folder's owner.
bool may_follow(const struct stat &link, const struct stat &folder)
{
    const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return link.st_uid == geteuid() || !shared || link.st_uid == folder.st_uid;
}

// Where the new content must end up: the end of a chain of symbolic links,
// so that a link stays a link and its target is still replaced as a whole
// (given the link, GIO would rewrite the target in place). Followed one link
// at a time, each only where the protected-symlinks rule allows it, also
// when the kernel does not enforce the rule: realpath() would follow a link
// that another user planted in /tmp to one of the user's files. Nothing
// when a link may not be followed, cannot be read or leads round in a loop.
std::optional<std::string> resolved_target(const char *path)
{
    std::string current = path;
    for (int followed = 0;; ++followed) {
        struct stat link;
        // A file, or nothing yet: the content goes there (and GIO reports
        // whatever made lstat() fail).
        if (lstat(current.c_str(), &link) != 0 || !S_ISLNK(link.st_mode))
            return current;
        const GCharPtr folder(g_path_get_dirname(current.c_str()));
        struct stat folder_status;
        if (followed == max_links_followed || stat(folder.get(), &folder_status) != 0 ||
            !may_follow(link, folder_status))
            return std::nullopt;
        const GCharPtr target(g_file_read_link(current.c_str(), nullptr));
        if (target == nullptr)
            return std::nullopt;
        if (g_path_is_absolute(target.get()))
            current = target.get();
        else
            current = GCharPtr(g_build_filename(folder.get(), target.get(), nullptr)).get();
    }
}

IdxWriteResult replace_file(const char *path, const std::string &content)
{
    const std::optional<std::string> resolved = resolved_target(path);
    if (!resolved) {
        g_debug("IDX save to %s refused: a link that may not be followed", path);
        return IdxWriteResult::failed;
    }
    const char *target = resolved->c_str();
    struct stat before;
    const bool existed = lstat(target, &before) == 0;
    GFile *file = g_file_new_for_path(target);
    // Cancelled before the close when something failed: GIO then removes its
    // temporary copy instead of renaming it over the file.
    GCancellable *abandon = g_cancellable_new();
    GError *error = nullptr;
    GFileOutputStream *stream =
        g_file_replace(file, nullptr, FALSE, G_FILE_CREATE_NONE, abandon, &error);
    if (stream != nullptr) {
        const int fd = g_file_descriptor_based_get_fd(G_FILE_DESCRIPTOR_BASED(stream));
        bool ok = g_output_stream_write_all(G_OUTPUT_STREAM(stream), content.data(), content.size(),
                                            nullptr, nullptr, &error);
        if (ok && is_new_copy(fd, target) && !copy_xattrs(target, fd))
            ok = fail_with_errno(&error);
        // On disk before success is reported: GIO syncs only a file that
        // existed before.
        if (ok && fsync(fd) != 0)
            ok = fail_with_errno(&error);
        if (!ok)
            g_cancellable_cancel(abandon);
        // The close renames the copy over the file, or closes the file
        // rewritten in place; either can still fail.
        ok = g_output_stream_close(G_OUTPUT_STREAM(stream), abandon, ok ? &error : nullptr) && ok;
        // A file that did not exist was written directly: remove what there
        // is of it.
        if (!ok && !existed)
            g_unlink(target);
        g_object_unref(stream);
    }
    g_object_unref(abandon);
    g_object_unref(file);
    if (error == nullptr)
        return IdxWriteResult::written;
    const GErrorPtr failure(error);
    g_debug("IDX save to %s failed: %s", target, failure->message);
    return g_error_matches(failure.get(), G_IO_ERROR, G_IO_ERROR_NO_SPACE)
               ? IdxWriteResult::disk_full
               : IdxWriteResult::failed;
}

} // namespace

std::string idx_path_for_tap(const std::string &tap_path)
{
    const std::size_t slash = tap_path.rfind(G_DIR_SEPARATOR);
    const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = tap_path.rfind('.');
    const bool has_dot = dot != std::string::npos && dot >= name;
    return tap_path.substr(0, has_dot ? dot : tap_path.size()) + ".idx";
}

bool idx_parse_number(const char **pos, gint32 *value)
{
    *value = 0;
    auto p = reinterpret_cast<const unsigned char *>(*pos);
    const auto fail = [&] {
        *pos = reinterpret_cast<const char *>(p);
        *value = 0;
        return false;
    };

    while (*p == ' ')
        ++p;
    const bool negative = *p == '-';
    if (negative)
        ++p;

    guint32 base = 10;
    if (*p == '0') {
        ++p;
        if (*p == 'x' || *p == 'b') {
            base = *p == 'x' ? 16 : 2;
            ++p;
            if (is_blank_or_control(*p)) {
                *pos = reinterpret_cast<const char *>(p);
                return true;
            }
        } else if (is_blank_or_control(*p)) {
            *pos = reinterpret_cast<const char *>(p);
            return true;
        } else if (*p >= '0' && *p <= '9') {
            base = 8;
        } else {
            return fail();
        }
    } else if (!(*p >= '1' && *p <= '9')) {
        return fail();
    }

    // Modulo 2^32 on purpose: 0xfffffffb is -5 and 0x100000014 is 20.
    guint32 accumulated = 0;
    do {
        const int digit = digit_value(*p);
        if (digit < 0 || guint32(digit) >= base)
            return fail();
        accumulated = accumulated * base + guint32(digit);
        ++p;
    } while (!is_blank_or_control(*p));

    *pos = reinterpret_cast<const char *>(p);
    *value = static_cast<gint32>(negative ? 0u - accumulated : accumulated);
    return true;
}

bool idx_parse_text(char *text, const IdxRecordReceiver &receiver)
{
    bool has_tape_start = false;
    char *line = text;
    while (*line != '\0') {
        // CR, LF and CR LF all end a line: files with old Mac line ends (CR
        // alone) would otherwise read as one line and lose every record but
        // the first. Empty lines are skipped with the line end.
        char *content_end = line + std::strcspn(line, "\r\n");
        const bool last = *content_end == '\0';
        *content_end = '\0';

        const char *p = line;
        gint32 offset = 0;
        if (idx_parse_number(&p, &offset)) {
            while (*p == ' ' || *p == '\t')
                ++p;
            const std::string info = description_to_utf8(p, size_t(content_end - p));
            receiver(offset, info.c_str());
            if (offset == idx_tape_start)
                has_tape_start = true;
        }

        if (last)
            break;
        line = content_end + 1;
        while (*line == '\r' || *line == '\n')
            ++line;
    }
    return has_tape_start;
}

std::string idx_format_record(gint32 offset, const char *info)
{
    if (info == nullptr || *info == '\0')
        info = "<Missing info>";
    const char *tabs = offset <= 0xFFFFF ? "\t\t" : "\t";
    char number[16];
    std::snprintf(number, sizeof number, "0x%x", static_cast<guint32>(offset));
    std::string line;
    line.reserve(std::strlen(number) + 2 + std::strlen(info) + 2);
    line.append(number).append(tabs).append(info).append("\r\n");
    return line;
}

std::string idx_format_records(const std::vector<IdxRecord> &rows)
{
    std::string text;
    text.reserve(rows.size() * 32);
    for (const IdxRecord &row : rows)
        text += idx_format_record(row.offset, row.info.c_str());
    return text;
}

IdxWriteResult idx_write_file(const char *path, const std::vector<IdxRecord> &rows)
{
    return replace_file(path, idx_format_records(rows));
}
