#include "support/emulator.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

Emulator::Emulator(const std::vector<std::string> &args)
{
    std::vector<std::string> line = {RAVELO_TOOLS_DIR "/emulator/ravelo-emulator", "--link", link(),
                                     "--flash-out", flash_path()};
    // A real device's bootloader port takes well over a second to come up.
    line.insert(line.end(), {"--boot-delay", "1500"});
    line.insert(line.end(), args.begin(), args.end()); // the last of an option counts
    std::vector<char *> argv;
    for (std::string &arg : line)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int out = -1;
    if (!g_spawn_async_with_pipes(
            nullptr, argv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD,
            [](gpointer) { prctl(PR_SET_PDEATHSIG, SIGTERM); }, nullptr, &pid_, nullptr, &out,
            nullptr, nullptr))
        pid_ = -1;
    out_ = out;
    said(1, 10000);
    if (said_.rfind("ready\n", 0) != 0)
        ADD_FAILURE() << "the emulator did not get ready; it said: " << said_;
    said_.erase(0, said_.find('\n') + 1);
}

std::string Emulator::said(std::size_t lines, int timeout_ms)
{
    char buffer[256];
    const gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
    for (pollfd fd{out_, POLLIN, 0};
         std::size_t(std::count(said_.begin(), said_.end(), '\n')) < lines;) {
        const gint64 left_ms = (deadline - g_get_monotonic_time()) / 1000;
        if (left_ms <= 0 || poll(&fd, 1, int(left_ms)) <= 0)
            break;
        const ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0)
            break;
        said_.append(buffer, size_t(n));
    }
    return said_;
}

Emulator::~Emulator()
{
    if (out_ >= 0)
        close(out_);
    // One that ignores SIGTERM holds the test up until its time limit.
    for (bool ended = pid_ <= 0 || kill(pid_, SIGTERM) != 0; !ended;)
        ended = waitpid(pid_, nullptr, 0) >= 0 || errno != EINTR;
}

PtyDevice::PtyDevice() : master_(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC))
{
    char name[64] = "";
    EXPECT_TRUE(grantpt(master_) == 0 && unlockpt(master_) == 0 &&
                ptsname_r(master_, name, sizeof name) == 0);
    slave = name;
    held = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    EXPECT_EQ(tcgetattr(held, &settings), 0);
    cfmakeraw(&settings);
    EXPECT_EQ(tcsetattr(held, TCSANOW, &settings), 0);
}

PtyDevice::~PtyDevice()
{
    unplug();
    close(held);
}

void PtyDevice::unplug()
{
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}

bool PtyDevice::write(const std::string &bytes)
{
    std::size_t sent = 0;
    for (ssize_t n = 0; n >= 0 && sent < bytes.size(); sent += std::size_t(std::max<ssize_t>(n, 0)))
        n = ::write(master_, bytes.data() + sent, bytes.size() - sent);
    return sent == bytes.size();
}

std::string PtyDevice::read_exact(std::size_t count, int timeout_ms)
{
    const gint64 deadline = g_get_monotonic_time() / 1000 + timeout_ms;
    for (gint64 left;
         pending_.size() < count && (left = deadline - g_get_monotonic_time() / 1000) > 0;) {
        pollfd fd{master_, POLLIN, 0};
        char buffer[4096];
        const ssize_t n = poll(&fd, 1, int(left)) > 0 ? read(master_, buffer, sizeof buffer) : 0;
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        pending_.append(buffer, size_t(std::max<ssize_t>(n, 0)));
    }
    const std::string taken = pending_.substr(0, count);
    pending_.erase(0, count);
    return taken;
}

void PtyDevice::exchange(const std::string &request, const std::string &reply)
{
    EXPECT_TRUE(write(request));
    const std::string got = reply.empty() ? read_for(300) : read_exact(reply.size());
    EXPECT_EQ(got, reply) << "answer to " << testing::PrintToString(request);
}

bool PtyDevice::start_playback()
{
    const bool asked = write("Ravelo\r\n> ") && read_exact(2) == "p\r";
    return write("p\r\n") && asked;
}

bool avrdude_fixture_write(const std::string &dir)
{
    const std::string system = test_read_file("/etc/avrdude.conf");
    test_write_file(dir + "/avrdude.conf", system + "\n# The device's microcontroller.\n"
                                                    "part parent \"m32u4\"\n"
                                                    "    id = \"ravelo\";\n"
                                                    "    desc = \"Ravelo (ATmega32U4)\";\n;\n");
    return !system.empty() && test_read_file(dir + "/avrdude.conf").size() > system.size();
}

bool avrdude_fixture_fake_tool(const std::string &script)
{
    const std::string dir = test_path("fake-bin"), path = g_getenv("PATH");
    if (!g_str_has_prefix(path.c_str(), (dir + ":").c_str()))
        setenv("PATH", (dir + ":" + path).c_str(), 1);
    fs::create_directory(dir);
    test_write_file(dir + "/avrdude", script);
    return chmod((dir + "/avrdude").c_str(), 0755) == 0;
}
