// The device for tests: the emulator (tools/emulator) with the installed
// avrdude set up for it, or a pseudo-terminal whose master the test plays.
#pragma once

#include "support/harness.h"

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

// ravelo-emulator with `args`, its ports linked as test_path("ttyEMU") and
// "ttyEMU-boot", recording what it was sent to "record.bin" and its flash to
// "flash.bin". ok() once it said "ready"; a failure to start is a test
// failure. stop() and the destructor end and reap it, and so does the end of
// the thread that made it.
class Emulator
{
  public:
    explicit Emulator(const std::vector<std::string> &args = {});
    ~Emulator() { stop(); }
    Emulator(const Emulator &) = delete;
    Emulator &operator=(const Emulator &) = delete;
    bool ok() const { return pid_ > 0; }
    void stop();
    std::string link() const { return test_path("ttyEMU"); }
    std::string bootloader_link() const { return test_path("ttyEMU-boot"); }
    std::string record_path() const { return test_path("record.bin"); }
    std::string flash_path() const { return test_path("flash.bin"); }

  private:
    pid_t pid_ = -1;
};

// A raw end of a pseudo-terminal (8N1, no echo; no code shared with the
// client's serial link); opened on "/dev/ptmx", the master of a new one.
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
    int fd() const { return fd_; }
    bool write(const std::string &bytes);
    // What came up to and including `marker`, or all that came in time.
    std::string read_until(const std::string &marker, int timeout_ms = 5000);
    // `count` bytes, or what came in time.
    std::string read_exact(std::size_t count, int timeout_ms = 5000);
    std::string read_for(int ms);
    // True once the line hung up (the device went away).
    bool hung_up() const { return hung_up_; }

  private:
    std::string read(const std::function<std::size_t()> &enough, int timeout_ms);
    int fd_ = -1;
    bool hung_up_ = false;
    std::string pending_;
};

// The device at the master of a new pseudo-terminal; the client opens the
// slave as its port, and closing the master unplugs the device. The test
// holds the slave open too, raw from the start, so that nothing sent before
// the client set up the line is echoed and what the device sends waits for
// the client's next open.
struct PtyDevice {
    PtyDevice();
    ~PtyDevice();
    PtyClient master{"/dev/ptmx"};
    std::string slave; // "/dev/pts/N"
    int held = -1;
    // Sends `request` and expects exactly `reply` (nothing, when empty).
    void exchange(const std::string &request, const std::string &reply);
    // The console's side of a playback start: the prompt, the echo of "p".
    bool start_playback();
};

// Waits until `path` exists (or, with `exists` false, no longer does).
bool emulator_wait_path(const std::string &path, bool exists, int timeout_ms = 5000);

// "avrdude.conf" in `dir`: the system's, with a part "ravelo" that inherits
// the ATmega32U4, so that the installed avrdude takes the client's fixed
// command line; or an executable "avrdude" script with `script`.
bool avrdude_fixture_write(const std::string &dir);
bool avrdude_fixture_fake_tool(const std::string &dir, const std::string &script);
// Processes named "avrdude" that are children of this process (zombies
// included) or run in `dir`.
std::vector<pid_t> avrdude_fixture_processes(const std::string &dir);
// The data bytes of an Intel HEX text, in record order.
std::string hex_data_bytes(const std::string &image);
