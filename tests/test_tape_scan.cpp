// The tape scanner against tapes the TAP maker writes with the flaws of real
// ones, the tape check and tape time, and the ravelo-tapscan command: its
// listing, whose load times add up to the tape's, and its refusals.
#include "support/harness.h"

#include "tap_maker.h"
#include "tape/tape_info.h"
#include "tape/tape_scan.h"

#include <sys/stat.h>

#include <optional>
#include <regex>

namespace
{
const auto *bytes(const std::string &s)
{
    return reinterpret_cast<const unsigned char *>(s.data());
}

TapRomFile file(const std::string &name, unsigned char type = 1, std::size_t size = 300)
{
    // Data that starts with a header type byte, so that a 192-byte program
    // reads like a header.
    return {type, std::uint16_t(0x0801 + size), name, std::string(size, char(type))};
}
} // namespace

TEST(TapeScan, FindsEachProgramAtItsLeader)
{
    // Each rule of the PETSCII table at its edges, padding cut; types 4 and
    // 5, and programs of no and one byte.
    const std::string petscii = " !\x5B\x5C\x5D\x5E\x5F\x60\xA0\xC0\xC1\xDA\xDB\xFF ";
    const std::vector<TapRomFile> names = {file(petscii, 4, 0), file("SEQ", 5, 1)};
    const std::vector<TapRomFile> copies = {file("BAD FIRST"), file("BOTH BAD"), file("PARITY"),
                                            file("BAD REPEAT"), file("NO START")};
    const auto first_copy = [](TapRomTape &t, int i) { return t.leaders[i] + 0x6A00; };
    const auto damage_copies = [&](TapRomTape &t) {
        // Bit 0 of the first two name bytes flipped: the checksum holds, the
        // check bits do not.
        for (const std::size_t at : {first_copy(t, 2) + 14 * 20, first_copy(t, 2) + 15 * 20})
            std::swap(t.tap[at + 2], t.tap[at + 3]);
        t.tap[first_copy(t, 4)] = char(0xC0); // not a single byte readable
    };
    const std::vector<TapRomFile> three = {file("ONE"), file("TWO", 3, 5000),
                                           file("THREE", 1, 192)};
    // Noise that ends in a pulse that looks short; a trailer that ends in a
    // long one; a pulse a bit too long between a pause and the leader.
    const auto short_noise = [](TapRomTape &t) { t.tap[t.leaders[1] - 1] = 0x30; };
    const auto long_end = [](TapRomTape &t) { t.tap[t.leaders[1] - 1] = 0x56; };
    const auto odd = [](TapRomTape &t) {
        t.tap.insert(t.tap.begin() + t.leaders[1], 0x3A); // and the length field lies
        ++t.leaders[1], ++t.leaders[2];
    };
    const auto cut_block = [](TapRomTape &t) { t.tap.resize(t.tap.size() - 200000); };
    const auto cut_pause = [](TapRomTape &t) { t.tap.resize(t.leaders[2] - 2); };
    const auto version = [](char v) { return [v](TapRomTape &t) { t.tap[12] = v; }; };
    const auto zeros = [](TapRomTape &t) { std::fill(t.tap.begin() + 20, t.tap.end(), '\0'); };
    TapProgramsOptions slow, fast, v0, noisy, tight, short_leaders, bad;
    slow.drift_percent = 8, slow.jitter = 4;
    fast.drift_percent = -8, fast.jitter = 4;
    v0.rom.version = 0;
    noisy.noise = 50, noisy.rom.pauses = false;
    tight.rom.pauses = false; // each trailer runs straight into the next leader
    short_leaders.rom.header_leader = 200, short_leaders.rom.data_leader = 100;
    bad.bad_first_copies = {0, 1}, bad.bad_repeats = {1, 3};
    const struct {
        const char *what;
        std::vector<TapRomFile> files;
        TapProgramsOptions options;
        std::function<void(TapRomTape &)> damage; // done to the made tape
        std::vector<std::size_t> found;           // the files the scan must report
        bool exact;                               // at the leader's first pulse
    } cases[] = {
        {"names", names, {}, nullptr, {0, 1}, true},
        {"slow", three, slow, nullptr, {0, 1, 2}, true},
        {"fast", three, fast, nullptr, {0, 1, 2}, true},
        {"copies", copies, bad, damage_copies, {0, 2, 3, 4}, true},
        {"version 0", three, v0, nullptr, {0, 1, 2}, true},
        {"noise", three, noisy, short_noise, {0, 1, 2}, false},
        {"no pauses", three, tight, long_end, {0, 1, 2}, false},
        {"short leaders", three, short_leaders, nullptr, {0, 1, 2}, true},
        {"cut in a block", three, {}, cut_block, {0, 1}, true},
        {"cut in a pause", three, {}, cut_pause, {0, 1}, true},
        {"odd pulse", three, {}, odd, {0, 1, 2}, true},
        {"version 2", three, {}, version(2), {}, true},
        {"zeros", three, {}, zeros, {}, true},
        {"zeros v0", three, {}, [&](TapRomTape &t) { zeros(t), version(0)(t); }, {}, true},
    };
    for (const auto &c : cases) {
        TapRomTape tape = tap_make_programs(c.files, c.options);
        if (c.damage)
            c.damage(tape);
        const auto programs = tape_scan(bytes(tape.tap), tape.tap.size());
        ASSERT_EQ(programs.size(), c.found.size()) << c.what;
        for (std::size_t i = 0; i < programs.size(); ++i) {
            const TapeProgram &p = programs[i];
            const TapRomFile &f = c.files[c.found[i]];
            const std::size_t leader = tape.leaders[c.found[i]];
            EXPECT_TRUE(c.exact ? p.offset == leader : p.offset - leader < 64)
                << c.what << " " << i << ": " << p.offset << " vs " << leader;
            EXPECT_EQ(p.cycles, tap_data_cycles(tape.tap.substr(20, p.offset - 20))) << c.what;
            EXPECT_EQ(std::tuple(p.name, p.type, p.start, p.end),
                      std::tuple(f.name == petscii ? " ![£?↑←???AZ??" : f.name, f.type, f.start,
                                 std::uint16_t(f.start + f.data.size())))
                << c.what;
        }
    }
}

// The header check's texts are read through the window (test_tape_ui).
TEST(TapeScan, CountsTapeTimeAtAnyOffset)
{
    // Offsets inside a pulse count, in the header and past the end.
    const std::string tap = std::string(20, 'x') + std::string("\x10\0\x01\x02\x03\x20", 6);
    const std::vector<std::size_t> at = {21, 20, 27, 23, 26, 0, 25};
    const auto times = tape_cycles_at_each(bytes(tap), tap.size(), at);
    const std::vector<std::optional<std::uint64_t>> want = {0x80, 0,      {}, 0x80, 0x30201 + 0x180,
                                                            0,    0x30281};
    EXPECT_EQ(times, want);
    const std::pair<std::uint64_t, const char *> texts[] = {{985247, "0:00"},
                                                            {985248 * 61, "1:01"},
                                                            {985248ull * 3600 - 1, "59:59"},
                                                            {985248ull * 6000, "100:00"}};
    for (const auto &[cycles, text] : texts)
        EXPECT_EQ(tape_time_text(cycles), text);
}

TEST(TapeScan, CommandPrintsListOrIdxAndExitStatus)
{
    test_write_file("game.tap",
                    tap_make_programs({file("FIRST"), file("SECOND", 3), file("")}).tap);
    test_write_file("short.tap", "C64-TAPE-RAW");
    test_write_file("v2.tap", std::string("C64-TAPE-RAW\x02", 13) + std::string(7, '\0'));
    test_write_file("plain.txt", std::string(100, 'x'));
    test_write_file("plain.d64", std::string(100, 'x'));
    test_write_file("one.prg", "\x01\x08" + std::string(300, 'A'));
    ASSERT_EQ(std::system("cbmconvert -D4 game.d64 one.prg >/dev/null 2>&1"), 0);
    test_write_file("empty.tap", tap_make_programs({}).tap);
    // Refused at once and in bounded memory, as the window refuses them.
    test_write_file("huge.tap", "");
    ASSERT_EQ(mkfifo("fifo.tap", 0644) | truncate("huge.tap", 3LL << 30), 0);
    // The arguments, the exit status, patterns for all of standard output and
    // of standard error.
    const std::tuple<std::string, int, std::string, std::string> runs[] = {
        {"--idx game.tap", 0,
         "0x18\t\tFIRST\r\n0x[0-9a-f]+\t\tSECOND\r\n0x[0-9a-f]+\t\t<Missing info>\r\n", ""},
        {"game.tap", 0,
         "offset +start +load  type +addresses +name\n"
         "0x000018 +0:00 +0:[0-5][0-9]  type 1 \\(BASIC\\) +\\$092D-\\$0A59  \"FIRST\"\n"
         "0x[0-9a-f]{6} +0:[0-5][0-9] +0:[0-5][0-9]  type 3 .*\"SECOND\"\n"
         ".*type 1 .*\"\"\n"
         "3 programs found, total tape time [0-9]+:[0-5][0-9]\n",
         ""},
        {"empty.tap", 0, "0 programs found, total tape time 0:00\n", ""},
        {"missing.tap", 1, "", "ravelo-tapscan: missing.tap: .+\n"},
        {"short.tap", 1, "", "ravelo-tapscan: short.tap: .+\n"},
        {"v2.tap", 1, "", "ravelo-tapscan: v2.tap: .+\n"},
        {"plain.txt", 1, "", "ravelo-tapscan: plain.txt: .+\n"},
        {"plain.d64", 1, "", "ravelo-tapscan: plain.d64: not a TAP file .+\n"},
        {"game.d64", 1, "",
         "ravelo-tapscan: game.d64: a D64 disk image, not a TAP file: convert it with "
         "'ravelo-totap game.d64'\n"},
        {"one.prg", 1, "", "ravelo-tapscan: one.prg: a PRG file, not a TAP file: .+\n"},
        {"--bogus game.tap", 2, "", "ravelo-tapscan: .+\nTry .+\n"},
        {"fifo.tap", 1, "", "ravelo-tapscan: fifo.tap: not a regular file\n"},
        {"/dev/zero", 1, "", "ravelo-tapscan: /dev/zero: not a regular file\n"},
        {"huge.tap", 1, "", "ravelo-tapscan: huge.tap: larger than any tape \\(256 MiB\\)\n"},
    };
    for (const auto &[args, status, out, err] : runs) {
        SCOPED_TRACE(args);
        EXPECT_EQ(test_run(RAVELO_TOOLS_DIR "/tapscan/ravelo-tapscan " + args), status);
        const std::string printed = test_read_file("out"), complained = test_read_file("err");
        EXPECT_TRUE(std::regex_match(printed, std::regex(out))) << printed;
        EXPECT_TRUE(std::regex_match(complained, std::regex(err))) << complained;
    }
}

// Each program's load time runs to the next one's start, the first one's
// from the start of the tape: the column adds up to the tape's time, here
// with a pause before the first program and a long last one.
TEST(TapeScan, CommandsLoadTimesAddUpToTheTapesTime)
{
    std::string tap =
        tap_make_programs({file("FIRST"), file("SECOND", 3, 5000), file("THIRD", 1, 20000)}).tap;
    tap.insert(tape_header_size, std::string("\0\xE0\x19\x2D", 4)); // a pause of 3 s
    tape_write_header(tap, 1);
    test_write_file("game.tap", tap);
    ASSERT_EQ(test_run(RAVELO_TOOLS_DIR "/tapscan/ravelo-tapscan game.tap"), 0);
    const std::string out = test_read_file("out");
    const auto seconds = [](const std::smatch &m, int i) {
        return std::stoi(m[i]) * 60 + std::stoi(m[i + 1]);
    };
    const std::regex line(" +(\\d+):(\\d\\d) +(\\d+):(\\d\\d)  type .*\n"),
        total("total tape time (\\d+):(\\d\\d)\n$");
    int sum = 0, count = 0, last_start = -1;
    for (std::sregex_iterator m(out.begin(), out.end(), line), end; m != end; ++m, ++count) {
        EXPECT_GE(seconds(*m, 1), last_start) << out;
        EXPECT_GT(seconds(*m, 3), 0) << out;
        last_start = seconds(*m, 1);
        sum += seconds(*m, 3);
    }
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, total)) << out;
    EXPECT_EQ(count, 3) << out;
    EXPECT_EQ(sum, seconds(m, 1)) << out;
    EXPECT_GT(sum, 30) << out;
}
