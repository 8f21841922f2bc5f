// ravelo-emulator: stands in for the Ravelo device on a pseudo-terminal, so
// the client, its tests, benchmarks and the demo work without hardware.
//
// The device is either in its console (the application) or in its
// bootloader, each on a port of its own; the other port does not exist
// meanwhile, as with the real USB device.
#include "emu_boot.h"
#include "emu_console.h"
#include "emu_options.h"
#include "emu_port.h"
#include "emu_tape.h"

#include <cstdio>

namespace
{

// Time the device takes to start its application after the bootloader.
constexpr int application_start_ms = 200;

} // namespace

int main(int argc, char **argv)
{
    const int parsed = emu_parse_options(argc, argv);
    if (parsed <= 0)
        return parsed == 0 ? 0 : 2;
    if (!emu_signals_setup()) {
        std::perror("ravelo-emulator: signals");
        return 1;
    }
    if (!emu_options().record.empty() && !tape_record_open(emu_options().record))
        return 1;

    bool announced = false;
    for (;;) {
        EmuPort console;
        if (!port_create(console, emu_options().link))
            return 1;
        if (!announced) {
            std::printf("ready\n");
            std::fflush(stdout);
            announced = true;
        }
        const ConsoleEnd console_end = console_run(console);
        port_destroy(console);
        if (console_end == ConsoleEnd::stop)
            return 0;
        if (console_end == ConsoleEnd::unplugged) {
            if (!emu_sleep_ms(emu_options().replug_delay_ms))
                return 0;
            continue;
        }

        if (!emu_sleep_ms(emu_options().boot_delay_ms))
            return 0;
        EmuPort boot;
        if (!port_create(boot, emu_options().bootloader_link))
            return 1;
        const BootEnd boot_end = boot_run(boot);
        port_destroy(boot);
        if (boot_end == BootEnd::stop)
            return 0;
        const int restart_ms =
            boot_end == BootEnd::vanished ? emu_options().replug_delay_ms : application_start_ms;
        if (!emu_sleep_ms(restart_ms))
            return 0;
    }
}
