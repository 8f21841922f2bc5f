#include "emu_console.h"

#include "emu_options.h"
#include "emu_tape.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace
{

constexpr char banner[] = "\r\nRavelo tape device (emulated)\r\n"
                          "Commands: p = play a tape, b = enter the bootloader";
constexpr char prompt[] = "\r\n> ";
// Longer than a read time-out of the client (500 ms): the two halves of a
// split prompt always arrive in different reads.
constexpr int split_prompt_gap_ms = 700;
constexpr std::size_t longest_line = 80;
// A device answers an opened port after a moment, as a USB device reacts to
// DTR: a client that flushes its input right after opening must not lose
// the greeting.
constexpr int greeting_delay_ms = 30;
// After a tape the client usually closes the port at once. A prompt it never
// read would sit in the pty until the emulator noticed the close, and a
// client reopening at once could take it for a fresh one; so the prompt
// after a tape waits for those who stay.
constexpr int prompt_after_tape_ms = 300;

void send_prompt(EmuPort &port, unsigned session)
{
    if (emu_options().no_prompt)
        return;
    if (!emu_options().split_prompt) {
        port_write(port, session, prompt);
        return;
    }
    if (port_write(port, session, "\r\n") && port_hold(port, session, split_prompt_gap_ms))
        port_write(port, session, "> ");
}

void greet(EmuPort &port, unsigned session)
{
    if (!port_hold(port, session, std::max(greeting_delay_ms, emu_options().late_prompt_ms)))
        return;
    if (!port_write(port, session, banner))
        return;
    if (emu_options().no_prompt)
        port_write(port, session, "\r\n");
    send_prompt(port, session);
}

// What a command line asks the console loop to do next.
enum class Next { prompt, prompt_if_still_there, session_over, bootloader, unplugged, stop };

Next run_line(EmuPort &port, unsigned session, const std::string &line)
{
    if (line == "b") {
        emu_log("console: jump to the bootloader");
        return Next::bootloader;
    }
    if (line != "p")
        return Next::prompt;
    emu_log("console: playback");
    switch (tape_play(port, session)) {
    case PlayEnd::done:
        return Next::prompt_if_still_there;
    case PlayEnd::closed:
        return Next::session_over;
    case PlayEnd::unplug:
        return Next::unplugged;
    case PlayEnd::stop:
        break;
    }
    return Next::stop;
}

// Serves one opener: returns when the session is over (closed, or the line
// ran a command that ends the console).
Next serve_session(EmuPort &port, unsigned session)
{
    greet(port, session);
    std::string line;
    bool after_cr = false;
    for (;;) {
        switch (port_wait_input(port, session, -1)) {
        case PortWait::stop:
            return Next::stop;
        case PortWait::closed:
            return Next::session_over;
        case PortWait::timeout:
        case PortWait::input:
            break;
        }
        // One byte at a time: a command may hand the line to the tape player,
        // and what follows the command belongs to it.
        unsigned char c = 0;
        if (port_read(port, &c, 1) != 1)
            continue;
        const bool was_cr = after_cr;
        after_cr = c == '\r';
        if (c == '\n' && was_cr)
            continue; // the second half of a CR LF line end
        if (c == '\r' || c == '\n') {
            port_write(port, session, "\r\n");
            const Next next = run_line(port, session, line);
            line.clear();
            if (next == Next::prompt_if_still_there &&
                port_hold(port, session, prompt_after_tape_ms))
                send_prompt(port, session);
            else if (next == Next::prompt)
                send_prompt(port, session);
            else if (next != Next::prompt_if_still_there)
                return next;
        } else if (c == 0x7F || c == '\b') {
            if (!line.empty()) {
                line.pop_back();
                port_write(port, session, "\b \b");
            }
        } else if (c >= 0x20 && c < 0x7F && line.size() < longest_line) {
            line.push_back(static_cast<char>(c));
            const char echo = emu_options().wrong_echo ? static_cast<char>(std::toupper(c))
                                                       : static_cast<char>(c);
            port_write(port, session, &echo, 1);
        }
    }
}

} // namespace

ConsoleEnd console_run(EmuPort &port)
{
    for (;;) {
        if (port_wait_open(port, -1) == PortWait::stop)
            return ConsoleEnd::stop;
        switch (serve_session(port, port.session)) {
        case Next::bootloader:
            return ConsoleEnd::bootloader;
        case Next::unplugged:
            return ConsoleEnd::unplugged;
        case Next::stop:
            return ConsoleEnd::stop;
        case Next::prompt:
        case Next::prompt_if_still_there:
        case Next::session_over:
            break;
        }
    }
}
