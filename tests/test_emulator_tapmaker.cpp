// The TAP maker, checked with a pulse reader of the test's own; and the
// command lines of the two tools.
#include "support/harness.h"

#include "tap_maker.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace
{
struct Pulse {
    std::size_t offset; // in the file
    std::uint32_t cycles;
    bool pause; // written as 0 + three bytes
};

// The pulses of a TAP file, read independently of the maker; a pause cut
// off by the end is left out.
std::vector<Pulse> pulses(const std::string &tap)
{
    const auto byte = [&](std::size_t i) { return std::uint32_t(std::uint8_t(tap[i])); };
    std::vector<Pulse> list;
    for (std::size_t at = 20; at < tap.size() && (byte(at) || at + 4 <= tap.size());
         at += byte(at) ? 1 : 4) {
        if (byte(at) != 0)
            list.push_back({at, 8 * byte(at), false});
        else
            list.push_back({at, byte(at + 1) | byte(at + 2) << 8 | byte(at + 3) << 16, true});
    }
    return list;
}

// The nominal length (short 0x30, medium 0x42, long 0x56) of a pulse, within
// its jitter; 0 for a pause or any other length.
unsigned nominal(const Pulse &p)
{
    for (const unsigned n : {0x30u, 0x42u, 0x56u})
        if (!p.pause && p.cycles / 8 + 2 >= n && p.cycles / 8 <= n + 2)
            return n;
    return 0;
}
} // namespace

TEST(TapMaker, HeaderLengthFieldAndPulseSumAreRight)
{
    const std::string data("\x30\x00\x10\x27\x00\x42", 6);
    // The tape's length asked for, or -1 for wrapped data.
    const std::pair<std::string, double> tapes[] = {
        {tap_make(1, 3), 1}, {tap_make(10, 3), 10}, {tap_make(75, 3), 75},
        {tap_make(0), 0},    {tap_wrap(data), -1},
    };
    for (const auto &[tap, seconds] : tapes) {
        SCOPED_TRACE(seconds);
        ASSERT_GE(tap.size(), 20u);
        EXPECT_EQ(tap.substr(0, 16), std::string("C64-TAPE-RAW\x01\0\0\0", 16)) << "version 1";
        std::size_t length = 0; // 32 bits, least significant byte first
        for (int i = 19; i >= 16; --i)
            length = length << 8 | std::uint8_t(tap[i]);
        EXPECT_EQ(length, tap.size() - 20);
        EXPECT_EQ(tap_length_field(tap), length);
        double cycles = 0;
        std::size_t bytes = 0;
        for (const Pulse &p : pulses(tap)) {
            cycles += p.cycles;
            bytes += p.pause ? 4 : 1;
        }
        EXPECT_EQ(bytes, tap.size() - 20) << "no pulse cut off at the end";
        EXPECT_EQ(tap_data_cycles(tap.substr(20)), static_cast<std::uint64_t>(cycles));
        // At least the length asked for; at most one pause (1 s) beyond it.
        const double played = cycles / tap_clock_hz;
        EXPECT_TRUE(seconds < 0 || (played >= seconds && played <= seconds + 1.01)) << played;
    }
    EXPECT_EQ(tap_wrap(data).substr(20), data);
    EXPECT_EQ(tap_data_cycles(data.substr(0, 3)), 384u) << "a cut-off count adds nothing";
}

TEST(TapMaker, PulsesLookLikeARealTape)
{
    const std::vector<Pulse> list = pulses(tap_make(60, 9));
    std::size_t kinds[0x57] = {}, pauses = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].pause) {
            ++pauses;
            EXPECT_GE(list[i].cycles / double(tap_clock_hz), 0.2);
            EXPECT_LE(list[i].cycles / double(tap_clock_hz), 1.0);
        } else {
            ++kinds[nominal(list[i])];
        }
        // Bytes come as groups: a long pulse (a byte's or the data's end
        // marker) is followed by a medium or a short one.
        EXPECT_FALSE(i > 0 && nominal(list[i - 1]) == 0x56 && nominal(list[i]) == 0x56) << i;
    }
    EXPECT_EQ(kinds[0], 0u) << "every pulse short, medium or long";
    EXPECT_GE(pauses, 5u) << "blocks are separated by pauses";
    const double total = double(list.size() - pauses);
    EXPECT_GT(kinds[0x30] / total, 0.3);
    EXPECT_GT(kinds[0x42] / total, 0.2);
    EXPECT_GT(kinds[0x56] / total, 0.03);
}

TEST(TapMaker, IdxRecordsStartBlocksAtPulses)
{
    const std::string tap = tap_make(30, 4), idx = tap_make_idx(tap);
    std::set<std::size_t> starts;
    for (const Pulse &p : pulses(tap))
        starts.insert(p.offset);
    EXPECT_EQ(idx.rfind("0x14\t\tTape start\r\n", 0), 0u) << idx;
    // Offsets below 0x100000 are followed by two tabs.
    const std::regex record("0x([0-9a-f]{1,5})\t\t[^\t\r\n]+\r\n");
    std::size_t records = 0, end = 0, previous = 0;
    for (std::sregex_iterator m(idx.begin(), idx.end(), record), none; m != none; ++m, ++records) {
        EXPECT_EQ(std::size_t(m->position()), end) << "every line is a record";
        end += m->length();
        const std::size_t offset = std::stoul((*m)[1], nullptr, 16);
        EXPECT_EQ(starts.count(offset), 1u) << offset << " is no pulse's start";
        // Later records start blocks: right after a pause.
        EXPECT_TRUE(records == 0 || (offset > previous && tap[offset - 4] == '\0')) << offset;
        previous = offset;
    }
    EXPECT_EQ(end, idx.size());
    EXPECT_GE(records, 3u);
    EXPECT_EQ(tap_make_idx(tap_wrap("")), "0x14\t\tTape start\r\n");
}

TEST(TapMaker, ToolsCheckTheirCommandLines)
{
    const std::string emulator = RAVELO_TOOLS_DIR "/emulator/ravelo-emulator";
    const std::string maker = RAVELO_TOOLS_DIR "/tapmaker/ravelo-tapmaker";
    test_write_file(test_path("precious"), "keep me");
    const std::pair<std::string, int> runs[] = {
        {emulator + " --help", 0},
        {emulator, 2},                                      // --link is required
        {emulator + " --link " + test_path("precious"), 1}, // a file not its own to replace
        {maker + " --help", 0},
        {maker + " --seconds -1 --out x.tap", 2},
        {maker + " --seconds 4 --seed 8 --out demo.tap --idx", 0},
    };
    for (const auto &[command, code] : runs) {
        const int status = std::system((command + " >/dev/null 2>&1").c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == code) << command;
    }
    EXPECT_EQ(test_read_file(test_path("precious")), "keep me");
    EXPECT_TRUE(test_read_file(test_path("demo.tap")) == tap_make(4, 8));
    EXPECT_EQ(test_read_file(test_path("demo.idx")), tap_make_idx(tap_make(4, 8)));
}
