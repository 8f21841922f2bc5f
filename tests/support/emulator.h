// The device for tests: the emulator (tools/emulator) with the installed
// avrdude set up for it, or a pseudo-terminal whose master the test plays.
#pragma once

#include "support/harness.h"

#include <sys/types.h>

// ravelo-emulator with `args`, its ports linked as test_path("ttyEMU") and
// "ttyEMU-boot", its flash written to "flash.bin", its bootloader port up
// 1.5 s after the jump unless `args` say otherwise; ready once constructed,
// ended by the destructor or the end of the thread that made it.
class Emulator
{
  public:
    explicit Emulator(const std::vector<std::string> &args = {});
    ~Emulator();
    Emulator(const Emulator &) = delete;
    Emulator &operator=(const Emulator &) = delete;
    std::string link() const { return test_path("ttyEMU"); }
    std::string bootloader_link() const { return test_path("ttyEMU-boot"); }
    std::string flash_path() const { return test_path("flash.bin"); }
    pid_t pid() const { return pid_; }
    // What it printed after "ready" (--computer's lines), once it holds
    // `lines` lines or `timeout_ms` passed.
    std::string said(std::size_t lines, int timeout_ms = 60000);

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string said_;
};

// The device at the master of a new pseudo-terminal; the client opens the
// slave as its port. The test holds the slave open too, raw from the start,
// so that nothing is echoed and what the device sends waits for the client.
class PtyDevice
{
  public:
    PtyDevice();
    ~PtyDevice();
    PtyDevice(const PtyDevice &) = delete;
    PtyDevice &operator=(const PtyDevice &) = delete;
    std::string slave; // "/dev/pts/N"
    int held = -1;
    bool write(const std::string &bytes);
    // `count` bytes, or what came within `timeout_ms`; what comes in `ms`.
    std::string read_exact(std::size_t count, int timeout_ms = 5000);
    std::string read_for(int ms) { return read_exact(std::string::npos, ms); }
    void unplug(); // closes the master
    // Sends `request` and expects exactly `reply` (nothing, when empty).
    void exchange(const std::string &request, const std::string &reply);
    // The console's side of a playback start: the prompt, the echo of "p".
    bool start_playback();

  private:
    int master_ = -1;
    std::string pending_;
};

// "avrdude.conf" in `dir`: the system's, with a part "ravelo" that inherits
// the ATmega32U4, so that the installed avrdude takes the client's fixed
// command line; or an executable "avrdude" with the text `script` in the
// folder test_path("fake-bin"), put first on PATH.
bool avrdude_fixture_write(const std::string &dir);
bool avrdude_fixture_fake_tool(const std::string &script);
