#include "emu_tape.h"

#include "base/fd.h"

#include "emu_computer.h"
#include "emu_options.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <vector>

namespace
{

constexpr double clock_hz = 985248.0;
constexpr std::size_t header_size = 20;
constexpr std::size_t chunk_size = 64;
constexpr int header_wait_ms = 5000;
// A 'd' that gets no byte at all within this time was answered with nothing.
constexpr int empty_answer_ms = 1500;
// A chunk that stops short of 64 bytes is taken as complete after this pause.
constexpr int short_chunk_ms = 200;

int record_fd = -1;

void record(const unsigned char *bytes, std::size_t size)
{
    while (record_fd >= 0 && size > 0) {
        const ssize_t n = fd_retry([&] { return write(record_fd, bytes, size); });
        if (n <= 0) {
            std::fprintf(stderr, "ravelo-emulator: cannot write the recording: %s\n",
                         std::strerror(errno));
            return;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
}

// Junk that a noisy line might carry; never one of the request letters.
void send_noise(EmuPort &port, unsigned session)
{
    static constexpr unsigned char junk[] = {0x00, '?', 'x', 0xFF, '\r', '\n', 'Z', 0x7F, '!'};
    static unsigned next = 0;
    const unsigned count = 1 + next % 3;
    for (unsigned i = 0; i < count; ++i)
        port_write(port, session, &junk[next++ % sizeof junk], 1);
}

bool send_request(EmuPort &port, unsigned session, char request)
{
    if (emu_options().noise)
        send_noise(port, session);
    return port_write(port, session, &request, 1);
}

struct Player {
    EmuPort &port;
    unsigned session;
    std::uint32_t length = 0;         // the header's data length
    std::uint64_t received = 0;       // data bytes received (all of them)
    std::uint64_t played = 0;         // data bytes played
    std::deque<unsigned char> buffer; // received and not yet played
    bool source_done = false;         // a 'd' was answered with nothing
    // Pacing: cycles that the tape may still play, and when they were counted.
    double budget = 0;
    std::int64_t last_ms = 0;

    // A request in flight.
    bool asking = false;
    std::size_t expected = 0;
    std::size_t got = 0;
    std::int64_t asked_ms = 0;
    std::int64_t last_byte_ms = 0;

    Player(EmuPort &p, unsigned s) : port(p), session(s) {}

    bool all_in() const { return source_done || received >= length; }

    // The pulse at the front of the buffer: its length in cycles and in
    // bytes; false if it is not complete yet.
    bool next_pulse(std::uint32_t *cycles, std::size_t *bytes) const
    {
        if (buffer.empty())
            return false;
        if (buffer[0] != 0) {
            *cycles = 8u * buffer[0];
            *bytes = 1;
            return true;
        }
        if (buffer.size() >= 4) {
            *cycles = buffer[1] | buffer[2] << 8 | buffer[3] << 16;
            *bytes = 4;
            return true;
        }
        if (!all_in())
            return false;
        // A count cut off by the end of the data: nothing to wait for.
        *cycles = 0;
        *bytes = buffer.size();
        return true;
    }

    void consume(std::size_t bytes)
    {
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(bytes));
        played += bytes;
    }

    // The model computer takes the pulses as fast as it reads them; those it
    // does not take yet (its motor is off, or it waits for more) stay.
    int offer_to_computer()
    {
        std::vector<std::uint32_t> pulses;
        std::vector<std::size_t> sizes;
        std::size_t at = 0;
        for (; at < buffer.size();) {
            if (buffer[at] != 0) {
                pulses.push_back(8u * buffer[at]);
                sizes.push_back(1);
                ++at;
            } else if (buffer.size() - at >= 4) {
                pulses.push_back(buffer[at + 1] | buffer[at + 2] << 8 | buffer[at + 3] << 16);
                sizes.push_back(4);
                at += 4;
            } else {
                break;
            }
        }
        const bool ended = all_in() && played + at >= length;
        const std::size_t taken = computer_offer(pulses, ended);
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < taken; ++i)
            bytes += sizes[i];
        if (ended && taken == pulses.size())
            bytes = buffer.size(); // a count cut off by the end
        consume(bytes);
        return taken < pulses.size() ? 2 : -1;
    }

    // Plays what the time since the last call allows. Returns the time in
    // milliseconds until the next pulse has been played, or -1 if no pulse
    // is waiting.
    int advance(std::int64_t now)
    {
        std::uint32_t cycles = 0;
        std::size_t bytes = 0;
        if (emu_options().computer)
            return offer_to_computer();
        if (emu_options().fast) {
            while (next_pulse(&cycles, &bytes))
                consume(bytes);
            return -1;
        }
        const double rate = clock_hz * emu_options().speed;
        if (!next_pulse(&cycles, &bytes)) {
            // Starved: the tape waits for data, and no time is saved up.
            budget = 0;
            last_ms = now;
            return -1;
        }
        budget += double(now - last_ms) * rate / 1000.0;
        last_ms = now;
        while (next_pulse(&cycles, &bytes) && cycles <= budget) {
            budget -= cycles;
            consume(bytes);
        }
        if (!next_pulse(&cycles, &bytes)) {
            budget = 0;
            return -1;
        }
        const double wait = std::ceil((cycles - budget) * 1000.0 / rate);
        return static_cast<int>(std::clamp(wait, 2.0, 1000.0));
    }

    void take(const unsigned char *bytes, std::size_t size, std::int64_t now)
    {
        record(bytes, size);
        for (std::size_t i = 0; i < size; ++i, ++received)
            if (received < length)
                buffer.push_back(bytes[i]);
        if (asking) {
            got += size;
            last_byte_ms = now;
            if (got >= expected)
                asking = false;
        }
    }

    bool ask(std::int64_t now)
    {
        if (!send_request(port, session, 'd'))
            return false;
        asking = true;
        expected = std::min<std::uint64_t>(chunk_size, length - received);
        got = 0;
        asked_ms = last_byte_ms = now;
        return true;
    }

    // The time left for the request in flight; it ends when this runs out.
    int request_left(std::int64_t now) const
    {
        const std::int64_t end =
            got == 0 ? asked_ms + empty_answer_ms : last_byte_ms + short_chunk_ms;
        return static_cast<int>(std::max<std::int64_t>(0, end - now));
    }
};

// Reads exactly `size` bytes (the header) within the header time-out.
PortWait read_block(EmuPort &port, unsigned session, unsigned char *into, std::size_t size)
{
    const std::int64_t deadline = emu_now_ms() + header_wait_ms;
    std::size_t got = 0;
    while (got < size) {
        const std::int64_t left = deadline - emu_now_ms();
        if (left <= 0)
            return PortWait::timeout;
        const PortWait w = port_wait_input(port, session, static_cast<int>(left));
        if (w != PortWait::input)
            return w;
        const std::size_t n = port_read(port, into + got, size - got);
        record(into + got, n);
        got += n;
    }
    return PortWait::input;
}

PlayEnd finish(EmuPort &port, unsigned session, char result)
{
    emu_log("playback: sending '%c'", result);
    return send_request(port, session, result) ? PlayEnd::done : PlayEnd::closed;
}

PlayEnd receive_header(EmuPort &port, unsigned session, std::uint32_t *length)
{
    unsigned char header[header_size];
    for (int copy = 0; copy < (emu_options().header_twice ? 2 : 1); ++copy) {
        if (!send_request(port, session, 'h'))
            return PlayEnd::closed;
        switch (read_block(port, session, header, header_size)) {
        case PortWait::input:
            break;
        case PortWait::timeout:
            emu_log("playback: no header");
            return finish(port, session, 'f');
        case PortWait::closed:
            return PlayEnd::closed;
        case PortWait::stop:
            return PlayEnd::stop;
        }
        // The first header counts; a second one is only asked for.
        if (copy == 0)
            *length =
                header[16] | header[17] << 8 | header[18] << 16 | std::uint32_t(header[19]) << 24;
    }
    emu_log("playback: header says %u data bytes", static_cast<unsigned>(*length));
    return PlayEnd::done;
}

} // namespace

bool tape_record_open(const std::string &path)
{
    record_fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (record_fd < 0) {
        std::fprintf(stderr, "ravelo-emulator: cannot open %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return false;
    }
    return true;
}

PlayEnd tape_play(EmuPort &port, unsigned session)
{
    Player player(port, session);
    const PlayEnd header = receive_header(port, session, &player.length);
    if (header != PlayEnd::done)
        return header;
    player.last_ms = emu_now_ms();
    if (emu_options().computer)
        computer_start(emu_options().computer_dump);
    for (;;) {
        std::int64_t now = emu_now_ms();
        int wait = player.advance(now);
        if (player.played >= player.length)
            return finish(port, session, 'e');
        if (player.source_done && player.buffer.empty()) {
            emu_log("playback: data ended after %llu of %u bytes",
                    static_cast<unsigned long long>(player.received),
                    static_cast<unsigned>(player.length));
            return finish(port, session, 'f');
        }
        if (!player.asking) {
            const auto received = static_cast<long long>(player.received);
            if (emu_options().hangup_after >= 0 && received >= emu_options().hangup_after) {
                emu_log("playback: hanging up after %lld bytes", received);
                return PlayEnd::unplug;
            }
            if (emu_options().fail_after >= 0 && received >= emu_options().fail_after)
                return finish(port, session, 'f');
            if (!player.all_in() && player.buffer.size() + chunk_size <= emu_options().buffer) {
                if (!player.ask(now))
                    return PlayEnd::closed;
            }
        }
        if (player.asking) {
            const int left = player.request_left(now);
            wait = wait < 0 ? left : std::min(wait, left);
        }
        // Nothing in flight and nothing to play cannot last; look again soon.
        if (wait < 0)
            wait = 100;
        switch (port_wait_input(port, session, wait)) {
        case PortWait::stop:
            return PlayEnd::stop;
        case PortWait::closed:
            port_discard_input(port);
            emu_log("playback: client closed the port");
            return PlayEnd::closed;
        case PortWait::input: {
            unsigned char bytes[256];
            const std::size_t n = port_read(port, bytes, sizeof bytes);
            player.take(bytes, n, emu_now_ms());
            break;
        }
        case PortWait::timeout:
            now = emu_now_ms();
            if (player.asking && player.request_left(now) == 0) {
                player.asking = false;
                if (player.got == 0) {
                    emu_log("playback: 'd' answered with nothing");
                    player.source_done = true;
                }
            }
            break;
        }
    }
}
