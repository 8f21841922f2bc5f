#include "support/emulator.h"

#include "support/harness.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace
{

constexpr int ready_timeout_ms = 10000;

long long now_ms()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace

Emulator::Emulator(const std::vector<std::string> &extra_args)
    : link_(test_path("ttyEMU")), bootloader_link_(link_ + "-boot"),
      record_(test_path("record.bin")), flash_(test_path("flash.bin"))
{
    std::vector<std::string> args = {RAVELO_TOOLS_DIR "/emulator/ravelo-emulator",
                                     "--link",
                                     link_,
                                     "--record",
                                     record_,
                                     "--flash-out",
                                     flash_};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return;
    }
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        ADD_FAILURE() << "fork: " << std::strerror(errno);
        ::close(out[0]);
        ::close(out[1]);
        return;
    }
    if (child == 0) {
        // Only async-signal-safe calls between fork and exec.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        dup2(out[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    ::close(out[1]);
    std::string said;
    const long long deadline = now_ms() + ready_timeout_ms;
    while (said.find("ready\n") == std::string::npos) {
        const long long left = deadline - now_ms();
        pollfd fd{out[0], POLLIN, 0};
        if (left <= 0 || poll(&fd, 1, static_cast<int>(left)) <= 0)
            break;
        char buffer[64];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        said.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    pid_ = child;
    if (said.find("ready\n") == std::string::npos) {
        ADD_FAILURE() << "the emulator did not get ready; it said: " << said;
        stop();
    }
}

Emulator::~Emulator()
{
    stop();
}

int Emulator::stop()
{
    if (pid_ <= 0)
        return -1;
    kill(pid_, SIGTERM);
    int status = -1;
    const long long deadline = now_ms() + 5000;
    for (;;) {
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_ || (done < 0 && errno != EINTR))
            break;
        if (now_ms() > deadline) {
            ADD_FAILURE() << "the emulator ignored SIGTERM";
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        usleep(5000);
    }
    pid_ = -1;
    return status;
}

double Emulator::cpu_seconds() const
{
    std::ifstream file("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // Fields after the command name in parentheses; utime and stime are the
    // 14th and 15th fields of the whole line.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stoul(field);
        if (i == 15)
            stime = std::stoul(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

bool PtyClient::open(const std::string &path)
{
    close();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return false;
    termios tio{};
    if (tcgetattr(fd_, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tcsetattr(fd_, TCSANOW, &tio);
    }
    return true;
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
    std::size_t sent = 0;
    const long long deadline = now_ms() + 5000;
    while (fd_ >= 0 && sent < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd fd{fd_, POLLOUT, 0};
        if (now_ms() > deadline || poll(&fd, 1, 100) < 0)
            return false;
    }
    return fd_ >= 0;
}

bool PtyClient::fill(int timeout_ms)
{
    if (fd_ < 0 || hung_up_)
        return false;
    pollfd fd{fd_, POLLIN, 0};
    const int ready = poll(&fd, 1, timeout_ms);
    if (ready <= 0)
        return false;
    char buffer[4096];
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n > 0) {
        pending_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    if (n == 0 || (errno != EAGAIN && errno != EINTR))
        hung_up_ = true;
    return false;
}

void PtyClient::fill_until(const std::function<bool()> &enough, int timeout_ms)
{
    const long long deadline = now_ms() + timeout_ms;
    for (long long left; !enough() && (left = deadline - now_ms()) > 0 && !hung_up_ && fd_ >= 0;)
        fill(static_cast<int>(left));
}

std::string PtyClient::take(std::size_t size)
{
    std::string text = pending_.substr(0, size);
    pending_.erase(0, size);
    return text;
}

std::string PtyClient::read_until(const std::string &marker, int timeout_ms)
{
    fill_until([&] { return pending_.find(marker) != std::string::npos; }, timeout_ms);
    const std::size_t at = pending_.find(marker);
    return take(at == std::string::npos ? pending_.size() : at + marker.size());
}

std::string PtyClient::read_exact(std::size_t count, int timeout_ms)
{
    fill_until([&] { return pending_.size() >= count; }, timeout_ms);
    return take(count);
}

std::string PtyClient::read_for(int ms)
{
    fill_until([] { return false; }, ms);
    return take(pending_.size());
}

bool emulator_wait_path(const std::string &path, bool exists, int timeout_ms)
{
    const long long deadline = now_ms() + timeout_ms;
    for (;;) {
        struct stat st {
        };
        if ((stat(path.c_str(), &st) == 0) == exists)
            return true;
        if (now_ms() > deadline)
            return false;
        usleep(10000);
    }
}
