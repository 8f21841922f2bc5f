// The serial link against real pseudo-terminals: the test holds the master
// side and plays the device, from a thread of its own where timing matters.
#include "support/emulator.h"

#include "device/serial.h"

#include <ctime>
#include <future>

#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>

namespace
{
// Proves which terminal the open port is: a byte written through it arrives
// at `pty`'s master.
bool port_reaches(PtyDevice &pty)
{
    return serial_write_all("@", 1) == 1 && pty.read_exact(1, 1000) == "@";
}
} // namespace

TEST(SerialOpen, NameAsGivenElseUnderDevRaw8N1At921600OrNothingIsLeftOpen)
{
    PtyDevice under_dev, here;
    const std::string relative = under_dev.slave.substr(5); // "pts/N"
    for (const std::string &name : {under_dev.slave, relative}) {
        ASSERT_EQ(serial_open(name.c_str()), 1) << name;
        EXPECT_TRUE(port_reaches(under_dev)) << name;
        serial_close();
    }
    // "/pts/N" is not there, though "/dev/" in front of it would be: an
    // absolute name gets a single attempt.
    test_write_file(test_path("plain.txt"), "not a port\n");
    const size_t descriptors = test_open_descriptors();

    for (const std::string &name :
         {"/" + relative, std::string("no-such-port-here"), std::string(), test_path("plain.txt"),
          std::string("plain.txt"), std::string("/dev/null"), test_dir()})
        EXPECT_TRUE(serial_open(name.c_str()) == 0 && serial_descriptor() == -1 &&
                    test_open_descriptors() == descriptors)
            << name;
    EXPECT_EQ(serial_open(nullptr), 0);
    // Now "pts/N" here names another terminal: the name as given wins.
    std::filesystem::create_directories("pts");
    std::filesystem::create_symlink(here.slave, relative);
    ASSERT_EQ(serial_open(relative.c_str()), 1);
    EXPECT_TRUE(port_reaches(here));
    EXPECT_EQ(under_dev.read_for(300), "");
    serial_close();
    // Raw 8N1 at 921600, whatever was set before.
    termios bad{};
    ASSERT_EQ(tcgetattr(here.held, &bad), 0);
    bad.c_cflag = (bad.c_cflag & ~(CSIZE | CLOCAL)) | CS7 | PARENB | PARODD | CSTOPB | CRTSCTS;
    bad.c_iflag |= IXON | IXOFF | ISTRIP | INPCK;
    ASSERT_TRUE(cfsetspeed(&bad, B9600) == 0 && tcsetattr(here.held, TCSANOW, &bad) == 0);
    ASSERT_EQ(serial_open(here.slave.c_str()), 1);
    termios line{};
    ASSERT_EQ(tcgetattr(serial_descriptor(), &line), 0);
    EXPECT_TRUE(cfgetispeed(&line) == B921600 && cfgetospeed(&line) == B921600);
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD),
              static_cast<tcflag_t>(CS8 | CLOCAL | CREAD));
    // Non-blocking (waits have deadlines), not inherited by the tools run.
    EXPECT_TRUE((fcntl(serial_descriptor(), F_GETFL) & O_NONBLOCK) &&
                (fcntl(serial_descriptor(), F_GETFD) & FD_CLOEXEC));
}

TEST(SerialLink, PromptAndEchoAreExactOthersAreKeptOutAndCloseClosesOnlyWhatIsOpen)
{
    PtyDevice pty;
    ASSERT_EQ(serial_open(pty.slave.c_str()), 1);
    const std::string longest(254, 'c'), too_long(255, 'c');
    // An empty command stands for the wait for the prompt; the device sends
    // its parts, the result, and what is left unread.
    std::vector<std::tuple<std::string, std::vector<std::string>, int, std::string>> cases = {
        // The prompt split over two reads; with more bytes after it in the
        // same read it does not count.
        {"", {"Ravelo\r\n", "> "}, 1, ""},
        {"", {"Ravelo\r\n> x", serial_prompt}, 1, ""},
        // The echo is exact, maybe in pieces; what follows is left unread.
        {"p", {"p\r\n"}, 1, ""},
        {"p", {"P\r\n"}, 0, ""},
        {"p", {"p\n\r"}, 0, ""},
        {"p", {"p", "\r\n"}, 1, ""},
        {"p", {"p\r\nh"}, 1, "h"},
        // The echoed line must fit 256 bytes; a longer one is left unread.
        {longest, {longest + "\r\n"}, 1, ""},
        {too_long, {too_long + "\r\n"}, 0, too_long + "\r\n"},
    };
    // Banners of any length, around the 256-byte buffer's edges too.
    for (const size_t length : {1000u, 252u, 253u, 254u, 255u, 256u, 257u, 509u, 510u, 4000u})
        cases.push_back({"", {std::string(length, '.') + serial_prompt}, 1, ""});
    for (const auto &c : cases) {
        const auto &[command, sends, result, left] = c;
        SCOPED_TRACE(testing::PrintToString(sends[0].substr(0, 16)) + ", " +
                     std::to_string(sends[0].size()) + " bytes");
        // The device sends each part well after the read that took the one
        // before has ended.
        std::atomic<size_t> begun{0};
        auto device = std::async(std::launch::async, [&] {
            for (const std::string &part : std::get<1>(c)) {
                if (begun++ > 0)
                    g_usleep(1000 * (2 * serial_step_ms + 200));
                EXPECT_TRUE(pty.write(part));
            }
        });
        EXPECT_EQ(command.empty() ? serial_wait_prompt() : serial_command(command.c_str()), result);
        EXPECT_TRUE(result == 0 || begun == sends.size()) << "it ended too early";
        device.wait();
        // The command and CR only; the line feed is never sent.
        EXPECT_EQ(pty.read_exact(command.size() + 2, 200), command.empty() ? "" : command + "\r");
        std::string unread(512, '\0');
        unread.resize(std::max<ssize_t>(0, serial_read(unread.data(), unread.size())));
        EXPECT_EQ(unread, left);
    }
    // Its lock is exclusive: a program that only reads gets no shared one.
    const int reader = open(pty.slave.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_NE(flock(reader, LOCK_SH | LOCK_NB), 0);
    close(reader);
    // One port at a time: a second is refused, and the first stays.
    PtyDevice second;
    EXPECT_EQ(serial_open(second.slave.c_str()), 0);
    EXPECT_TRUE(port_reaches(pty));
    // The exclusive mark outlives the descriptor on a terminal whose master
    // stays open: closing must clear it, or the next opener is refused.
    const int handle = serial_descriptor();
    serial_close();
    EXPECT_EQ(fcntl(handle, F_GETFD), -1);
    EXPECT_EQ(serial_open(pty.slave.c_str()), 1);
    serial_close();
    // Something else now lives under the number the port had:
    // closing with no port open leaves it alone.
    ASSERT_EQ(dup2(pty.held, handle), handle);
    serial_close();
    EXPECT_NE(fcntl(handle, F_GETFD), -1);
    close(handle);
    // Another program's mark keeps even root out, and stays.
    const int other = open(pty.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int marked = 0;
    ASSERT_EQ(ioctl(other, TIOCEXCL), 0);
    EXPECT_EQ(serial_open(pty.slave.c_str()), 0);
    EXPECT_TRUE(ioctl(other, TIOCGEXCL, &marked) == 0 && marked != 0);
    close(other);
}

// Silent, unplugged during the wait for the prompt, and closed under a
// worker by the UI thread (quit): every exchange fails within its bound, and
// waiting does not burn the processor. A failed read takes its step; a
// loop that repeats it, as the player does, must not spin.
TEST(SerialLink, ASilentOrVanishedDeviceFailsEachExchangeWithinItsBound)
{
    PtyDevice pty;
    ASSERT_EQ(serial_open(pty.slave.c_str()), 1);
    const std::string block(4 << 20, 'w');
    bool gone = false; // a silent device takes nothing more once its buffer is full
    const std::pair<const char *, std::function<bool()>> exchanges[] = {
        {"prompt", [] { return serial_wait_prompt() == 0; }},
        {"echo", [] { return serial_command("p") == 0; }},
        {"write", [&] { return serial_write_all(block.data(), unsigned(block.size())) == 0; }},
        {"write one", [&] { return serial_write("d", 1) == (gone ? -1 : 0); }},
        {"reads",
         [&] {
             int reads = 0;
             for (const double end = g_get_monotonic_time() / 1e6 + 1.5;
                  g_get_monotonic_time() / 1e6 < end; ++reads) {
                 char byte;
                 if (serial_read(&byte, 1) != (gone ? -1 : 0))
                     return false;
             }
             return reads <= 1500 / serial_step_ms * 3;
         }},
    };
    for (const char *state : {"silent", "hung up", "closed"}) {
        if (state == std::string("hung up")) {
            gone = true;
            auto device = std::async(std::launch::async, [&] {
                pty.write("Ravelo");
                g_usleep(700 * 1000);
                pty.unplug();
            });
            EXPECT_EQ(serial_wait_prompt(), 0);
        }
        for (const auto &[name, fails] : exchanges) {
            const double wall = g_get_monotonic_time() / 1e6,
                         cpu = double(std::clock()) / CLOCKS_PER_SEC;
            EXPECT_TRUE(fails()) << state << ", " << name;
            EXPECT_LT(g_get_monotonic_time() / 1e6 - wall, serial_give_up_ms / 1000.0 + 3.0)
                << state << ", " << name;
            EXPECT_LT(double(std::clock()) / CLOCKS_PER_SEC - cpu, 0.5) << state << ", " << name;
        }
        if (gone)
            serial_close();
    }
}
