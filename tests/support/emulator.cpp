#include "support/emulator.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <sstream>

namespace
{
long long now_ms()
{
    return g_get_monotonic_time() / 1000;
}

// Runs in the child between fork and exec.
void end_with_parent(gpointer)
{
    prctl(PR_SET_PDEATHSIG, SIGTERM);
}
} // namespace

Emulator::Emulator(const std::vector<std::string> &args)
{
    std::vector<std::string> line = {RAVELO_TOOLS_DIR "/emulator/ravelo-emulator",
                                     "--link",
                                     link(),
                                     "--record",
                                     record_path(),
                                     "--flash-out",
                                     flash_path()};
    line.insert(line.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &arg : line)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int out = -1;
    if (!g_spawn_async_with_pipes(nullptr, argv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD,
                                  end_with_parent, nullptr, &pid_, nullptr, &out, nullptr, nullptr))
        pid_ = -1;
    std::string said;
    char buffer[64];
    for (pollfd fd{out, POLLIN, 0};
         said.find("ready\n") == std::string::npos && poll(&fd, 1, 10000) > 0;) {
        const ssize_t n = read(out, buffer, sizeof buffer);
        if (n <= 0)
            break;
        said.append(buffer, size_t(n));
    }
    close(out);
    if (said.find("ready\n") == std::string::npos) {
        ADD_FAILURE() << "the emulator did not get ready; it said: " << said;
        stop();
    }
}

void Emulator::stop()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    for (long long deadline = now_ms() + 5000; waitpid(pid_, nullptr, WNOHANG) == 0; usleep(5000)) {
        if (now_ms() > deadline) {
            ADD_FAILURE() << "the emulator ignored SIGTERM";
            kill(pid_, SIGKILL);
            deadline = LLONG_MAX;
        }
    }
    pid_ = -1;
}

bool PtyClient::open(const std::string &path)
{
    close();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (fd_ >= 0 && tcgetattr(fd_, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tcsetattr(fd_, TCSANOW, &tio);
    }
    return fd_ >= 0;
}

void PtyClient::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    hung_up_ = false;
    pending_.clear();
}

bool PtyClient::write(const std::string &bytes)
{
    const long long deadline = now_ms() + 5000;
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = ::write(fd_, bytes.data() + sent, bytes.size() - sent);
        pollfd fd{fd_, POLLOUT, 0};
        if (n > 0)
            sent += size_t(n);
        else if ((n < 0 && errno != EAGAIN && errno != EINTR) || now_ms() > deadline ||
                 poll(&fd, 1, 100) < 0)
            return false;
    }
    return fd_ >= 0;
}

// Reads until `enough` gives the length to take, the time is up or the line
// hung up; takes what came when it did not say so.
std::string PtyClient::read(const std::function<std::size_t()> &enough, int timeout_ms)
{
    const long long deadline = now_ms() + timeout_ms;
    for (long long left;
         enough() == 0 && (left = deadline - now_ms()) > 0 && !hung_up_ && fd_ >= 0;) {
        pollfd fd{fd_, POLLIN, 0};
        char buffer[4096];
        const ssize_t n = poll(&fd, 1, int(left)) > 0 ? ::read(fd_, buffer, sizeof buffer) : -1;
        if (n > 0)
            pending_.append(buffer, size_t(n));
        else if (n == 0 || (fd.revents != 0 && errno != EAGAIN && errno != EINTR))
            hung_up_ = true;
    }
    const std::size_t size = enough() != 0 ? enough() : pending_.size();
    const std::string taken = pending_.substr(0, size);
    pending_.erase(0, size);
    return taken;
}

std::string PtyClient::read_until(const std::string &marker, int timeout_ms)
{
    return read(
        [&] {
            const std::size_t at = pending_.find(marker);
            return at == std::string::npos ? 0 : at + marker.size();
        },
        timeout_ms);
}

std::string PtyClient::read_exact(std::size_t count, int timeout_ms)
{
    return read([&] { return pending_.size() >= count ? count : 0; }, timeout_ms);
}

std::string PtyClient::read_for(int ms)
{
    return read([] { return 0; }, ms);
}

PtyDevice::PtyDevice()
{
    char name[64] = "";
    EXPECT_TRUE(grantpt(master.fd()) == 0 && unlockpt(master.fd()) == 0 &&
                ptsname_r(master.fd(), name, sizeof name) == 0);
    slave = name;
    held = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    EXPECT_EQ(tcgetattr(held, &settings), 0);
    cfmakeraw(&settings);
    EXPECT_EQ(tcsetattr(held, TCSANOW, &settings), 0);
}

PtyDevice::~PtyDevice()
{
    ::close(held);
}

void PtyDevice::exchange(const std::string &request, const std::string &reply)
{
    EXPECT_TRUE(master.write(request));
    const std::string got = reply.empty() ? master.read_for(300) : master.read_exact(reply.size());
    EXPECT_EQ(got, reply) << "answer to " << testing::PrintToString(request);
}

bool PtyDevice::start_playback()
{
    const bool asked = master.write("Ravelo\r\n> ") && master.read_exact(2) == "p\r";
    return master.write("p\r\n") && asked;
}

bool emulator_wait_path(const std::string &path, bool exists, int timeout_ms)
{
    return test_spin_until([&] { return std::filesystem::exists(path) == exists; }, timeout_ms);
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

bool avrdude_fixture_fake_tool(const std::string &dir, const std::string &script)
{
    test_write_file(dir + "/avrdude", "#!/bin/sh\n" + script + "\n");
    return chmod((dir + "/avrdude").c_str(), 0755) == 0;
}

std::vector<pid_t> avrdude_fixture_processes(const std::string &dir)
{
    std::vector<pid_t> found;
    for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
        // "pid (comm) state ppid ..."; comm may hold blanks and parentheses.
        const std::string stat = test_read_file(entry.path() / "stat");
        const auto open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open ||
            stat.substr(open + 1, close - open - 1) != "avrdude")
            continue;
        std::istringstream rest(stat.substr(close + 1));
        char state = 0;
        pid_t ppid = 0;
        rest >> state >> ppid;
        std::error_code no_cwd;
        if (ppid == getpid() || std::filesystem::read_symlink(entry.path() / "cwd", no_cwd) == dir)
            found.push_back(pid_t(std::stol(stat)));
    }
    return found;
}

std::string hex_data_bytes(const std::string &image)
{
    std::string data;
    std::istringstream lines(image);
    for (std::string line; std::getline(lines, line);) {
        const auto byte_at = [&line](std::size_t i) {
            return char(g_ascii_xdigit_value(line[1 + 2 * i]) << 4 |
                        g_ascii_xdigit_value(line[2 + 2 * i]));
        };
        // Data records only: the type byte is 00.
        if (line.size() < 11 || line[0] != ':' || byte_at(3) != 0)
            continue;
        for (std::size_t i = 0; i < std::size_t(std::uint8_t(byte_at(0))); ++i)
            data.push_back(byte_at(4 + i));
    }
    return data;
}
