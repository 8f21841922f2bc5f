// Benchmark of the player worker, under a (virtual) X server:
//
//   bench_player flood [MB]     the device asks for data as fast as it is
//                               answered: bytes per second and the latency
//                               from a 'd' to the whole chunk, for the real
//                               player (started with the Play button) and for
//                               a minimal reference responder, in one run;
//                               then the real player against the emulator
//                               with --fast.
//   bench_player pace [MINUTES] a tape of MINUTES (default 10) played to the
//                               emulator at the tape's real pace: the
//                               client's CPU use and the number of buffer-time
//                               updates the UI thread received.
//
// It works in a private temporary folder (HOME, configuration, files) and
// starts the emulator from the build tree, both as the tests do.
#include "app/app.h"
#include "config/config.h"
#include "index/document_commands.h"
#include "index/idx_list.h"
#include "player/player_controls.h"
#include "player/player_state.h"
#include "player/player_thread.h"
#include "ui/feedback.h"
#include "ui/registry.h"

#include "support/emulator.h"
#include "tap_maker.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
const std::string success = " Playback over: Success condition received";

double now_s()
{
    return double(g_get_monotonic_time()) / 1e6;
}

double cpu_s()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "bench_player: %s\n", what.c_str());
    std::exit(1);
}

void write_file(const std::string &path, const std::string &content)
{
    if (!g_file_set_contents(path.c_str(), content.data(), gssize(content.size()), nullptr))
        fail("cannot write " + path);
}

// Attaches `tap` as the user would after File, Open (a "Tape start" record
// selected) and points the device port at `port`.
void attach(const std::string &tap_path, const std::string &port)
{
    document_attach(tap_path.c_str());
    config_set_ports(port.c_str(), nullptr);
}

std::string status_text()
{
    GtkWidget *bar = lookup_widget(ui_window_main(), "statusbar_main");
    GtkWidget *area = gtk_statusbar_get_message_area(GTK_STATUSBAR(bar));
    GList *children = gtk_container_get_children(GTK_CONTAINER(area));
    std::string text;
    for (GList *l = children; l != nullptr; l = l->next)
        if (GTK_IS_LABEL(l->data))
            text = gtk_label_get_text(GTK_LABEL(l->data));
    g_list_free(children);
    return text;
}

// Runs the main loop (blocking, as gtk_main does) until the status bar
// shows an outcome of the run.
std::string run_until_over(double timeout_s)
{
    const double end = now_s() + timeout_s;
    for (;;) {
        const std::string text = status_text();
        if (text.rfind(" Playback over: ", 0) == 0 || text == " Playback stopped")
            return text;
        if (now_s() > end)
            return "timeout: " + text;
        g_main_context_iteration(nullptr, TRUE);
    }
}

void drain_main_loop()
{
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

// ---------------------------------------------------------------------------
// The flood device: the master side of a pseudo-terminal.

struct Pty {
    int master = -1;
    std::string slave;
    std::string link;
};

Pty make_pty(const std::string &link)
{
    Pty p;
    p.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (p.master < 0 || grantpt(p.master) != 0 || unlockpt(p.master) != 0)
        fail("no pseudo-terminal");
    p.slave = ptsname(p.master);
    const int fd = open(p.slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    tcgetattr(fd, &settings);
    cfmakeraw(&settings);
    tcsetattr(fd, TCSANOW, &settings);
    close(fd);
    p.link = link;
    unlink(link.c_str());
    if (symlink(p.slave.c_str(), link.c_str()) != 0)
        fail("cannot link " + link);
    return p;
}

void send_all(int fd, const void *bytes, std::size_t size)
{
    const char *p = static_cast<const char *>(bytes);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail("device write failed");
        p += n;
        size -= std::size_t(n);
    }
}

// Reads exactly `size` bytes within `timeout_ms`; false if they did not come.
bool receive_exact(int fd, void *into, std::size_t size, int timeout_ms = 5000)
{
    char *p = static_cast<char *>(into);
    const double end = now_s() + timeout_ms / 1000.0;
    while (size > 0) {
        pollfd entry{fd, POLLIN, 0};
        const int left = int((end - now_s()) * 1000);
        if (left <= 0 || poll(&entry, 1, left) <= 0 || (entry.revents & POLLIN) == 0)
            return false;
        const ssize_t n = read(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

void wait_for_opener(int master)
{
    const double end = now_s() + 5;
    for (;;) {
        pollfd entry{master, 0, 0};
        poll(&entry, 1, 0);
        if ((entry.revents & POLLHUP) == 0)
            return;
        if (now_s() > end)
            fail("nobody opened the port");
        g_usleep(1000);
    }
}

struct FloodResult {
    double bytes_per_s = 0;
    double median_us = 0;
    double p99_us = 0;
    double max_us = 0;
};

// Plays the device for one run: the console handshake (when `console`), the
// header, then 'd' after 'd' as soon as each chunk is complete, then 'e'.
FloodResult flood_device(int master, std::size_t data_size, bool console)
{
    wait_for_opener(master);
    if (console) {
        // Let the client finish configuring the line before it reads.
        g_usleep(20000);
        send_all(master, "\r\n> ", 4);
        char echo[3];
        if (!receive_exact(master, echo, 2) || std::memcmp(echo, "p\r", 2) != 0)
            fail("no command from the client");
        send_all(master, "p\r\n", 3);
    }
    char buffer[64];
    send_all(master, "h", 1);
    if (!receive_exact(master, buffer, 20))
        fail("no header");
    std::vector<double> latencies;
    latencies.reserve(data_size / 64 + 1);
    std::size_t left = data_size;
    const double start = now_s();
    while (left > 0) {
        const std::size_t n = std::min<std::size_t>(64, left);
        const double asked = now_s();
        send_all(master, "d", 1);
        if (!receive_exact(master, buffer, n))
            fail("a chunk did not come");
        latencies.push_back((now_s() - asked) * 1e6);
        left -= n;
    }
    const double elapsed = now_s() - start;
    send_all(master, "e", 1);
    std::sort(latencies.begin(), latencies.end());
    FloodResult r;
    r.bytes_per_s = double(data_size) / elapsed;
    r.median_us = latencies[latencies.size() / 2];
    r.p99_us = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
    r.max_us = latencies.back();
    return r;
}

// The minimal reference responder: read one request byte, read the file's
// bytes, write them; nothing else.
void reference_responder(const std::string &port, const std::string &tap_path)
{
    const int fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    const int file = open(tap_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || file < 0)
        fail("reference responder cannot open its files");
    char request;
    char chunk[64];
    while (read(fd, &request, 1) == 1) {
        if (request == 'e')
            break;
        const ssize_t n = read(file, chunk, request == 'h' ? 20 : 64);
        if (n > 0 && write(fd, chunk, std::size_t(n)) != n)
            break;
    }
    close(file);
    close(fd);
}

void print_flood(const char *who, const FloodResult &r)
{
    std::printf("  %-22s %10.0f bytes/s  latency median %6.1f us  p99 %6.1f us  max %7.1f us\n",
                who, r.bytes_per_s, r.median_us, r.p99_us, r.max_us);
}

// ---------------------------------------------------------------------------

// CPU time that process `pid` has used so far, in seconds.
double process_cpu_s(GPid pid)
{
    gchar *text = nullptr;
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    if (!g_file_get_contents(path.c_str(), &text, nullptr, nullptr))
        return -1;
    const std::string line = text;
    g_free(text);
    std::vector<std::string> fields;
    std::string rest = line.substr(line.rfind(')') + 2);
    gchar **parts = g_strsplit(rest.c_str(), " ", -1);
    for (gchar **p = parts; *p != nullptr; ++p)
        fields.emplace_back(*p);
    g_strfreev(parts);
    // utime and stime are fields 14 and 15 of the line, 12 and 13 here.
    return (std::stod(fields.at(11)) + std::stod(fields.at(12))) / double(sysconf(_SC_CLK_TCK));
}

// ---------------------------------------------------------------------------

int flood(double megabytes)
{
    // Generated tape holds about 1,660 bytes per second.
    const std::string tap = tap_make(megabytes * 1e6 / 1660.0, 2);
    const std::string tap_path = test_path("flood.tap");
    write_file(tap_path, tap);
    const std::size_t data_size = tap.size() - 20;
    std::printf("flood: %zu data bytes, 64-byte chunks, one request at a time, pty\n", data_size);

    // Alternate the two, three rounds each, so that both see the same load.
    std::vector<FloodResult> player, reference;
    for (int round = 0; round < 3; ++round) {
        Pty pty = make_pty(test_path("ttyFLOOD"));
        attach(tap_path, pty.link);
        gtk_button_clicked(GTK_BUTTON(lookup_widget(ui_window_main(), "button_play")));
        player.push_back(flood_device(pty.master, data_size, true));
        const std::string outcome = run_until_over(10);
        if (outcome != success)
            fail("player run ended with: " + outcome);
        drain_main_loop();
        close(pty.master);

        Pty ref = make_pty(test_path("ttyREF"));
        std::thread responder(reference_responder, ref.link, tap_path);
        reference.push_back(flood_device(ref.master, data_size, false));
        responder.join();
        close(ref.master);
    }
    auto best = [](const std::vector<FloodResult> &runs) {
        return *std::max_element(runs.begin(), runs.end(), [](const auto &a, const auto &b) {
            return a.bytes_per_s < b.bytes_per_s;
        });
    };
    for (int round = 0; round < 3; ++round) {
        std::printf(" round %d\n", round + 1);
        print_flood("player (Play button)", player[std::size_t(round)]);
        print_flood("reference responder", reference[std::size_t(round)]);
    }
    const FloodResult p = best(player), r = best(reference);
    std::printf(" best: player %.0f bytes/s, reference %.0f bytes/s, ratio %.3f "
                "(line rate 92160 bytes/s: player %.1fx)\n",
                p.bytes_per_s, r.bytes_per_s, p.bytes_per_s / r.bytes_per_s,
                p.bytes_per_s / 92160.0);

    // The same tape to the emulator, which asks without pacing.
    const Emulator emu({"--fast", "--record", test_path("record.bin")});
    attach(tap_path, emu.link());
    const double start = now_s();
    gtk_button_clicked(GTK_BUTTON(lookup_widget(ui_window_main(), "button_play")));
    const std::string outcome = run_until_over(120);
    const double elapsed = now_s() - start;
    if (outcome != success)
        fail("emulator run ended with: " + outcome);
    std::printf("emulator --fast: %s; %zu bytes in %.2f s including start-up: %.0f bytes/s\n",
                outcome.c_str(), tap.size(), elapsed, double(tap.size()) / elapsed);
    return 0;
}

int pace(double minutes)
{
    const std::string tap = tap_make(minutes * 60.0, 5);
    const std::string tap_path = test_path("pace.tap");
    write_file(tap_path, tap);
    const double tape_s = double(tap_data_cycles(tap.substr(20))) / tape_clock_hz;
    std::printf("pace: %.1f s of tape (%zu bytes), emulator at real pace\n", tape_s, tap.size());

    int updates = 0;
    g_signal_connect_swapped(lookup_widget(ui_window_main(), "label_buffer_time"), "notify::label",
                             G_CALLBACK(+[](int *count) { ++*count; }), &updates);
    const Emulator emu({"--record", test_path("record.bin")});
    attach(tap_path, emu.link());
    const double cpu_before = cpu_s();
    const double start = now_s();
    gtk_button_clicked(GTK_BUTTON(lookup_widget(ui_window_main(), "button_play")));
    const std::string outcome = run_until_over(minutes * 60.0 * 1.5 + 30);
    const double wall = now_s() - start;
    const double cpu = cpu_s() - cpu_before;
    const double emulator_cpu = process_cpu_s(emu.pid());
    std::printf("outcome: %s\n", outcome.c_str());
    if (outcome != success)
        fail("emulator run ended with: " + outcome);
    std::printf("wall %.1f s, client CPU %.3f s = %.3f %% of one core (emulator %.2f s)\n", wall,
                cpu, 100.0 * cpu / wall, emulator_cpu);
    std::printf(
        "buffer-time updates: %d for %.0f s of tape (%.3f per second of tape), label "
        "\"%s\"\n",
        updates, tape_s, updates / tape_s,
        gtk_label_get_text(GTK_LABEL(lookup_widget(ui_window_main(), "label_buffer_time"))));
    return 0;
}
} // namespace

int main(int argc, char **argv)
{
    if (!test_enter_private_dir())
        fail("no private folder");
    // Removed however the program ends, also by fail().
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(test_dir(), ignored);
    });

    const std::string mode = argc > 1 ? argv[1] : "flood";
    const double amount = argc > 2 ? std::atof(argv[2]) : 0;
    // The client's start-up reads only its own arguments: this program's
    // would be a second tape to it.
    int client_argc = 1;
    char *client_args[] = {argv[0], nullptr};
    char **client_argv = client_args;
    app_startup(&client_argc, &client_argv);
    drain_main_loop();
    int result;
    if (mode == "flood")
        result = flood(amount > 0 ? amount : 4);
    else if (mode == "pace")
        result = pace(amount > 0 ? amount : 10);
    else {
        std::fprintf(stderr, "usage: bench_player [flood [MB] | pace [MINUTES]]\n");
        result = 2;
    }
    return result;
}
