// The device emulator (tools/emulator) for tests and benchmarks.
//
// Emulator starts ravelo-emulator with its ports linked in the test's private
// folder and ends it again; PtyClient is a plain end of a pseudo-terminal for
// tests that talk to the emulator directly, or that play the device at a
// pty's master themselves (it shares no code with the client's serial link).
// The avrdude configuration for the emulated device: avrdude_fixture.h.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

// Starts ravelo-emulator with --link test_path("ttyEMU") --record
// test_path("record.bin") --flash-out test_path("flash.bin") plus
// `extra_args`; returns once "ready" was printed. A failure to start is
// reported as a test failure and leaves ok() false. The emulator also ends if
// the thread that made this object ends, so a crashed test leaves no
// emulator behind.
class Emulator
{
  public:
    explicit Emulator(const std::vector<std::string> &extra_args = {});
    ~Emulator(); // SIGTERM, waitpid (SIGKILL after 5 s)
    Emulator(const Emulator &) = delete;
    Emulator &operator=(const Emulator &) = delete;

    const std::string &link() const { return link_; }                       // device port path
    const std::string &bootloader_link() const { return bootloader_link_; } // bootloader port path
    const std::string &record_path() const { return record_; }
    const std::string &flash_path() const { return flash_; }
    // True once the emulator said "ready" (and until it was ended).
    bool ok() const { return pid_ > 0; }
    // Ends the emulator now (as the destructor does); returns its exit
    // status as waitpid() gave it, or -1.
    int stop();
    // CPU time (user + system) the emulator has used so far, in seconds.
    double cpu_seconds() const;

  private:
    const std::string link_, bootloader_link_, record_, flash_;
    pid_t pid_ = -1;
};

// A raw end of a pseudo-terminal, opened as a terminal program or the
// device's host would open a port: O_NOCTTY, raw 8N1, reads with deadlines.
// Opened on "/dev/ptmx" it is the master of a new pty.
class PtyClient
{
  public:
    PtyClient() = default;
    explicit PtyClient(const std::string &path) { open(path); }
    ~PtyClient() { close(); }
    PtyClient(const PtyClient &) = delete;
    PtyClient &operator=(const PtyClient &) = delete;

    bool open(const std::string &path);
    void close();
    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    bool write(const std::string &bytes);
    // Reads until what came contains `marker`; returns everything up to and
    // including it (the rest stays for the next read), or everything that
    // came if the marker did not come within `timeout_ms`.
    std::string read_until(const std::string &marker, int timeout_ms = 5000);
    // Reads exactly `count` bytes, or what came within `timeout_ms`.
    std::string read_exact(std::size_t count, int timeout_ms = 5000);
    // Everything that comes within `ms`.
    std::string read_for(int ms);
    // True once the line is hung up (the device went away): reads fail.
    bool hung_up() const { return hung_up_; }

  private:
    // Waits up to `timeout_ms` for more bytes; false if none came.
    bool fill(int timeout_ms);
    // Fills until `enough` says so, the time is up or the line hung up.
    void fill_until(const std::function<bool()> &enough, int timeout_ms);
    // Takes up to `size` bytes from the front of what came.
    std::string take(std::size_t size);
    int fd_ = -1;
    bool hung_up_ = false;
    std::string pending_;
};

// Waits up to `timeout_ms` until `path` exists (or, with `exists` false,
// until it no longer does); returns whether it happened.
bool emulator_wait_path(const std::string &path, bool exists, int timeout_ms = 5000);
