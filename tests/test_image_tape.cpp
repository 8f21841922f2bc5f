// The tape the client makes of programs, read back by a decoder of its own
// and by the client's scanner.
#include "support/tape_decode.h"

#include "image/image_tape.h"
#include "tape/tape_fast.h"
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
        const TapRomTape tape = image_make_tape(programs);
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
