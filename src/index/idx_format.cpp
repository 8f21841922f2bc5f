#include "index/idx_format.h"

#include "ui/glib_ptr.h"

#include <glib/gstdio.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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

// write() until everything is out; false on the first real error (ENOSPC,
// EIO, ...).
bool write_all(int fd, const char *data, size_t length)
{
    while (length > 0) {
        const ssize_t n = write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        length -= size_t(n);
    }
    return true;
}

// Where the new content must end up: the target of a symbolic link, so
// that the rename replaces the file and not the link.
GCharPtr resolved_target(const char *path)
{
    if (g_file_test(path, G_FILE_TEST_IS_SYMLINK)) {
        if (char *real = realpath(path, nullptr)) {
            GCharPtr copy(g_strdup(real));
            free(real);
            return copy;
        }
    }
    return GCharPtr(g_strdup(path));
}

bool replace_file(const char *path, const std::string &content)
{
    const GCharPtr target = resolved_target(path);
    const GCharPtr folder(g_path_get_dirname(target.get()));
    // A short fixed name: a long IDX name must not push the temporary
    // name past the file system's limit.
    const GCharPtr temporary(g_build_filename(folder.get(), ".ravelo-idx-XXXXXX", nullptr));
    const int fd = g_mkstemp_full(temporary.get(), O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;

    // Keep the permissions of the file being replaced. If that fails the new
    // file simply has the default ones; the content is what matters.
    struct stat previous;
    if (stat(target.get(), &previous) == 0 && fchmod(fd, previous.st_mode & 07777) != 0)
        g_debug("IDX save: permissions of %s not carried over", target.get());

    bool ok = write_all(fd, content.data(), content.size()) && fsync(fd) == 0;
    // close() reports the delayed errors of some file systems (NFS quota).
    ok = close(fd) == 0 && ok;
    if (ok)
        ok = g_rename(temporary.get(), target.get()) == 0;
    if (!ok)
        g_unlink(temporary.get());
    return ok;
}

} // namespace

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

bool idx_write_file(const char *path, const std::vector<IdxRecord> &rows)
{
    return replace_file(path, idx_format_records(rows));
}
