// The emulated device's jump to its bootloader, and the AVR109 bootloader
// itself: spoken to directly, and used by the real avrdude.
#include "support/emulator.h"
#include "support/harness.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
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
const std::string cr = "\r";

// Sends "b\r" at the console, as the client's reset does, and closes.
void enter_bootloader(const Emulator &emulator)
{
    PtyClient console(emulator.link());
    ASSERT_TRUE(console.is_open());
    ASSERT_NE(console.read_until(prompt).find(prompt), std::string::npos);
    ASSERT_TRUE(console.write("b\r"));
    console.close();
    ASSERT_TRUE(emulator_wait_path(emulator.bootloader_link(), true)) << "no bootloader port";
}

// A command and its answer of `answer_size` bytes.
std::string ask(PtyClient &port, const std::string &command, std::size_t answer_size)
{
    if (!port.write(command))
        return "<write failed>";
    return port.read_exact(answer_size, 3000);
}

std::string bytes(std::initializer_list<int> values)
{
    std::string text;
    for (int v : values)
        text.push_back(static_cast<char>(v));
    return text;
}

// Deterministic test data standing in for a firmware image.
std::string image_data(std::size_t size)
{
    std::string data(size, '\0');
    std::uint32_t x = 12345;
    for (char &c : data) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return data;
}

// Intel HEX of `data` from address 0: 16-byte records, CR LF line ends.
std::string intel_hex(const std::string &data)
{
    std::string text;
    char line[64];
    for (std::size_t at = 0; at < data.size(); at += 16) {
        const std::size_t n = std::min<std::size_t>(16, data.size() - at);
        unsigned sum = unsigned(n) + (at >> 8) + (at & 0xFF);
        std::snprintf(line, sizeof line, ":%02X%04X00", unsigned(n), unsigned(at));
        text += line;
        for (std::size_t i = 0; i < n; ++i) {
            const auto b = static_cast<unsigned char>(data[at + i]);
            sum += b;
            std::snprintf(line, sizeof line, "%02X", b);
            text += line;
        }
        std::snprintf(line, sizeof line, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += line;
    }
    return text + ":00000001FF\r\n";
}

long long now_ms()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

struct ToolRun {
    int status = -1; // exit status, or -1 if it had to be killed
    std::string output;
};

// Runs avrdude exactly as the client's firmware update does, in `dir` with a
// private HOME, and kills it (with its process group) after `limit_ms`.
ToolRun run_avrdude(const std::string &dir, const std::string &port, const std::string &hex,
                    int limit_ms = 60000)
{
    ToolRun run;
    const std::string log = dir + "/avrdude.log";
    std::vector<std::string> args = {
        "avrdude", "-Cavrdude.conf",         "-v", "-pravelo", "-cavr109", "-P" + port, "-b57600",
        "-D",      "-Uflash:w:" + hex + ":i"};
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const std::string home = dir + "/home";
    mkdir(home.c_str(), 0700);
    const pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || chdir(dir.c_str()) != 0)
            _exit(126);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        setenv("HOME", home.c_str(), 1);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (child < 0)
        return run;
    const long long deadline = now_ms() + limit_ms;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) {
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (now_ms() > deadline) {
            kill(-child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
        usleep(20 * 1000);
    }
    run.output = test_read_file(log);
    return run;
}

bool have_avrdude()
{
    return std::system("command -v avrdude >/dev/null 2>&1") == 0;
}

} // namespace

TEST(EmulatorBootloader, BootCommandReplacesTheConsoleWithTheBootloader)
{
    Emulator emulator({"--boot-delay", "200"});
    ASSERT_TRUE(emulator.ok());
    EXPECT_EQ(emulator.bootloader_link(), emulator.link() + "-boot");
    PtyClient console(emulator.link());
    console.read_until(prompt);
    ASSERT_TRUE(console.write("b\r"));
    // The device is gone from under the client, as an unplugged one is.
    console.read_for(500);
    EXPECT_TRUE(console.hung_up());
    EXPECT_TRUE(emulator_wait_path(emulator.link(), false));
    EXPECT_FALSE(PtyClient(emulator.link()).is_open());
    ASSERT_TRUE(emulator_wait_path(emulator.bootloader_link(), true));

    // Leaving the bootloader brings the console back.
    PtyClient boot(emulator.bootloader_link());
    EXPECT_EQ(ask(boot, "E", 1), cr);
    boot.close();
    ASSERT_TRUE(emulator_wait_path(emulator.link(), true));
    EXPECT_TRUE(emulator_wait_path(emulator.bootloader_link(), false));
    console.close();
    ASSERT_TRUE(console.open(emulator.link()));
    EXPECT_NE(console.read_until(prompt).find(prompt), std::string::npos);
}

TEST(EmulatorBootloader, SpeaksAvr109)
{
    Emulator emulator({"--boot-delay", "0"});
    ASSERT_TRUE(emulator.ok());
    enter_bootloader(emulator);
    PtyClient port(emulator.bootloader_link());
    ASSERT_TRUE(port.is_open());

    ASSERT_TRUE(port.write("\x1b"));
    EXPECT_EQ(port.read_for(200), "") << "ESC is not answered";
    const std::string id = ask(port, "S", 7);
    EXPECT_EQ(id.size(), 7u) << id;
    EXPECT_EQ(ask(port, "V", 2).size(), 2u);
    EXPECT_EQ(ask(port, "v", 2).size(), 2u);
    EXPECT_EQ(ask(port, "p", 1), "S");
    EXPECT_EQ(ask(port, "a", 1), "Y");
    EXPECT_EQ(ask(port, "b", 3), bytes({'Y', 0x00, 0x80}));
    const std::string codes = ask(port, "t", 2);
    ASSERT_EQ(codes.size(), 2u);
    EXPECT_NE(codes[0], '\0');
    EXPECT_EQ(codes[1], '\0');
    EXPECT_EQ(ask(port, "T" + codes.substr(0, 1), 1), cr);
    EXPECT_EQ(ask(port, "P", 1), cr);
    EXPECT_EQ(ask(port, "s", 3), bytes({0x87, 0x95, 0x1E})) << "ATmega32U4, last byte first";

    // Reading before any write gives erased flash.
    EXPECT_EQ(ask(port, bytes({'A', 0x00, 0x40}), 1), cr);
    EXPECT_EQ(ask(port, bytes({'g', 0x00, 0x80, 'F'}), 128), std::string(128, '\xFF'));
    // A page written at word address 0x40 reads back, and the address
    // moves on by itself.
    const std::string page = image_data(256);
    EXPECT_EQ(ask(port, bytes({'A', 0x00, 0x40}), 1), cr);
    EXPECT_EQ(ask(port, bytes({'B', 0x00, 0x80, 'F'}) + page.substr(0, 128), 1), cr);
    EXPECT_EQ(ask(port, bytes({'B', 0x00, 0x80, 'F'}) + page.substr(128), 1), cr);
    EXPECT_EQ(ask(port, bytes({'A', 0x00, 0x40}), 1), cr);
    EXPECT_EQ(ask(port, bytes({'g', 0x01, 0x00, 'F'}), 256), page);
    // A block past the end of flash is refused.
    EXPECT_EQ(ask(port, bytes({'A', 0x3F, 0xFF}), 1), cr);
    EXPECT_EQ(ask(port, bytes({'B', 0x00, 0x80, 'F'}) + page.substr(0, 128), 1), "?");

    EXPECT_EQ(ask(port, "L", 1), cr);
    EXPECT_EQ(ask(port, "j", 1), "?") << "unknown commands";
    EXPECT_EQ(ask(port, "E", 1), cr);
    // The dump is there once the exit is answered: erased up to the page.
    const std::string flash = test_read_file(emulator.flash_path());
    ASSERT_EQ(flash.size(), 0x80u + 256u);
    EXPECT_EQ(flash.substr(0, 0x80), std::string(0x80, '\xFF'));
    EXPECT_EQ(flash.substr(0x80), page);
    port.close();
    EXPECT_TRUE(emulator_wait_path(emulator.link(), true)) << "the console comes back";
}

TEST(EmulatorBootloader, RealAvrdudeWritesAndVerifiesTheFlash)
{
    ASSERT_TRUE(have_avrdude()) << "avrdude is needed (Debian package avrdude)";
    Emulator emulator;
    ASSERT_TRUE(emulator.ok());
    const std::string dir = test_path("avrdude");
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    ASSERT_TRUE(emulator_make_avrdude_conf(dir));
    // The size of the client's firmware image: 62 full pages and a partial
    // one, which avrdude fills by reading the page first.
    const std::string data = image_data(8048);
    test_write_file(dir + "/image.hex", intel_hex(data));
    enter_bootloader(emulator);

    const ToolRun run = run_avrdude(dir, emulator.bootloader_link(), "image.hex");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("8048 bytes of flash verified"), std::string::npos) << run.output;
    const std::string flash = test_read_file(emulator.flash_path());
    ASSERT_GE(flash.size(), data.size());
    EXPECT_TRUE(flash.substr(0, data.size()) == data);
    EXPECT_EQ(flash.substr(data.size()), std::string(flash.size() - data.size(), '\xFF'));

    // The device runs its application again.
    ASSERT_TRUE(emulator_wait_path(emulator.link(), true));
    PtyClient console(emulator.link());
    EXPECT_NE(console.read_until(prompt).find(prompt), std::string::npos);
}

TEST(EmulatorBootloader, AvrdudeRefusesABadSignature)
{
    ASSERT_TRUE(have_avrdude()) << "avrdude is needed (Debian package avrdude)";
    Emulator emulator({"--bad-signature"});
    ASSERT_TRUE(emulator.ok());
    const std::string dir = test_path("avrdude");
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    ASSERT_TRUE(emulator_make_avrdude_conf(dir));
    test_write_file(dir + "/image.hex", intel_hex(image_data(300)));
    enter_bootloader(emulator);
    const ToolRun run = run_avrdude(dir, emulator.bootloader_link(), "image.hex");
    EXPECT_GT(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("expected signature"), std::string::npos) << run.output;
}

TEST(EmulatorBootloader, VanishesAfterTheGivenNumberOfPages)
{
    Emulator emulator(
        {"--boot-delay", "0", "--bootloader-vanish-after", "2", "--replug-delay", "200"});
    ASSERT_TRUE(emulator.ok());
    enter_bootloader(emulator);
    PtyClient port(emulator.bootloader_link());
    const std::string page = image_data(128);
    EXPECT_EQ(ask(port, bytes({'A', 0x00, 0x00}), 1), cr);
    EXPECT_EQ(ask(port, bytes({'B', 0x00, 0x80, 'F'}) + page, 1), cr);
    EXPECT_EQ(ask(port, bytes({'B', 0x00, 0x80, 'F'}) + page, 1), cr);
    EXPECT_EQ(ask(port, bytes({'B', 0x00, 0x80, 'F'}) + page, 1), "") << "gone mid-write";
    port.read_for(300);
    EXPECT_TRUE(port.hung_up());
    EXPECT_TRUE(emulator_wait_path(emulator.bootloader_link(), false));
    EXPECT_EQ(test_read_file(emulator.flash_path()), page + page) << "what was written stays";
    EXPECT_TRUE(emulator_wait_path(emulator.link(), true)) << "the device starts again";
}

TEST(EmulatorBootloader, AnIdleBootloaderStartsTheApplicationAgain)
{
    Emulator emulator({"--boot-delay", "0", "--bootloader-timeout", "500"});
    ASSERT_TRUE(emulator.ok());
    enter_bootloader(emulator);
    EXPECT_TRUE(emulator_wait_path(emulator.bootloader_link(), false));
    ASSERT_TRUE(emulator_wait_path(emulator.link(), true));
    PtyClient console(emulator.link());
    EXPECT_NE(console.read_until(prompt).find(prompt), std::string::npos);
}

TEST(EmulatorBootloader, SigtermInTheBootloaderRemovesItsLink)
{
    Emulator emulator({"--boot-delay", "0"});
    ASSERT_TRUE(emulator.ok());
    enter_bootloader(emulator);
    const std::string link = emulator.bootloader_link();
    const int status = emulator.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(emulator_wait_path(link, false, 100));
}
