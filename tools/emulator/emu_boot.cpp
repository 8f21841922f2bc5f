#include "emu_boot.h"

#include "emu_options.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace
{

constexpr std::size_t flash_size = 32 * 1024;
constexpr std::size_t eeprom_size = 1024;
constexpr unsigned block_size = 128;
constexpr char software_id[] = "RAVBOOT"; // exactly 7 characters, as the protocol has it
constexpr unsigned char device_code = 0x44;
// The ATmega32U4's signature, sent last byte first as AVR109 does.
constexpr unsigned char signature[3] = {0x87, 0x95, 0x1E};
// An ATmega328P's, for --bad-signature.
constexpr unsigned char wrong_signature[3] = {0x0F, 0x95, 0x1E};
constexpr int argument_wait_ms = 1000;
constexpr unsigned char ok = '\r';
constexpr unsigned char unknown = '?';

std::array<unsigned char, flash_size> flash = [] {
    std::array<unsigned char, flash_size> memory{};
    memory.fill(0xFF);
    return memory;
}();
std::array<unsigned char, eeprom_size> eeprom = [] {
    std::array<unsigned char, eeprom_size> memory{};
    memory.fill(0xFF);
    return memory;
}();
// One past the highest flash byte ever written.
std::size_t flash_top = 0;

// Writes the flash up to the highest byte written; replaced whole, so a
// reader never sees half a dump.
void dump_flash()
{
    if (emu_options().flash_out.empty())
        return;
    const std::string temporary = emu_options().flash_out + ".new";
    FILE *file = std::fopen(temporary.c_str(), "wb");
    bool fine = file != nullptr;
    if (fine) {
        fine = std::fwrite(flash.data(), 1, flash_top, file) == flash_top;
        fine = std::fclose(file) == 0 && fine;
    }
    if (!fine || std::rename(temporary.c_str(), emu_options().flash_out.c_str()) != 0) {
        std::fprintf(stderr, "ravelo-emulator: cannot write %s: %s\n",
                     emu_options().flash_out.c_str(), std::strerror(errno));
        std::remove(temporary.c_str());
        return;
    }
    emu_log("bootloader: %zu flash bytes written to %s", flash_top,
            emu_options().flash_out.c_str());
}

struct Bootloader {
    EmuPort &port;
    unsigned session = 0;
    std::uint32_t address = 0; // in words for flash, in bytes for EEPROM
    unsigned char low_byte = 0xFF;
    long pages = 0; // flash blocks written in this bootloader run
    std::int64_t last_byte_ms = 0;

    explicit Bootloader(EmuPort &p) : port(p) {}

    void answer(const void *bytes, std::size_t size) { port_write(port, session, bytes, size); }
    void answer(unsigned char byte) { answer(&byte, 1); }

    // The arguments of a command; false if they did not come.
    bool arguments(unsigned char *into, std::size_t size)
    {
        const std::int64_t deadline = emu_now_ms() + argument_wait_ms;
        std::size_t got = 0;
        while (got < size) {
            const std::int64_t left = deadline - emu_now_ms();
            if (left <= 0 ||
                port_wait_input(port, session, static_cast<int>(left)) != PortWait::input)
                return false;
            got += port_read(port, into + got, size - got);
        }
        last_byte_ms = emu_now_ms();
        return true;
    }

    // A stop signal that comes meanwhile ends the bootloader at its next
    // wait for input.
    void block_pace() { emu_sleep_ms(emu_options().block_time_ms); }

    // 'B': block load. Returns false when the port is to vanish instead.
    bool block_load()
    {
        unsigned char head[3];
        if (!arguments(head, sizeof head))
            return true;
        const std::size_t size = std::size_t(head[0]) << 8 | head[1];
        std::vector<unsigned char> data(size);
        if (!arguments(data.data(), size))
            return true;
        if (head[2] == 'F') {
            if (emu_options().bootloader_vanish_after >= 0 &&
                pages >= emu_options().bootloader_vanish_after)
                return false;
            const std::size_t at = std::size_t(address) * 2;
            if (at + size > flash_size || size % 2 != 0) {
                answer(unknown);
                return true;
            }
            block_pace();
            std::copy(data.begin(), data.end(), flash.begin() + static_cast<std::ptrdiff_t>(at));
            flash_top = std::max(flash_top, at + size);
            address += static_cast<std::uint32_t>(size / 2);
            ++pages;
            answer(ok);
        } else if (head[2] == 'E' && address + size <= eeprom_size) {
            std::copy(data.begin(), data.end(),
                      eeprom.begin() + static_cast<std::ptrdiff_t>(address));
            address += static_cast<std::uint32_t>(size);
            answer(ok);
        } else {
            answer(unknown);
        }
        return true;
    }

    // 'g': block read.
    void block_read()
    {
        unsigned char head[3];
        if (!arguments(head, sizeof head))
            return;
        const std::size_t size = std::size_t(head[0]) << 8 | head[1];
        std::vector<unsigned char> data(size, 0xFF);
        if (head[2] == 'F') {
            block_pace();
            const std::size_t at = std::size_t(address) * 2;
            for (std::size_t i = 0; i < size && at + i < flash_size; ++i)
                data[i] = flash[at + i];
            address += static_cast<std::uint32_t>(size / 2);
        } else if (head[2] == 'E') {
            for (std::size_t i = 0; i < size && address + i < eeprom_size; ++i)
                data[i] = eeprom[address + i];
            address += static_cast<std::uint32_t>(size);
        } else {
            answer(unknown);
            return;
        }
        answer(data.data(), data.size());
    }

    // One command byte and its arguments. Returns false when the bootloader
    // ends (exit or vanish), with *end telling which.
    bool command(unsigned char c, BootEnd *end)
    {
        unsigned char arg[3];
        switch (c) {
        case 0x1B: // synchronisation: no answer
            break;
        case 'S':
            answer(software_id, 7);
            break;
        case 'V': // software version
        case 'v': // hardware version
            answer("10", 2);
            break;
        case 'p': // programmer type: serial
            answer('S');
            break;
        case 'a': // auto-increment of the address
            answer('Y');
            break;
        case 'b': {
            const unsigned char reply[3] = {'Y', block_size >> 8, block_size & 0xFF};
            answer(reply, sizeof reply);
            break;
        }
        case 't': {
            const unsigned char reply[2] = {device_code, 0};
            answer(reply, sizeof reply);
            break;
        }
        case 'T': // select device
        case 'x': // set LED
        case 'y': // clear LED
        case 'l': // write lock bits: refused quietly, the bootloader keeps itself
            if (arguments(arg, 1))
                answer(ok);
            break;
        case 'P': // enter programming mode
        case 'L': // leave programming mode
        case 'm': // write page (word-wise writing goes straight to flash here)
            answer(ok);
            break;
        case 'e': // chip erase: the application section
            flash.fill(0xFF);
            flash_top = 0;
            answer(ok);
            break;
        case 's':
            answer(emu_options().bad_signature ? wrong_signature : signature, 3);
            break;
        case 'A':
            if (arguments(arg, 2)) {
                address = std::uint32_t(arg[0]) << 8 | arg[1];
                answer(ok);
            }
            break;
        case 'H':
            if (arguments(arg, 3)) {
                address = std::uint32_t(arg[0]) << 16 | std::uint32_t(arg[1]) << 8 | arg[2];
                answer(ok);
            }
            break;
        case 'B':
            if (!block_load()) {
                emu_log("bootloader: vanishing after %ld pages", pages);
                *end = BootEnd::vanished;
                return false;
            }
            break;
        case 'g':
            block_read();
            break;
        case 'R': { // read a flash word, high byte first
            const std::size_t at = (std::size_t(address) * 2) % flash_size;
            const unsigned char reply[2] = {flash[at + 1], flash[at]};
            answer(reply, sizeof reply);
            ++address;
            break;
        }
        case 'c': // low byte of a flash word
            if (arguments(arg, 1)) {
                low_byte = arg[0];
                answer(ok);
            }
            break;
        case 'C': // high byte: writes the word
            if (arguments(arg, 1)) {
                const std::size_t at = (std::size_t(address) * 2) % flash_size;
                flash[at] = low_byte;
                flash[at + 1] = arg[0];
                flash_top = std::max(flash_top, at + 2);
                ++address;
                answer(ok);
            }
            break;
        case 'D': // write an EEPROM byte
            if (arguments(arg, 1)) {
                eeprom[address % eeprom_size] = arg[0];
                ++address;
                answer(ok);
            }
            break;
        case 'd': // read an EEPROM byte
            answer(eeprom[address % eeprom_size]);
            ++address;
            break;
        case 'r': // lock bits
        case 'F': // low fuse
            answer(0xFF);
            break;
        case 'N': // high fuse
            answer(0xD8);
            break;
        case 'Q': // extended fuse
            answer(0xCB);
            break;
        case 'E':
            // The dump comes first: once the programmer has its answer, the
            // memory it wrote is there to be read.
            dump_flash();
            answer(ok);
            *end = BootEnd::exited;
            return false;
        default:
            answer(unknown);
            break;
        }
        return true;
    }

    // Milliseconds until the idle time-out, or -1 without one.
    int idle_left() const
    {
        if (emu_options().bootloader_timeout_ms <= 0)
            return -1;
        const std::int64_t left = last_byte_ms + emu_options().bootloader_timeout_ms - emu_now_ms();
        return static_cast<int>(std::max<std::int64_t>(0, left));
    }

    BootEnd run()
    {
        last_byte_ms = emu_now_ms();
        for (;;) {
            switch (port_wait_open(port, idle_left())) {
            case PortWait::stop:
                return BootEnd::stop;
            case PortWait::timeout:
                return BootEnd::idle;
            case PortWait::input:
            case PortWait::closed:
                break;
            }
            session = port.session;
            bool serving = true;
            while (serving) {
                switch (port_wait_input(port, session, idle_left())) {
                case PortWait::stop:
                    return BootEnd::stop;
                case PortWait::timeout:
                    return BootEnd::idle;
                case PortWait::closed:
                    serving = false;
                    break;
                case PortWait::input: {
                    unsigned char c = 0;
                    if (port_read(port, &c, 1) != 1)
                        break;
                    last_byte_ms = emu_now_ms();
                    BootEnd end = BootEnd::exited;
                    if (!command(c, &end))
                        return end;
                    break;
                }
                }
            }
        }
    }
};

} // namespace

BootEnd boot_run(EmuPort &port)
{
    emu_log("bootloader: up at %s", port.link.c_str());
    Bootloader bootloader(port);
    const BootEnd end = bootloader.run();
    // After the exit command, give the programmer a moment to close its
    // port, as the device would take to start its application.
    if (end == BootEnd::exited)
        port_wait_unused(port, 500);
    else
        dump_flash();
    emu_log("bootloader: %s", end == BootEnd::exited     ? "exit"
                              : end == BootEnd::vanished ? "vanished"
                              : end == BootEnd::idle     ? "idle time-out, starting the application"
                                                         : "stopped");
    return end;
}
