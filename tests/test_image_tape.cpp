// The tape the client makes of programs, read back by a decoder of its own
// and by the client's scanner.
#include "support/harness.h"
#include "support/tape_decode.h"

#include "image/image_tape.h"
#include "tape/tape_fast.h"
#include "tape/tape_listing.h"
#include "tape/tape_rom.h"
#include "tape/tape_scan.h"

#include <gtest/gtest.h>

namespace
{
// `size` bytes that take every value, different for each `seed`.
std::string bytes(std::size_t size, unsigned seed)
{
    std::string s;
    for (std::size_t i = 0; i < size; ++i)
        s.push_back(static_cast<char>(i * 37 + seed));
    return s;
}
std::array<unsigned char, 16> name_bytes(const std::string &name)
{
    std::array<unsigned char, 16> padded;
    padded.fill(' ');
    std::copy(name.begin(), name.end(), padded.begin());
    return padded;
}
} // namespace

TEST(ImageTape, DecodesToEveryProgramWithIdealPulsesAndTheKernalLayout)
{
    const std::vector<std::vector<ImageProgram>> sets = {
        {{"HELLO", 0x0801, bytes(300, 1)}},
        {{"GAME", 0xC000, bytes(1000, 2)}},
        {{"A", 0x0801, bytes(1, 3)},
         {"SIXTEEN CHARS 16", 0x1000, bytes(192, 4)},
         {"TOP", 0xFF00, bytes(256, 5)},
         {"", 0x0800, bytes(2, 6)}},
    };
    for (const auto &programs : sets) {
        const TapFastTape tape = image_make_tape(programs, ImageTapeFormat::rom);
        const DecodedTape decoded = test_tape_decode(tape.tap);
        EXPECT_EQ(decoded.errors, 0u);
        std::vector<std::uint32_t> pauses;
        for (std::size_t i = 0; i < programs.size(); ++i)
            pauses.insert(pauses.end(), {985248 / 3, 985248});
        EXPECT_EQ(decoded.pauses, pauses);
        const auto scanned =
            tape_scan(reinterpret_cast<const unsigned char *>(tape.tap.data()), tape.tap.size());
        ASSERT_TRUE(decoded.programs.size() == programs.size() &&
                    scanned.size() == programs.size());
        for (std::size_t i = 0; i < programs.size(); ++i) {
            const ImageProgram &want = programs[i];
            const DecodedProgram &got = decoded.programs[i];
            SCOPED_TRACE(want.name);
            EXPECT_EQ(got.offset, tape.leaders.at(i));
            EXPECT_EQ(scanned[i].offset, got.offset);
            EXPECT_TRUE(got.header_leader == 27136 && got.data_leader == 5376);
            EXPECT_EQ(got.type, want.load == 0x0801 ? 1u : 3u);
            EXPECT_EQ(got.start, want.load);
            EXPECT_EQ(got.end, (want.load + want.bytes.size()) & 0xFFFF);
            EXPECT_EQ(got.name, want.name + std::string(16 - want.name.size(), ' '));
            EXPECT_EQ(got.body, std::string(171, ' '));
            EXPECT_EQ(got.bytes, want.bytes);
        }
    }
}

// The loader's code: the boot starts with SEI and ends with BASIC's vectors,
// the exits are the ROM entries that tape_fast.h names, and neither part
// holds a byte string by which a tape analyser knows another loader.
TEST(FastTape, TheLoaderBootsItselfAndLeavesByTheNamedExits)
{
    const std::string body(tape_fast_body.begin(), tape_fast_body.end());
    const std::string boot(tape_fast_boot.begin(), tape_fast_boot.end());
    EXPECT_EQ(boot.front(), '\x78');
    EXPECT_EQ(boot.substr(0x300 - tape_fast_boot_start), "\x8B\xE3\xA7\x02");
    for (const unsigned entry :
         {tape_fast_exit_run, tape_fast_exit_ready, tape_fast_exit_load_error})
        EXPECT_NE(body.find({'\x58', '\x4C', char(entry & 0xFF), char(entry >> 8)}),
                  std::string::npos)
            << "CLI, JMP " << entry;
    EXPECT_NE(body.find({'\xA2', char(tape_fast_load_error)}), std::string::npos);
    for (const char *known : {"\x0E\x0F\x16\x01", "NOVA", "\x03\x19\x02\x05\x12", "GO AW", "SNAKE",
                              "\xCC\xC5\xD8\xD0\xC5"})
        EXPECT_EQ((body + boot).find(known), std::string::npos) << known;
}

// Each program: the boot as SAVE writes it, carrying the loader, then the
// program for the loader, then a second of silence; the same every time.
TEST(FastTape, DecodesToABootForTheRomLoaderAndTheProgramForOurs)
{
    const std::vector<TapFastFile> files = {{0x0801, "HELLO", bytes(300, 1)},
                                            {0xC000, "SIXTEEN CHARS 16", bytes(1000, 2)},
                                            {0xE000, "", bytes(0x2000, 3)}};
    const TapFastTape tape = tape_fast_make(files);
    EXPECT_TRUE(tape.tap == tape_fast_make(files).tap && tape.rom_only.empty());
    const DecodedTape decoded = test_tape_decode(tape.tap);
    EXPECT_EQ(decoded.errors, 0u);
    const std::uint32_t third = 985248 / 3, second = 985248;
    EXPECT_EQ(decoded.pauses,
              std::vector<std::uint32_t>({third, second, third, second, third, second}));
    const auto scanned =
        tape_scan(reinterpret_cast<const unsigned char *>(tape.tap.data()), tape.tap.size());
    // The scanner finds each boot's header and, at its pilot, each Turbotape header.
    ASSERT_TRUE(decoded.programs.size() == 3 && scanned.size() == 6);
    EXPECT_NE(tape_listing(scanned, 0).find("type 1 (turbo BASIC)   $0801-$092D  \"HELLO\""),
              std::string::npos);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const TapFastFile &want = files[i];
        const DecodedProgram &got = decoded.programs[i];
        SCOPED_TRACE(want.name);
        EXPECT_TRUE(got.offset == tape.leaders.at(i) && scanned[2 * i].offset == got.offset);
        const TapeProgram &turbo = scanned[2 * i + 1];
        EXPECT_TRUE(turbo.turbo && turbo.offset > got.offset && turbo.start == want.start &&
                    turbo.end == std::uint16_t(want.start + want.data.size()) &&
                    turbo.name == tape_name_text(name_bytes(want.name)));
        EXPECT_TRUE(got.header_leader == 27136 && got.data_leader == 5376);
        const std::string name = want.name + std::string(16 - want.name.size(), ' ');
        EXPECT_TRUE(got.type == 3 && got.start == 0x02A7 && got.end == 0x0304 && got.name == name);
        EXPECT_TRUE(got.body == std::string(tape_fast_body.begin(), tape_fast_body.end()));
        EXPECT_TRUE(got.bytes == std::string(tape_fast_boot.begin(), tape_fast_boot.end()));
        const auto le = [](unsigned v) { return std::string{char(v & 0xFF), char(v >> 8 & 0xFF)}; };
        EXPECT_EQ(got.fast_header, char(want.start == 0x0801 ? 1 : 2) + le(want.start) +
                                       le(want.start + want.data.size()) + '\0' + name +
                                       std::string(170, ' '));
        EXPECT_TRUE(got.fast_bytes == want.data);
    }
}

// What the loader cannot carry goes on the tape as a real SAVE writes it.
TEST(FastTape, WhatTheLoaderCannotCarryIsWrittenForTheRomLoader)
{
    const struct {
        std::uint16_t load;
        std::size_t size;
        bool fast;
    } cases[] = {
        {0x0400, 0x9C00, true}, {0x03FF, 2, false},      {0x0100, 0x300, false}, // below $0400
        {0x02A7, 0x5D, false},  {0x0300, 4, false},      {0x033C, 0xC0, false},  // the loader's
        {0xCF00, 0x100, true},  {0xCF00, 0x101, false},  {0xD800, 16, false},    // I/O
        {0xD000, 1, false},     {0xDFFF, 1, false},      {0xE000, 0x2000, true}, // I/O
        {0xFFFF, 1, true},      {0xF000, 0x1001, false}, {0xFFFF, 2, false}};    // past $FFFF
    for (const auto &c : cases) {
        const std::string data = bytes(c.size, 7);
        const TapFastTape tape = tape_fast_make({{c.load, "P", data}, {0x1000, "NEXT", "x"}});
        const TapRomTape rom =
            tape_rom_make({tape_rom_program(c.load, "P", data)}, tape_rom_saved());
        EXPECT_EQ(tape.rom_only, c.fast ? std::vector<std::size_t>{} : std::vector<std::size_t>{0})
            << c.load << "+" << c.size;
        EXPECT_EQ(tape.tap.compare(20, tape.leaders[1] - 20, rom.tap, 20) == 0, !c.fast);
        const DecodedTape decoded = test_tape_decode(tape.tap);
        ASSERT_TRUE(decoded.errors == 0 && decoded.programs.size() == 2);
        EXPECT_TRUE(decoded.programs[0].fast_bytes == (c.fast ? data : ""));
        EXPECT_EQ(decoded.programs[1].fast_bytes, "x");
    }
    EXPECT_FALSE(tape_fast_carries(0x0801, 0));
}

// ravelo-totap writes the fast tape, or with --rom the ROM loader's, and
// names what fast load cannot carry.
TEST(FastTape, TotapWritesTheFastTapeAndWithRomTheRomLoaders)
{
    const std::string totap = RAVELO_TOOLS_DIR "/totap/ravelo-totap ";
    const std::vector<ImageProgram> one = {{"ONE", 0x0801, "xy"}};
    const std::string fast = tape_fast_make({{0x0801, "ONE", "xy"}}).tap;
    test_write_file("one.prg", "\x01\x08xy");
    test_write_file("low.prg", "\xFF\x02xy");
    EXPECT_TRUE(image_make_tape(one).tap == fast);
    EXPECT_TRUE(test_run(totap + "one.prg") == 0 && test_read_file("one.tap") == fast);
    EXPECT_TRUE(test_run(totap + "--rom --force one.prg") == 0 &&
                test_read_file("one.tap") == image_make_tape(one, ImageTapeFormat::rom).tap);
    EXPECT_EQ(test_run(totap + "low.prg"), 0);
    EXPECT_EQ(test_read_file("err"), "ravelo-totap: low.prg: \"LOW\" ($02FF-$0300) written for the "
                                     "ROM loader: fast load cannot carry it\n");
}
