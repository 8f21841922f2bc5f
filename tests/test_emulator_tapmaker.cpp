// The TAP maker: made-up tapes for the tests, benchmarks and the demo. Its
// output is checked here with a pulse reader of the test's own.
#include "support/harness.h"

#include "tap_maker.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace
{

constexpr double clock_hz = 985248.0;

struct Pulse {
    std::size_t offset; // in the file
    std::uint32_t cycles;
    bool pause; // written as 0 + three bytes
};

// Reads the pulse data of a TAP file independently of the maker.
std::vector<Pulse> pulses(const std::string &tap, bool *complete)
{
    std::vector<Pulse> list;
    std::size_t at = 20;
    *complete = true;
    while (at < tap.size()) {
        const auto b = static_cast<unsigned char>(tap[at]);
        if (b != 0) {
            list.push_back({at, 8u * b, false});
            at += 1;
        } else if (at + 4 <= tap.size()) {
            const auto byte = [&](std::size_t i) { return std::uint32_t(std::uint8_t(tap[i])); };
            list.push_back({at, byte(at + 1) | byte(at + 2) << 8 | byte(at + 3) << 16, true});
            at += 4;
        } else {
            *complete = false;
            break;
        }
    }
    return list;
}

std::uint32_t length_field(const std::string &tap)
{
    return std::uint32_t(std::uint8_t(tap[16])) | std::uint32_t(std::uint8_t(tap[17])) << 8 |
           std::uint32_t(std::uint8_t(tap[18])) << 16 | std::uint32_t(std::uint8_t(tap[19])) << 24;
}

bool near(unsigned value, unsigned nominal)
{
    return value + 2 >= nominal && value <= nominal + 2;
}

struct IdxLine {
    std::uint32_t offset;
    std::string separator;
    std::string info;
};

// Splits IDX text into its records; every line must end with CR LF.
std::vector<IdxLine> idx_lines(const std::string &idx)
{
    std::vector<IdxLine> lines;
    std::size_t at = 0;
    while (at < idx.size()) {
        const std::size_t end = idx.find("\r\n", at);
        EXPECT_NE(end, std::string::npos) << "line without CR LF: " << idx.substr(at);
        if (end == std::string::npos)
            break;
        const std::string line = idx.substr(at, end - at);
        at = end + 2;
        EXPECT_EQ(line.find('\n'), std::string::npos);
        EXPECT_EQ(line.rfind("0x", 0), 0u) << line;
        std::size_t digits = 2;
        while (digits < line.size() && std::isxdigit(static_cast<unsigned char>(line[digits])) &&
               !std::isupper(static_cast<unsigned char>(line[digits])))
            ++digits;
        const std::size_t info = line.find_first_not_of('\t', digits);
        if (info == std::string::npos)
            break;
        lines.push_back(
            {static_cast<std::uint32_t>(std::stoul(line.substr(2, digits - 2), nullptr, 16)),
             line.substr(digits, info - digits), line.substr(info)});
    }
    return lines;
}

} // namespace

TEST(TapMaker, MakesAValidTapeOfTheRequestedLength)
{
    for (const double seconds : {1.0, 10.0, 75.0}) {
        SCOPED_TRACE(seconds);
        const std::string tap = tap_make(seconds, 3);
        ASSERT_GT(tap.size(), 20u);
        EXPECT_EQ(tap.substr(0, 12), "C64-TAPE-RAW");
        EXPECT_EQ(tap[12], '\x01') << "version 1";
        EXPECT_EQ(tap.substr(13, 3), std::string(3, '\0'));
        EXPECT_EQ(length_field(tap), tap.size() - 20);
        EXPECT_EQ(tap_length_field(tap), tap.size() - 20);
        bool complete = false;
        double cycles = 0;
        for (const Pulse &p : pulses(tap, &complete))
            cycles += p.cycles;
        EXPECT_TRUE(complete) << "no pulse cut off at the end";
        // At least the length asked for; at most one pause (1 s) beyond it.
        EXPECT_GE(cycles / clock_hz, seconds);
        EXPECT_LE(cycles / clock_hz, seconds + 1.01);
        EXPECT_EQ(tap_data_cycles(tap.substr(20)), static_cast<std::uint64_t>(cycles));
    }
}

TEST(TapMaker, PulsesLookLikeARealTape)
{
    const std::string tap = tap_make(60, 9);
    bool complete = false;
    const std::vector<Pulse> list = pulses(tap, &complete);
    std::size_t shorts = 0, mediums = 0, longs = 0, pauses = 0, other = 0;
    for (const Pulse &p : list) {
        if (p.pause) {
            ++pauses;
            EXPECT_GE(p.cycles / clock_hz, 0.2);
            EXPECT_LE(p.cycles / clock_hz, 1.0);
            continue;
        }
        const unsigned b = p.cycles / 8;
        shorts += near(b, 0x30);
        mediums += near(b, 0x42);
        longs += near(b, 0x56);
        other += !near(b, 0x30) && !near(b, 0x42) && !near(b, 0x56);
    }
    EXPECT_EQ(other, 0u);
    EXPECT_GE(pauses, 5u) << "blocks are separated by pauses";
    const double total = double(shorts + mediums + longs);
    EXPECT_GT(shorts / total, 0.3);
    EXPECT_GT(mediums / total, 0.2);
    EXPECT_GT(longs / total, 0.03);
    // Bytes are written as groups: each long pulse (a byte marker or an end
    // marker) is followed by a medium or a short one, never by a long one.
    for (std::size_t i = 0; i + 1 < list.size(); ++i) {
        if (!list[i].pause && near(list[i].cycles / 8, 0x56)) {
            EXPECT_FALSE(!list[i + 1].pause && near(list[i + 1].cycles / 8, 0x56)) << i;
        }
    }
}

TEST(TapMaker, IsDeterministicForASeed)
{
    EXPECT_EQ(tap_make(5, 1), tap_make(5, 1));
    EXPECT_NE(tap_make(5, 1), tap_make(5, 2));
    EXPECT_EQ(tap_make(0), std::string("C64-TAPE-RAW\x01", 13) + std::string(7, '\0'));
}

TEST(TapMaker, WrapPutsTheDataBehindAHeader)
{
    const std::string data("\x30\x00\x10\x27\x00\x42", 6);
    const std::string tap = tap_wrap(data);
    ASSERT_EQ(tap.size(), 26u);
    EXPECT_EQ(tap.substr(0, 12), "C64-TAPE-RAW");
    EXPECT_EQ(length_field(tap), 6u);
    EXPECT_EQ(tap.substr(20), data);
    EXPECT_EQ(tap_data_cycles(data), 384u + 10000u + 528u);
    EXPECT_EQ(tap_data_cycles(std::string("\x30\x00\x10", 3)), 384u)
        << "a cut-off count adds nothing";
}

TEST(TapMaker, IdxRecordsPointAtPulsesInsideTheData)
{
    const std::string tap = tap_make(30, 4);
    const std::string idx = tap_make_idx(tap);
    const std::vector<IdxLine> lines = idx_lines(idx);
    ASSERT_GE(lines.size(), 3u) << idx;
    EXPECT_EQ(lines[0].offset, 20u);
    EXPECT_EQ(lines[0].separator, "\t\t");
    EXPECT_EQ(lines[0].info, "Tape start");
    bool complete = false;
    const std::vector<Pulse> list = pulses(tap, &complete);
    for (const IdxLine &line : lines) {
        SCOPED_TRACE(line.info);
        EXPECT_FALSE(line.info.empty());
        EXPECT_EQ(line.separator, line.offset <= 0xFFFFF ? "\t\t" : "\t");
        EXPECT_GE(line.offset, 20u);
        EXPECT_LT(line.offset, tap.size());
        bool at_pulse = false;
        for (const Pulse &p : list)
            at_pulse = at_pulse || p.offset == line.offset;
        EXPECT_TRUE(at_pulse) << "offset " << line.offset << " is inside a pulse count";
    }
    // Later records start blocks: right after a pause.
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_GT(lines[i].offset, lines[i - 1].offset);
        EXPECT_EQ(tap[lines[i].offset - 4], '\0') << lines[i].info;
    }

    // Data without pauses gets a record in its middle, on a pulse.
    const std::string plain = tap_wrap(std::string(99, '\x30') + std::string("\0\x01\x02\x03", 4) +
                                       std::string(99, '\x42'));
    const std::vector<IdxLine> middle = idx_lines(tap_make_idx(plain));
    ASSERT_EQ(middle.size(), 2u);
    EXPECT_GT(middle[1].offset, 20u);
    EXPECT_LT(middle[1].offset, plain.size());
    EXPECT_TRUE(middle[1].offset <= 20 + 99 || middle[1].offset >= 20 + 103) << middle[1].offset;
    EXPECT_EQ(idx_lines(tap_make_idx(tap_wrap(""))).size(), 1u);
}

TEST(TapMaker, CommandWritesTheTapeAndItsIdxFile)
{
    const std::string program = RAVELO_TOOLS_DIR "/tapmaker/ravelo-tapmaker";
    const std::string out = test_path("demo.tap");
    const int status =
        std::system((program + " --seconds 4 --seed 8 --out " + out + " --idx").c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string tap = test_read_file(out);
    EXPECT_TRUE(tap == tap_make(4, 8));
    EXPECT_EQ(test_read_file(test_path("demo.idx")), tap_make_idx(tap));

    for (const char *bad : {"", " --seconds 4", " --out x.tap", " --seconds -1 --out x.tap",
                            " --seconds 4 --out x.tap --seed 1.5", " --seconds 4 --bogus"}) {
        const int code = std::system((program + bad + " 2>/dev/null").c_str());
        EXPECT_TRUE(WIFEXITED(code) && WEXITSTATUS(code) == 2) << bad;
    }
    const int code = std::system((program + " --help >/dev/null").c_str());
    EXPECT_TRUE(WIFEXITED(code) && WEXITSTATUS(code) == 0);
}
