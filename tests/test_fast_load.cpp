// Fast load end to end: programs attached in the window play into the model
// computer at the far end of the emulated device (ravelo-emulator
// --computer), which must load each one byte for byte and end where its
// address says: RUN for a BASIC program, READY for any other, ?LOAD ERROR
// for a damaged tape.
#include "support/emulator.h"

#include "index/document_commands.h"

#include <regex>

namespace
{

// A program file: the load address, then `size` bytes that differ by seed.
std::string program(unsigned load, std::size_t size, unsigned seed)
{
    std::string bytes = {char(load & 0xFF), char(load >> 8)};
    for (std::size_t i = 0; i < size; ++i)
        bytes += char((i * 131 + seed * 7 + i / 251) & 0xFF);
    return bytes;
}

// Attaches `file` as File, Open would, plays it from its first record into
// the model computer and returns its lines once `programs` have ended.
std::string play_into_computer(const std::string &file, std::size_t programs)
{
    Emulator device({"--computer", "--computer-dump", test_dir()});
    test_set_ports(device.link().c_str());
    EXPECT_TRUE(document_open_path(file.c_str()));
    test_select_row(0);
    test_click("button_play");
    EXPECT_TRUE(test_status_is(" Playback over: Success condition received", 120000));
    return device.said(programs);
}

} // namespace

TEST(FastLoad, TheModelComputerLoadsEveryProgramByteForByte)
{
    const struct {
        std::string file;
        std::vector<std::string> programs; // the PRG files, in tape order
        std::string lines;                 // as the computer says them, times cut
    } cases[] = {
        {"small.prg", {"small.prg"}, "\"SMALL\" $0801-$0C01 RUN\n"},
        {"big.prg", {"big.prg"}, "\"BIG\" $0801-$A801 RUN\n"},
        {"high.prg", {"high.prg"}, "\"HIGH\" $1000-$1800 READY\n"},
        {"disk.d64",
         {"one.prg", "two.prg", "three.prg"},
         "\"ONE\" $0801-$0E01 RUN\n\"TWO\" $C000-$C800 READY\n\"THREE\" $0801-$0811 RUN\n"},
    };
    test_write_file("small.prg", program(0x0801, 1024, 1));
    test_write_file("big.prg", program(0x0801, 40960, 2));
    test_write_file("high.prg", program(0x1000, 2048, 3));
    test_write_file("one.prg", program(0x0801, 1536, 4));
    test_write_file("two.prg", program(0xC000, 2048, 5));
    test_write_file("three.prg", program(0x0801, 16, 6));
    ASSERT_EQ(std::system("cbmconvert -D4 disk.d64 one.prg two.prg three.prg >/dev/null 2>&1"), 0);
    const std::regex line(
        "computer: (\"[A-Z]*\" \\$[0-9A-F-$]* [A-Z]*) after ([0-9]+):([0-9.]+)\n");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const std::string said = play_into_computer(c.file, c.programs.size());
        std::string lines;
        double longest = 0;
        for (std::sregex_iterator m(said.begin(), said.end(), line), end; m != end; ++m) {
            lines += (*m)[1].str() + "\n";
            longest = std::max(longest, std::stoi((*m)[2]) * 60 + std::stod((*m)[3]));
        }
        EXPECT_EQ(lines, c.lines) << said;
        EXPECT_LT(longest, 120) << "a 40 KB program loads in under two minutes";
        for (std::size_t i = 0; i < c.programs.size(); ++i)
            EXPECT_EQ(test_read_file(test_path(std::to_string(i + 1) + ".prg")),
                      test_read_file(c.programs[i]))
                << c.programs[i];
    }
}

// One pulse of the program's data turned from a 0 bit into a 1: the loader's
// check catches it, and the computer never runs what it loaded.
TEST(FastLoad, AFlippedPulseEndsInLoadError)
{
    test_write_file("game.prg", program(0x0801, 3000, 7));
    ASSERT_EQ(test_run(RAVELO_TOOLS_DIR "/totap/ravelo-totap game.prg"), 0);
    std::string tap = test_read_file("game.tap");
    std::size_t at = tap.size() - 4000;
    while (tap[at] != '\x1A')
        ++at;
    tap[at] = '\x28';
    test_write_file("game.tap", tap);
    const std::string said = play_into_computer("game.tap", 1);
    EXPECT_NE(said.find("computer: \"GAME\" $0801-$13B9 ?LOAD ERROR after"), std::string::npos)
        << said;
}
