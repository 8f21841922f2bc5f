// Fast load against the ROM loader, measured by the model computer at the far
// end of the emulated device (ravelo-emulator --computer): a program of the
// given size is attached in the window as an image and played, once as the
// fast tape and once as the ROM loader's; for each, the computer's time from
// the first pulse to where the program went, and how much faster than real
// time the whole run (client, device and computer) went.
//
//   bench_fast_load [KB]    (default 40: a 40,960-byte BASIC program)
#include "support/emulator.h"

#include "config/config.h"
#include "index/document_commands.h"

#include <chrono>
#include <cstdio>
#include <regex>

namespace
{

// Plays the attached tape into the computer; its line and the wall time.
std::pair<std::string, double> play()
{
    Emulator device({"--computer"});
    test_set_ports(device.link().c_str());
    const auto start = std::chrono::steady_clock::now();
    test_select_row(0);
    test_click("button_play");
    test_status_is(" Playback over: Success condition received", 1800000);
    const std::string said = device.said(1, 600000);
    return {said, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
}

} // namespace

int main(int argc, char **argv)
{
    const long kb = argc > 1 ? std::atol(argv[1]) : 40;
    if (!test_enter_private_dir() || kb < 1 || kb > 48)
        return 2;
    std::string prg = "\x01\x08";
    for (long i = 0; i < kb * 1024; ++i)
        prg.push_back(char(i * 37 + i / 256));
    test_write_file(test_path("game.prg"), prg);
    test_app_start();
    const std::regex line(".*computer: (.*) after ([0-9]+):([0-9.]+)\n");
    std::printf("a %ld KB BASIC program, loaded by the model computer:\n", kb);
    int result = 0;
    for (const bool fast : {true, false}) {
        document_set_fast_load(fast);
        document_open_path(test_path("game.prg").c_str());
        const auto [said, wall] = play();
        std::smatch m;
        if (!std::regex_search(said, m, line)) {
            std::printf("  %s: the computer said \"%s\"\n", fast ? "fast" : "ROM", said.c_str());
            result = 1;
            continue;
        }
        const double seconds = std::stoi(m[2]) * 60 + std::stod(m[3]);
        std::printf("  %-4s %-28s %2d:%04.1f of the computer's time, %6.1f s of ours (%.0fx real "
                    "time)\n",
                    fast ? "fast" : "ROM", m[1].str().c_str(), int(seconds / 60),
                    seconds - 60 * int(seconds / 60), wall, seconds / wall);
    }
    std::error_code ignored;
    fs::remove_all(test_dir(), ignored);
    return result;
}
