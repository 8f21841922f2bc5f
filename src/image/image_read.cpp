#include "image/image_read.h"

#include "base/i18n.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace
{

constexpr std::size_t name_size = 16;
constexpr std::size_t address_end = 0x10000;

unsigned byte_at(const std::string &bytes, std::size_t at)
{
    return static_cast<unsigned char>(bytes[at]);
}

unsigned word_at(const std::string &bytes, std::size_t at)
{
    return byte_at(bytes, at) | byte_at(bytes, at + 1) << 8;
}

char ascii_lower(unsigned char c)
{
    return char(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

std::string ascii_lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), ascii_lower);
    return text;
}

// The name without the trailing bytes that pad it.
std::string unpadded(std::string name, const std::string &padding)
{
    const auto end = name.find_last_not_of(padding);
    name.erase(end == std::string::npos ? 0 : end + 1);
    return name;
}

std::string petscii_text(const std::string &name)
{
    std::string text;
    for (const unsigned char c : name)
        text += c >= 0x20 && c <= 0x5B ? char(c) : c >= 0xC1 && c <= 0xDA ? char(c - 0x80) : '?';
    return text;
}

std::string skip_line(const std::string &name, const std::string &reason)
{
    return i18n_format(_("skipped \"%s\": %s"), petscii_text(name).c_str(), reason.c_str());
}

// "not a T64 tape image (100 bytes)", where the size tells what the file is.
std::string not_a(const char *what, std::size_t size)
{
    return i18n_format(dngettext(RAVELO_TEXT_DOMAIN, "%s (%lu byte)", "%s (%lu bytes)", size), what,
                       static_cast<unsigned long>(size));
}

// Why a program cannot go to tape, or nullptr when it can.
const char *program_problem(unsigned load, std::size_t size)
{
    if (size == 0)
        return _("no program bytes");
    if (load + size > address_end)
        return _("the program would run past address $FFFF");
    return nullptr;
}

// A PRG or P00 file: one program, load address first, or the refusal.
ImageRead single_program(std::string name, const std::string &file)
{
    ImageRead read;
    const unsigned load = file.size() >= 2 ? word_at(file, 0) : 0;
    const std::size_t size = file.size() > 2 ? file.size() - 2 : 0;
    if (const char *problem = program_problem(load, size))
        read.refusal = problem;
    else
        read.programs.push_back({std::move(name), std::uint16_t(load), file.substr(2)});
    return read;
}

// The PETSCII name a file name gives: the ASCII characters PETSCII has, with
// letters as capitals; '?' for each it lacks, a UTF-8 sequence counting as one.
std::string prg_name(const std::string &file_name)
{
    const std::string stem = file_name.substr(0, file_name.rfind('.'));
    std::string name;
    for (const unsigned char c : stem) {
        if (name.size() == name_size)
            break;
        if (c >= 0x80 && c < 0xC0)
            continue; // the rest of a UTF-8 sequence
        const unsigned char upper = c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c;
        name += (upper >= 0x20 && upper <= 0x5B) || upper == 0x5D ? char(upper) : '?';
    }
    return name;
}

ImageRead read_p00(const std::string &bytes)
{
    constexpr char signature[] = "C64File";
    constexpr std::size_t name_at = 8, program_at = 26;
    if (bytes.compare(0, sizeof signature, signature, sizeof signature) != 0) {
        ImageRead read;
        read.refusal = _("not a P00 file (no \"C64File\" signature)");
        return read;
    }
    return single_program(unpadded(bytes.substr(name_at, name_size), std::string("\0\xA0", 2)),
                          bytes.size() > program_at ? bytes.substr(program_at) : "");
}

ImageRead read_t64(const std::string &bytes)
{
    constexpr std::size_t header_size = 64, entry_size = 32, signature_size = 32;
    ImageRead read;
    if (bytes.size() < header_size) {
        read.refusal = not_a(_("not a T64 tape image"), bytes.size());
        return read;
    }
    const std::string signature = ascii_lowered(bytes.substr(0, signature_size));
    if (signature.compare(0, 3, "c64") != 0 || signature.find("tape") == std::string::npos) {
        read.refusal = _("not a T64 tape image (no \"C64\" tape signature)");
        return read;
    }

    // Only the slots that both the header reserved and the file holds.
    const std::size_t slots = std::min<std::size_t>(std::max(word_at(bytes, 34), 1u),
                                                    (bytes.size() - header_size) / entry_size);
    const std::size_t used = std::max(word_at(bytes, 36), 1u);
    struct Entry {
        std::string name;
        unsigned load;
        std::size_t offset;
        std::size_t end = 0;
    };
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < slots && entries.size() < used; ++i) {
        const std::size_t at = header_size + i * entry_size;
        if (byte_at(bytes, at) == 0)
            continue; // a free slot
        const std::size_t offset = word_at(bytes, at + 8) | std::size_t(word_at(bytes, at + 10))
                                                                << 16;
        entries.push_back({unpadded(bytes.substr(at + 16, name_size), std::string(" \xA0\0", 3)),
                           word_at(bytes, at + 2), offset});
    }

    // Each program's data runs up to the next in the file; of entries that
    // share an offset, all but the last have none.
    std::vector<std::size_t> by_offset(entries.size());
    for (std::size_t i = 0; i < by_offset.size(); ++i)
        by_offset[i] = i;
    std::stable_sort(by_offset.begin(), by_offset.end(), [&](std::size_t a, std::size_t b) {
        return entries[a].offset < entries[b].offset;
    });
    for (std::size_t i = 0; i < by_offset.size(); ++i)
        entries[by_offset[i]].end =
            std::min(i + 1 < by_offset.size() ? entries[by_offset[i + 1]].offset : bytes.size(),
                     bytes.size());

    for (auto &entry : entries) {
        if (entry.offset > bytes.size()) {
            read.skipped.push_back(
                skip_line(entry.name, _("its data lies past the end of the file")));
            continue;
        }
        const std::size_t size = entry.end - entry.offset;
        if (const char *problem = program_problem(entry.load, size))
            read.skipped.push_back(skip_line(entry.name, problem));
        else
            read.programs.push_back({std::move(entry.name), std::uint16_t(entry.load),
                                     bytes.substr(entry.offset, size)});
    }
    return read;
}

// The 1541's geometry, in 256-byte sectors.
struct Disk {
    const std::string &bytes;
    unsigned tracks;

    static unsigned sectors_on(unsigned track)
    {
        return track <= 17 ? 21 : track <= 24 ? 19 : track <= 30 ? 18 : 17;
    }
    bool holds(unsigned track, unsigned sector) const
    {
        return track >= 1 && track <= tracks && sector < sectors_on(track);
    }
    // The sector's number from the start of the disk.
    static unsigned index(unsigned track, unsigned sector)
    {
        unsigned before = 0;
        for (unsigned t = 1; t < track; ++t)
            before += sectors_on(t);
        return before + sector;
    }
    static std::size_t offset(unsigned track, unsigned sector)
    {
        return std::size_t(index(track, sector)) * 256;
    }
};

// Follows a file's sector chain, appending its data to *data. Why the file
// cannot be read, or "".
std::string read_chain(const Disk &disk, unsigned track, unsigned sector, unsigned blocks,
                       std::string *data)
{
    constexpr std::size_t data_per_sector = 254;
    // The load address and the most that fits below $10000: a longer chain
    // cannot hold a program, whatever else is wrong with it.
    constexpr std::size_t longest = 2 + address_end;
    std::vector<bool> seen(Disk::index(disk.tracks + 1, 0));
    unsigned count = 0;
    for (;;) {
        if (!disk.holds(track, sector))
            return _("its sector chain leaves the disk");
        const unsigned index = Disk::index(track, sector);
        if (seen[index])
            return _("its sector chain loops");
        seen[index] = true;
        ++count;
        const std::size_t at = std::size_t(index) * 256;
        track = byte_at(disk.bytes, at);
        sector = byte_at(disk.bytes, at + 1);
        if (track == 0) {
            // The last sector: its data ends at the byte the link names.
            data->append(disk.bytes, at + 2, sector >= 2 ? sector - 1 : 0);
            break;
        }
        data->append(disk.bytes, at + 2, data_per_sector);
        if (data->size() > longest)
            return _("the program would run past address $FFFF");
    }
    if (count < blocks)
        return i18n_format(dngettext(RAVELO_TEXT_DOMAIN,
                                     "its sector chain ends after %u of its %u block",
                                     "its sector chain ends after %u of its %u blocks", blocks),
                           count, blocks);
    return "";
}

// Why a directory entry is no program to take; "" for a closed PRG file.
std::string entry_problem(unsigned type)
{
    if ((type & 0x8F) == 0x82)
        return "";
    if (type == 0)
        return _("a deleted file");
    if ((type & 0x80) == 0)
        return _("the file was never closed");
    static constexpr std::array<const char *, 5> kinds{"DEL", "SEQ", "PRG", "USR", "REL"};
    const unsigned kind = type & 0x0F;
    return kind < kinds.size()
               ? i18n_format(_("a %s file; only programs load from tape"), kinds[kind])
               : _("a file of unknown type; only programs load from tape");
}

ImageRead read_d64(const std::string &bytes)
{
    ImageRead read;
    unsigned tracks = 0;
    switch (bytes.size()) {
    case 174848: // 683 sectors
    case 175531: // and an error byte for each
        tracks = 35;
        break;
    case 196608: // 768 sectors
    case 197376: // and an error byte for each
        tracks = 40;
        break;
    default:
        read.refusal = not_a(_("not a 1541 disk image"), bytes.size());
        return read;
    }
    const Disk disk{bytes, tracks};

    // The DOS keeps the directory on track 18; keeping to it bounds the
    // number of entries.
    constexpr unsigned directory_track = 18;
    std::vector<bool> seen(Disk::sectors_on(directory_track));
    unsigned track = directory_track, sector = 1;
    while (track == directory_track && sector < seen.size() && !seen[sector]) {
        seen[sector] = true;
        const std::size_t at = Disk::offset(track, sector);
        for (std::size_t entry = at; entry < at + 256; entry += 32) {
            const unsigned type = byte_at(bytes, entry + 2);
            const std::string name = unpadded(bytes.substr(entry + 5, name_size), "\xA0");
            if (type == 0 && name.find_first_not_of(std::string("\0", 1)) == std::string::npos)
                continue; // an empty slot
            std::string problem = entry_problem(type);
            std::string data;
            if (problem.empty())
                problem = read_chain(disk, byte_at(bytes, entry + 3), byte_at(bytes, entry + 4),
                                     word_at(bytes, entry + 30), &data);
            const unsigned load = data.size() >= 2 ? word_at(data, 0) : 0;
            if (problem.empty())
                if (const char *program =
                        program_problem(load, data.size() > 2 ? data.size() - 2 : 0))
                    problem = program;
            if (!problem.empty())
                read.skipped.push_back(skip_line(name, problem));
            else
                read.programs.push_back({name, std::uint16_t(load), data.substr(2)});
        }
        track = byte_at(bytes, at);
        sector = byte_at(bytes, at + 1);
    }
    return read;
}

} // namespace

std::optional<ImageKind> image_kind_of(const std::string &file_name)
{
    const auto dot = file_name.rfind('.');
    if (dot == std::string::npos)
        return std::nullopt;
    const std::string extension = ascii_lowered(file_name.substr(dot + 1));
    if (extension == "prg")
        return ImageKind::prg;
    if (extension == "p00")
        return ImageKind::p00;
    if (extension == "t64")
        return ImageKind::t64;
    if (extension == "d64")
        return ImageKind::d64;
    return std::nullopt;
}

const char *image_kind_name(ImageKind kind)
{
    switch (kind) {
    case ImageKind::prg:
        return _("PRG file");
    case ImageKind::p00:
        return _("P00 file");
    case ImageKind::t64:
        return _("T64 tape image");
    case ImageKind::d64:
        return _("D64 disk image");
    }
    return "";
}

ImageRead image_read(ImageKind kind, const std::string &file_name, const std::string &bytes)
{
    ImageRead read;
    switch (kind) {
    case ImageKind::prg:
        read = single_program(prg_name(file_name), bytes);
        break;
    case ImageKind::p00:
        read = read_p00(bytes);
        break;
    case ImageKind::t64:
        read = read_t64(bytes);
        break;
    case ImageKind::d64:
        read = read_d64(bytes);
        break;
    }
    if (read.refusal.empty() && read.programs.empty())
        read.refusal = _("no programs in the image");
    return read;
}
