// The program and disk image readers against damaged images made here and
// images that cbmconvert makes from PRG files.
#include "support/harness.h"

#include "image/image_read.h"

#include <algorithm>
#include <cstdlib>

namespace
{

std::string le(unsigned value, int size)
{
    std::string bytes;
    for (int i = 0; i < size; ++i)
        bytes += char(i < 4 ? value >> 8 * i : 0);
    return bytes;
}

// What was read, one line each: the refusal, the programs (name, load
// address, and their size or the bytes themselves), the skipped lines.
std::string summary(const ImageRead &read, bool with_bytes = false)
{
    std::string text = read.refusal.empty() ? "" : read.refusal + "\n";
    for (const auto &p : read.programs)
        text += p.name + test_owned(g_strdup_printf(" $%04X ", p.load)) +
                (with_bytes ? p.bytes : std::to_string(p.bytes.size())) + "\n";
    for (const auto &line : read.skipped)
        text += line + "\n";
    return text;
}

// A D64 directory entry (the first in a sector holds the sector's link), and
// a sector put on the disk, whose speed zones (first and last track) hold
// fewer sectors a track the further out they lie.
std::string entry(int type, int track, int sector, std::string name, int blocks = 1, int link = 0)
{
    name.resize(16, '\xA0');
    return le(link, 2) + char(type) + char(track) + char(sector) + name + le(0, 9) + le(blocks, 2);
}
const struct Zone {
    int first, last, sectors;
} zones[] = {{1, 17, 21}, {18, 24, 19}, {25, 30, 18}, {31, 35, 17}, {36, 40, 17}};
void put(std::string &disk, int track, int sector, const std::string &bytes)
{
    for (const Zone &zone : zones)
        sector += zone.sectors * std::clamp(track - zone.first, 0, zone.last - zone.first + 1);
    disk.replace(sector * 256, bytes.size(), bytes);
}

std::string t64(const char *signature, int reserved, int used, const std::string &entries)
{
    std::string header = signature;
    header.resize(32, '\0');
    return header + le(0x100, 2) + le(reserved, 2) + le(used, 2) + std::string(26, ' ') + entries;
}
std::string t64_entry(int type, int start, int offset, std::string name)
{
    name.resize(16, ' ');
    return char(type) + std::string("\x82") + le(start, 2) + le(0xC3C6, 2) + le(0, 2) +
           le(offset, 4) + le(0, 4) + name;
}

} // namespace

TEST(ImageRead, SaysWhatIsDamagedAndReadsWhatCbmconvertWrites)
{
    std::string disk(174848, '\0');
    put(disk, 18, 1,
        entry(0x82, 1, 0, "GOOD", 1, 0x0412) + entry(0x82, 1, 1, "LOOP") +
            entry(0x82, 2, 0, "OFF DISK") + entry(0x82, 2, 1, "SHORT", 3) +
            entry(0x81, 1, 0, "N\xCF\xD4\xC5\xD3~") + entry(0x02, 1, 0, "SPLAT") +
            entry(0x00, 1, 0, "GONE") + entry(0, 0, 0, std::string(16, '\0')));
    put(disk, 18, 4, entry(0x82, 2, 2, "HIGH", 1, 0x0112) + entry(0xC2, 1, 0, "LOCKED"));
    put(disk, 1, 0, le(0x0500, 2) + le(0x0801, 2) + "ab");
    put(disk, 1, 1, le(0x0101, 2));
    put(disk, 2, 0, le(0x0024, 2));
    put(disk, 2, 1, le(0xFF00, 2) + le(0x1000, 2));
    put(disk, 2, 2, le(0x0500, 2) + le(0xFFFF, 2) + "ab");

    const std::string p00_head = std::string("C64File\0ZERO PAD", 16) + std::string(10, '\0');
    // The kind its name gives, its name, its bytes, what summary() says of it.
    const std::tuple<ImageKind, const char *, std::string, const char *> cases[] = {
        {ImageKind::d64, "damaged.D64", disk,
         "GOOD $0801 2\nLOCKED $0801 2\n"
         "skipped \"LOOP\": its sector chain loops\n"
         "skipped \"OFF DISK\": its sector chain leaves the disk\n"
         "skipped \"SHORT\": its sector chain ends after 1 of its 3 blocks\n"
         "skipped \"NOTES?\": a SEQ file; only programs load from tape\n"
         "skipped \"SPLAT\": the file was never closed\n"
         "skipped \"GONE\": a deleted file\n"
         "skipped \"HIGH\": the program would run past address $FFFF\n"},
        {ImageKind::d64, "short.d64", disk.substr(1), "not a 1541 disk image (174847 bytes)\n"},
        {ImageKind::t64, "old.T64",
         t64("C64S tape file", 1, 0, t64_entry(1, 0x0801, 96, "ONLY")) + std::string(300, 'x'),
         "ONLY $0801 300\n"},
        {ImageKind::t64, "mixed.t64",
         t64("C64 tape image file", 5, 3,
             t64_entry(0, 0x0801, 224, "FREE") + t64_entry(1, 0x1000, 234, "FIRST") +
                 t64_entry(1, 0x2000, 224, "SECOND\xA0\xA0") + t64_entry(1, 0x0801, 999, "LOST") +
                 t64_entry(1, 0x0801, 224, "NOT USED")) +
             std::string(30, 'x'),
         "FIRST $1000 20\nSECOND $2000 10\n"
         "skipped \"LOST\": its data lies past the end of the file\n"},
        {ImageKind::t64, "free.t64", t64("C64S tape image file", 1, 1, t64_entry(0, 0, 96, "")),
         "no programs in the image\n"},
        {ImageKind::p00, "pad.p00", p00_head + le(0x0801, 2) + "x", "ZERO PAD $0801 1\n"},
        {ImageKind::p00, "sig.P00", "C64file" + p00_head.substr(7) + le(0x0801, 2) + "x",
         "not a P00 file (no \"C64File\" signature)\n"},
        {ImageKind::prg, "two.PRG", le(0x0801, 2), "no program bytes\n"},
        {ImageKind::prg, "café_1.prg", le(0xFFFE, 2) + "ab", "CAF??1 $FFFE 2\n"},
        {ImageKind::prg, "high.prg", le(0xFFFE, 2) + "abc",
         "the program would run past address $FFFF\n"},
    };
    for (const auto &[kind, file_name, bytes, read] : cases) {
        EXPECT_EQ(image_kind_of(file_name), kind) << file_name;
        EXPECT_EQ(summary(image_read(kind, file_name, bytes)), read) << file_name;
    }
    EXPECT_FALSE(image_kind_of("tape.tap"));

    // cbmconvert gives lower-case file names as PETSCII capitals.
    const std::tuple<std::string, std::string, std::uint16_t, std::size_t> made[] = {
        {"hello", "HELLO", 0x0801, 5},
        {"a long program name", "A LONG PROGRAM N", 0x0401, 12000},
        {"top", "TOP", 0xFF00, 256}};
    std::string files;
    std::vector<std::string> reads;
    for (const auto &[file, name, load, size] : made) {
        std::string prg = le(load, 2);
        for (std::size_t i = 0; i < size; ++i)
            prg += char(i * 7 + size);
        test_write_file(file + ".prg", prg);
        files += " '../" + file + ".prg'";
        reads.push_back(summary(image_read(ImageKind::prg, file + ".prg", prg), true));
        EXPECT_EQ(reads.back(), summary({{{name, load, prg.substr(2)}}, "", {}}, true));
    }
    ASSERT_EQ(std::system(("mkdir p00 && cd p00 && cbmconvert -v0 -D4 ../disk.d64" + files +
                           " && cbmconvert -v0 -P '../a long program name.prg'")
                              .c_str()),
              0);
    // The image as cbmconvert wrote it, with error bytes, with 40 tracks.
    const std::string written = test_read_file("disk.d64");
    for (const std::size_t more : {0, 683, 5 * 17 * 256, 5 * 17 * 256 + 768})
        EXPECT_EQ(summary(image_read(ImageKind::d64, "", written + std::string(more, '\0')), true),
                  reads[0] + reads[1] + reads[2])
            << more;
    const std::string p00 = test_read_file(fs::directory_iterator("p00")->path());
    EXPECT_EQ(summary(image_read(ImageKind::p00, "", p00), true), reads[1]);
}

// A program in each speed zone, its chain from the top sector of the zone's
// first track (after the directory's) to the top sector of its last, reads
// byte for byte from a 40-track disk.
TEST(ImageRead, D64ProgramsInEverySpeedZoneReadByteForByte)
{
    std::string disk(196608, '\0'), directory;
    ImageRead want;
    for (const Zone &zone : zones) {
        const int first = zone.first == 18 ? 19 : zone.first, top = zone.sectors - 1;
        std::string prg = le(0x0801, 2);
        for (int i = 0; i < 300; ++i)
            prg += char(i * 7 + zone.first);
        put(disk, first, top, le(zone.last | top << 8, 2) + prg.substr(0, 254));
        put(disk, zone.last, top, le((prg.size() - 253) << 8, 2) + prg.substr(254));
        want.programs.push_back({"ZONE " + std::to_string(zone.first), 0x0801, prg.substr(2)});
        directory += entry(0x82, first, top, want.programs.back().name, 2);
    }
    // The last track's count shifts no other: past its top sector there is none.
    directory += entry(0x82, 40, 17, "OFF TOP");
    want.skipped.push_back("skipped \"OFF TOP\": its sector chain leaves the disk");
    put(disk, 18, 1, directory);
    EXPECT_EQ(summary(image_read(ImageKind::d64, "", disk), true), summary(want, true));
}
