// The device emulator's console and tape playback, driven over its pty by a
// small client of the test's own.
#include "support/emulator.h"
#include "support/harness.h"

#include "tap_maker.h"

#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace
{

const std::string prompt = "\r\n> ";

long long now_ms()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

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
    int headers = 0;
    int requests = 0;      // 'd' requests
    int empty_answers = 0; // 'd' requests answered with nothing
    int junk = 0;          // bytes that were no request
    std::vector<long long> request_ms;
};

// Answers the device's requests as the client does: 'h' with the next 20
// bytes of the file, 'd' with the next 64 at most (nothing at the end),
// until 'e' or 'f'. `stop_after` ends the run after that many 'd' requests.
HostRun serve(PtyClient &port, const std::string &tap, int stop_after = -1)
{
    HostRun run;
    std::size_t at = 0;
    for (;;) {
        const std::string c = port.read_exact(1, 5000);
        if (c.empty())
            return run;
        if (c[0] == 'h') {
            ++run.headers;
            const std::string header = tap.substr(std::min(at, tap.size()), 20);
            at += header.size();
            port.write(header);
        } else if (c[0] == 'd') {
            ++run.requests;
            run.request_ms.push_back(now_ms());
            const std::string chunk = tap.substr(std::min(at, tap.size()), 64);
            at += chunk.size();
            if (chunk.empty())
                ++run.empty_answers;
            else
                port.write(chunk);
            if (run.requests == stop_after)
                return run;
        } else if (c[0] == 'e' || c[0] == 'f') {
            run.end = c[0];
            return run;
        } else {
            ++run.junk;
        }
    }
}

// Opens the console, waits for the prompt and starts a playback.
void start_play(PtyClient &port, const std::string &link)
{
    ASSERT_TRUE(port.open(link)) << link;
    const std::string greeting = port.read_until(prompt);
    ASSERT_EQ(greeting.size() >= prompt.size() ? greeting.substr(greeting.size() - 4) : "", prompt)
        << greeting;
    ASSERT_TRUE(port.write("p\r"));
    ASSERT_EQ(port.read_exact(3), "p\r\n");
}

std::string le32(std::uint32_t value)
{
    std::string text(4, '\0');
    for (int i = 0; i < 4; ++i)
        text[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return text;
}

// Runs a command line; returns its exit status and puts its output in *out.
int run_command(const std::string &command, std::string *out)
{
    FILE *pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return -1;
    char buffer[512];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out->append(buffer, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::string emulator_program = RAVELO_TOOLS_DIR "/emulator/ravelo-emulator";

} // namespace

TEST(EmulatorConsole, GreetsEveryOpenerOnceWithBannerAndPrompt)
{
    Emulator emulator;
    ASSERT_TRUE(emulator.ok());
    PtyClient port(emulator.link());
    ASSERT_TRUE(port.is_open());
    const std::string greeting = port.read_until(prompt);
    EXPECT_NE(greeting.find("Ravelo"), std::string::npos) << greeting;
    ASSERT_GE(greeting.size(), prompt.size());
    EXPECT_EQ(greeting.substr(greeting.size() - prompt.size()), prompt);
    EXPECT_EQ(port.read_for(300), "") << "one prompt per opening";
    port.close();

    // Nobody listens for a while: nothing may pile up for the next opener.
    usleep(600 * 1000);
    ASSERT_TRUE(port.open(emulator.link()));
    std::string again = port.read_until(prompt);
    again += port.read_for(300);
    EXPECT_EQ(count(again, prompt), 1u) << again;
    EXPECT_EQ(count(again, "Ravelo"), 1u) << again;
}

TEST(EmulatorConsole, AQuickCloseAndReopenStillGetsAPrompt)
{
    Emulator emulator;
    ASSERT_TRUE(emulator.ok());
    PtyClient port;
    // Closed and opened again at once: a pty master alone could not tell.
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(port.open(emulator.link()));
        const std::string greeting = port.read_until(prompt);
        ASSERT_EQ(count(greeting, prompt), 1u) << "round " << round << ": " << greeting;
        port.close();
    }
    // Output this opener leaves unread (an echo and a prompt) must not reach
    // the next one.
    ASSERT_TRUE(port.open(emulator.link()));
    port.read_until(prompt);
    ASSERT_TRUE(port.write("junk\r"));
    usleep(100 * 1000);
    port.close();
    usleep(100 * 1000);
    start_play(port, emulator.link());
    EXPECT_EQ(port.read_exact(1), "h");
}

TEST(EmulatorConsole, EchoesCommandLinesAndPromptsAgain)
{
    Emulator emulator;
    ASSERT_TRUE(emulator.ok());
    PtyClient port(emulator.link());
    port.read_until(prompt);
    ASSERT_TRUE(port.write("hello\r"));
    EXPECT_EQ(port.read_until(prompt), "hello\r\n" + prompt);
    ASSERT_TRUE(port.write("\r"));
    EXPECT_EQ(port.read_until(prompt), "\r\n" + prompt);
    // A CR LF line end is one line end, not two.
    ASSERT_TRUE(port.write("x\r\n"));
    std::string line = port.read_until(prompt);
    line += port.read_for(200);
    EXPECT_EQ(line, "x\r\n" + prompt);
    // Control bytes are not echoed and not part of the command.
    ASSERT_TRUE(port.write(std::string("\x01p\x1b\r", 4)));
    EXPECT_EQ(port.read_exact(3), "p\r\n");
    EXPECT_EQ(port.read_exact(1), "h") << "the command was p";
}

TEST(EmulatorConsole, ServesATerminalSessionAsAUserTypes)
{
    Emulator emulator;
    ASSERT_TRUE(emulator.ok());
    // A terminal program opens the port raw and shows what comes back
    // while the user types, key by key.
    PtyClient terminal(emulator.link());
    ASSERT_TRUE(terminal.is_open());
    const std::string screen = terminal.read_until(prompt);
    EXPECT_NE(screen.find("p = play"), std::string::npos) << screen;
    for (const char *key : {"q", "\x7f", "p"}) {
        ASSERT_TRUE(terminal.write(key));
        const std::string shown = terminal.read_for(150);
        if (key[0] == 0x7f)
            EXPECT_EQ(shown, "\b \b") << "backspace rubs out the q";
        else
            EXPECT_EQ(shown, key) << "each key is echoed at once";
    }
    ASSERT_TRUE(terminal.write("\r"));
    EXPECT_EQ(terminal.read_exact(3), "\r\nh") << "Enter ends the line and starts playback";

    // Some terminals send LF for Enter.
    PtyClient other;
    terminal.close();
    ASSERT_TRUE(other.open(emulator.link()));
    other.read_until(prompt);
    ASSERT_TRUE(other.write("what\n"));
    EXPECT_EQ(other.read_until(prompt), "what\r\n" + prompt);
}

TEST(EmulatorPlayback, FastPlaybackRecordsTheTapeByteForByteAndEndsWithE)
{
    Emulator emulator({"--fast"});
    ASSERT_TRUE(emulator.ok());
    const std::string tap = tap_make(20, 7);
    const std::size_t data = tap.size() - 20;
    PtyClient port;
    start_play(port, emulator.link());
    const HostRun run = serve(port, tap);
    EXPECT_EQ(run.end, 'e');
    EXPECT_EQ(run.headers, 1);
    EXPECT_EQ(run.requests, int((data + 63) / 64)) << "no request past the header's length";
    EXPECT_EQ(run.empty_answers, 0);
    EXPECT_EQ(run.junk, 0);
    EXPECT_EQ(port.read_until(prompt), prompt) << "back at the prompt";
    const std::string recorded = test_read_file(emulator.record_path());
    EXPECT_EQ(recorded.size(), tap.size());
    EXPECT_TRUE(recorded == tap) << "the recording differs from the TAP file";

    // A second tape in the same session is appended to the recording.
    const std::string second = tap_wrap(std::string(100, '\x30'));
    ASSERT_TRUE(port.write("p\r"));
    ASSERT_EQ(port.read_exact(3), "p\r\n");
    EXPECT_EQ(serve(port, second).end, 'e');
    EXPECT_TRUE(test_read_file(emulator.record_path()) == tap + second);
}

TEST(EmulatorPlayback, AnEmptyTapeEndsRightAfterItsHeader)
{
    Emulator emulator({"--fast"});
    ASSERT_TRUE(emulator.ok());
    PtyClient port;
    start_play(port, emulator.link());
    const HostRun run = serve(port, tap_wrap(""));
    EXPECT_EQ(run.end, 'e');
    EXPECT_EQ(run.requests, 0);
}

TEST(EmulatorPlayback, PacedPlaybackAsksForDataOnlyAsTheBufferDrains)
{
    // A one-second pause, then short pulses: with a buffer of one chunk, the
    // second chunk may only be asked for once the first has been played,
    // half a second at double speed.
    std::string first = std::string("\0", 1) + le32(985248).substr(0, 3);
    first += std::string(60, '\x30');
    const std::string tap = tap_wrap(first + std::string(64, '\x30'));
    Emulator emulator({"--buffer", "64", "--speed", "2"});
    ASSERT_TRUE(emulator.ok());
    PtyClient port;
    start_play(port, emulator.link());
    const HostRun run = serve(port, tap);
    EXPECT_EQ(run.end, 'e');
    ASSERT_EQ(run.requests, 2);
    EXPECT_GE(run.request_ms[1] - run.request_ms[0], 300)
        << "the second chunk was asked for before the first was played";
}

TEST(EmulatorPlayback, AClientClosingMidPlayLeavesTheDeviceReady)
{
    Emulator emulator({"--speed", "4"});
    ASSERT_TRUE(emulator.ok());
    const std::string tap = tap_make(30, 2);
    PtyClient port;
    start_play(port, emulator.link());
    const HostRun partial = serve(port, tap, 3);
    EXPECT_EQ(partial.requests, 3);
    port.close();

    // The next opener gets a fresh console, and a whole tape plays.
    ASSERT_TRUE(port.open(emulator.link()));
    const std::string greeting = port.read_until(prompt);
    EXPECT_EQ(count(greeting, prompt), 1u) << greeting;
    ASSERT_TRUE(port.write("p\r"));
    ASSERT_EQ(port.read_exact(3), "p\r\n");
    const std::string small = tap_wrap(std::string(300, '\x42'));
    EXPECT_EQ(serve(port, small).end, 'e');
    const std::string recorded = test_read_file(emulator.record_path());
    ASSERT_GE(recorded.size(), small.size());
    EXPECT_TRUE(recorded.substr(recorded.size() - small.size()) == small);
}

TEST(EmulatorPlayback, DataEndingBeforeTheHeadersLengthIsAFailure)
{
    Emulator emulator({"--fast"});
    ASSERT_TRUE(emulator.ok());
    // The header promises 200 data bytes; the file holds 100.
    std::string tap = tap_wrap(std::string(100, '\x30'));
    tap.replace(16, 4, le32(200));
    PtyClient port;
    start_play(port, emulator.link());
    const HostRun run = serve(port, tap);
    EXPECT_EQ(run.end, 'f');
    EXPECT_EQ(run.empty_answers, 1) << "an empty answer means nothing more";
    EXPECT_EQ(port.read_until(prompt), prompt);
    EXPECT_TRUE(test_read_file(emulator.record_path()) == tap);
}

TEST(EmulatorMisbehaviour, WrongEcho)
{
    Emulator emulator({"--wrong-echo"});
    ASSERT_TRUE(emulator.ok());
    PtyClient port(emulator.link());
    port.read_until(prompt);
    ASSERT_TRUE(port.write("p\r"));
    EXPECT_EQ(port.read_exact(3), "P\r\n");
}

TEST(EmulatorMisbehaviour, FailAfterSendsFAfterThatManyDataBytes)
{
    Emulator emulator({"--fast", "--fail-after", "100"});
    ASSERT_TRUE(emulator.ok());
    const std::string tap = tap_make(5, 4);
    PtyClient port;
    start_play(port, emulator.link());
    const HostRun run = serve(port, tap);
    EXPECT_EQ(run.end, 'f');
    EXPECT_EQ(run.requests, 2) << "100 bytes take two chunks";
    EXPECT_EQ(test_read_file(emulator.record_path()).size(), 20u + 128u);
    EXPECT_EQ(port.read_until(prompt), prompt);
}

TEST(EmulatorMisbehaviour, HangupAfterUnplugsThePortAndItComesBack)
{
    Emulator emulator({"--fast", "--hangup-after", "64", "--replug-delay", "300"});
    ASSERT_TRUE(emulator.ok());
    PtyClient port;
    start_play(port, emulator.link());
    const HostRun run = serve(port, tap_make(5, 4));
    EXPECT_EQ(run.end, 0);
    EXPECT_EQ(run.requests, 1);
    EXPECT_TRUE(port.hung_up()) << "reads fail once the device is gone";
    port.close();
    ASSERT_TRUE(emulator_wait_path(emulator.link(), true));
    ASSERT_TRUE(port.open(emulator.link()));
    EXPECT_NE(port.read_until(prompt).find(prompt), std::string::npos);
}

TEST(EmulatorMisbehaviour, NoPromptSendsTheBannerOnly)
{
    Emulator emulator({"--no-prompt"});
    ASSERT_TRUE(emulator.ok());
    PtyClient port(emulator.link());
    const std::string said = port.read_for(1000);
    EXPECT_NE(said.find("Ravelo"), std::string::npos) << said;
    EXPECT_EQ(said.find("> "), std::string::npos) << said;
}

TEST(EmulatorMisbehaviour, LatePromptComesAfterTheDelay)
{
    Emulator emulator({"--late-prompt", "1000"});
    ASSERT_TRUE(emulator.ok());
    PtyClient port(emulator.link());
    EXPECT_EQ(port.read_for(300), "");
    const std::string greeting = port.read_until(prompt);
    EXPECT_EQ(greeting.substr(greeting.size() - prompt.size()), prompt);
}

TEST(EmulatorMisbehaviour, SplitPromptArrivesInTwoParts)
{
    Emulator emulator({"--split-prompt"});
    ASSERT_TRUE(emulator.ok());
    PtyClient port(emulator.link());
    port.read_until("bootloader");
    EXPECT_EQ(port.read_for(300), "\r\n") << "the first half alone";
    EXPECT_EQ(port.read_until("> "), "> ");
}

TEST(EmulatorMisbehaviour, NoiseBetweenRequestsLeavesThePlaybackIntact)
{
    Emulator emulator({"--fast", "--noise"});
    ASSERT_TRUE(emulator.ok());
    const std::string tap = tap_make(5, 5);
    PtyClient port;
    start_play(port, emulator.link());
    const HostRun run = serve(port, tap);
    EXPECT_EQ(run.end, 'e');
    EXPECT_GT(run.junk, run.requests) << "junk before every request";
    EXPECT_TRUE(test_read_file(emulator.record_path()) == tap);
}

TEST(EmulatorMisbehaviour, HeaderTwiceAsksForTheHeaderAgain)
{
    Emulator emulator({"--fast", "--header-twice"});
    ASSERT_TRUE(emulator.ok());
    const std::string tap = tap_make(3, 6);
    PtyClient port;
    start_play(port, emulator.link());
    const HostRun run = serve(port, tap);
    EXPECT_EQ(run.headers, 2);
    // The host answered the second 'h' with data, so the data runs short.
    EXPECT_EQ(run.end, 'f');
    EXPECT_TRUE(test_read_file(emulator.record_path()) == tap) << "every byte, in order";
}

TEST(EmulatorRobustness, NeverSpinsWhileIdleSilentOrHungUp)
{
    Emulator emulator({"--speed", "4"});
    ASSERT_TRUE(emulator.ok());
    const double start = emulator.cpu_seconds();
    usleep(800 * 1000); // nobody has the port open
    {
        PtyClient port(emulator.link()); // open, then silent
        port.read_for(800);
    }
    {
        PtyClient port; // hung up in the middle of a tape
        start_play(port, emulator.link());
        serve(port, tap_make(30, 1), 2);
    }
    usleep(800 * 1000);
    {
        PtyClient port; // a tape waiting for data that never comes
        start_play(port, emulator.link());
        port.read_for(800);
    }
    EXPECT_LT(emulator.cpu_seconds() - start, 0.3);
    PtyClient port(emulator.link());
    EXPECT_NE(port.read_until(prompt).find(prompt), std::string::npos) << "still serving";
}

TEST(EmulatorRobustness, AFloodNobodyReadsLeavesTheConsoleWorking)
{
    Emulator emulator;
    ASSERT_TRUE(emulator.ok());
    PtyClient port(emulator.link());
    port.read_until(prompt);
    // Far more echo than the line holds, and nobody reads it.
    std::string flood;
    for (int i = 0; i < 4000; ++i)
        flood += "x\r";
    ASSERT_TRUE(port.write(flood));
    usleep(2500 * 1000);
    // Once the client reads again, the console catches up and still works.
    const long long deadline = now_ms() + 15000;
    while (!port.read_for(500).empty() && now_ms() < deadline) {
    }
    ASSERT_LT(now_ms(), deadline) << "the echo never ended";
    ASSERT_TRUE(port.write("p\r"));
    EXPECT_EQ(port.read_exact(4), "p\r\nh");
}

TEST(EmulatorRobustness, SigtermEndsItAndRemovesItsLinks)
{
    Emulator emulator;
    ASSERT_TRUE(emulator.ok());
    const std::string link = emulator.link();
    PtyClient port(link); // a client that still holds the port
    port.read_until(prompt);
    const int status = emulator.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(emulator_wait_path(link, false, 100));
    EXPECT_EQ(port.read_for(200), "");
    EXPECT_TRUE(port.hung_up());
}

TEST(EmulatorRobustness, ANonRootClientCanOpenThePortAgainAfterClosingIt)
{
    // A client locks the port with TIOCEXCL, which stays on a pty after the
    // client closed it; the device must still be usable by the next opener.
    // Root ignores the lock, so the check runs as an ordinary user.
    if (geteuid() != 0) {
        Emulator emulator;
        ASSERT_TRUE(emulator.ok());
        PtyClient port(emulator.link());
        ASSERT_TRUE(port.is_open());
        ASSERT_EQ(ioctl(port.fd(), TIOCEXCL), 0);
        port.close();
        usleep(100 * 1000);
        EXPECT_TRUE(port.open(emulator.link()));
        return;
    }
    const std::string dir = test_path("nobody");
    ASSERT_EQ(mkdir(dir.c_str(), 0777), 0);
    ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
    ASSERT_EQ(chmod(test_dir().c_str(), 0755), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(10);
        const std::string link = dir + "/tty";
        const pid_t emulator = fork();
        if (emulator == 0) {
            execl(emulator_program.c_str(), emulator_program.c_str(), "--link", link.c_str(),
                  static_cast<char *>(nullptr));
            _exit(11);
        }
        int code = 0;
        if (!emulator_wait_path(link, true, 5000)) {
            code = 12;
        } else {
            PtyClient port;
            for (int round = 0; round < 3 && code == 0; ++round) {
                if (!port.open(link))
                    code = 20 + round;
                else if (port.read_until(prompt).find(prompt) == std::string::npos)
                    code = 30 + round;
                else if (ioctl(port.fd(), TIOCEXCL) != 0)
                    code = 40;
                port.close();
                usleep(100 * 1000);
            }
        }
        kill(emulator, SIGTERM);
        waitpid(emulator, nullptr, 0);
        _exit(code);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 11 || WEXITSTATUS(status) == 12)
        GTEST_SKIP() << "the emulator cannot run as an ordinary user from this build folder";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "20+n: open refused at round n; 30+n: no prompt";
}

TEST(EmulatorRobustness, CommandLineIsCheckedAndExplained)
{
    std::string out;
    EXPECT_EQ(run_command(emulator_program + " --help", &out), 0);
    EXPECT_NE(out.find("--hangup-after"), std::string::npos) << out;
    out.clear();
    EXPECT_EQ(run_command(emulator_program, &out), 2) << "--link is required";
    EXPECT_NE(out.find("--link"), std::string::npos) << out;
    out.clear();
    EXPECT_EQ(run_command(emulator_program + " --link x --buffer lots", &out), 2);
    out.clear();
    EXPECT_EQ(run_command(emulator_program + " --link x --frobnicate", &out), 2);

    // An existing file at the link is not the emulator's to replace.
    const std::string file = test_path("precious");
    test_write_file(file, "keep me");
    out.clear();
    EXPECT_EQ(run_command(emulator_program + " --link " + file, &out), 1);
    EXPECT_EQ(test_read_file(file), "keep me");
}
