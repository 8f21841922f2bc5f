// The tools the other tests stand on: the device emulator's console and tape
// playback, driven over its pty by a small host of the test's own; the TAP
// maker; and the command lines of both.
#include "support/emulator.h"
#include "support/harness.h"

#include "tap_maker.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>

namespace
{
const std::string prompt = "\r\n> ";

std::size_t count(const std::string &text, const std::string &what)
{
    std::size_t found = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++found;
    return found;
}

// What a playback looked like from the host's side.
struct HostRun {
    char end = 0; // 'e', 'f', or 0 if the device fell silent or went away
    int headers = 0, requests = 0, junk = 0;
};

// Answers the device's requests as the client does: 'h' with the next 20
// bytes of the file, 'd' with the next 64 at most (nothing at the end),
// until 'e' or 'f'.
HostRun serve(PtyClient &port, const std::string &tap)
{
    HostRun run;
    std::size_t at = 0;
    for (std::string c; run.end == 0 && !(c = port.read_exact(1)).empty();) {
        if (c == "e" || c == "f") {
            run.end = c[0];
        } else if (c == "h" || c == "d") {
            ++(c == "h" ? run.headers : run.requests);
            const std::string answer = tap.substr(std::min(at, tap.size()), c == "h" ? 20 : 64);
            at += answer.size();
            port.write(answer);
        } else {
            ++run.junk;
        }
    }
    return run;
}
} // namespace

TEST(EmulatorConsole, ServesATerminalSessionAndGreetsEachOpenerOnce)
{
    Emulator emulator;
    ASSERT_TRUE(emulator.ok());
    // Each key a user types, and what the screen shows for it.
    const std::pair<std::string, std::string> keys[] = {
        {"h", "h"}, // shown at once, not at the end of the line
        {"i\r", "i\r\n" + prompt},
        {"\r", "\r\n" + prompt},
        // CR LF is one line end; some terminals send LF alone.
        {"x\r\n", "x\r\n" + prompt},
        {"y\n", "y\r\n" + prompt},
        // Control bytes are neither shown nor part of the line; backspace
        // rubs out: the line is "p", which starts a tape with its 'h'.
        {"\x01\x1bq\x7f", "q\b \b"},
        {"p\r", "p\r\nh"},
    };
    PtyClient port;
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(port.open(emulator.link()));
        const std::string greeting = port.read_until(prompt) + port.read_for(300);
        EXPECT_EQ(count(greeting, "p = play"), 1u) << greeting;
        EXPECT_EQ(count(greeting, prompt), 1u) << greeting;
        // Round 0 is a terminal session, left in the middle of a tape.
        for (const auto &[key, shown] : keys)
            EXPECT_TRUE(round > 0 || (port.write(key) && port.read_for(200) == shown))
                << testing::PrintToString(key);
        // Round 1 leaves an echo and a prompt unread: they must not reach
        // the next opener. After round 2 nobody listens for a while: nothing
        // may pile up. Other rounds reopen at once, which a pty master alone
        // could not tell from staying open.
        ASSERT_TRUE(round != 1 || port.write("junk\r"));
        usleep(round == 1 ? 100 * 1000 : 0);
        port.close();
        usleep(round == 1 ? 100 * 1000 : round == 2 ? 600 * 1000 : 0);
    }
    emulator.stop();
    rusage used{};
    getrusage(RUSAGE_CHILDREN, &used);
    EXPECT_LT(used.ru_utime.tv_sec + used.ru_stime.tv_sec +
                  (used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1e6,
              0.3)
        << "it never spins while idle";
}

TEST(EmulatorPlayback, RecordsEveryByteAndEndsAsTheTapeAndTheMisbehaviourSay)
{
    const std::string whole = tap_make(20, 7), tap = tap_make(5, 4);
    std::string short_tap = tap_wrap(std::string(100, '\x30'));
    short_tap[16] = '\xC8'; // the header promises 200 data bytes
    const struct {
        const char *what;
        std::vector<std::string> args;
        std::string tap;
        char end;
        int headers;
        std::string recorded;
    } cases[] = {
        {"a whole tape", {"--fast"}, whole, 'e', 1, whole},
        {"an empty tape", {"--fast"}, tap_wrap(""), 'e', 1, tap_wrap("")},
        {"data short of the header's length", {"--fast"}, short_tap, 'f', 1, short_tap},
        {"'f' after two chunks",
         {"--fast", "--fail-after", "100"},
         tap,
         'f',
         1,
         tap.substr(0, 148)},
        {"noise between requests", {"--fast", "--noise"}, tap, 'e', 1, tap},
        // The host answers the second 'h' with data, so the data runs short.
        {"the header asked for twice", {"--fast", "--header-twice"}, tap, 'f', 2, tap},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Emulator emulator(c.args);
        ASSERT_TRUE(emulator.ok());
        PtyClient port(emulator.link());
        ASSERT_NE(port.read_until(prompt).find(prompt), std::string::npos);
        ASSERT_TRUE(port.write("p\r"));
        ASSERT_EQ(port.read_exact(3), "p\r\n");
        const HostRun run = serve(port, c.tap);
        EXPECT_EQ(run.end, c.end);
        EXPECT_EQ(run.headers, c.headers);
        EXPECT_TRUE(c.end != 'e' || run.requests == int((c.tap.size() - 20 + 63) / 64))
            << "none past the end";
        EXPECT_EQ(run.junk > 0, c.args.back() == "--noise");
        EXPECT_EQ(port.read_until(prompt), prompt) << "back at the prompt";
        EXPECT_TRUE(test_read_file(emulator.record_path()) == c.recorded) << "the recording";
    }
}

// Tapes as long as asked (at most one pause of 1 s beyond), with a version 1
// header whose length field is right; IDX records start blocks, right after
// a pause.
TEST(TapMaker, TapesAndIdxFilesAreSound)
{
    for (const double seconds : {0.0, 1.0, 10.0, 75.0}) {
        const std::string tap = tap_make(seconds, 3);
        EXPECT_EQ(tap_wrap(tap.substr(20)), tap) << seconds;
        const double played = double(tap_data_cycles(tap.substr(20))) / tap_clock_hz;
        EXPECT_TRUE(played >= seconds && played <= seconds + 1.01) << seconds << ": " << played;
    }
    const std::string data("\x30\x00\x10\x27\x00\x42", 6);
    EXPECT_EQ(tap_wrap(data), std::string("C64-TAPE-RAW\x01\0\0\0\x06\0\0\0", 20) + data);
    EXPECT_EQ(tap_data_cycles(data), 384u + 10000 + 528);
    EXPECT_EQ(tap_data_cycles(data.substr(0, 3)), 384u) << "a cut-off count adds nothing";

    const std::string tap = tap_make(30, 4), idx = tap_make_idx(tap);
    EXPECT_EQ(idx.rfind("0x14\t\tTape start\r\n", 0), 0u) << idx;
    const std::regex record("0x([0-9a-f]{1,5})\t\t[^\t\r\n]+\r\n");
    std::size_t records = 0, end = 0, previous = 0;
    for (std::sregex_iterator m(idx.begin(), idx.end(), record), none; m != none; ++m, ++records) {
        EXPECT_EQ(std::size_t(m->position()), end) << "every line is a record";
        end += m->length();
        const std::size_t offset = std::stoul((*m)[1], nullptr, 16);
        EXPECT_TRUE(records == 0 || (offset > previous && tap[offset - 4] == '\0')) << offset;
        previous = offset;
    }
    EXPECT_EQ(end, idx.size());
    EXPECT_GE(records, 3u);
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
